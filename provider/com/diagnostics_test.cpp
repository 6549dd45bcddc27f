// SPDX-License-Identifier: MIT
#include "provider/com/diagnostics.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace mb::provider {
namespace {

std::string readAll(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(Diagnostics, LinesGoOnlyToTheNamedFile) {
    std::filesystem::path log =
        std::filesystem::temp_directory_path() / ("mb-diag-" + std::to_string(::getpid()));
    std::filesystem::remove(log);

    ::unsetenv("MAILBROKER_PROVIDER_LOG");
    reportProblem("dropped");
    EXPECT_FALSE(std::filesystem::exists(log));

    ::setenv("MAILBROKER_PROVIDER_LOG", log.c_str(), 1);
    reportProblem("profiles.ini:3: unknown key");
    reportProblem("cards.vcf:9: skipped");
    ::unsetenv("MAILBROKER_PROVIDER_LOG");
    EXPECT_EQ(readAll(log),
              "mailbroker provider: profiles.ini:3: unknown key\n"
              "mailbroker provider: cards.vcf:9: skipped\n");
    std::filesystem::remove(log);
}

TEST(Diagnostics, ALogThatIsAFifoWithoutAReaderDropsTheLineWithoutBlocking) {
    std::filesystem::path fifo =
        std::filesystem::temp_directory_path() / ("mb-diag-fifo-" + std::to_string(::getpid()));
    std::filesystem::remove(fifo);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ::setenv("MAILBROKER_PROVIDER_LOG", fifo.c_str(), 1);
    reportProblem("nobody reads this");  // blocked here for good before the change
    ::unsetenv("MAILBROKER_PROVIDER_LOG");
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));
    std::filesystem::remove(fifo);
}

}  // namespace
}  // namespace mb::provider

namespace mb::provider {
namespace {

class DiagnosticsPath : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = std::filesystem::temp_directory_path() /
                ("mb-diag-state-" + std::to_string(::getpid()));
        std::filesystem::remove_all(root_);
        ::unsetenv("MAILBROKER_PROVIDER_LOG");
        ::setenv("XDG_STATE_HOME", root_.c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("XDG_STATE_HOME");
        std::filesystem::remove_all(root_);
    }
    std::filesystem::path root_;
};

TEST_F(DiagnosticsPath, WithoutAVariableLinesGoUnderTheStateFolder) {
    const std::filesystem::path log = root_ / "mailbroker/provider.log";
    EXPECT_EQ(providerLogPath(), log.string());
    reportProblem("kept");
    EXPECT_EQ(readAll(log), "mailbroker provider: kept\n");
    EXPECT_EQ(std::filesystem::status(root_ / "mailbroker").permissions() &
                  std::filesystem::perms::all,
              std::filesystem::perms::owner_all);
    ::setenv("MAILBROKER_PROVIDER_LOG", (root_ / "other.log").c_str(), 1);
    EXPECT_EQ(providerLogPath(), (root_ / "other.log").string());
    ::unsetenv("MAILBROKER_PROVIDER_LOG");
    ::unsetenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    const std::string kept = home != nullptr ? home : "";
    ::setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(providerLogPath(), "/home/someone/.local/state/mailbroker/provider.log");
    if (home != nullptr) {
        ::setenv("HOME", kept.c_str(), 1);
    } else {
        ::unsetenv("HOME");
    }
}

TEST_F(DiagnosticsPath, AFullLogIsRotatedKeepingTwoOldOnes) {
    const std::filesystem::path log = root_ / "mailbroker/provider.log";
    const std::string filler(1000, 'x');
    // About 3.5 MiB of lines: three rotations.
    for (int i = 0; i < 3600; ++i) {
        reportProblem(std::to_string(i) + " " + filler);
    }
    ASSERT_TRUE(std::filesystem::exists(log.string() + ".1"));
    ASSERT_TRUE(std::filesystem::exists(log.string() + ".2"));
    EXPECT_FALSE(std::filesystem::exists(log.string() + ".3"));
    for (const std::string suffix : {"", ".1", ".2"}) {
        EXPECT_LE(std::filesystem::file_size(log.string() + suffix), kLogRotateBytes) << suffix;
    }
    // The newest line is last in the current file; .1 holds the lines just before it.
    const std::string current = readAll(log);
    EXPECT_NE(current.find("mailbroker provider: 3599 "), std::string::npos);
    const std::string older = readAll(log.string() + ".1");
    const std::size_t firstCurrent = std::stoul(current.substr(21));
    EXPECT_NE(older.find("mailbroker provider: " + std::to_string(firstCurrent - 1) + " "),
              std::string::npos);
}

}  // namespace
}  // namespace mb::provider
