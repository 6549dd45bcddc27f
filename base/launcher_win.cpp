// SPDX-License-Identifier: MIT
// The launcher on Windows: CreateProcessW with exactly the handles the Command
// names inherited (PROC_THREAD_ATTRIBUTE_HANDLE_LIST), so that, as on POSIX,
// nothing else of ours reaches the child.
//
// Windows has no signals. signal() and signalGroup() end the child with
// TerminateProcess and the exit code 128 + the signal's number, the code a
// POSIX shell reports for a child killed by that signal, so that a caller's
// message still tells which end was meant. An ExitStatus is therefore always
// Exited here. The process handle is kept in waitHandle_: kernel handles are
// 32-bit values on 64-bit Windows (sign-extension restores them), so it fits.
//
// captureFirstLine is not built here: its callers (the provider's dialog driver
// and sendmail transport) are not built for Windows.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <map>
#include <memory>
#include <utility>

#include "base/launcher.h"

namespace mb {

namespace {

std::wstring wide(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    const int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                          nullptr, 0);
    std::wstring out(static_cast<size_t>(std::max(units, 0)), L'\0');
    if (units > 0) {
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(),
                            units);
    }
    return out;
}

std::error_code lastError() {
    return std::error_code(static_cast<int>(GetLastError()), std::system_category());
}

HANDLE handleOf(int32_t value) {
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(value));
}

int32_t valueOf(HANDLE handle) {
    return static_cast<int32_t>(reinterpret_cast<intptr_t>(handle));
}

struct HandleCloser {
    void operator()(HANDLE h) const noexcept {
        if (h != nullptr && h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
        }
    }
};
using OwnedHandle = std::unique_ptr<void, HandleCloser>;

// One argument quoted as CommandLineToArgvW and the C runtime read it back:
// backslashes are literal except before a quote, where each is doubled.
void appendQuoted(std::wstring& line, const std::wstring& arg) {
    if (!line.empty()) {
        line += L' ';
    }
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        line += arg;
        return;
    }
    line += L'"';
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            line.append(backslashes * 2 + 1, L'\\');
        } else {
            line.append(backslashes, L'\\');
        }
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
}

std::wstring upper(std::wstring text) {
    for (wchar_t& c : text) {
        c = static_cast<wchar_t>(std::towupper(c));
    }
    return text;
}

// Environment names compare without regard to case on Windows; the block is
// sorted that way, as CreateProcessW expects.
using Environment = std::map<std::wstring, std::wstring>;  // upper-case name -> "Name=value"

Environment environmentFor(const Command& command) {
    Environment env;
    if (command.environmentMode == Command::EnvironmentMode::Inherit) {
        wchar_t* block = GetEnvironmentStringsW();
        for (const wchar_t* p = block; p != nullptr && *p != L'\0'; p += wcslen(p) + 1) {
            std::wstring entry(p);
            const size_t eq = entry.find(L'=', 1);  // "=C:=C:\dir" entries start with '='
            env[upper(entry.substr(0, eq))] = entry;
        }
        FreeEnvironmentStringsW(block);
    }
    for (const std::string& item : command.environment) {
        const std::wstring entry = wide(item);
        const size_t eq = entry.find(L'=');
        if (eq == std::wstring::npos) {
            env.erase(upper(entry));
        } else {
            env[upper(entry.substr(0, eq))] = entry;
        }
    }
    return env;
}

std::wstring blockOf(const Environment& env) {
    std::wstring block;
    for (const auto& [name, entry] : env) {
        block += entry;
        block += L'\0';
    }
    block += L'\0';
    return block;
}

