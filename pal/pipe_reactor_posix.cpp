// SPDX-License-Identifier: MIT
#include "pal/pipe_reactor.h"

#include <pthread.h>
#include <signal.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <new>
#include <thread>
#include <unordered_map>

#include "pal/kernel_object.h"

namespace {

struct Registry {
    std::mutex mutex;
    uint64_t next = 1;
    std::unordered_map<uint64_t, std::weak_ptr<IoSource>> sources;
};

// Never destroyed: the I/O thread runs until the process exits.
Registry& registry() {
    static auto* instance = new Registry;
    return *instance;
}

}  // namespace

IoReactor* IoReactor::get() {
    static IoReactor* reactor = [] {
        auto* r = new (std::nothrow) IoReactor;
        if (r == nullptr || !r->start()) {
            delete r;
            return static_cast<IoReactor*>(nullptr);
        }
        return r;
    }();
    if (reactor == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    return reactor;
}

bool IoReactor::start() {
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    if (epoll_ < 0) {
        return false;
    }
    // The loop thread takes no signals, so that it never runs a handler meant
    // for the program's own threads.
    sigset_t all, saved;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &saved);
    bool started = true;
    try {
        std::thread([this] { run(); }).detach();
    } catch (const std::exception&) {
        started = false;
    }
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    if (!started) {
        ::close(epoll_);
    }
    return started;
}

uint64_t IoReactor::add(int fd, uint32_t events, std::weak_ptr<IoSource> source) {
    Registry& r = registry();
    uint64_t key;
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        try {
            key = r.next++;
            r.sources.emplace(key, std::move(source));
        } catch (const std::bad_alloc&) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return 0;
        }
    }
    epoll_event ev{};
    ev.events = events;
    ev.data.u64 = key;
    if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ev) != 0) {
        SetLastError(palErrorFromErrno(errno));
        std::lock_guard<std::mutex> lock(r.mutex);
        r.sources.erase(key);
        return 0;
    }
    return key;
}

void IoReactor::modify(uint64_t key, int fd, uint32_t events) {
    epoll_event ev{};
    ev.events = events;
    ev.data.u64 = key;
    ::epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &ev);
}

void IoReactor::remove(uint64_t key, int fd) {
    ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.sources.erase(key);
}

void IoReactor::run() {
    Registry& r = registry();
    epoll_event events[64];
    for (;;) {
        int n = ::epoll_wait(epoll_, events, 64, -1);
        for (int i = 0; i < n; ++i) {
            std::shared_ptr<IoSource> source;
            {
                std::lock_guard<std::mutex> lock(r.mutex);
                const uint64_t key = events[i].data.u64;  // packed: copied, not bound
                auto found = r.sources.find(key);
                if (found != r.sources.end()) {
                    source = found->second.lock();
                }
            }
            if (source) {
                source->onReady(events[i].events);
            }
            // The last reference may go here, and its destructor unregisters.
        }
    }
}
