// SPDX-License-Identifier: MIT
#include <memory>
#include <mutex>
#include <new>

#include "pal/kernel_object.h"
#include "pal/win32.h"

namespace {

// The state lives under the mutex. The eventfd mirrors it (counter 1 while set,
// 0 while reset) only while some wait polls it, so that setting and resetting
// an event nobody polls costs no system call.
class Event final : public KernelObject {
  public:
    Event(bool manualReset, bool initialState) : manual_(manualReset), set_(initialState) {}
    ~Event() override {
        unmirror();
        signal_.recycle();
    }

    bool open() { return signal_.openPooled(); }

    int waitFd() override { return signal_.fd(); }

    bool tryAcquire() override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!set_) {
            return false;
        }
        if (!manual_) {
            set_ = false;
            unmirror();
        }
        return true;
    }

    void beginWait() override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++waiters_;
        if (set_) {
            mirror();
        }
    }

    void endWait() override {
        std::lock_guard<std::mutex> lock(mutex_);
        --waiters_;
    }

    std::shared_ptr<IoHelper> helper() override {
        std::lock_guard<std::mutex> lock(mutex_);
        return helper_.lock();
    }

    void setHelper(std::weak_ptr<IoHelper> helper) {
        std::lock_guard<std::mutex> lock(mutex_);
        helper_ = std::move(helper);
    }

    void set() {
        std::lock_guard<std::mutex> lock(mutex_);
        set_ = true;
        if (waiters_ > 0) {
            mirror();
        }
    }

    void reset() {
        std::lock_guard<std::mutex> lock(mutex_);
        set_ = false;
        unmirror();
    }

  private:
    void mirror() {
        if (!mirrored_) {
            signal_.add(1);
            mirrored_ = true;
        }
    }
    void unmirror() {
        if (mirrored_) {
            signal_.take();
            mirrored_ = false;
        }
    }

    std::mutex mutex_;
    const bool manual_;
    bool set_;
    bool mirrored_ = false;
    int waiters_ = 0;
    EventFd signal_;
    std::weak_ptr<IoHelper> helper_;
};

HANDLE createEvent(BOOL manualReset, BOOL initialState, bool named) {
    if (named) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    return palCreateWaitable<Event>(manualReset != FALSE, initialState != FALSE);
}

}  // namespace

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES /*attributes*/, BOOL manualReset, BOOL initialState,
                    LPCSTR name) {
    return createEvent(manualReset, initialState, name != nullptr && name[0] != '\0');
}

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES /*attributes*/, BOOL manualReset, BOOL initialState,
                    LPCWSTR name) {
    return createEvent(manualReset, initialState, name != nullptr && name[0] != u'\0');
}

std::shared_ptr<KernelObject> palEventObject(HANDLE event) noexcept {
    std::shared_ptr<KernelObject> object = palLookupHandle(event);
    return dynamic_cast<Event*>(object.get()) != nullptr ? object : nullptr;
}

// Only objects from palEventObject() reach these, so the cast cannot fail.
void palSignalEvent(KernelObject& event, bool set) noexcept {
    auto& e = static_cast<Event&>(event);
    set ? e.set() : e.reset();
}

void palSetEventHelper(KernelObject& event, std::weak_ptr<IoHelper> helper) noexcept {
    static_cast<Event&>(event).setHelper(std::move(helper));
}

BOOL SetEvent(HANDLE event) {
    std::shared_ptr<Event> object = palLookupHandleAs<Event>(event);
    if (!object) {
        return FALSE;
    }
    object->set();
    return TRUE;
}

BOOL ResetEvent(HANDLE event) {
    std::shared_ptr<Event> object = palLookupHandleAs<Event>(event);
    if (!object) {
        return FALSE;
    }
    object->reset();
    return TRUE;
}