// The program's path: argv[0] itself, or with searchPath a bare name looked up
// on the child's PATH (".exe" added when it has no extension).
bool programPath(const Command& command, const Environment& env, std::wstring& path) {
    path = wide(command.argv[0]);
    if (!command.searchPath || path.find_first_of(L"/\\:") != std::wstring::npos) {
        // As CreateProcessW does for the command line's first token: a file
        // name without an extension gets ".exe".
        const size_t name = path.find_last_of(L"/\\:");
        if (path.find(L'.', name == std::wstring::npos ? 0 : name + 1) == std::wstring::npos) {
            path += L".exe";
        }
        return true;
    }
    auto found = env.find(L"PATH");
    const std::wstring list =
        found == env.end() ? std::wstring() : found->second.substr(found->second.find(L'=') + 1);
    wchar_t buffer[MAX_PATH];
    const DWORD n =
        SearchPathW(list.c_str(), path.c_str(), L".exe", MAX_PATH, buffer, nullptr);
    if (n == 0 || n >= MAX_PATH) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    path.assign(buffer, n);
    return true;
}

HANDLE inheritableCopy(HANDLE source) {
    HANDLE copy = nullptr;
    if (source == nullptr || source == INVALID_HANDLE_VALUE ||
        !DuplicateHandle(GetCurrentProcess(), source, GetCurrentProcess(), &copy, 0, TRUE,
                         DUPLICATE_SAME_ACCESS)) {
        return nullptr;
    }
    return copy;
}

struct Streams {
    OwnedHandle child[3];  // inheritable, closed once the child has them
    ScopedFd parent[3];
};

bool prepareStreams(const Command& command, Streams& streams) {
    const Stdio* modes[3] = {&command.stdinMode, &command.stdoutMode, &command.stderrMode};
    const DWORD standard[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (int i = 0; i < 3; ++i) {
        const Stdio& mode = *modes[i];
        HANDLE h = nullptr;
        switch (mode.kind()) {
            case Stdio::Kind::Inherit:
                h = inheritableCopy(GetStdHandle(standard[i]));
                break;
            case Stdio::Kind::Null: {
                SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
                h = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0, nullptr);
                if (h == INVALID_HANDLE_VALUE) {
                    return false;
                }
                break;
            }
            case Stdio::Kind::Descriptor:
                h = inheritableCopy(reinterpret_cast<HANDLE>(_get_osfhandle(mode.fd())));
                if (h == nullptr) {
                    SetLastError(ERROR_INVALID_HANDLE);
                    return false;
                }
                break;
            case Stdio::Kind::Pipe: {
                SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
                HANDLE read = nullptr, write = nullptr;
                if (!CreatePipe(&read, &write, &sa, 0)) {
                    return false;
                }
                // The parent's end stays ours alone.
                HANDLE mine = i == 0 ? write : read;
                h = i == 0 ? read : write;
                SetHandleInformation(mine, HANDLE_FLAG_INHERIT, 0);
                const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(mine),
                                               (i == 0 ? _O_WRONLY : _O_RDONLY) | _O_BINARY);
                if (fd < 0) {
                    CloseHandle(mine);
                    CloseHandle(h);
                    SetLastError(ERROR_TOO_MANY_OPEN_FILES);
                    return false;
                }
                streams.parent[i] = ScopedFd(fd);
                break;
            }
            case Stdio::Kind::SameAsStdout:
                h = i == 2 ? inheritableCopy(streams.child[1].get()) : nullptr;
                break;
        }
        streams.child[i].reset(h);
    }
    return true;
}

}  // namespace

void Process::closeWaitHandle() {
    if (waitHandle_ != -1) {
        CloseHandle(handleOf(waitHandle_));
        waitHandle_ = -1;
    }
}

