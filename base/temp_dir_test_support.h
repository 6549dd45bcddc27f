// SPDX-License-Identifier: MIT
// TempDir: a fresh directory under the system's temporary folder, removed
// with everything in it when the object goes. For tests that need files of
// their own, or a private XDG_CONFIG_HOME and XDG_DATA_HOME.
#pragma once

#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

namespace mb::test {

class TempDir {
  public:
    // A random name, created only if nobody has it yet (as mkdtemp, which the
    // C runtime of Windows lacks), then closed to everybody but its owner.
    explicit TempDir(const char* tag = "mb") {
        namespace fs = std::filesystem;
        static const char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
        std::random_device seed;
        std::mt19937_64 random(seed());
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string name = "mbtest-" + std::string(tag) + "-";
            for (int i = 0; i < 10; ++i) {
                name += kDigits[random() % (sizeof kDigits - 1)];
            }
            const fs::path candidate = fs::temp_directory_path() / name;
            std::error_code error;
            if (fs::create_directory(candidate, error)) {
                fs::permissions(candidate, fs::perms::owner_all, fs::perm_options::replace, error);
                // Forward slashes on every system: tests join paths with '/'.
                path_ = candidate.generic_string();
                return;
            }
            if (error && error != std::errc::file_exists) {
                break;
            }
        }
        throw std::runtime_error("cannot create a temporary directory");
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

}  // namespace mb::test
