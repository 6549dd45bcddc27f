// SPDX-License-Identifier: MIT
// A POSIX file descriptor owned by one holder and closed when it goes.
#pragma once

#include "base/scoped_generic.h"

namespace mb {

struct ScopedFdTraits {
    static int invalidValue() noexcept { return -1; }
    static void free(int fd) noexcept;
};

using ScopedFd = ScopedGeneric<int, ScopedFdTraits>;

}  // namespace mb
