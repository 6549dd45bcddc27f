// SPDX-License-Identifier: MIT
#include "dialogs/mail_submit.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <glib.h>

#include "base/temp_dir_test_support.h"

namespace mb::dialogs {
namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeScript(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
    ::chmod(path.c_str(), 0755);
}

TEST(MailSubmit, FindsTheClientByOverrideBesideTheProgramThenOnPath) {
    test::TempDir dir("client");
    EXPECT_EQ(findClient("/opt/x/fake-client", dir.path()), "/opt/x/fake-client");
    EXPECT_EQ(findClient(nullptr, dir.path()), "mailbroker-client");
    EXPECT_EQ(findClient("", dir.path()), "mailbroker-client");
    writeScript(dir.path() + "/mailbroker-client", "#!/bin/sh\n");
    EXPECT_EQ(findClient(nullptr, dir.path()), dir.path() + "/mailbroker-client");
    EXPECT_EQ(findClient(nullptr, ""), "mailbroker-client");
    EXPECT_FALSE(programDirectory().empty());
}

TEST(MailSubmit, ClientArgumentsInOrder) {
    SubmitMessage message;
    message.to = {"Ann <ann@example.org>", "Team"};
    message.cc = {"bob@example.org"};
    message.bcc = {"--odd@example.org"};
    message.subject = "Q3 report";
    const std::vector<std::string> argv =
        clientArguments("/bin/client", message, "/t/body.txt", {"/a/report.pdf", "/t/0/x_y.txt"});
    const std::vector<std::string> expected = {
        "/bin/client", "send", "--silent", "--to", "Ann <ann@example.org>", "--to", "Team",
        "--cc", "bob@example.org", "--bcc", "--odd@example.org", "--subject", "Q3 report",
        "--body-file", "/t/body.txt", "--attach", "/a/report.pdf", "--attach", "/t/0/x_y.txt"};
    EXPECT_EQ(argv, expected);
    message.subject.clear();
    const std::vector<std::string> bare = clientArguments("c", {}, "/b", {});
    EXPECT_EQ(bare, (std::vector<std::string>{"c", "send", "--silent", "--body-file", "/b"}));
}

TEST(MailSubmit, FolderIsPrivateAndGoesWithItsFiles) {
    std::string error;
    std::string path;
    {
        std::unique_ptr<SubmitFolder> folder = SubmitFolder::create(error);
        ASSERT_TRUE(folder) << error;
        path = folder->path();
        struct stat info {};
        ASSERT_EQ(::stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0700u);
        const std::string body = folder->writeBody("Hello\nline two\n", error);
        ASSERT_FALSE(body.empty()) << error;
        EXPECT_EQ(readFile(body), "Hello\nline two\n");
    }
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(MailSubmit, AttachmentsWithSemicolonsOrOtherNamesTravelAsLinks) {
    test::TempDir dir("attach");
    const std::string plain = dir.path() + "/report.pdf";
    const std::string semi = dir.path() + "/a;b.txt";
    std::ofstream(plain) << "PDF data";
    std::ofstream(semi) << "semicolon data";
    std::string error;
    std::unique_ptr<SubmitFolder> folder = SubmitFolder::create(error);
    ASSERT_TRUE(folder) << error;

    EXPECT_EQ(folder->attachmentPath({"report.pdf", plain}, error), plain);

    const std::string moved = folder->attachmentPath({"a;b.txt", semi}, error);
    ASSERT_FALSE(moved.empty()) << error;
    EXPECT_EQ(moved.find(';'), std::string::npos);
    EXPECT_EQ(std::filesystem::path(moved).filename(), "a_b.txt");
    EXPECT_EQ(moved.rfind(folder->path(), 0), 0u);
    EXPECT_EQ(readFile(moved), "semicolon data");

    // The name the message shows wins over the file's own.
    const std::string renamed = folder->attachmentPath({"Figures 2024.csv", plain}, error);
    ASSERT_FALSE(renamed.empty()) << error;
    EXPECT_EQ(std::filesystem::path(renamed).filename(), "Figures 2024.csv");
    EXPECT_EQ(readFile(renamed), "PDF data");
    EXPECT_NE(renamed, moved);

    error.clear();
    EXPECT_EQ(folder->attachmentPath({"gone;.txt", dir.path() + "/gone;.txt"}, error), "");
    EXPECT_NE(error.find("gone;.txt"), std::string::npos) << error;
}

// Runs the GLib main loop until the client has been heard of.
struct Outcome {
    bool called = false, ok = false;
    std::string message;
};

Outcome run(const std::vector<std::string>& argv, const std::string& profile, bool withFolder) {
    Outcome outcome;
    std::string error;
    std::unique_ptr<SubmitFolder> folder = withFolder ? SubmitFolder::create(error) : nullptr;
    runClient(argv, profile, std::move(folder), [&outcome](bool ok, const std::string& message) {
        outcome = {true, ok, message};
    });
    while (!outcome.called) {
        g_main_context_iteration(nullptr, TRUE);
    }
    return outcome;
}

TEST(MailSubmit, RunsTheClientWithTheProfileAndReportsItsFailure) {
    test::TempDir dir("run");
    const std::string client = dir.path() + "/client";
    writeScript(client,
                "#!/bin/sh\n"
                "printf '%s|' \"$@\" > \"$0.args\"\n"
                "printf '%s' \"$MAILBROKER_PROFILE\" > \"$0.profile\"\n"
                "exec 0<&-\n"
                "[ \"$2\" = fail ] || exit 0\n"
                "echo 'mailbroker-client: SendMail failed: MAPI_E_NO_ACCESS' >&2\n"
                "exit 6\n");
    Outcome outcome = run({client, "a b", "ok"}, "Work Profile", true);
    EXPECT_TRUE(outcome.ok) << outcome.message;
    EXPECT_EQ(readFile(client + ".args"), "a b|ok|");
    EXPECT_EQ(readFile(client + ".profile"), "Work Profile");

    outcome = run({client, "x", "fail"}, "", false);
    EXPECT_FALSE(outcome.ok);
    EXPECT_NE(outcome.message.find("code 6"), std::string::npos) << outcome.message;
    EXPECT_NE(outcome.message.find("MAPI_E_NO_ACCESS"), std::string::npos) << outcome.message;
    EXPECT_EQ(readFile(client + ".profile"), "");

    outcome = run({dir.path() + "/no-such-client"}, "p", true);
    EXPECT_FALSE(outcome.ok);
    EXPECT_NE(outcome.message.find("could not be started"), std::string::npos) << outcome.message;
}

}  // namespace
}  // namespace mb::dialogs
