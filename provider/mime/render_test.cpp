// SPDX-License-Identifier: MIT
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

MbMimeMessage basicMessage() {
    MbMimeMessage message{};
    message.structSize = sizeof message;
    message.subject = "s";
    message.body = "b";
    message.fromName = "Ana";
    message.fromAddress = "ana@example.net";
    message.date = 0;
    message.messageIdDomain = "example.net";
    return message;
}

// Renders the message into an unnamed file; the file's text, or "error N".
std::string render(const MbMimeMessage& message) {
    const int fd = ::open("/tmp", O_TMPFILE | O_RDWR, 0600);
    EXPECT_GE(fd, 0);
    const std::int32_t error = mb_mime_render(&message, fd);
    std::string text(1 << 16, '\0');
    const ssize_t got = ::pread(fd, text.data(), text.size(), 0);
    ::close(fd);
    text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return error == 0 ? text : "error " + std::to_string(error) + (text.empty() ? "" : ", wrote");
}

// A message to these recipients.
std::string render(const std::vector<MbMimeAddress>& recipients) {
    MbMimeMessage message = basicMessage();
    message.recipients = recipients.data();
    message.recipientCount = static_cast<std::uint32_t>(recipients.size());
    return render(message);
}

// An unnamed file holding data.
int dataFile(const std::string& data) {
    const int fd = ::open("/tmp", O_TMPFILE | O_RDWR, 0600);
    EXPECT_EQ(::pwrite(fd, data.data(), data.size(), 0), static_cast<ssize_t>(data.size()));
    return fd;
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

TEST(Render, ANameThatOnlyRepeatsTheAddressIsLeftOut) {
    const std::string text = render({{kTo, " ANN@Example.org ", "ann@example.org", 0},
                                     {kCc, "Ann", "ann@example.org", 0}});
    EXPECT_NE(text.find("\nTo: ann@example.org\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nCc: Ann <ann@example.org>\n"), std::string::npos) << text;
}

TEST(Render, SubjectsAndNamesAreUtf8EncodedWordsAndNothingLooksEncodedUnlessItIs) {
    MbMimeMessage message = basicMessage();
    message.subject = "=?utf-8?b?SGkNCkJjYzogZXZpbEB4Lm9yZw==?=";
    message.fromName = "J\xC3\xB6rg";
    const std::vector<MbMimeAddress> to{{kTo, "=?utf-8?q?evil9=40x.org?=", "a@b.org", 0}};
    message.recipients = to.data();
    message.recipientCount = 1;
    const std::string text = render(message);
    EXPECT_EQ(text.find("=?utf-8?b?SGkNCkJjYzogZXZpbEB4Lm9yZw==?="), std::string::npos) << text;
    EXPECT_EQ(text.find("=?utf-8?q?evil9=40x.org?="), std::string::npos) << text;
    EXPECT_NE(text.find("\nFrom: =?utf-8?b?SsO2cmc=?= <ana@example.net>\n"), std::string::npos)
        << text;
    EXPECT_EQ(text.find("iso-8859-1"), std::string::npos) << text;
}

TEST(Render, AttachmentsCarryTheirMediaTypeAndUtf8Names) {
    MbMimeMessage message = basicMessage();
    const int pdf = dataFile("%PDF-1.7\nrest");
    const int png = dataFile(std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16));
    const int blob = dataFile(std::string("\x01\x02\xFF\x00", 4));
    const std::vector<MbMimeAttachment> files{{"Gr\xC3\xBC\xC3\x9F" "e.pdf", pdf, 0, -1},
                                              {"=?utf-8?q?x?=.txt", -1, 0, 0},
                                              {"shot.png", png, 0, -1},
                                              {"data.zq9", blob, 0, -1}};
    message.attachments = files.data();
    message.attachmentCount = static_cast<std::uint32_t>(files.size());
    const std::string text = render(message);
    for (const int fd : {pdf, png, blob}) {
        ::close(fd);
    }
    EXPECT_NE(text.find("Content-Type: application/pdf;\n name="), std::string::npos) << text;
    EXPECT_NE(text.find("filename*=utf-8''Gr%C3%BC%C3%9Fe.pdf"), std::string::npos) << text;
    EXPECT_NE(text.find("Content-Type: text/plain;\n name*=utf-8''%3D"), std::string::npos) << text;
    EXPECT_NE(text.find("filename*=utf-8''%3D%3Futf-8%3Fq%3Fx%3F%3D.txt"), std::string::npos)
        << text;
    EXPECT_NE(text.find("Content-Type: image/png;\n name=shot.png\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Content-Type: application/octet-stream;\n name=data.zq9\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("Content-Type: text/plain; charset=utf-8\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("iso-8859-1"), std::string::npos) << text;
}

}  // namespace
