// SPDX-License-Identifier: MIT
// The desktop driver against stand-in dialog programs: shell scripts that
// record the request and answer as the real program would, or misbehave.
#include "provider/ui/dialog_program.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "base/temp_dir_test_support.h"
#include "provider/ui/desktop.h"

namespace mb::provider {
namespace {

namespace fs = std::filesystem;

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

UiEntry person(const std::string& name, const std::string& address, std::vector<BYTE> id) {
    return UiEntry{name, "SMTP", address, std::move(id), {}};
}

class DialogProgramTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"MAILBROKER_DIALOGS", "MAILBROKER_PROVIDER_LOG"}) {
            const char* value = getenv(name);
            saved_[name] = value ? std::optional<std::string>(value) : std::nullopt;
        }
        setenv("MAILBROKER_PROVIDER_LOG", log().c_str(), 1);
        profile_.storePath = dir_.path() + "/store";
        profile_.compose = ComposeWindow::Builtin;
    }
    void TearDown() override {
        for (const auto& [name, value] : saved_) {
            value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
        }
    }

    // A dialog program that saves the request it reads, then runs `answer`.
    void program(const std::string& answer) {
        const std::string path = dir_.path() + "/dialogs";
        std::ofstream(path) << "#!/bin/sh\nIFS= read -r line\nprintf '%s\\n' \"$line\" > '"
                            << request() << "'\n"
                            << answer << "\n";
        fs::permissions(path, fs::perms(0755));
        setenv("MAILBROKER_DIALOGS", path.c_str(), 1);
    }
    std::string request() const { return dir_.path() + "/request"; }
    std::string log() const { return dir_.path() + "/log"; }
    std::unique_ptr<Ui> ui() { return makeDesktopUi(profile_); }

    mb::test::TempDir dir_{"dialogs"};
    Profile profile_;
    std::map<std::string, std::optional<std::string>> saved_;
};

TEST_F(DialogProgramTest, CheckNamesPicksTheCandidateTheUserChose) {
    program(R"(echo '{"event":"shown"}'; echo '{"result":"ok","pick":1}')");
    const UiNameQuery query{4194311, "Ann",
                            {person("Ann Archer", "aa@x.org", {1}), person("Ann Baker", "ab@x.org", {2})}};
    UiNameChoice choice;
    ASSERT_EQ(ui()->resolveName(query, choice), S_OK) << readFile(log());
    EXPECT_FALSE(choice.oneOff);
    EXPECT_EQ(choice.index, 1u);
    std::string error;
    const auto sent = dialogs::decodeRequest(readFile(request()), error);
    ASSERT_TRUE(sent) << error;
    EXPECT_EQ(sent->dialog, dialogs::Dialog::CheckNames);
    EXPECT_EQ(sent->parent, 4194311u);
    EXPECT_EQ(sent->text, "Ann");
    ASSERT_EQ(sent->candidates.size(), 2u);
    EXPECT_EQ(sent->candidates[1].name, "Ann Baker");
    EXPECT_EQ(sent->candidates[1].id, "02");
}

TEST_F(DialogProgramTest, CheckNamesTakesATypedAddressAndCancels) {
    const UiNameQuery query{0, "nobody", {}};
    UiNameChoice choice;
    program(R"(echo '{"result":"ok","oneOff":{"name":"","address":"new@x.org"}}')");
    ASSERT_EQ(ui()->resolveName(query, choice), S_OK);
    EXPECT_TRUE(choice.oneOff);
    EXPECT_EQ(choice.oneOffEntry.address, "new@x.org");
    EXPECT_EQ(choice.oneOffEntry.displayName, "new@x.org");
    program(R"(echo '{"result":"cancel"}')");
    EXPECT_EQ(ui()->resolveName(query, choice), MAPI_E_USER_CANCEL);
    program(R"(echo '{"result":"ok","pick":0}')");  // there is no candidate 0
    EXPECT_EQ(ui()->resolveName(query, choice), MAPI_E_CALL_FAILED);
    EXPECT_NE(readFile(log()).find("does not fit"), std::string::npos) << readFile(log());
}

