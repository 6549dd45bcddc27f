// SPDX-License-Identifier: MIT
#include "provider/transport/queued_message.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

namespace mb::provider::test {
namespace {

// An unnamed file holding text.
int fileWith(const std::string& text) {
    int fd = ::open("/tmp", O_TMPFILE | O_RDWR, 0600);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    return fd;
}

std::string drain(OutgoingStream& stream, std::size_t step) {
    std::string out(step, '\0');
    std::string all;
    ssize_t got;
    while ((got = stream.read(out.data(), step)) > 0) {
        all.append(out, 0, static_cast<std::size_t>(got));
    }
    EXPECT_EQ(got, 0);
    return all;
}

const std::string kMessage =
    "From: Ana <ana@example.net>\n"
    "To: \"Smith, John\" <john@example.org>, zoe@example.org (Zoe)\n"
    "Cc: =?utf-8?q?Q=C3=BC?= <q@example.org>,\n"
    " team: a@example.org, b@example.org;\n"
    "Bcc: Tom & Jerry <tj@example.org>,\n"
    "\tjohn@example.org\n"
    "Subject: Bcc: not a header\n"
    "X-Mailbroker-Submitted: yes\n"
    "x-mailbroker-sent-folder: Sent\n"
    " Items\n"
    "\n"
    "Bcc: in the body\n"
    "X-Mailbroker-Submitted: in the body\n";

TEST(QueuedMessage, EnvelopeComesFromToCcAndBcc) {
    int fd = fileWith(kMessage);
    QueuedMessage message;
    std::string error;
    ASSERT_TRUE(readQueuedMessage(fd, message, error)) << error;
    EXPECT_TRUE(message.submitted);
    EXPECT_EQ(message.sentFolder, "Sent Items");
    EXPECT_EQ(message.recipients,
              (std::vector<std::string>{"john@example.org", "zoe@example.org", "q@example.org",
                                        "a@example.org", "b@example.org", "tj@example.org"}));
    ::close(fd);
}

// A NUL inside a field's name is part of the name: "To\0x" names nobody and
// "X-Mailbroker-Submitted\0x" submits nothing.
TEST(QueuedMessage, NameWithANulIsAnotherField) {
    const std::string text("To\0x: a@example.org\nCc: b@example.org\n"
                           "X-Mailbroker-Submitted\0x: yes\n\nbody\n",
                           74);
    ASSERT_EQ(text.substr(text.size() - 5), "body\n");
    int fd = fileWith(text);
    QueuedMessage message;
    std::string error;
    ASSERT_TRUE(readQueuedMessage(fd, message, error)) << error;
    EXPECT_FALSE(message.submitted);
    EXPECT_EQ(message.recipients, std::vector<std::string>{"b@example.org"});
    ::close(fd);
}

TEST(QueuedMessage, AddressesSkipNamesCommentsAndQuotes) {
    EXPECT_EQ(addressesOf("\"a, <b@x>\" <c@x>, (d@x) e@x, \"f g\"@x"),
              (std::vector<std::string>{"c@x", "e@x", "\"f g\"@x"}));
    EXPECT_EQ(addressesOf("Q <\"q r\"@x>, R < \"s> \\\" t\"@x >"),
              (std::vector<std::string>{"\"q r\"@x", "\"s> \\\" t\"@x"}));
    EXPECT_EQ(addressesOf("undisclosed-recipients:;"), std::vector<std::string>{});
    EXPECT_EQ(addressesOf(""), std::vector<std::string>{});
}

TEST(QueuedMessage, GroupsGiveTheirMembersAndEmptyGroupsNothing) {
    EXPECT_EQ(addressesOf("Team: pat@example.org, max@example.org;, Night Watch: ;, "
                          "\"Smith, John: Sales\": \"Doe, J\" <j@example.org>, k@example.org;"),
              (std::vector<std::string>{"pat@example.org", "max@example.org", "j@example.org",
                                        "k@example.org"}));
    EXPECT_EQ(addressesOf("Night Watch: ;"), std::vector<std::string>{});
    EXPECT_EQ(addressesOf("=?utf-8?q?=C3=89quipe?=: \"A; B\" <a@example.org>;, c@example.org"),
              (std::vector<std::string>{"a@example.org", "c@example.org"}));
}

// To, Cc, Bcc and the groups in them name each mailbox once in the envelope;
// a domain is case-blind, a local part is not.
TEST(QueuedMessage, EnvelopeNamesEachMailboxOnceAcrossToCcAndBcc) {
    int fd = fileWith(
        "To: Team: pat@example.org, max@example.org;, pat@EXAMPLE.org\n"
        "Cc: Inner: max@Example.Org, Pat@example.org;\n"
        "Bcc: Night Watch: ;, Team: pat@example.org, max@example.org;\n"
        "\n");
    QueuedMessage message;
    std::string error;
    ASSERT_TRUE(readQueuedMessage(fd, message, error)) << error;
    EXPECT_EQ(message.recipients,
              (std::vector<std::string>{"pat@example.org", "max@example.org", "Pat@example.org"}));
    ::close(fd);
}

TEST(QueuedMessage, OutgoingBytesLoseBccAndPrivateHeadersOnly) {
    int fd = fileWith(kMessage);
    OutgoingStream stream(fd, false, false);
    const std::string sent = drain(stream, 7);  // small reads cross every boundary
    EXPECT_EQ(sent,
              "From: Ana <ana@example.net>\n"
              "To: \"Smith, John\" <john@example.org>, zoe@example.org (Zoe)\n"
              "Cc: =?utf-8?q?Q=C3=BC?= <q@example.org>,\n"
              " team: a@example.org, b@example.org;\n"
              "Subject: Bcc: not a header\n"
              "\n"
              "Bcc: in the body\n"
              "X-Mailbroker-Submitted: in the body\n");
    OutgoingStream keep(fd, true, true);
    const std::string wire = drain(keep, 65536);
    EXPECT_NE(wire.find("\r\nBcc: Tom & Jerry <tj@example.org>,\r\n\tjohn@example.org\r\n"),
              std::string::npos);
    EXPECT_EQ(wire.find("X-Mailbroker-Submitted: yes"), std::string::npos);
    EXPECT_EQ(wire.find("\n\n"), std::string::npos);
    ::close(fd);
}

TEST(QueuedMessage, CrlfIsNotDoubledAndBodyBytesPass) {
    std::string body(200000, 'x');
    body[1000] = '\0';
    body[65535] = '\r';  // the last byte of the first body read, then its LF
    body[65536] = '\n';
    int fd = fileWith("Subject: s\r\n\r\n" + body);
    OutgoingStream stream(fd, false, true);
    const std::string wire = drain(stream, 4096);
    EXPECT_EQ(wire, "Subject: s\r\n\r\n" + body);
    ::close(fd);
}

TEST(QueuedMessage, BareCrAndBareLfBecomeCrlfOnTheWireOnly) {
    std::string body(140000, 'x');
    body[10] = '\r';     // a bare CR in the middle of a read
    body[65535] = '\r';  // the last byte of the first body read, no LF after it
    body[65536] = 'y';
    body[70000] = '\n';
    body.back() = '\r';  // the last byte of the file
    const std::string text = "Subject: s\n\n" + body;
    int fd = fileWith(text);
    OutgoingStream wire(fd, false, true);
    std::string expected = "Subject: s\r\n\r\n";
    for (char c : body) {
        expected += c == '\r' || c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    EXPECT_EQ(drain(wire, 4096), expected);
    OutgoingStream local(fd, false, false);
    EXPECT_EQ(drain(local, 4096), text);
    ::close(fd);
}

TEST(QueuedMessage, OversizedHeaderBlockIsAnError) {
    std::string text;
    while (text.size() <= kMaxHeaderBlock) {
        text += "X-Filler: " + std::string(70, 'a') + "\n";
    }
    int fd = fileWith(text + "\nbody\n");
    QueuedMessage message;
    std::string error;
    EXPECT_FALSE(readQueuedMessage(fd, message, error));
    EXPECT_NE(error.find("header block longer"), std::string::npos) << error;
    OutgoingStream stream(fd, false, false);
    char buffer[16];
    EXPECT_EQ(stream.read(buffer, sizeof buffer), -1);
    EXPECT_EQ(errno, EMSGSIZE);
    ::close(fd);
}

}  // namespace
}  // namespace mb::provider::test
