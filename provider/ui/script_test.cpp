// SPDX-License-Identifier: MIT
#include "provider/ui/script.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "provider/contacts/directory_test_support.h"
#include "provider/ui/driver.h"

namespace mb::provider::test {
namespace {

TEST(UiScript, EachKindKeepsItsOwnPlace) {
    std::string error;
    std::optional<UiScript> script = UiScript::parse(
        "# comment\n\nresolve pick 2\naddress to: Ann; bob@example.org | bcc: Team\n"
        "  resolve address guest@example.org Guest Person  \nform error 0x80004005\nlogon ok\n",
        error);
    ASSERT_TRUE(script) << error;
    auto step = script->next(UiStepKind::Address);
    ASSERT_TRUE(step);
    ASSERT_EQ(step->wells.size(), 2u);
    EXPECT_EQ(step->wells[0].type, MAPI_TO);
    EXPECT_EQ(step->wells[0].items, (std::vector<std::string>{"Ann", "bob@example.org"}));
    EXPECT_EQ(step->wells[1].type, MAPI_BCC);
    step = script->next(UiStepKind::Resolve);
    ASSERT_TRUE(step);
    EXPECT_EQ(step->pick, 2u);
    step = script->next(UiStepKind::Resolve);
    ASSERT_TRUE(step);
    EXPECT_EQ(step->action, UiStep::Action::OneOff);
    EXPECT_EQ(step->name, "Guest Person");
    EXPECT_FALSE(script->next(UiStepKind::Resolve));
    step = script->next(UiStepKind::Form);
    ASSERT_TRUE(step);
    EXPECT_EQ(step->code, static_cast<HRESULT>(0x80004005));
}

TEST(UiScript, BadLinesAreNamed) {
    for (const char* text :
         {"resolve pick 0", "resolve pick two", "resolve address nobody", "address cc Ann",
          "address to: a | to: b", "form error 5", "logon maybe", "logon pick 0", "logon pick 1 2", "dance", "address",
          // Only the word "pick" picks: these are no answers at all.
          "logon pickle 2", "logon picks 1"}) {
        std::string error;
        EXPECT_FALSE(UiScript::parse(std::string("# first\n") + text + "\n", error)) << text;
        EXPECT_EQ(error.rfind("line 2: ", 0), 0u) << error;
    }
}

TEST(UiScript, LogonPicksAProfile) {
    std::string error;
    std::optional<UiScript> script = UiScript::parse("logon pick 3\nlogon ok\n", error);
    ASSERT_TRUE(script) << error;
    auto step = script->next(UiStepKind::Logon);
    ASSERT_TRUE(step);
    EXPECT_EQ(step->action, UiStep::Action::Pick);
    EXPECT_EQ(step->pick, 3u);
    step = script->next(UiStepKind::Logon);
    ASSERT_TRUE(step);
    EXPECT_EQ(step->action, UiStep::Action::Ok);
}

class Headless : public ::testing::Test {
  protected:
    void TearDown() override { unsetenv("MAILBROKER_UI_SCRIPT"); }
    std::unique_ptr<Ui> withScript(const std::string& text) {
        setenv("MAILBROKER_UI_SCRIPT", folder_.write("script.txt", text).c_str(), 1);
        return makeUi(Profile{});
    }
    CardFolder folder_;
};

TEST_F(Headless, WithoutAScriptEveryDialogCancelsButTheFormIsKept) {
    unsetenv("MAILBROKER_UI_SCRIPT");
    const std::unique_ptr<Ui> ui = makeUi(Profile{});
    UiNameChoice choice;
    UiAddressDialog dialog;
    EXPECT_EQ(ui->showForm(ComposeForm{}), S_OK);
    std::size_t chosen = 0;
    EXPECT_EQ(ui->logon(UiLogon{0, {{"Default", "Default"}}}, chosen), MAPI_E_USER_CANCEL);
    EXPECT_EQ(ui->resolveName(UiNameQuery{0, "x", {}}, choice), MAPI_E_USER_CANCEL);
    EXPECT_EQ(ui->address(dialog), MAPI_E_USER_CANCEL);
}

TEST_F(Headless, ABrokenOrMissingScriptFailsEveryDialog) {
    UiAddressDialog dialog;
    EXPECT_EQ(withScript("form maybe\n")->showForm(ComposeForm{}), MAPI_E_CORRUPT_DATA);
    setenv("MAILBROKER_UI_SCRIPT", (folder_.root() + "/absent").c_str(), 1);
    EXPECT_EQ(makeUi(Profile{})->address(dialog), MAPI_E_CORRUPT_DATA);
    EXPECT_EQ(withScript("")->showForm(ComposeForm{}), S_OK);  // empty: nothing scripted
}

TEST_F(Headless, AddressDialogChoosesPerWell) {
    const std::unique_ptr<Ui> ui = withScript(
        "address cc: ann l ; new@example.org | to: Team\naddress to: An\naddress to: Zed\n"
        "address bcc: Ann\naddress keep\n");
    const UiEntry ann{"Ann Lee", "SMTP", "ann@example.org", {1}, {}};
    const UiEntry anne{"Anne", "SMTP", "anne@example.org", {2}, {}};
    const UiEntry team{"Team", "MAPIPDL", "", {3}, {}};
    UiAddressDialog dialog;
    dialog.wells = {{MAPI_TO, {anne}}, {MAPI_CC, {}}};
    dialog.addressBook = {ann, anne, team};
    ASSERT_EQ(ui->address(dialog), S_OK);
    ASSERT_EQ(dialog.wells[0].entries.size(), 1u);
    EXPECT_EQ(dialog.wells[0].entries[0].entryId, team.entryId);
    ASSERT_EQ(dialog.wells[1].entries.size(), 2u);
    EXPECT_EQ(dialog.wells[1].entries[0].entryId, ann.entryId);  // a prefix, case aside
    EXPECT_EQ(dialog.wells[1].entries[1].address, "new@example.org");
    EXPECT_TRUE(dialog.wells[1].entries[1].entryId.empty());

    UiAddressDialog before = dialog;
    EXPECT_EQ(ui->address(dialog), MAPI_E_AMBIGUOUS_RECIP);
    EXPECT_EQ(ui->address(dialog), MAPI_E_NOT_FOUND);
    EXPECT_EQ(ui->address(dialog), MAPI_E_INVALID_PARAMETER);  // no Bcc well offered
    EXPECT_EQ(dialog.wells[1].entries.size(), before.wells[1].entries.size());
    EXPECT_EQ(ui->address(dialog), S_OK);
    EXPECT_EQ(dialog.wells[1].entries.size(), 2u);
    EXPECT_EQ(ui->address(dialog), MAPI_E_USER_CANCEL);  // the script has run out
}

TEST_F(Headless, ResolveDialogPicksOrAddsOrCancels) {
    const std::unique_ptr<Ui> ui = withScript(
        "resolve pick 2\nresolve pick 3\nresolve address g@example.org\nresolve cancel\n");
    const UiNameQuery query{
        0, "An", {{"Ann", "SMTP", "ann@x.org", {1}, {}}, {"Anne", "SMTP", "anne@x.org", {2}, {}}}};
    UiNameChoice choice;
    ASSERT_EQ(ui->resolveName(query, choice), S_OK);
    EXPECT_FALSE(choice.oneOff);
    EXPECT_EQ(choice.index, 1u);
    EXPECT_EQ(ui->resolveName(query, choice), MAPI_E_NOT_FOUND);
    ASSERT_EQ(ui->resolveName(query, choice), S_OK);
    EXPECT_TRUE(choice.oneOff);
    EXPECT_EQ(choice.oneOffEntry.displayName, "g@example.org");
    EXPECT_EQ(ui->resolveName(query, choice), MAPI_E_USER_CANCEL);
}

}  // namespace
}  // namespace mb::provider::test
