// SPDX-License-Identifier: MIT
#include "dialogs/draft_writer.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "base/temp_dir_test_support.h"

namespace mb::dialogs {
namespace {

namespace fs = std::filesystem;

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> listing(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

// A store's Drafts folder holding one draft, as the store filed it.
struct DraftsFixture {
    test::TempDir dir{"drafts"};
    std::string folder = dir.path() + "/Drafts";
    std::string oldDraft = folder + "/new/1700000000.M1P1Q1.host";

    DraftsFixture() {
        for (const char* sub : {"/tmp", "/new", "/cur"}) {
            fs::create_directories(folder + sub);
        }
        std::ofstream(oldDraft) << "From: =?utf-8?b?SsO2cmcgU2VuZGVy?= <jorg@example.org>\n"
                                   "To: ann@example.org\nSubject: old\n\nold body\n";
    }
};

TEST(DraftWriter, FolderOfAMessage) {
    EXPECT_EQ(maildirFolderOf("/s/Drafts/new/123.M1P2.host"), "/s/Drafts");
    EXPECT_EQ(maildirFolderOf("/s/Drafts/cur/123.M1P2.host:2,S"), "/s/Drafts");
    EXPECT_EQ(maildirFolderOf("/s/Drafts/tmp/123"), "");
    EXPECT_EQ(maildirFolderOf("/s/Drafts/new/"), "");
    EXPECT_EQ(maildirFolderOf("draft.eml"), "");
    EXPECT_EQ(maildirFolderOf(""), "");
    EXPECT_EQ(maildirFolderOf("/new/x"), "/");
}

TEST(DraftWriter, NamesAreUniqueAndShapedAsTheStoreNamesItsFiles) {
    const std::string a = uniqueMessageName();
    const std::string b = uniqueMessageName();
    EXPECT_NE(a, b);
    EXPECT_TRUE(std::regex_match(a, std::regex(R"(\d+\.M\d+P\d+Q\d+\.[^/:]+)"))) << a;
}

TEST(DraftWriter, ReadsTheSenderWithEncodedWordsAndQuotes) {
    DraftsFixture fixture;
    DraftMailbox sender = readSender(fixture.oldDraft);
    EXPECT_EQ(sender.name, "J\xC3\xB6rg Sender");
    EXPECT_EQ(sender.address, "jorg@example.org");

    const std::string other = fixture.dir.path() + "/other.eml";
    std::ofstream(other) << "Subject: x\r\nFrom: \"Smith, \\\"Pat\\\"\"\r\n <pat@example.org>\r\n\r\nFrom: body@x\r\n";
    sender = readSender(other);
    EXPECT_EQ(sender.name, "Smith, \"Pat\"");
    EXPECT_EQ(sender.address, "pat@example.org");

    std::ofstream(other) << "From: bare@example.org\n\n";
    sender = readSender(other);
    EXPECT_EQ(sender.name, "");
    EXPECT_EQ(sender.address, "bare@example.org");

    EXPECT_EQ(readSender(fixture.dir.path() + "/missing").address, "");
    EXPECT_EQ(readSender(fixture.dir.path()).address, "");
    // A FIFO where the draft was: answered at once, not waited on.
    const std::string fifo = fixture.dir.path() + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(readSender(fifo).address, "");
}

TEST(DraftWriter, SavesIntoDraftsAndReplacesTheOldDraft) {
    DraftsFixture fixture;
    std::string error;
    const MbMimeRenderFn render = loadRenderer(error);
    ASSERT_NE(render, nullptr) << error;

    const std::string data = fixture.dir.path() + "/report.pdf";
    std::ofstream(data) << "hello attachment";
    DraftContent content;
    content.recipients = {
        {WellType::To, "Ann Example", "ann@example.org", {}},
        {WellType::To, "Team", "", {{"Max", "max@example.org"}}},
        {WellType::Cc, "", "carol@example.org", {}},
        {WellType::Bcc, "", "dave@example.org", {}},
        {WellType::Cc, "Unresolved Name", "", {}},
    };
    content.subject = "Typed subject";
    content.body = "First line\nSecond line\n";
    content.attachments = {{"report.pdf", data}, {"gone.txt", fixture.dir.path() + "/gone.txt"}};

    std::string saved;
    ASSERT_TRUE(DraftWriter(render).save(content, fixture.oldDraft, saved, error)) << error;
    EXPECT_EQ(fs::path(saved).parent_path(), fs::path(fixture.folder + "/new"));
    EXPECT_FALSE(fs::exists(fixture.oldDraft));
    EXPECT_TRUE(listing(fixture.folder + "/tmp").empty());
    EXPECT_EQ(listing(fixture.folder + "/new").size(), 1u);

    const std::string text = readFile(saved);
    EXPECT_NE(text.find("Subject: Typed subject"), std::string::npos) << text;
    EXPECT_NE(text.find("jorg@example.org"), std::string::npos) << text;
    EXPECT_NE(text.find("Ann Example <ann@example.org>"), std::string::npos) << text;
    EXPECT_NE(text.find("Team: Max <max@example.org>;"), std::string::npos) << text;
    EXPECT_NE(text.find("Cc: carol@example.org"), std::string::npos) << text;
    EXPECT_NE(text.find("Unresolved Name: ;"), std::string::npos) << text;
    EXPECT_NE(text.find("Bcc: dave@example.org"), std::string::npos) << text;
    EXPECT_NE(text.find("First line\nSecond line"), std::string::npos) << text;
    EXPECT_NE(text.find("filename=report.pdf"), std::string::npos) << text;
    EXPECT_NE(text.find("aGVsbG8gYXR0YWNobWVudA=="), std::string::npos) << text;  // its data
    EXPECT_NE(text.find("filename=gone.txt"), std::string::npos) << text;

    // Saving again replaces the draft just written.
    content.subject = "Second version";
    std::string again;
    ASSERT_TRUE(DraftWriter(render).save(content, saved, again, error)) << error;
    EXPECT_NE(again, saved);
    EXPECT_FALSE(fs::exists(saved));
    EXPECT_NE(readFile(again).find("Subject: Second version"), std::string::npos);
    EXPECT_EQ(listing(fixture.folder + "/new").size(), 1u);
}

TEST(DraftWriter, AFailureKeepsTheOldDraftAndLeavesNothingBehind) {
    DraftsFixture fixture;
    const MbMimeRenderFn failing = [](const MbMimeMessage*, std::int32_t fd) -> std::int32_t {
        const char partial[] = "From: x\n";
        return ::write(fd, partial, sizeof partial - 1) < 0 ? errno : ENOSPC;
    };
    DraftContent content;
    content.subject = "lost?";
    std::string saved = "unchanged";
    std::string error;
    EXPECT_FALSE(DraftWriter(failing).save(content, fixture.oldDraft, saved, error));
    EXPECT_EQ(saved, "unchanged");
    EXPECT_NE(error.find(std::strerror(ENOSPC)), std::string::npos) << error;
    EXPECT_TRUE(fs::exists(fixture.oldDraft));
    EXPECT_NE(readFile(fixture.oldDraft).find("Subject: old"), std::string::npos);
    EXPECT_TRUE(listing(fixture.folder + "/tmp").empty());
    EXPECT_EQ(listing(fixture.folder + "/new").size(), 1u);

    error.clear();
    EXPECT_FALSE(DraftWriter(failing).save(content, fixture.dir.path() + "/loose.eml", saved, error));
    EXPECT_NE(error.find("No Drafts folder"), std::string::npos) << error;
    error.clear();
    EXPECT_FALSE(DraftWriter(nullptr).save(content, fixture.oldDraft, saved, error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(fs::exists(fixture.oldDraft));
}

}  // namespace
}  // namespace mb::dialogs
