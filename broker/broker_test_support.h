// Helpers for the listener tests: a stand-in host process that the test ends,
// and a pipe security that counts its descriptors.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "broker/pipe_security.h"
#include "pal/win32.h"

#ifndef _WIN32
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#endif

namespace brokertest {

// A child process that lives until end() (or 60 s).
class HostProcess {
  public:
    HostProcess() {
#ifndef _WIN32
        char program[] = "sleep";
        char seconds[] = "60";
        char* argv[] = {program, seconds, nullptr};
        EXPECT_EQ(posix_spawnp(&pid_, "sleep", nullptr, nullptr, argv, nullptr), 0);
#endif
    }
    ~HostProcess() { end(); }
    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;

    std::string idText() const { return std::to_string(pid_); }

    void end() {
#ifndef _WIN32
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            int status = 0;
            waitpid(pid_, &status, 0);
            pid_ = 0;
        }
#endif
    }

  private:
#ifndef _WIN32
    pid_t pid_ = 0;
#endif
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
