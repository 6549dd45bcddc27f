// SPDX-License-Identifier: MIT
// Internal to the POSIX layer: the objects behind HANDLE values, and the handle
// table that names them. Not included by mailbroker code, which sees only
// pal/win32.h.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <utility>

#include "pal/error.h"
#include "pal/types.h"

// A reference-counted object named by one or more handles. The handle table and
// any wait in progress hold shared_ptrs, so CloseHandle never frees an object
// another thread is still using.
//
// A waitable type states its signal semantics through two functions:
//   waitFd()      a descriptor that polls readable (POLLIN) while the object may
//                 be signalled; -1 for objects that cannot be waited on.
//   tryAcquire()  the authoritative, atomic check: true if the object is
//                 signalled, consuming what a satisfied wait consumes (one
//                 semaphore unit, an auto-reset event) and nothing otherwise.
// A readable waitFd with a false tryAcquire is allowed but must be brief, since
// waiters poll again at once (another waiter took the unit first, say).
// An operation in progress that will signal an object when it finishes. A
// thread waiting on the object also polls the operation's descriptor and, when
// it turns ready, finishes the operation itself: the waiter then wakes straight
// from the socket instead of through the I/O thread.
class IoHelper {
  public:
    virtual ~IoHelper() = default;
    // The descriptor and poll events to watch; false when there is nothing to do.
    virtual bool helpFd(int& fd, short& events) = 0;
    virtual void help() = 0;
    // Bracket one poll of helpFd(): while someone helps, the I/O thread need not.
    virtual void beginHelp() {}
    virtual void endHelp() {}
};

class KernelObject {
  public:
    KernelObject() = default;
    KernelObject(const KernelObject&) = delete;
    KernelObject& operator=(const KernelObject&) = delete;
    virtual ~KernelObject() = default;

    virtual int waitFd() { return -1; }
    virtual bool tryAcquire() { return false; }
    // The operation that will signal this object, if a waiter may help it along.
    virtual std::shared_ptr<IoHelper> helper() { return nullptr; }
    // Bracket a poll of waitFd(): an object may keep its descriptor up to date
    // only while someone polls it.
    virtual void beginWait() {}
    virtual void endWait() {}
};

// The event a handle names, held as an object: an operation signals the event
// it was started with even if that handle is closed and its value reused
// meanwhile, as Windows does. Null when the handle names no event.
std::shared_ptr<KernelObject> palEventObject(HANDLE event) noexcept;
// SetEvent or ResetEvent on such an object.
void palSignalEvent(KernelObject& event, bool set) noexcept;
// Names the operation an event waits for (see IoHelper); the event forgets it
// once the operation is gone.
void palSetEventHelper(KernelObject& event, std::weak_ptr<IoHelper> helper) noexcept;

// A non-blocking, close-on-exec eventfd: the pollable half of a signal state.
// In semaphore mode each take() removes one unit; otherwise it empties the counter.
class EventFd {
  public:
    EventFd() = default;
    EventFd(const EventFd&) = delete;
    EventFd& operator=(const EventFd&) = delete;
    ~EventFd();

    // False with the last error set when no descriptor could be had.
    bool open(uint64_t initial, bool semaphoreMode);
    // A counter at zero, from a small pool of descriptors put back by recycle().
    bool openPooled();
    // Gives a descriptor whose counter is zero back to the pool (or closes it).
    void recycle();
    int fd() const { return fd_; }
    void add(uint64_t units);
    bool take();  // false when the counter was zero

  private:
    int fd_ = -1;
};

// Inserts an object and returns its new handle: a nonzero multiple of 4.
// Returns NULL with the last error set when the table cannot grow.
HANDLE palInsertHandle(std::shared_ptr<KernelObject> object) noexcept;

// Makes a waitable object, opens its descriptor (open() sets the last error on
// failure) and gives it a handle; NULL with the last error set on any failure.
template <typename T, typename... Args>
HANDLE palCreateWaitable(Args&&... args) noexcept {
    try {
        auto object = std::make_shared<T>(std::forward<Args>(args)...);
        if (!object->open()) {
            return nullptr;
        }
        return palInsertHandle(std::move(object));
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

// The object a handle names, or null with ERROR_INVALID_HANDLE.
std::shared_ptr<KernelObject> palLookupHandle(HANDLE handle) noexcept;

// Removes a handle from the table; the object lives on while referenced.
// False with ERROR_INVALID_HANDLE for an unknown handle.
bool palRemoveHandle(HANDLE handle) noexcept;

// The object a handle names if it is a T; otherwise null with ERROR_INVALID_HANDLE,
// as Windows reports a handle of the wrong type.
template <class T>
std::shared_ptr<T> palLookupHandleAs(HANDLE handle) noexcept {
    std::shared_ptr<T> typed = std::dynamic_pointer_cast<T>(palLookupHandle(handle));
    if (!typed) {
        SetLastError(ERROR_INVALID_HANDLE);
    }
    return typed;
}

// The Win32 code closest to a POSIX errno value.
DWORD palErrorFromErrno(int err);
