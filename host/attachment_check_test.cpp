// SPDX-License-Identifier: MIT
#include "host/attachment_check.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <filesystem>
#include <fstream>

#include "base/temp_dir_test_support.h"
#include "mapi/mapi_codes.h"

namespace {

namespace fs = std::filesystem;

bool onlyBIsUnreadable(const std::string& path) {
    return path != "/d/b.pdf";
}
bool allReadable(const std::string&) {
    return true;
}
bool noneReadable(const std::string&) {
    return false;
}

TEST(AttachmentCheck, TheOneAttachmentSentIsNamed) {
    EXPECT_EQ(attachmentFailureNote(MAPI_E_NOT_FOUND, {"/x/y.pdf"}, allReadable),
              "attachment /x/y.pdf cannot be read");
    EXPECT_EQ(attachmentFailureNote(MAPI_E_NO_ACCESS, {"/x/y.pdf"}, allReadable),
              "attachment /x/y.pdf cannot be read");
}

TEST(AttachmentCheck, OfSeveralThoseFoundUnreadableAreNamed) {
    EXPECT_EQ(attachmentFailureNote(MAPI_E_NOT_FOUND, {"/d/a.pdf", "/d/b.pdf", "/d/c.pdf"},
                                    onlyBIsUnreadable),
              "attachment /d/b.pdf cannot be read");
    EXPECT_EQ(attachmentFailureNote(MAPI_E_NO_ACCESS, {"/d/a", "/d/b"}, noneReadable),
              "attachments /d/a, /d/b cannot be read");
    EXPECT_EQ(attachmentFailureNote(MAPI_E_NO_ACCESS, {"/d/a", "/d/b"}, allReadable),
              "one of the attachments could not be read whole (it may have changed while it "
              "was read)");
}

TEST(AttachmentCheck, OtherFailuresOrNoAttachmentsAddNothing) {
    EXPECT_EQ(attachmentFailureNote(MAPI_E_USER_CANCEL, {"/x/y.pdf"}, noneReadable), "");
    EXPECT_EQ(attachmentFailureNote(MAPI_E_NOT_FOUND, {}, noneReadable), "");
}

TEST(AttachmentCheck, SentAttachmentsAreThoseOfTheRequest) {
    EXPECT_EQ(sentAttachments("SendMail?to=a%40b.org&attachment=%2Fa%2Fx.pdf%3B%3B%2Fb%20c%2Fy"
                              "&silent=1"),
              (std::vector<std::string>{"/a/x.pdf", "/b c/y"}));
    EXPECT_TRUE(sentAttachments("SendMail?to=a%40b.org").empty());
}

TEST(AttachmentCheck, ReadableMeansARegularFileWhoseSizeTellsItAll) {
    mb::test::TempDir dir("attach");
    const fs::path root(dir.path());
    const std::string plain = (root / "plain.txt").string();
    std::ofstream(plain) << "text";
    const std::string empty = (root / "empty").string();
    std::ofstream{empty};
    EXPECT_TRUE(attachmentReadable(plain));
    EXPECT_TRUE(attachmentReadable(empty));
    EXPECT_FALSE(attachmentReadable((root / "missing").string()));
    EXPECT_FALSE(attachmentReadable(dir.path()));
#ifdef _WIN32
    EXPECT_FALSE(attachmentReadable("NUL")) << "a device";
    EXPECT_FALSE(attachmentReadable("\\\\.\\pipe\\no-such-pipe"));
#else
    const std::string fifo = (root / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(attachmentReadable(fifo));
    EXPECT_FALSE(attachmentReadable("/dev/zero"));
    EXPECT_FALSE(attachmentReadable("/proc/self/status"));
    EXPECT_FALSE(attachmentReadable("/proc/self/mem"));
#endif
}

}  // namespace
