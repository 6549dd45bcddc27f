// SPDX-License-Identifier: MIT
// The pipe layer's one I/O thread: an epoll loop that tells registered sources
// when their descriptor may have changed state. Internal to the POSIX layer.
#pragma once

#include <cstdint>
#include <memory>

// Something the I/O thread wakes: a connected stream or a listening socket.
class IoSource {
  public:
    virtual ~IoSource() = default;
    // Runs on the I/O thread; must not block.
    virtual void onReady(uint32_t events) = 0;
};

// The caller picks the trigger: EPOLLET for a source told of each change, or
// EPOLLONESHOT for one that re-arms itself with modify() while it has work. The
// reactor holds sources weakly: a source that
// is destroyed unregisters itself, and a wake-up that races with that finds
// nothing and is dropped.
class IoReactor {
  public:
    // The process's reactor, started on first use and never stopped; null with
    // the last error set when its thread or descriptors cannot be had.
    static IoReactor* get();

    // Returns a nonzero key for remove(), or 0 with the last error set.
    uint64_t add(int fd, uint32_t events, std::weak_ptr<IoSource> source);
    void modify(uint64_t key, int fd, uint32_t events);
    void remove(uint64_t key, int fd);

  private:
    IoReactor() = default;
    bool start();
    void run();

    int epoll_ = -1;
};
