// SPDX-License-Identifier: MIT
#include <pthread.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "pal/kernel_object.h"
#include "pal/win32.h"

// ---- Critical sections --------------------------------------------------

static_assert(sizeof(pthread_mutex_t) <= sizeof(CRITICAL_SECTION::opaque),
              "a recursive mutex fits in a CRITICAL_SECTION");
static_assert(alignof(pthread_mutex_t) <= alignof(CRITICAL_SECTION),
              "a CRITICAL_SECTION is aligned for a mutex");

namespace {

pthread_mutex_t* mutexOf(LPCRITICAL_SECTION cs) {
    return std::launder(reinterpret_cast<pthread_mutex_t*>(cs->opaque));
}

}  // namespace

// A null section is ignored by the void functions rather than dereferenced; there
// is no way to report it.
void InitializeCriticalSection(LPCRITICAL_SECTION cs) {
    InitializeCriticalSectionAndSpinCount(cs, 0);
}

BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION cs, DWORD /*spinCount*/) {
    if (cs == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    auto* mutex = new (cs->opaque) pthread_mutex_t;
    // Only fails for want of memory on systems that allocate for mutexes; glibc does not.
    int rc = pthread_mutex_init(mutex, &attr);
    pthread_mutexattr_destroy(&attr);
    if (rc != 0) {
        SetLastError(palErrorFromErrno(rc));
        return FALSE;
    }
    return TRUE;
}

void EnterCriticalSection(LPCRITICAL_SECTION cs) {
    if (cs != nullptr) {
        pthread_mutex_lock(mutexOf(cs));
    }
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs) {
    return cs != nullptr && pthread_mutex_trylock(mutexOf(cs)) == 0 ? TRUE : FALSE;
}

void LeaveCriticalSection(LPCRITICAL_SECTION cs) {
    // A leave by a thread that does not own the section fails harmlessly (EPERM).
    if (cs != nullptr) {
        pthread_mutex_unlock(mutexOf(cs));
    }
}

void DeleteCriticalSection(LPCRITICAL_SECTION cs) {
    if (cs != nullptr) {
        pthread_mutex_destroy(mutexOf(cs));
        std::memset(cs->opaque, 0, sizeof cs->opaque);
    }
}

// ---- Semaphores ---------------------------------------------------------

namespace {

// The count lives under the mutex and is mirrored unit for unit in a
// semaphore-mode eventfd, which is what waiters poll.
// The count lives under the mutex. The eventfd that mirrors it (in semaphore
// mode) is made when the semaphore is first waited on, so that one used only
// as a lock costs no descriptor.
class Semaphore final : public KernelObject {
  public:
    Semaphore(LONG initial, LONG maximum) : count_(initial), maximum_(maximum) {}

    bool open() { return true; }

    int waitFd() override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (events_.fd() < 0) {
            events_.open(static_cast<uint64_t>(count_), true);
        }
        return events_.fd();
    }

    bool tryAcquire() override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (count_ == 0) {
            return false;
        }
        if (events_.fd() >= 0) {
            events_.take();
        }
        --count_;
        return true;
    }

    // False (count unchanged) when the release would pass the maximum.
    bool release(LONG units, LONG* previous) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (static_cast<int64_t>(count_) + units > maximum_) {
            return false;
        }
        *previous = count_;
        count_ += units;
        if (events_.fd() >= 0) {
            events_.add(static_cast<uint64_t>(units));
        }
        return true;
    }

  private:
    std::mutex mutex_;
    LONG count_;
    const LONG maximum_;
    EventFd events_;
};

HANDLE createSemaphore(LONG initialCount, LONG maximumCount, bool named) {
    if (initialCount < 0 || maximumCount <= 0 || initialCount > maximumCount) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (named) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    return palCreateWaitable<Semaphore>(initialCount, maximumCount);
}

}  // namespace

HANDLE CreateSemaphoreA(LPSECURITY_ATTRIBUTES /*attributes*/, LONG initialCount, LONG maximumCount,
                        LPCSTR name) {
    return createSemaphore(initialCount, maximumCount, name != nullptr && name[0] != '\0');
}

HANDLE CreateSemaphoreW(LPSECURITY_ATTRIBUTES /*attributes*/, LONG initialCount, LONG maximumCount,
                        LPCWSTR name) {
    return createSemaphore(initialCount, maximumCount, name != nullptr && name[0] != u'\0');
}

BOOL ReleaseSemaphore(HANDLE semaphore, LONG releaseCount, LPLONG previousCount) {
    if (releaseCount <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::shared_ptr<Semaphore> object = palLookupHandleAs<Semaphore>(semaphore);
    if (!object) {
        return FALSE;
    }
    LONG previous = 0;
    if (!object->release(releaseCount, &previous)) {
        SetLastError(ERROR_TOO_MANY_POSTS);
        return FALSE;
    }
    if (previousCount != nullptr) {
        *previousCount = previous;
    }
    return TRUE;
}
