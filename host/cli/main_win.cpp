// SPDX-License-Identifier: MIT
// mailbroker-client's entry on Windows: the arguments arrive as UTF-16 and the
// client works in UTF-8, so they are converted here, as is the program's own
// path (beside which the default Broker, mailbroker.exe, is looked for).
#include <iostream>
#include <string>
#include <vector>

#include "host/client_cli.h"
#include "pal/win32.h"

namespace {

std::string utf8(const wchar_t* text, int units) {
    if (units == 0) {
        return {};
    }
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, units, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) {
        return {};
    }
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, units, out.data(), bytes, nullptr, nullptr);
    return out;
}

// The full path of this program; long paths grow the buffer until it fits.
std::string modulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) {
            return {};
        }
        if (n < path.size()) {
            return utf8(path.data(), static_cast<int>(n));
        }
        if (path.size() >= 32768) {
            return {};
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        args.push_back(utf8(argv[i], static_cast<int>(wcslen(argv[i]))));
    }
    std::string self = modulePath();
    if (self.empty() && argc > 0) {
        self = utf8(argv[0], static_cast<int>(wcslen(argv[0])));
    }
    // The client joins paths with '/', which Windows reads as '\\' too.
    for (char& c : self) {
        if (c == '\\') {
            c = '/';
        }
    }
    return runClient(args, self, std::cout, std::cerr);
}
