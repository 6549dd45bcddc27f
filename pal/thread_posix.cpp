// SPDX-License-Identifier: MIT
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <ctime>
#include <memory>
#include <mutex>
#include <new>

#include "pal/kernel_object.h"
#include "pal/win32.h"

namespace {

// Thread ids step by 4 as Windows' do, and skip 0 if the counter ever wraps
// (after 2^30 threads; an id is then unique among live threads in practice only).
std::atomic<DWORD> gNextThreadId{4};

DWORD newThreadId() {
    DWORD id;
    do {
        id = gNextThreadId.fetch_add(4, std::memory_order_relaxed);
    } while (id == 0);
    return id;
}

// Signalled for good once the thread has ended. Referenced by its handles and by
// the running thread itself, so closing the handle does not disturb the thread.
class ThreadObject final : public KernelObject {
  public:
    ThreadObject(LPTHREAD_START_ROUTINE start, LPVOID parameter)
        : start_(start), parameter_(parameter), id_(newThreadId()) {}

    // The eventfd is made when the thread is first waited on: a thread nobody
    // waits for while it runs (a connection's, say) costs no descriptor.
    bool open() { return true; }

    // Written once the thread has ended and never read, so it stays readable.
    int waitFd() override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (ended_.fd() < 0) {
            ended_.open(finished_.load(std::memory_order_acquire) ? 1 : 0, false);
        }
        return ended_.fd();
    }
    bool tryAcquire() override { return finished_.load(std::memory_order_acquire); }

    DWORD id() const { return id_; }
    DWORD run() { return start_(parameter_); }

    // Called only by the thread itself, before finish().
    void setExitCode(DWORD code) { exitCode_ = code; }

    void finish() {
        finished_.store(true, std::memory_order_release);
        std::lock_guard<std::mutex> lock(mutex_);
        if (ended_.fd() >= 0) {
            ended_.add(1);
        }
    }

    DWORD exitCode() const {
        return finished_.load(std::memory_order_acquire) ? exitCode_ : DWORD{STILL_ACTIVE};
    }

  private:
    const LPTHREAD_START_ROUTINE start_;
    const LPVOID parameter_;
    const DWORD id_;
    DWORD exitCode_ = 0;
    std::atomic<bool> finished_{false};
    std::mutex mutex_;
    EventFd ended_;
};

thread_local DWORD tThreadId = 0;

// The object of a thread started by CreateThread. Thread-local destructors run
// however the thread ends (return, or ExitThread's pthread_exit), which makes
// this the one place the object is signalled.
struct CurrentThread {
    std::shared_ptr<ThreadObject> object;
    ~CurrentThread() {
        if (object) {
            object->finish();
        }
    }
};
thread_local CurrentThread tCurrent;

void* threadMain(void* arg) {
    std::unique_ptr<std::shared_ptr<ThreadObject>> start(
        static_cast<std::shared_ptr<ThreadObject>*>(arg));
    tThreadId = (*start)->id();
    tCurrent.object = std::move(*start);
    start.reset();
    tCurrent.object->setExitCode(tCurrent.object->run());
    return nullptr;
}

// Honours a requested size, raised to a usable minimum and whole pages.
bool stackSizeFor(SIZE_T requested, size_t* size) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t minimum = std::max<size_t>(static_cast<size_t>(PTHREAD_STACK_MIN), 64 * 1024);
    size_t wanted = std::max<size_t>(requested, minimum);
    if (wanted > SIZE_MAX - page) {
        return false;
    }
    *size = (wanted + page - 1) / page * page;
    return true;
}

}  // namespace

HANDLE CreateThread(LPSECURITY_ATTRIBUTES /*attributes*/, SIZE_T stackSize,
                    LPTHREAD_START_ROUTINE startAddress, LPVOID parameter, DWORD creationFlags,
                    LPDWORD threadId) {
    if (startAddress == nullptr || (creationFlags & ~DWORD{STACK_SIZE_PARAM_IS_A_RESERVATION})) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    size_t stackBytes = 0;
    if (stackSize != 0 && !stackSizeFor(stackSize, &stackBytes)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    try {
        auto object = std::make_shared<ThreadObject>(startAddress, parameter);
        if (!object->open()) {
            return nullptr;
        }
        auto start = std::make_unique<std::shared_ptr<ThreadObject>>(object);
        HANDLE handle = palInsertHandle(object);
        if (handle == nullptr) {
            return nullptr;
        }
        pthread_attr_t attr;
        pthread_attr_init(&attr);
        pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
        int rc = stackBytes != 0 ? pthread_attr_setstacksize(&attr, stackBytes) : 0;
        pthread_t thread;
        if (rc == 0) {
            rc = pthread_create(&thread, &attr, threadMain, start.get());
        }
        pthread_attr_destroy(&attr);
        if (rc != 0) {
            palRemoveHandle(handle);
            SetLastError(palErrorFromErrno(rc));
            return nullptr;
        }
        start.release();  // now owned by the thread
        if (threadId != nullptr) {
            *threadId = object->id();
        }
        return handle;
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode) {
    std::shared_ptr<ThreadObject> object = palLookupHandleAs<ThreadObject>(thread);
    if (!object) {
        return FALSE;
    }
    if (exitCode == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *exitCode = object->exitCode();
    return TRUE;
}

DWORD GetCurrentThreadId() {
    if (tThreadId == 0) {
        tThreadId = newThreadId();  // a thread not started by CreateThread
    }
    return tThreadId;
}

void ExitThread(DWORD exitCode) {
    if (tCurrent.object) {
        tCurrent.object->setExitCode(exitCode);
    }
    pthread_exit(nullptr);
}

void Sleep(DWORD milliseconds) {
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    if (milliseconds == INFINITE) {
        for (;;) {
            timespec hour{3600, 0};
            nanosleep(&hour, nullptr);
        }
    }
    timespec left{static_cast<time_t>(milliseconds / 1000),
                  static_cast<decltype(timespec::tv_nsec)>(milliseconds % 1000 * 1000000u)};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

BOOL SwitchToThread() {
    sched_yield();
    return TRUE;
}