Process Process::start(const Command& command, std::error_code& error) {
    error.clear();
    if (command.argv.empty()) {
        error = std::make_error_code(std::errc::invalid_argument);
        return Process();
    }
    const Environment env = environmentFor(command);
    std::wstring program;
    if (!programPath(command, env, program)) {
        error = lastError();
        return Process();
    }
    std::wstring line;
    appendQuoted(line, program);
    for (size_t i = 1; i < command.argv.size(); ++i) {
        appendQuoted(line, wide(command.argv[i]));
    }
    Streams streams;
    if (!prepareStreams(command, streams)) {
        error = lastError();
        return Process();
    }

    // Only the three standard handles are inherited, each once.
    std::vector<HANDLE> inherit;
    for (const OwnedHandle& h : streams.child) {
        if (h && std::find(inherit.begin(), inherit.end(), h.get()) == inherit.end()) {
            inherit.push_back(h.get());
        }
    }
    SIZE_T attributeBytes = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &attributeBytes);
    std::vector<unsigned char> attributeMemory(attributeBytes);
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributeMemory.data());
    if (!InitializeProcThreadAttributeList(attributes, 1, 0, &attributeBytes)) {
        error = lastError();
        return Process();
    }
    struct ListGuard {
        LPPROC_THREAD_ATTRIBUTE_LIST list;
        ~ListGuard() { DeleteProcThreadAttributeList(list); }
    } guard{attributes};
    if (!inherit.empty() &&
        !UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherit.data(),
                                   inherit.size() * sizeof(HANDLE), nullptr, nullptr)) {
        error = lastError();
        return Process();
    }

    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = streams.child[0].get();
    startup.StartupInfo.hStdOutput = streams.child[1].get();
    startup.StartupInfo.hStdError = streams.child[2].get();
    startup.lpAttributeList = attributes;

    DWORD flags = CREATE_UNICODE_ENVIRONMENT | EXTENDED_STARTUPINFO_PRESENT | CREATE_NO_WINDOW;
    if (command.group != Command::Group::Inherit) {
        flags |= CREATE_NEW_PROCESS_GROUP;
    }
    std::wstring block = blockOf(env);
    const std::wstring directory = wide(command.workingDirectory);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, !inherit.empty(), flags,
                        block.data(), directory.empty() ? nullptr : directory.c_str(),
                        &startup.StartupInfo, &info)) {
        error = lastError();
        return Process();
    }
    CloseHandle(info.hThread);

    Process process;
    process.id_ = static_cast<ProcessId>(info.dwProcessId);
    process.ownGroup_ = command.group != Command::Group::Inherit;
    process.waitHandle_ = valueOf(info.hProcess);
    process.stdin_ = std::move(streams.parent[0]);
    process.stdout_ = std::move(streams.parent[1]);
    process.stderr_ = std::move(streams.parent[2]);
    return process;
}

bool Process::running() {
    return valid() && !wait(std::chrono::milliseconds(0)).has_value();
}

std::optional<ExitStatus> Process::wait(std::chrono::milliseconds timeout) {
    if (status_ || !valid() || waitHandle_ == -1) {
        return status_;
    }
    const DWORD ms = timeout < std::chrono::milliseconds(0)
                         ? INFINITE
                         : static_cast<DWORD>(std::min<int64_t>(timeout.count(), INFINITE - 1));
    if (WaitForSingleObject(handleOf(waitHandle_), ms) != WAIT_OBJECT_0) {
        return std::nullopt;
    }
    DWORD code = 0;
    GetExitCodeProcess(handleOf(waitHandle_), &code);
    status_ = ExitStatus::exited(static_cast<int32_t>(code));
    closeWaitHandle();
    return status_;
}

bool Process::signal(int32_t signal) {
    // The handle keeps the process id from being reused until it is closed.
    return valid() && !status_ && waitHandle_ != -1 &&
           TerminateProcess(handleOf(waitHandle_), 128u + static_cast<UINT>(signal)) != 0;
}

bool Process::signalGroup(int32_t signal) {
    // A console process group cannot be ended as one; the child alone is.
    return this->signal(signal);
}

void Process::terminate() {
    if (valid() && !status_ && waitHandle_ != -1) {
        signal(9);
        wait(kForever);
    }
}

void Process::detach() {
    closeWaitHandle();
    id_ = -1;
    status_.reset();
    lost_ = false;
}

// Nothing is left to reap on Windows: once our handle is closed, a process that
// runs on belongs to nobody.
DetachedRun runDetached(const Command& command, std::chrono::milliseconds wait) {
    DetachedRun run;
    Process process = Process::start(command, run.error);
    if (run.error) {
        run.result = DetachedRun::Result::NotStarted;
        return run;
    }
    if (std::optional<ExitStatus> exit = process.wait(wait)) {
        run.result = DetachedRun::Result::Exited;
        run.exit = *exit;
    } else {
        run.result = DetachedRun::Result::StillRunning;
        process.detach();
    }
    return run;
}

}  // namespace mb
