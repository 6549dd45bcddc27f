// SPDX-License-Identifier: MIT
// Test helper: tests/smtp/smtp_server.py as a child process on loopback,
// stopped when the object goes.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace mb::provider::test {

class SmtpServer {
  public:
    // Serves from dir in the mode the file dir/mode names (rewritable), on
    // port or a free one; extra arguments follow.
    SmtpServer(const std::string& dir, const std::string& mode, int port = 0,
               const std::vector<std::string>& extra = {})
        : dir_(dir) {
        std::filesystem::create_directories(dir_ + "/received");
        setMode(mode);
        int out[2];
        EXPECT_EQ(::pipe(out), 0);
        std::vector<std::string> words = {MB_SYSTEM_PYTHON,   MB_SMTP_SERVER,      "--dir",
                                          dir_ + "/received", "--mode-file",       dir_ + "/mode",
                                          "--port",           std::to_string(port)};
        words.insert(words.end(), extra.begin(), extra.end());
        std::vector<char*> argv;
        for (std::string& word : words) {
            argv.push_back(word.data());
        }
        argv.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        std::string line;
        char c;
        while (::read(out[0], &c, 1) == 1 && c != '\n') {
            line.push_back(c);
        }
        ::close(out[0]);
        port_ = std::atoi(line.c_str());
        EXPECT_GT(port_, 0) << "the SMTP server did not start";
    }

    ~SmtpServer() { stop(); }

    void stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

    void setMode(const std::string& mode) { std::ofstream(dir_ + "/mode") << mode << "\n"; }
    int port() const { return port_; }
    std::string url() const { return "smtp://127.0.0.1:" + std::to_string(port_); }

    // The messages received so far, as NNNN paths without extension.
    std::vector<std::string> received() const {
        std::vector<std::string> out;
        for (const auto& entry : std::filesystem::directory_iterator(dir_ + "/received")) {
            const std::string path = entry.path().string();
            if (path.size() > 4 && path.substr(path.size() - 4) == ".eml") {
                out.push_back(path.substr(0, path.size() - 4));
            }
        }
        std::sort(out.begin(), out.end());
        return out;
    }

    bool dataStarted() const { return std::filesystem::exists(dir_ + "/received/data-started"); }

    static std::string read(const std::string& path) {
        std::stringstream text;
        text << std::ifstream(path, std::ios::binary).rdbuf();
        return text.str();
    }

  private:
    std::string dir_;
    pid_t pid_ = -1;
    int port_ = 0;
};

}  // namespace mb::provider::test
