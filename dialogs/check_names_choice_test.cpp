// SPDX-License-Identifier: MIT
#include "dialogs/check_names_choice.h"

#include <gtest/gtest.h>

namespace mb::dialogs {
namespace {

using provider::AddressProblem;

TEST(JudgeCheckNames, WithAnEmptyFieldOkPicksTheSelectedCandidate) {
    CheckNamesChoice c = judgeCheckNames("", 3, 1);
    ASSERT_TRUE(c.answer);
    EXPECT_EQ(c.answer->kind, Answer::Kind::Ok);
    EXPECT_EQ(c.answer->pick, std::optional<std::size_t>(1));
    EXPECT_FALSE(c.answer->oneOff);
    EXPECT_FALSE(c.typed);
}

TEST(JudgeCheckNames, NoCandidatesAndNothingTypedLeavesOkDisabled) {
    EXPECT_FALSE(judgeCheckNames("", 0, std::nullopt).answer);
    EXPECT_FALSE(judgeCheckNames("   ", 0, std::nullopt).answer);
}

TEST(JudgeCheckNames, NoSelectionOrOneOutOfRangeLeavesOkDisabled) {
    EXPECT_FALSE(judgeCheckNames("", 2, std::nullopt).answer);
    EXPECT_FALSE(judgeCheckNames("", 2, 2).answer);
}

TEST(JudgeCheckNames, AGoodTypedAddressWinsOverTheSelection) {
    CheckNamesChoice c = judgeCheckNames("guest@example.org", 3, 0);
    ASSERT_TRUE(c.answer);
    EXPECT_FALSE(c.answer->pick);
    ASSERT_TRUE(c.answer->oneOff);
    EXPECT_EQ(c.answer->oneOff->address, "guest@example.org");
    EXPECT_EQ(c.answer->oneOff->name, "guest@example.org");
    EXPECT_EQ(c.problem, AddressProblem::None);
    EXPECT_TRUE(c.typed);
}

TEST(JudgeCheckNames, BlanksAroundTheAddressAreDropped) {
    CheckNamesChoice c = judgeCheckNames("  \tguest@example.org ", 0, std::nullopt);
    ASSERT_TRUE(c.answer && c.answer->oneOff);
    EXPECT_EQ(c.answer->oneOff->address, "guest@example.org");
}

TEST(JudgeCheckNames, ABadTypedAddressDisablesOkEvenWithASelection) {
    CheckNamesChoice c = judgeCheckNames("not an address", 3, 0);
    EXPECT_FALSE(c.answer);
    EXPECT_TRUE(c.typed);
    EXPECT_EQ(c.problem, AddressProblem::Malformed);
}

TEST(JudgeCheckNames, TheProvidersOwnRulesDecide) {
    EXPECT_EQ(judgeCheckNames("guest@", 0, std::nullopt).problem, AddressProblem::Malformed);
    EXPECT_EQ(judgeCheckNames("a\x01" "b@example.org", 0, std::nullopt).problem,
              AddressProblem::ControlCharacter);
    EXPECT_EQ(judgeCheckNames(std::string(65, 'a') + "@example.org", 0, std::nullopt).problem,
              AddressProblem::TooLong);
    EXPECT_EQ(judgeCheckNames("\xFF@example.org", 0, std::nullopt).problem, AddressProblem::NotUtf8);
    // UTF-8 in the address is allowed, as the provider allows it.
    EXPECT_TRUE(judgeCheckNames("j\xC3\xB6rg@example.org", 0, std::nullopt).answer);
}

TEST(TrimBlanks, DropsOnlySpacesAndTabsAtTheEnds) {
    EXPECT_EQ(trimBlanks(" a b\t"), "a b");
    EXPECT_EQ(trimBlanks("\t \t"), "");
    EXPECT_EQ(trimBlanks(""), "");
    EXPECT_EQ(trimBlanks("a\n"), "a\n");
}

}  // namespace
}  // namespace mb::dialogs
