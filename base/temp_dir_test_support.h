// TempDir: a fresh directory under the system's temporary folder, removed
// with everything in it when the object goes. For tests that need files of
// their own, or a private XDG_CONFIG_HOME and XDG_DATA_HOME.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

namespace mb::test {

class TempDir {
  public:
    explicit TempDir(const char* tag = "mb") {
        std::string pattern =
            (std::filesystem::temp_directory_path() / ("mbtest-" + std::string(tag) + "-XXXXXX"))
                .string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("cannot create a temporary directory");
        }
        path_ = pattern;
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
