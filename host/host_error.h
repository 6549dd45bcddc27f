// SPDX-License-Identifier: MIT
// HostError: why the host side could not start, reach or understand a Broker.
// The kind lets callers (and the client's exit code) tell the cases apart
// without parsing the text.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

class HostError : public std::runtime_error {
  public:
    enum class Kind {
        StartFailed,   // the Broker program could not be run, or ended before serving
        NotFound,      // no such pipe within the time allowed
        AccessDenied,  // the pipe refuses this user
        UnsafeFolder,  // the folder of the pipes is not private to this user
        Timeout,       // no reply within the time allowed
        Disconnected,  // the Broker closed the connection
        Protocol,      // the reply does not follow the frame
        Io,            // any other platform failure
    };

    HostError(Kind kind, const std::string& text, uint32_t code = 0)
        : std::runtime_error(text), kind_(kind), code_(code) {}

    Kind kind() const { return kind_; }
    // The platform's error code behind the failure, 0 when there is none.
    uint32_t code() const { return code_; }

  private:
    Kind kind_;
    uint32_t code_;
};
