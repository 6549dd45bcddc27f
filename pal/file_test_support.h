// SPDX-License-Identifier: MIT
// A scratch folder for the file, shell and registry tests, made and removed
// with the standard library so that the same tests build against Windows.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "pal/win32.h"

namespace pal_test {

using WString = std::basic_string<WCHAR>;

// A path as the Win32 calls take it.
inline WString Wide(const std::filesystem::path& path) {
#ifdef _WIN32
    return path.wstring();
#else
    return path.u16string();
#endif
}

inline std::filesystem::path PathOf(const WString& wide) {
    return std::filesystem::path(wide);  // the native wide form on Windows: no conversion
}

// An ASCII relative path written with '/'. (Narrow text would go through a
// code conversion MinGW's static runtime lacks.)
inline std::filesystem::path Ascii(std::string_view relative) {
    WString wide;
    for (char c : relative) {
        wide.push_back(c == '/' ? std::filesystem::path::preferred_separator
                                : static_cast<WCHAR>(c));
    }
    return PathOf(wide);
}

class ScratchDir {
  public:
    ScratchDir() {
        static std::atomic<int> serial{0};
        namespace fs = std::filesystem;
        path_ = fs::temp_directory_path() /
                Ascii("mb-pal-" + std::to_string(GetCurrentProcessId()) + "-" +
                      std::to_string(serial++));
        fs::create_directories(path_);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(std::string_view relative) const { return path_ / Ascii(relative); }

    std::filesystem::path write(std::string_view name, std::string_view bytes) const {
        std::filesystem::path file = path_ / Ascii(name);
        // The C runtime: MinGW's file streams fail on wide paths.
#ifdef _WIN32
        std::FILE* out = _wfopen(file.c_str(), L"wb");
#else
        std::FILE* out = std::fopen(file.c_str(), "wb");
#endif
        EXPECT_NE(out, nullptr) << "a scratch file";
        if (out != nullptr) {
            EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), out), bytes.size());
            EXPECT_EQ(std::fclose(out), 0);
        }
        return file;
    }

  private:
    std::filesystem::path path_;
};

}  // namespace pal_test
