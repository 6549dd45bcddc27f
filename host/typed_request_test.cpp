// SPDX-License-Identifier: MIT
#include "host/typed_request.h"

#include <gtest/gtest.h>

namespace {

std::string refusal(const SendMailFields& fields) {
    try {
        sendMailRequest(fields, "/work");
    } catch (const UsageError& e) {
        return e.what();
    }
    return "accepted";
}

TEST(TypedRequest, SendMailJoinsListsAndMakesPathsAbsolute) {
    SendMailFields fields;
    fields.to = std::vector<std::string>{"ann@example.org", "Bob B"};
    fields.bcc = std::vector<std::string>{"c@x.org"};
    fields.subject = "Hi & bye";
    fields.body = "caf\xc3\xa9";
    fields.attachments = {"./a.txt", "/abs/b c.pdf", "sub/c"};
    fields.silent = true;
    fields.parent = 7;
    EXPECT_EQ(sendMailRequest(fields, "/work"),
              "SendMail?attachment=/work/a.txt%3b/abs/b%20c.pdf%3b/work/sub/c&bcc=c%40x.org"
              "&message=caf%c3%a9&parent=7&silent=1&subject=Hi%20%26%20bye"
              "&to=ann%40example.org%3bBob%20B");
    EXPECT_EQ(sendMailRequest(SendMailFields{}, "/work"), "SendMail?");
}

TEST(TypedRequest, SendMailRefusesWhatTheRequestCannotCarry) {
    SendMailFields empty;
    empty.cc = std::vector<std::string>{"a@b.org", ""};
    EXPECT_EQ(refusal(empty), "SendMail: cc recipient 2 is empty");
    SendMailFields path;
    path.attachments = {""};
    EXPECT_EQ(refusal(path), "SendMail: an attachment path is empty");
    path.attachments = {"x;y.pdf"};
    EXPECT_NE(refusal(path).find("cannot attach x;y.pdf: the request separates"),
              std::string::npos);
    SendMailFields text;
    text.subject = std::string("a\0b", 3);
    EXPECT_EQ(refusal(text), "SendMail: the subject holds a NUL character");
    text.subject = "\xff";
    EXPECT_EQ(refusal(text), "SendMail: the subject is not UTF-8 text");
    SendMailFields body;
    body.body = std::string(kBodyLimit + 1, 'x');
    EXPECT_EQ(refusal(body), "SendMail: the body is larger than 16 MiB");
}

TEST(TypedRequest, GetAddrsOffersWellsAsGiven) {
    GetAddrsFields fields;
    fields.to = std::vector<std::string>{"Ann", "Team"};
    fields.bcc = std::vector<std::string>{};
    fields.showAddressBook = true;
    fields.caption = "Pick";
    fields.parent = 12;
    EXPECT_EQ(getAddrsRequest(fields),
              "OutlookGetAddrs?ShowAddressBook=1&bcc=&caption=Pick&parent=12&to=Ann%3bTeam");
    GetAddrsFields dialogOnly;
    dialogOnly.showAddressBook = true;
    EXPECT_EQ(getAddrsRequest(dialogOnly), "OutlookGetAddrs?ShowAddressBook=1&to=");
    GetAddrsFields nothing;
    EXPECT_THROW(getAddrsRequest(nothing), UsageError);
    GetAddrsFields parent;
    parent.to = std::vector<std::string>{"Ann"};
    parent.parent = 0x80000000u;
    EXPECT_THROW(getAddrsRequest(parent), UsageError);
    EXPECT_EQ(autoCompleteRequest(), "AutoCompleteFileName?");
}

}  // namespace
