// SPDX-License-Identifier: MIT
#include "foundation/ks_thread.h"

#include "foundation/ks_exception.h"

KsRunnable::~KsRunnable() = default;

KsThread::~KsThread() {
    if (ownsTarget_ != 0 && target_ != nullptr) {
        delete target_;
    }
}

void KsThread::run() {
    if (target_ != nullptr) {
        target_->run();
    }
}

DWORD WINAPI KsThread::threadEntry(LPVOID self) {
    static_cast<KsThread*>(self)->run();
    return 0;
}

void KsThread::start() {
    if (threadHandle_) {
        return;
    }
    threadHandle_ = std::make_unique<HANDLE>(nullptr);
    *threadHandle_ = CreateThread(nullptr, 0, &KsThread::threadEntry, this, 0, nullptr);
}

bool KsThread::hasEnded() {
    if (!threadHandle_ || *threadHandle_ == nullptr) {
        return true;
    }
    // The exit code answers without a wait (run() ends with 0, never with
    // STILL_ACTIVE), so that asking costs the thread no descriptor.
    DWORD code = 0;
    if (GetExitCodeThread(*threadHandle_, &code)) {
        return code != STILL_ACTIVE;
    }
    return WaitForSingleObject(*threadHandle_, 0) == WAIT_OBJECT_0;
}

void KsThread::join() {
    if (!threadHandle_) {
        return;
    }
    if (*threadHandle_ != nullptr) {
        if (WaitForSingleObject(*threadHandle_, INFINITE) != WAIT_OBJECT_0) {
            throw KsException("unable to join thread");
        }
        CloseHandle(*threadHandle_);
        *threadHandle_ = nullptr;
    }
    threadHandle_.reset();
}

void ks::sleep(int64_t microseconds) {
    // A negative duration is taken as zero: yield once and return.
    uint64_t remaining = microseconds > 0 ? static_cast<uint64_t>(microseconds / 1000) : 0;
    do {
        // 0xFFFFFFFF would be an endless sleep: stay one below it.
        const uint64_t chunk = remaining < 0xFFFFFFFEull ? remaining : 0xFFFFFFFEull;
        if (chunk == 0) {
            SwitchToThread();
        } else {
            Sleep(static_cast<DWORD>(chunk));
        }
        remaining -= chunk;
    } while (remaining > 0);
}

void KsSemaphore::create(int32_t initialCount, int32_t maximumCount, const KsString& name) {
    close();
    if (name.isEmpty()) {
        handle_ = CreateSemaphoreW(nullptr, initialCount, maximumCount, nullptr);
    } else {
        KsString wide(name);
        handle_ = CreateSemaphoreW(nullptr, initialCount, maximumCount, wide.wideView());
    }
}

DWORD KsSemaphore::wait(DWORD milliseconds) {
    return WaitForSingleObject(handle_, milliseconds);
}

BOOL KsSemaphore::release() {
    return ReleaseSemaphore(handle_, 1, nullptr);
}

void KsSemaphore::close() {
    if (handle_ != nullptr) {
        CloseHandle(handle_);
        handle_ = nullptr;
    }
}
