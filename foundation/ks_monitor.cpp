// SPDX-License-Identifier: MIT
#include "foundation/ks_monitor.h"

#include "foundation/ks_exception.h"

KsMonitor::KsMonitor() : state_(std::make_unique<KsMonitorState>()) {
    // A semaphore that could not be created shows up as a failed wait later.
    state_->semaphore = CreateSemaphoreW(nullptr, 0, 1, nullptr);
    state_->tlsIndex = TlsAlloc();
    if (state_->tlsIndex == TLS_OUT_OF_INDEXES) {
        if (state_->semaphore != nullptr) {
            CloseHandle(state_->semaphore);
        }
        throw KsException("unable to create tls index");
    }
    InitializeCriticalSection(&state_->criticalSection);
}

KsMonitor::~KsMonitor() {
    TlsFree(state_->tlsIndex);
    if (state_->semaphore != nullptr) {
        CloseHandle(state_->semaphore);
    }
    DeleteCriticalSection(&state_->criticalSection);
}

uint32_t* KsMonitor::cell() {
    return static_cast<uint32_t*>(TlsGetValue(state_->tlsIndex));
}

uint32_t KsMonitor::holdCount() const {
    const auto* c = static_cast<const uint32_t*>(TlsGetValue(state_->tlsIndex));
    return c != nullptr ? *c : 0;
}

uint32_t* KsMonitor::createCell() {
    auto* c =
        static_cast<uint32_t*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(uint32_t)));
    if (c == nullptr) {
        throw KsException("unable to create tls data");
    }
    if (!TlsSetValue(state_->tlsIndex, c)) {
        HeapFree(GetProcessHeap(), 0, c);
        throw KsException("unable to set tls value");
    }
    return c;
}

void KsMonitor::dropCell(uint32_t* c) {
    // Clear the slot before freeing: if clearing fails the cell stays, at zero,
    // rather than the slot pointing at freed memory.
    if (!TlsSetValue(state_->tlsIndex, nullptr)) {
        throw KsException("unable to set tls value");
    }
    HeapFree(GetProcessHeap(), 0, c);
}

void KsMonitor::enter() {
    uint32_t* c = cell();
    // A cell at zero is one whose release could not clear the slot: not held.
    if (c == nullptr || *c == 0) {
        EnterCriticalSection(&state_->criticalSection);
        if (c == nullptr) {
            try {
                c = createCell();
            } catch (...) {
                LeaveCriticalSection(&state_->criticalSection);
                throw;
            }
        }
    }
    ++*c;
}

void KsMonitor::exit() {
    if (holdCount() == 0) {
        throw KsException("must own monitor prior to calling exit()");
    }
    uint32_t* c = cell();
    if (c == nullptr) {
        throw KsException("likely unbalanced enter/exit monitor pair (extra exit)");
    }
    if (--*c == 0) {
        // Leave even if clearing the slot fails, so the lock is never stranded.
        struct Leave {
            CRITICAL_SECTION* cs;
            ~Leave() { LeaveCriticalSection(cs); }
        } leave{&state_->criticalSection};
        dropCell(c);
    }
}

void KsMonitor::wait(int64_t microseconds) {
    if (holdCount() == 0) {
        throw KsException("must own monitor prior to calling wait()");
    }

    DWORD milliseconds;
    if (microseconds == kForever) {
        milliseconds = INFINITE;
    } else if (microseconds <= 0) {
        milliseconds = 0;  // a negative time-out does not wait
    } else {
        const int64_t quotient = microseconds / 1000;
        // A finite time-out never becomes the endless 0xFFFFFFFF.
        milliseconds = quotient > 0xFFFFFFFELL ? 0xFFFFFFFEu : static_cast<DWORD>(quotient);
    }

    // The depth cell is left alone: only this thread reads it, and keeping it
    // means re-acquiring allocates nothing, so the caller always gets the
    // monitor back at its depth, even when the wait itself fails.
    LeaveCriticalSection(&state_->criticalSection);
    const DWORD result = WaitForSingleObject(state_->semaphore, milliseconds);
    EnterCriticalSection(&state_->criticalSection);
    if (result != WAIT_OBJECT_0 && result != WAIT_TIMEOUT) {
        throw KsException("thread should be able to acquire semaphore");
    }
}

BOOL KsMonitor::notify() {
    if (holdCount() == 0) {
        throw KsException("must own monitor prior to notify");
    }
    return ReleaseSemaphore(state_->semaphore, 1, nullptr);
}
