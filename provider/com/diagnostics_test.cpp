#include "provider/com/diagnostics.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

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
