#include <memory>
#include <mutex>
#include <new>

#include "pal/kernel_object.h"
#include "pal/win32.h"

namespace {

// The state lives under the mutex; the eventfd mirrors it (counter 1 while set,
// 0 while reset) so that waiters can poll it alongside other objects.
class Event final : public KernelObject {
  public:
    Event(bool manualReset, bool initialState) : manual_(manualReset), set_(initialState) {}

    bool open() { return signal_.open(set_ ? 1 : 0, false); }

    int waitFd() override { return signal_.fd(); }

    bool tryAcquire() override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!set_) {
            return false;
        }
        if (!manual_) {
            set_ = false;
            signal_.take();
        }
        return true;
    }

    void set() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!set_) {
            set_ = true;
            signal_.add(1);
        }
    }

    void reset() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (set_) {
            set_ = false;
            signal_.take();
        }
    }

  private:
    std::mutex mutex_;
    const bool manual_;
    bool set_;
    EventFd signal_;
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
