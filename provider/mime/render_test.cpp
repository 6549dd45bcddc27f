#include "provider/mime/render.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

// The renderer's one export, which the provider finds with dlsym.
extern "C" std::int32_t mb_mime_render(const MbMimeMessage* message, std::int32_t outFd);

namespace {

constexpr std::uint32_t kTo = 1, kCc = 2, kBcc = 3;

// Renders a message to these recipients into an unnamed file; the file's
// text, or "error N".
std::string render(const std::vector<MbMimeAddress>& recipients) {
    MbMimeMessage message{};
    message.structSize = sizeof message;
    message.subject = "s";
    message.body = "b";
    message.fromName = "Ana";
    message.fromAddress = "ana@example.net";
    message.recipients = recipients.data();
    message.recipientCount = static_cast<std::uint32_t>(recipients.size());
    message.date = 0;
    message.messageIdDomain = "example.net";
    const int fd = ::open("/tmp", O_TMPFILE | O_RDWR, 0600);
    EXPECT_GE(fd, 0);
    const std::int32_t error = mb_mime_render(&message, fd);
    std::string text(1 << 16, '\0');
    const ssize_t got = ::pread(fd, text.data(), text.size(), 0);
    ::close(fd);
    text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return error == 0 ? text : "error " + std::to_string(error) + (text.empty() ? "" : ", wrote");
}

TEST(Render, GroupsKeepTheirNameAndEmptyGroupsTheirPlace) {
    const std::string text = render({{kTo, "Team", nullptr, 2},
                                     {kTo, "", "pat@example.org", 0},
                                     {kTo, "", "max@example.org", 0},
                                     {kTo, "Zoe", "zoe@example.org", 0},
                                     {kCc, "Night Watch", nullptr, 0},
                                     {kBcc, "Sales, East", nullptr, 1},
                                     {kBcc, "Max M", "max@example.org", 0}});
    EXPECT_NE(text.find("\nTo: Team: pat@example.org, max@example.org;, Zoe <zoe@example.org>\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\nCc: Night Watch: ;\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nBcc: \"Sales, East\": Max M <max@example.org>;\n"), std::string::npos)
        << text;
}

TEST(Render, GroupsThatDoNotFitTheListAreRefusedAndNothingIsWritten) {
    EXPECT_EQ(render({{kTo, "Team", nullptr, 2}, {kTo, "", "pat@example.org", 0}}),
              "error " + std::to_string(EINVAL));
    EXPECT_EQ(render({{kTo, "Outer", nullptr, 1}, {kTo, "Inner", nullptr, 0}}),
              "error " + std::to_string(EINVAL));
    EXPECT_EQ(render({{kTo, "Team", nullptr, 0xFFFFFFFFu}}), "error " + std::to_string(EINVAL));
}

}  // namespace
