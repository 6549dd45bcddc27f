// SPDX-License-Identifier: MIT
#include "host/pipe_folder.h"

// Windows keeps named pipes in the kernel's own namespace, guarded by each
// pipe's security descriptor: there is no folder that could be unsafe.
std::optional<std::string> unsafePipeFolder() {
    return std::nullopt;
}
