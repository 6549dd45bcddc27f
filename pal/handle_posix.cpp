// SPDX-License-Identifier: MIT
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "pal/kernel_object.h"
#include "pal/win32.h"

// ---- EventFd -------------------------------------------------------------

EventFd::~EventFd() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool EventFd::open(uint64_t initial, bool semaphoreMode) {
    // eventfd takes an unsigned int; callers with larger counts add() the rest.
    unsigned first = initial > UINT_MAX ? UINT_MAX : static_cast<unsigned>(initial);
    int flags = EFD_NONBLOCK | EFD_CLOEXEC | (semaphoreMode ? EFD_SEMAPHORE : 0);
    fd_ = ::eventfd(first, flags);
    if (fd_ < 0) {
        SetLastError(palErrorFromErrno(errno));
        return false;
    }
    if (initial > first) {
        add(initial - first);
    }
    return true;
}

namespace {

// Events come and go with every overlapped transfer; reusing their descriptors
// spares two system calls each time. Never destroyed.
struct FdPool {
    // One spare: a burst of transfers must not leave descriptors behind it.
    static constexpr size_t kMax = 1;
    std::mutex mutex;
    int fds[kMax];
    size_t count = 0;
};

FdPool& fdPool() {
    static auto* pool = new FdPool;
    return *pool;
}

}  // namespace

bool EventFd::openPooled() {
    FdPool& pool = fdPool();
    {
        std::lock_guard<std::mutex> lock(pool.mutex);
        if (pool.count > 0) {
            fd_ = pool.fds[--pool.count];
            return true;
        }
    }
    return open(0, false);
}

void EventFd::recycle() {
    FdPool& pool = fdPool();
    std::lock_guard<std::mutex> lock(pool.mutex);
    if (fd_ >= 0 && pool.count < FdPool::kMax) {
        pool.fds[pool.count++] = fd_;
        fd_ = -1;
    }
}

void EventFd::add(uint64_t units) {
    // Fails only past 2^64-2 units, which no object here can reach.
    while (::write(fd_, &units, sizeof units) < 0 && errno == EINTR) {
    }
}

bool EventFd::take() {
    uint64_t value = 0;
    ssize_t n;
    do {
        n = ::read(fd_, &value, sizeof value);
    } while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(sizeof value);
}

// ---- Handle table -------------------------------------------------------

namespace {

// Windows' per-process ceiling is of the same order (2^24 handles).
constexpr size_t kMaxHandles = size_t{1} << 24;

struct HandleTable {
    std::mutex mutex;
    std::vector<std::shared_ptr<KernelObject>> slots;
    std::vector<uint32_t> freeSlots;
};

// Never destroyed: detached threads may still close handles during exit.
HandleTable& table() {
    static HandleTable* instance = new HandleTable;
    return *instance;
}

HANDLE handleFromSlot(size_t slot) {
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>((slot + 1) * 4));
}

// The slot a handle names, or SIZE_MAX when it cannot name one. Range against
// the table is checked by the caller under the lock.
size_t slotFromHandle(HANDLE handle) {
    uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    if (value == 0 || value % 4 != 0 || value / 4 > kMaxHandles) {
        return SIZE_MAX;
    }
    return value / 4 - 1;
}

}  // namespace

