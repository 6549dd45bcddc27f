// A scratch folder for the file, shell and registry tests, made and removed
// with the standard library so that the same tests build against Windows.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
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

class ScratchDir {
  public:
    ScratchDir() {
        static std::atomic<int> serial{0};
        namespace fs = std::filesystem;
        path_ = fs::temp_directory_path() /
                ("mb-pal-" + std::to_string(GetCurrentProcessId()) + "-" +
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
    std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

    std::filesystem::path write(std::string_view name, std::string_view bytes) const {
        std::filesystem::path file = path_ / name;
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        EXPECT_TRUE(out.good()) << file;
        return file;
    }

  private:
    std::filesystem::path path_;
};

}  // namespace pal_test
