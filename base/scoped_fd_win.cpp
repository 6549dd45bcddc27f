// SPDX-License-Identifier: MIT
#include <io.h>

#include "base/scoped_fd.h"

namespace mb {

// On Windows the descriptors are the C runtime's, over a kernel handle each.
void ScopedFdTraits::free(int fd) noexcept {
    ::_close(fd);
}

}  // namespace mb
