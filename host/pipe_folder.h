// SPDX-License-Identifier: MIT
// Why a Broker's pipe cannot be used at all: the folder that holds the pipes
// is not private to this user.
#pragma once

#include <optional>
#include <string>

// The pipes of a user live in a folder only that user may use (the platform
// layer refuses any other, so no Broker can serve there and no client may
// connect). Returns "the pipe folder DIR is not safe (owner UID, mode MODE)"
// for the first folder on the way that exists and is not a directory of this
// user closed to everybody else, or nothing when the folders are sound or not
// made yet (the Broker makes them).
std::optional<std::string> unsafePipeFolder();
