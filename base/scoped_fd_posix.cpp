// SPDX-License-Identifier: MIT
#include "base/scoped_fd.h"

#include <unistd.h>

namespace mb {

void ScopedFdTraits::free(int fd) noexcept {
    // close() releases the descriptor even when it reports EINTR on Linux, so
    // it is never retried: a retry could close a descriptor another thread
    // was just given.
    ::close(fd);
}

}  // namespace mb
