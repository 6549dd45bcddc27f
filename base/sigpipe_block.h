// SPDX-License-Identifier: MIT
// Writing to a pipe whose reader has gone raises SIGPIPE, which would kill
// the whole process (the Broker, or a host that loaded us). While one of these
// lives, SIGPIPE is blocked in the calling thread, so such a write fails with
// EPIPE instead; a SIGPIPE left pending is taken before the old mask returns.
#pragma once

#include <pthread.h>
#include <signal.h>
#include <time.h>

namespace mb {

class SigpipeBlock {
  public:
    SigpipeBlock() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
    }
    ~SigpipeBlock() {
        sigset_t pending;
        sigpending(&pending);
        if (sigismember(&pending, SIGPIPE) == 1 && sigismember(&old_, SIGPIPE) == 0) {
            const timespec zero{};
            sigtimedwait(&pipe_, nullptr, &zero);
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    SigpipeBlock(const SigpipeBlock&) = delete;
    SigpipeBlock& operator=(const SigpipeBlock&) = delete;

  private:
    sigset_t pipe_;
    sigset_t old_;
};

}  // namespace mb
