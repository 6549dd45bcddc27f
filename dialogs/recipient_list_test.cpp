// SPDX-License-Identifier: MIT
#include "dialogs/recipient_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mb::dialogs {
namespace {

using Strings = std::vector<std::string>;

TEST(RecipientList, SplitsAtCommasSemicolonsAndLineBreaks) {
    EXPECT_EQ(splitRecipients("ann@example.org, bob@example.org;carol@example.org\ndave"),
              (Strings{"ann@example.org", "bob@example.org", "carol@example.org", "dave"}));
    EXPECT_EQ(splitRecipients(" , ;; "), Strings{});
    EXPECT_EQ(splitRecipients(""), Strings{});
    EXPECT_EQ(splitRecipients("  Ann Example <ann@example.org>  ,"),
              Strings{"Ann Example <ann@example.org>"});
}

TEST(RecipientList, KeepsSeparatorsInsideQuotesAndAngleBrackets) {
    EXPECT_EQ(splitRecipients("\"Smith, John\" <js@example.org>; \"a \\\" ; b\" <x@y.org>"),
              (Strings{"\"Smith, John\" <js@example.org>", "\"a \\\" ; b\" <x@y.org>"}));
    EXPECT_EQ(splitRecipients("Odd <a,b@example.org>, c@example.org"),
              (Strings{"Odd <a,b@example.org>", "c@example.org"}));
}

TEST(RecipientList, ParsesNameAndAddress) {
    RecipientText r = parseRecipient("Ann Example <ann@example.org>");
    EXPECT_EQ(r.name, "Ann Example");
    EXPECT_EQ(r.address, "ann@example.org");
    r = parseRecipient("\"Smith, \\\"J\\\"\" <js@example.org>");
    EXPECT_EQ(r.name, "Smith, \"J\"");
    EXPECT_EQ(r.address, "js@example.org");
    r = parseRecipient(" bob@example.org ");
    EXPECT_EQ(r.name, "");
    EXPECT_EQ(r.address, "bob@example.org");
    r = parseRecipient("Team");
    EXPECT_FALSE(r.hasAddress());
    EXPECT_EQ(r.name, "Team");
    EXPECT_EQ(r.text, "Team");
}

TEST(RecipientList, FormatsForTheFieldAndParsesBack) {
    EXPECT_EQ(formatRecipient("Ann", "ann@example.org"), "Ann <ann@example.org>");
    EXPECT_EQ(formatRecipient("", "ann@example.org"), "ann@example.org");
    EXPECT_EQ(formatRecipient("ann@example.org", "ann@example.org"), "ann@example.org");
    EXPECT_EQ(formatRecipient("Team", ""), "Team");
    const std::string quoted = formatRecipient("Smith, \"J\"", "js@example.org");
    EXPECT_EQ(quoted, "\"Smith, \\\"J\\\"\" <js@example.org>");
    ASSERT_EQ(splitRecipients(quoted + ", x@example.org").size(), 2u);
    const RecipientText back = parseRecipient(quoted);
    EXPECT_EQ(back.name, "Smith, \"J\"");
    EXPECT_EQ(back.address, "js@example.org");
}

TEST(RecipientList, ChecksNameEachBadRecipient) {
    EXPECT_TRUE(checkRecipients({"ann@example.org", "Ann <ann@example.org>", "Team"}).empty());
    const Strings problems =
        checkRecipients({"ann@example.org", "bad@@example.org", "\"a;b\" <ok@example.org>",
                         "Name <semi;colon@example.org>"});
    ASSERT_EQ(problems.size(), 3u);
    EXPECT_NE(problems[0].find("bad@@example.org"), std::string::npos) << problems[0];
    EXPECT_NE(problems[0].find("not a valid address"), std::string::npos) << problems[0];
    EXPECT_NE(problems[1].find("';'"), std::string::npos) << problems[1];
    EXPECT_NE(problems[2].find("semi;colon"), std::string::npos) << problems[2];
    // A control character in the address, or in a name the book resolves.
    EXPECT_EQ(checkRecipients({"Evil <x@example.org\x01>"}).size(), 1u);
    EXPECT_EQ(checkRecipients({"Te\x01m"}).size(), 1u);
    EXPECT_EQ(checkRecipients({"Bad\xFFName <ok@example.org>"}).size(), 1u);
}

TEST(RecipientList, ClientGetsTheAddressWhenTheNameWouldBeSplit) {
    EXPECT_EQ(clientRecipient(parseRecipient("Ann <ann@example.org>")), "Ann <ann@example.org>");
    EXPECT_EQ(clientRecipient(parseRecipient("\"Smith, John\" <js@example.org>")), "js@example.org");
    EXPECT_EQ(clientRecipient(parseRecipient("bob@example.org")), "bob@example.org");
    EXPECT_EQ(clientRecipient(parseRecipient("Team")), "Team");
}

TEST(RecipientList, EntryUnderTheCursor) {
    const std::string field = "ann@example.org,  bo";
    WordSpan span = entryAt(field, field.size());
    EXPECT_EQ(field.substr(span.begin, span.end - span.begin), "bo");
    span = entryAt(field, 3);
    EXPECT_EQ(field.substr(span.begin, span.end - span.begin), "ann@example.org");
    span = entryAt("", 0);
    EXPECT_EQ(span.begin, 0u);
    EXPECT_EQ(span.end, 0u);
    span = entryAt("a, b", 99);  // past the end: the last entry
    EXPECT_EQ(span.begin, 3u);
}

TEST(RecipientList, CompletesNamesWordsAndAddressesIgnoringCase) {
    const std::vector<Entry> book = {
        {"Ann Example", "SMTP", "ann@example.org", "01", {}},
        {"Mary Ann Lee", "SMTP", "mal@example.net", "02", {}},
        {"Bob Builder", "SMTP", "bob@example.org", "03", {}},
        {"Team", "MAPIPDL", "", "04", {}},
    };
    auto names = [](const std::vector<const Entry*>& found) {
        Strings out;
        for (const Entry* entry : found) {
            out.push_back(entry->name);
        }
        return out;
    };
    EXPECT_EQ(names(completions(book, "ann")), (Strings{"Ann Example", "Mary Ann Lee"}));
    EXPECT_EQ(names(completions(book, "BOB@")), Strings{"Bob Builder"});
    EXPECT_EQ(names(completions(book, "example.net")), Strings{"Mary Ann Lee"});
    EXPECT_EQ(names(completions(book, "te")), Strings{"Team"});
    EXPECT_EQ(names(completions(book, "  ")), Strings{});
    EXPECT_EQ(names(completions(book, "zz")), Strings{});
    EXPECT_EQ(completions(book, "a", 1).size(), 1u);
}

}  // namespace
}  // namespace mb::dialogs
