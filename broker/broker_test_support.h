// SPDX-License-Identifier: MIT
// Helpers for the listener tests: a stand-in host process that the test ends,
// and a pipe security that counts its descriptors.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "base/launcher.h"
#include "broker/pipe_security.h"
#include "pal/win32.h"


namespace brokertest {

// A child process that lives until end() (or 60 s): sleep(1) on POSIX; on
// Windows cmd.exe, waiting for a line on a standard input nobody writes.
class HostProcess {
  public:
    HostProcess() {
        mb::Command command;
#ifdef _WIN32
        char system[MAX_PATH];
        const UINT n = GetSystemDirectoryA(system, MAX_PATH);
        command.argv = {std::string(system, n) + "\\cmd.exe"};
        command.stdinMode = mb::Stdio::pipe();
#else
        command.argv = {"sleep", "60"};
        command.searchPath = true;
        command.stdinMode = mb::Stdio::null();
#endif
        command.stdoutMode = mb::Stdio::null();
        std::error_code error;
        process_ = mb::Process::start(command, error);
        EXPECT_FALSE(error) << error.message();
        input_ = process_.takeStdin();
    }
    ~HostProcess() { end(); }
    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;

    std::string idText() const { return std::to_string(process_.id()); }

    void end() { process_.terminate(); }

  private:
    mb::Process process_;
    mb::ScopedFd input_;
};

// Counts descriptors made and released; each is a heap cell.
struct CountingSecurity {
    static std::atomic<int>& created() {
        static std::atomic<int> n{0};
        return n;
    }
    static std::atomic<int>& released() {
        static std::atomic<int> n{0};
        return n;
    }
    static PipeSecurity policy() {
        created() = 0;
        released() = 0;
        return PipeSecurity{
            [](SECURITY_ATTRIBUTES& attributes) -> void* {
                attributes.nLength = sizeof(SECURITY_ATTRIBUTES);
                attributes.lpSecurityDescriptor = nullptr;
                ++created();
                return new int(7);
            },
            [](void* descriptor) {
                ++released();
                delete static_cast<int*>(descriptor);
            }};
    }
};

inline std::string uniqueName(const char* tag) {
    static int counter = 0;
    return "mbbroker-" + std::string(tag) + "-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(++counter);
}

inline std::string pipePath(const std::string& name) {
    return "\\\\.\\pipe\\" + name;
}

// Opens the client end, retrying while the listener is between instances.
inline HANDLE connectClient(const std::string& path) {
    for (int attempt = 0; attempt < 400; ++attempt) {
        HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            DWORD mode = PIPE_READMODE_MESSAGE;
            SetNamedPipeHandleState(h, &mode, nullptr, nullptr);
            return h;
        }
        Sleep(5);
    }
    ADD_FAILURE() << "no instance of " << path;
    return INVALID_HANDLE_VALUE;
}

}  // namespace brokertest
