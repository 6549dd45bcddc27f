// SPDX-License-Identifier: MIT
#include "provider/ui/dialog_protocol.h"

#include <gtest/gtest.h>

namespace mb::dialogs {
namespace {

Entry person(std::string name, std::string address, std::string id) {
    return Entry{std::move(name), "SMTP", std::move(address), std::move(id), {}};
}

TEST(DialogProtocol, EveryRequestSurvivesTheWire) {
    Entry team{"Team", "MAPIPDL", "", "0a0b", {person("Ann Archer", "ann@a.example", "01")}};
    Request names;
    names.parent = 4194311;
    names.text = "Ann";
    names.candidates = {person("Ann Archer", "a@x.org", "01"), person("Ann Baker", "b@x.org", "02")};
    Request select;
    select.dialog = Dialog::SelectNames;
    select.caption = "Pick «them»";
    select.wells = {{WellType::To, {team}}, {WellType::Bcc, {}}};
    select.book = {team, person("Zoë", "zoe@x.org", "03")};
    Request profile;
    profile.dialog = Dialog::ChooseProfile;
    profile.profiles = {{"work", "Work mail"}, {"home", "home"}};
    Request compose;
    compose.dialog = Dialog::Compose;
    compose.profile = "work";
    compose.recipients = {{WellType::Cc, "Ann", "ann@x.org"}};
    compose.subject = "line\none \"quoted\"";
    compose.body = std::string("nul\0inside", 10);
    compose.attachments = {{"a;b.pdf", "/tmp/forms/1/a;b.pdf", 1ull << 40}};
    compose.draft = "/store/Drafts/cur/1:2,D";
    for (const Request& r : {names, select, profile, compose}) {
        const std::string line = encodeRequest(r);
        ASSERT_EQ(line.find('\n'), line.size() - 1) << "one line: " << line;
        std::string error;
        const std::optional<Request> back = decodeRequest(line, error);
        ASSERT_TRUE(back) << error << " in " << line;
        EXPECT_EQ(*back, r) << line;
    }
}

TEST(DialogProtocol, AnswersSurviveTheWireAndMustFitTheirDialog) {
    const Answer pick = Answer::picked(1);
    const Answer oneOff = Answer::typed({"n@x.org", "n@x.org"});
    const Answer wells =
        Answer::chosen({{WellType::To, {person("A", "a@x.org", "0f")}}, {WellType::Cc, {}}});
    const Answer failed = Answer::error("no display");
    const std::pair<Answer, Dialog> good[] = {{pick, Dialog::CheckNames},
                                              {oneOff, Dialog::CheckNames},
                                              {pick, Dialog::ChooseProfile},
                                              {wells, Dialog::SelectNames},
                                              {failed, Dialog::Compose},
                                              {Answer::shown(), Dialog::Compose},
                                              {Answer::cancel(), Dialog::SelectNames}};
    for (const auto& [answer, dialog] : good) {
        std::string error;
        const std::optional<Answer> back = decodeAnswer(encodeAnswer(answer), dialog, error);
        ASSERT_TRUE(back) << error;
        EXPECT_EQ(*back, answer) << encodeAnswer(answer);
    }
    std::string error;
    EXPECT_FALSE(decodeAnswer(encodeAnswer(wells), Dialog::CheckNames, error));
    EXPECT_FALSE(decodeAnswer(encodeAnswer(wells), Dialog::ChooseProfile, error));
    EXPECT_FALSE(decodeAnswer(R"({"result":"ok","pick":1,"oneOff":{"address":"a@b"}})",
                              Dialog::CheckNames, error));
}

TEST(DialogProtocol, MalformedLinesAreRefusedWithAReason) {
    const std::pair<const char*, const char*> requests[] = {
        {"", "not JSON"},
        {"[1]", "not a JSON object"},
        {R"({"v":2,"dialog":"compose"})", "version"},
        {R"({"v":1,"dialog":"format-disk"})", "unknown dialog"},
        {R"({"v":1,"dialog":"check-names","parent":-5})", "wrong type"},
        {R"({"v":1,"dialog":"check-names","candidates":[1]})", "not an object"},
        {R"({"v":1,"dialog":"check-names","candidates":[{"id":"xyz"}]})", "not hex"},
        {R"({"v":1,"dialog":"select-names","wells":[{"type":"from"}]})", "unknown well"},
        {R"({"v":1,"dialog":"select-names","book":[{"members":[{"members":[{}]}]}]})",
         "members of its own"},
        {R"({"v":1,"dialog":"select-names","wells":[{"type":"to"},{"type":"to"},{"type":"cc"},{"type":"bcc"}]})",
         "more than three"},
        {R"({"v":1,"dialog":"compose","attachments":[{"size":1e99}]})", "wrong type"},
    };
    for (const auto& [line, reason] : requests) {
        std::string error;
        EXPECT_FALSE(decodeRequest(line, error)) << line;
        EXPECT_NE(error.find(reason), std::string::npos) << line << " gave: " << error;
    }
    std::string deep = R"({"v":1,"dialog":"compose","x":)" + std::string(10000, '[') +
                       std::string(10000, ']') + "}";
    std::string error;
    EXPECT_FALSE(decodeRequest(deep, error));
    EXPECT_NE(error.find("nested"), std::string::npos) << error;
    EXPECT_FALSE(decodeAnswer(R"({"result":"maybe"})", Dialog::CheckNames, error));
    EXPECT_FALSE(decodeAnswer(R"({"result":"ok","pick":-1})", Dialog::CheckNames, error));
    EXPECT_FALSE(decodeAnswer(R"({"event":"gone"})", Dialog::CheckNames, error));
}

TEST(DialogProtocol, TextThatIsNotUtf8IsReplacedNotFatal) {
    Request r;
    r.dialog = Dialog::CheckNames;
    r.text = "bad \xff byte";
    std::string error;
    const std::optional<Request> back = decodeRequest(encodeRequest(r), error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(back->text, "bad \xEF\xBF\xBD byte");
}

TEST(DialogProtocol, HexRoundTrip) {
    const std::vector<std::uint8_t> bytes = {0x00, 0x7f, 0x80, 0xff};
    EXPECT_EQ(toHex(bytes), "007f80ff");
    EXPECT_EQ(fromHex("007F80ff"), bytes);
    EXPECT_FALSE(fromHex("abc"));
    EXPECT_FALSE(fromHex("0g"));
}

}  // namespace
}  // namespace mb::dialogs