TEST_F(DialogProgramTest, SelectNamesReturnsTheWellsWithTheirEntries) {
    UiEntry team{"Team", "MAPIPDL", "", {9}, {person("Cy", "cy@x.org", {3})}};
    UiAddressDialog dialog{77, "Pick", {{MAPI_TO, {}}, {MAPI_BCC, {}}},
                           {team, person("Ann", "ann@x.org", {1})}};
    program(R"(echo '{"result":"ok","wells":[{"type":"to","entries":[{"name":"Team","type":"MAPIPDL","id":"09"}]},{"type":"bcc","entries":[{"name":"n@x.org","type":"SMTP","address":"n@x.org","id":""}]}]}')");
    ASSERT_EQ(ui()->address(dialog), S_OK) << readFile(log());
    ASSERT_EQ(dialog.wells.size(), 2u);
    ASSERT_EQ(dialog.wells[0].entries.size(), 1u);
    EXPECT_EQ(dialog.wells[0].entries[0].entryId, std::vector<BYTE>{9});
    EXPECT_EQ(dialog.wells[1].type, static_cast<ULONG>(MAPI_BCC));
    EXPECT_EQ(dialog.wells[1].entries[0].address, "n@x.org");
    std::string error;
    const auto sent = dialogs::decodeRequest(readFile(request()), error);
    ASSERT_TRUE(sent) << error;
    ASSERT_EQ(sent->book.size(), 2u);
    ASSERT_EQ(sent->book[0].members.size(), 1u);  // a list's members travel with it
    EXPECT_EQ(sent->book[0].members[0].address, "cy@x.org");

    // Wells other than those offered change nothing.
    program(R"(echo '{"result":"ok","wells":[{"type":"cc","entries":[]},{"type":"bcc","entries":[]}]}')");
    const auto before = dialog.wells;
    EXPECT_EQ(ui()->address(dialog), MAPI_E_CALL_FAILED);
    EXPECT_EQ(dialog.wells.size(), before.size());
    EXPECT_EQ(dialog.wells[0].entries.size(), 1u);
}

TEST_F(DialogProgramTest, ChooseProfileReturnsTheIndex) {
    const UiLogon logon{0, {{"home", "Home"}, {"work", "Work"}}};
    std::size_t chosen = 0;
    program(R"(echo '{"result":"ok","pick":1}')");
    ASSERT_EQ(ui()->logon(logon, chosen), S_OK);
    EXPECT_EQ(chosen, 1u);
    program(R"(echo '{"result":"ok","pick":2}')");
    EXPECT_EQ(ui()->logon(logon, chosen), MAPI_E_CALL_FAILED);
}

TEST_F(DialogProgramTest, AProgramThatFailsIsACallFailureWithItsReasonLogged) {
    const UiNameQuery query{0, "x", {}};
    UiNameChoice choice;
    const std::pair<std::string, std::string> cases[] = {
        {"exit 3", "exit code 3"},
        {"kill -9 $$", "signal 9"},
        {"echo 'Gtk-WARNING: cannot open display'", "cannot be read"},
        {R"(echo '{"result":"error","message":"cannot open display :5"}')", "display :5"},
    };
    for (const auto& [script, reason] : cases) {
        program(script);
        EXPECT_EQ(ui()->resolveName(query, choice), MAPI_E_CALL_FAILED) << script;
        EXPECT_NE(readFile(log()).find(reason), std::string::npos) << readFile(log());
    }
    setenv("MAILBROKER_DIALOGS", (dir_.path() + "/missing").c_str(), 1);
    EXPECT_EQ(ui()->resolveName(query, choice), MAPI_E_CALL_FAILED);
    EXPECT_NE(readFile(log()).find("cannot run"), std::string::npos);
}

TEST_F(DialogProgramTest, TheComposeWindowIsLeftRunningOnceShown) {
    const std::string pidFile = dir_.path() + "/window.pid";
    // As the real program: the window runs on in a process of its own, and
    // the process we started ends once it is shown.
    program("sleep 30 </dev/null >/dev/null 2>&1 & echo $! > '" + pidFile +
            R"('; echo '{"event":"shown"}')");
    const std::string attachment = dir_.path() + "/report.pdf";
    std::ofstream(attachment) << "12345";
    ComposeForm form;
    form.parent = 5;
    form.profile = "work";
    form.recipients = {{MAPI_CC, "Ann", "ann@x.org"}};
    form.subject = "Report";
    form.attachmentPaths = {attachment};
    form.draftPath = dir_.path() + "/store/Drafts/cur/1";
    ASSERT_EQ(ui()->showForm(form), S_OK) << readFile(log());
    const pid_t window = std::atoi(readFile(pidFile).c_str());
    ASSERT_GT(window, 1);
    EXPECT_EQ(kill(window, 0), 0);
    kill(window, SIGTERM);
    std::string error;
    const auto sent = dialogs::decodeRequest(readFile(request()), error);
    ASSERT_TRUE(sent) << error;
    EXPECT_EQ(sent->profile, "work");
    EXPECT_EQ(sent->draft, form.draftPath);
    ASSERT_EQ(sent->attachments.size(), 1u);
    EXPECT_EQ(sent->attachments[0].name, "report.pdf");
    EXPECT_EQ(sent->attachments[0].size, 5u);
    ASSERT_EQ(sent->recipients.size(), 1u);
    EXPECT_EQ(sent->recipients[0].type, dialogs::WellType::Cc);

    program(R"(echo '{"result":"error","message":"no display"}')");
    EXPECT_EQ(ui()->showForm(form), MAPI_E_CALL_FAILED);
    EXPECT_NE(readFile(log()).find("stays in Drafts"), std::string::npos);
}

}  // namespace
}  // namespace mb::provider