HANDLE palInsertHandle(std::shared_ptr<KernelObject> object) noexcept {
    HandleTable& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    try {
        size_t slot;
        if (!t.freeSlots.empty()) {
            slot = t.freeSlots.back();
            t.freeSlots.pop_back();
        } else if (t.slots.size() < kMaxHandles) {
            t.slots.emplace_back();
            // The free list keeps room for every slot, so that a close never allocates.
            if (t.freeSlots.capacity() < t.slots.capacity()) {
                try {
                    t.freeSlots.reserve(t.slots.capacity());
                } catch (const std::bad_alloc&) {
                    t.slots.pop_back();
                    throw;
                }
            }
            slot = t.slots.size() - 1;
        } else {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        t.slots[slot] = std::move(object);
        return handleFromSlot(slot);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

std::shared_ptr<KernelObject> palLookupHandle(HANDLE handle) noexcept {
    size_t slot = slotFromHandle(handle);
    HandleTable& t = table();
    {
        std::lock_guard<std::mutex> lock(t.mutex);
        if (slot < t.slots.size() && t.slots[slot]) {
            return t.slots[slot];
        }
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
}

bool palRemoveHandle(HANDLE handle) noexcept {
    size_t slot = slotFromHandle(handle);
    HandleTable& t = table();
    std::shared_ptr<KernelObject> released;
    {
        std::lock_guard<std::mutex> lock(t.mutex);
        if (slot < t.slots.size() && t.slots[slot]) {
            released = std::move(t.slots[slot]);
            t.freeSlots.push_back(static_cast<uint32_t>(slot));  // capacity reserved on insert
        }
    }
    // `released` is destroyed here, outside the lock: a destructor may close
    // descriptors or even handles of its own.
    if (!released) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    return true;
}

BOOL CloseHandle(HANDLE handle) {
    return palRemoveHandle(handle) ? TRUE : FALSE;
}

// ---- Waits --------------------------------------------------------------

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    return WaitForMultipleObjects(1, &handle, FALSE, milliseconds);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
    if (handles == nullptr || count == 0 || count > MAXIMUM_WAIT_OBJECTS) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    // Waiting for all of one object is waiting for it.
    if (waitAll && count > 1) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return WAIT_FAILED;
    }

    // The references keep every object alive however its handles are closed meanwhile.
    std::array<std::shared_ptr<KernelObject>, MAXIMUM_WAIT_OBJECTS> objects;
    std::array<pollfd, MAXIMUM_WAIT_OBJECTS> fds;
    for (DWORD i = 0; i < count; ++i) {
        objects[i] = palLookupHandle(handles[i]);
        if (!objects[i]) {
            return WAIT_FAILED;  // ERROR_INVALID_HANDLE already set
        }
        fds[i] = pollfd{objects[i]->waitFd(), POLLIN, 0};
        if (fds[i].fd < 0) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
    }

    using Clock = std::chrono::steady_clock;
    const bool infinite = milliseconds == INFINITE;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    std::array<std::shared_ptr<IoHelper>, MAXIMUM_WAIT_OBJECTS> helpers;
    std::array<pollfd, 2 * MAXIMUM_WAIT_OBJECTS> polled;
    for (;;) {
        for (DWORD i = 0; i < count; ++i) {
            if (objects[i]->tryAcquire()) {
                return WAIT_OBJECT_0 + i;
            }
        }
        int timeoutMs = -1;
        if (!infinite) {
            auto remaining = deadline - Clock::now();
            if (remaining <= Clock::duration::zero()) {
                return WAIT_TIMEOUT;
            }
            // Round up so a wait never spins on a sub-millisecond remainder; cap to
            // poll's range, the loop covers the rest of a longer wait.
            auto ms = std::chrono::ceil<std::chrono::milliseconds>(remaining).count();
            timeoutMs = ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
        }
        // Looked up afresh each round: an operation that has finished drops out.
        nfds_t n = count;
        std::copy_n(fds.begin(), count, polled.begin());
        for (DWORD i = 0; i < count; ++i) {
            helpers[i] = objects[i]->helper();
            polled[n] = pollfd{-1, 0, 0};
            if (helpers[i] && helpers[i]->helpFd(polled[n].fd, polled[n].events)) {
                ++n;
            } else {
                helpers[i].reset();
            }
        }
        for (DWORD i = 0; i < count; ++i) {
            objects[i]->beginWait();
            if (helpers[i]) {
                helpers[i]->beginHelp();
            }
        }
        int polledCount = ::poll(polled.data(), n, timeoutMs);
        int pollError = errno;
        for (DWORD i = 0; i < count; ++i) {
            objects[i]->endWait();
        }
        if (polledCount < 0 && pollError != EINTR) {
            SetLastError(palErrorFromErrno(pollError));
            return WAIT_FAILED;
        }
        for (DWORD i = 0, k = count; i < count; ++i) {
            if (helpers[i]) {
                if (polled[k++].revents != 0) {
                    helpers[i]->help();
                }
                helpers[i]->endHelp();
                helpers[i].reset();
            }
        }
    }
}
