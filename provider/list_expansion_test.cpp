// SPDX-License-Identifier: MIT
// Messages to distribution lists, submitted through the provider's MAPI
// objects as the Broker submits them: each list is filed as a group of its
// members under its own name, read back by the independent parser, and
// delivery sends to every member once, through SMTP or a sendmail command.
#include "provider/list_expansion.h"

#include <fstream>

#include "provider/contacts/directory_test_support.h"
#include "provider/store/store_test_support.h"
#include "provider/transport/smtp_test_support.h"

namespace mb::provider::test {
namespace {

const std::string kCards =
    card("FN:Pat\r\nUID:pat\r\nEMAIL:pat@example.org\r\n") +
    card("FN:Max\r\nUID:max\r\nEMAIL:max@example.org\r\n") +
    card("FN:Phone Only\r\nUID:phone\r\nTEL:+1 555 0100\r\n") +
    card("FN:Xavier\r\nUID:xavier\r\nX-MAILBROKER-X500:/o=Org/cn=xavier\r\n") +
    group("Team", {"urn:uuid:pat", "urn:uuid:max"}) +
    card(
        "KIND:group\r\nFN:Night Watch\r\nUID:night\r\nMEMBER:urn:uuid:phone\r\n"
        "MEMBER:urn:uuid:xavier\r\n") +
    card(
        "KIND:group\r\nFN:Sales\\, East: \"Key\" accounts\r\nUID:sales\r\n"
        "MEMBER:urn:uuid:max\r\n") +
    group("Outer", {"urn:uuid:Inner", "mailto:o@example.org"}) +
    group("Inner", {"mailto:i@example.org", "urn:uuid:Outer", "urn:uuid:pat"}) +
    group("GA", {"urn:uuid:GB", "urn:uuid:GC", "mailto:a@example.org"}) +
    group("GB", {"urn:uuid:GA", "urn:uuid:GC", "mailto:b@example.org"}) +
    group("GC", {"urn:uuid:GA", "urn:uuid:GB", "mailto:c@example.org"});

class ListMail : public StoreTest {
  protected:
    void SetUp() override {
        StoreTest::SetUp();
        unsetenv("MAILBROKER_UI_SCRIPT");
        log_ = root_ + "/provider.log";
        ASSERT_EQ(setenv("MAILBROKER_PROVIDER_LOG", log_.c_str(), 1), 0);
        unsetenv("MAILBROKER_FLUSH");
        useTransport("none");
    }

    void useTransport(const std::string& transport) {
        writeProfiles(
            "[profile Default]\ndefault = true\nsender_address = ana@example.net\n"
            "timeout = 10\naddress_books = " +
            cards_.write("book.vcf", kCards) + "\ntransport = " + transport + "\n");
    }

    // Resolves the names against the address book, as SendMail does, and
    // submits them (or, with save, saves the message where it is).
    HRESULT send(const std::vector<std::pair<ULONG, std::string>>& names, bool save = false) {
        if (store_ == nullptr) {
            openStore();
        }
        IAddrBook* book = nullptr;
        EXPECT_EQ(session_->OpenAddressBook(0, nullptr, AB_NO_DIALOG, &book), S_OK);
        BrokerList list(names);
        EXPECT_EQ(book->ResolveName(0, 0, nullptr, list.get()), S_OK);
        book->Release();
        IMAPIFolder* outbox = openFolder(PR_IPM_OUTBOX_ENTRYID);
        IMessage* message = nullptr;
        EXPECT_EQ(outbox->CreateMessage(nullptr, 0, &message), S_OK);
        outbox->Release();
        EXPECT_EQ(message->ModifyRecipients(MODRECIP_ADD, list.get()), S_OK);
        SizedSPropTagArray(1, sentTag) = {1, {PR_IPM_SENTMAIL_ENTRYID}};
        ULONG count = 0;
        SPropValue* sent = nullptr;
        EXPECT_EQ(store_->GetProps(reinterpret_cast<LPSPropTagArray>(&sentTag), 0, &count, &sent),
                  S_OK);
        SPropValue props[2] = {};
        props[0].ulPropTag = PR_SUBJECT_A;
        props[0].Value.lpszA = const_cast<char*>("To the lists");
        props[1] = sent[0];
        props[1].ulPropTag = PR_SENTMAIL_ENTRYID;
        EXPECT_EQ(message->SetProps(2, props, nullptr), S_OK);
        MAPIFreeBuffer(sent);
        const HRESULT hr = save ? message->SaveChanges(0) : message->SubmitMessage(0);
        message->Release();
        return hr;
    }

    // The header block of the one file in folder, unfolded; "" unless there is one.
    std::string headersIn(const char* folder) const {
        const std::vector<std::string> files = filesIn(folderPath(folder));
        if (files.size() != 1) {
            return "";
        }
        const std::string text = SmtpServer::read(files[0]);
        std::string headers = text.substr(0, text.find("\n\n") + 1);
        for (std::size_t at; (at = headers.find("\n\t")) != std::string::npos;) {
            headers.replace(at, 2, " ");
        }
        for (std::size_t at; (at = headers.find("\n ")) != std::string::npos;) {
            headers.replace(at, 2, " ");
        }
        return headers;
    }

    // parse_eml.py's "groups" member of the one file in folder.
    std::string groupsIn(const char* folder) const {
        const std::vector<std::string> files = filesIn(folderPath(folder));
        if (files.size() != 1) {
            return "not one file";
        }
        const std::string json = parseEml(files[0]);
        const std::size_t at = json.find("\"groups\":");
        if (at == std::string::npos) {
            return "no groups: " + json;
        }
        return json.substr(at, json.find("},", at) + 1 - at);
    }

    std::string log() const { return SmtpServer::read(log_); }

    CardFolder cards_;
    std::string log_;
};

TEST_F(ListMail, ListIsFiledAsAGroupOfItsMembersUnderItsName) {
    ASSERT_EQ(send({{MAPI_TO, "Team"}, {MAPI_CC, "Night Watch"}, {MAPI_BCC, "Sales"}}), S_OK);
    const std::string headers = headersIn("Outbox/new");
    EXPECT_NE(headers.find("\nTo: Team: pat@example.org, max@example.org;\n"), std::string::npos)
        << headers;
    EXPECT_NE(headers.find("\nCc: Night Watch: ;\n"), std::string::npos) << headers;
    EXPECT_NE(headers.find("\nBcc: \"Sales, East: \\\"Key\\\" accounts\": max@example.org;\n"),
              std::string::npos)
        << headers;
    EXPECT_EQ(groupsIn("Outbox/new"),
              "\"groups\":{\"bcc\":[[\"Sales, East: \\\"Key\\\" accounts\",[\"max@example.org\"]]],"
              "\"cc\":[[\"Night Watch\",[]]],"
              "\"to\":[[\"Team\",[\"pat@example.org\",\"max@example.org\"]]]}");
    EXPECT_NE(log().find("\"Night Watch\" holds \"Xavier\", who has no SMTP address"),
              std::string::npos)
        << log();
}

TEST_F(ListMail, NestedAndCyclicListsAreFlattenedIntoTheOuterGroup) {
    ASSERT_EQ(send({{MAPI_TO, "Outer"}, {MAPI_CC, "GA"}}), S_OK);
    EXPECT_EQ(groupsIn("Outbox/new"),
              "\"groups\":{\"cc\":[[\"GA\",[\"c@example.org\",\"b@example.org\","
              "\"a@example.org\"]]],\"to\":[[\"Outer\",[\"i@example.org\",\"pat@example.org\","
              "\"o@example.org\"]]]}");
}

TEST_F(ListMail, MessageWithOnlyEmptyGroupsIsRefusedAndNothingIsFiled) {
    EXPECT_EQ(send({{MAPI_TO, "Night Watch"}, {MAPI_BCC, "Night Watch"}}), MAPI_E_NO_RECIPIENTS);
    EXPECT_TRUE(allFilesUnder(folderPath("Outbox")).empty());
    // Saved, not sent, such a message is kept as written.
    EXPECT_EQ(send({{MAPI_TO, "Night Watch"}}, true), S_OK);
    EXPECT_NE(headersIn("Outbox/new").find("\nTo: Night Watch: ;\n"), std::string::npos);
}

TEST_F(ListMail, ListGoneFromTheAddressBookIsAnErrorAndNothingIsFiled) {
    openStore();
    // The list was resolved from the cards read at logon; they change before
    // the message is filed.
    IAddrBook* book = nullptr;
    ASSERT_EQ(session_->OpenAddressBook(0, nullptr, AB_NO_DIALOG, &book), S_OK);
    BrokerList list({{MAPI_TO, "Team"}, {MAPI_TO, "pat@example.org"}});
    ASSERT_EQ(book->ResolveName(0, 0, nullptr, list.get()), S_OK);
    book->Release();
    cards_.write("book.vcf", card("FN:Pat\r\nUID:pat\r\nEMAIL:pat@example.org\r\n"));
    IMAPIFolder* outbox = openFolder(PR_IPM_OUTBOX_ENTRYID);
    IMessage* message = nullptr;
    ASSERT_EQ(outbox->CreateMessage(nullptr, 0, &message), S_OK);
    outbox->Release();
    ASSERT_EQ(message->ModifyRecipients(MODRECIP_ADD, list.get()), S_OK);
    EXPECT_EQ(message->SubmitMessage(0), MAPI_E_UNKNOWN_ENTRYID);
    message->Release();
    EXPECT_TRUE(allFilesUnder(folderPath("Outbox")).empty());
    EXPECT_NE(log().find("the list \"Team\" cannot be expanded (no longer in the address book)"),
              std::string::npos)
        << log();
}

TEST_F(ListMail, SmtpSendsToEveryMemberOnceAndTheBccGroupStaysHome) {
    SmtpServer server(root_ + "/smtp", "accept");
    useTransport(server.url());
    ASSERT_EQ(send({{MAPI_TO, "Team"},
                    {MAPI_TO, "Night Watch"},
                    {MAPI_CC, "i@EXAMPLE.org"},
                    {MAPI_BCC, "Outer"}}),
              S_OK)
        << log();
    const auto received = server.received();
    ASSERT_EQ(received.size(), 1u) << log();
    EXPECT_EQ(SmtpServer::read(received[0] + ".json"),
              "{\"mail_from\": \"ana@example.net\", \"rcpt_tos\": [\"pat@example.org\", "
              "\"max@example.org\", \"i@EXAMPLE.org\", \"o@example.org\"], \"auth_login\": null}");
    const std::string eml = SmtpServer::read(received[0] + ".eml");
    EXPECT_NE(eml.find("To: Team: pat@example.org, max@example.org;, Night Watch: ;"),
              std::string::npos)
        << eml;
    EXPECT_EQ(eml.find("Outer"), std::string::npos) << eml;
    EXPECT_EQ(eml.find("o@example.org"), std::string::npos) << eml;
    EXPECT_EQ(groupsIn("Sent Items/new"),
              "\"groups\":{\"bcc\":[[\"Outer\",[\"i@example.org\",\"pat@example.org\","
              "\"o@example.org\"]]],\"to\":[[\"Team\",[\"pat@example.org\",\"max@example.org\"]],"
              "[\"Night Watch\",[]]]}");
}

TEST_F(ListMail, SendmailReadsTheGroupsFromTheHeadersAndGetsNoRecipientArguments) {
    const std::string argsFile = root_ + "/args";
    const std::string inputFile = root_ + "/input";
    useTransport("sendmail:/bin/sh -c 'printf \"[%s]\" \"$@\" > " + argsFile + "; cat > " +
                 inputFile + "' sendmail -t -oi");
    ASSERT_EQ(send({{MAPI_TO, "Team"}, {MAPI_BCC, "GA"}}), S_OK) << log();
    // No recipients: only the envelope sender follows the command's own words.
    EXPECT_EQ(SmtpServer::read(argsFile), "[-t][-oi][-f][ana@example.net]");
    const std::string input = SmtpServer::read(inputFile);
    EXPECT_NE(input.find("\nTo: Team: pat@example.org, max@example.org;\n"), std::string::npos)
        << input;
    EXPECT_NE(input.find("\nBcc: GA: c@example.org, b@example.org, a@example.org;\n"),
              std::string::npos)
        << input;
    EXPECT_EQ(filesIn(folderPath("Sent Items/new")).size(), 1u) << log();
}

TEST_F(ListMail, MsmtpFindsEveryMemberInTheGroupHeaders) {
    SmtpServer server(root_ + "/smtp", "accept");
    useTransport("sendmail:/usr/bin/msmtp --host=127.0.0.1 --port=" +
                 std::to_string(server.port()) + " --from=ana@example.net -t -oi");
    ASSERT_EQ(send({{MAPI_TO, "Team"}, {MAPI_CC, "Night Watch"}, {MAPI_BCC, "Outer"}}), S_OK)
        << log();
    const auto received = server.received();
    ASSERT_EQ(received.size(), 1u) << log();
    const std::string envelope = SmtpServer::read(received[0] + ".json");
    for (const char* member :
         {"\"pat@example.org\"", "\"max@example.org\"", "\"i@example.org\"", "\"o@example.org\""}) {
        EXPECT_NE(envelope.find(member), std::string::npos) << member << " " << envelope;
    }
    EXPECT_EQ(envelope.find("Night"), std::string::npos) << envelope;
    EXPECT_EQ(SmtpServer::read(received[0] + ".eml").find("Outer"), std::string::npos);
}

// The compose window on the desktop: the mail program is handed the members,
// a list's name being no address it could use.
TEST_F(ListMail, ComposeWindowGetsTheMembersOfAList) {
    const std::string bin = root_ + "/bin";
    std::filesystem::create_directories(bin);
    const std::string argv = root_ + "/argv";
    {
        std::ofstream script(bin + "/xdg-email");
        script << "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]' \"$a\"; done > '" << argv << "'\n";
    }
    std::filesystem::permissions(bin + "/xdg-email", std::filesystem::perms::owner_all);
    const std::string path = getenv("PATH") != nullptr ? getenv("PATH") : "/usr/bin:/bin";
    setenv("PATH", (bin + ":" + path).c_str(), 1);
    setenv("DISPLAY", ":99", 1);
    writeProfiles(
        "[profile Default]\ndefault = true\nsender_address = ana@example.net\n"
        "ui = desktop\ncompose = mailer\ntransport = none\naddress_books = " +
        cards_.write("book.vcf", kCards) + "\n");
    openStore();
    IAddrBook* book = nullptr;
    ASSERT_EQ(session_->OpenAddressBook(0, nullptr, AB_NO_DIALOG, &book), S_OK);
    BrokerList list({{MAPI_TO, "Team"}, {MAPI_CC, "Outer"}, {MAPI_BCC, "Night Watch"}});
    ASSERT_EQ(book->ResolveName(0, 0, nullptr, list.get()), S_OK);
    book->Release();
    IMAPIFolder* outbox = openFolder(PR_IPM_OUTBOX_ENTRYID);
    IMessage* message = nullptr;
    ASSERT_EQ(outbox->CreateMessage(nullptr, 0, &message), S_OK);
    ASSERT_EQ(message->ModifyRecipients(MODRECIP_ADD, list.get()), S_OK);
    ULONG token = 0;
    ASSERT_EQ(session_->PrepareForm(nullptr, message, &token), S_OK);
    message->Release();
    char noteClass[] = "IPM.Note";
    const HRESULT shown =
        session_->ShowForm(0, store_, outbox, nullptr, token, nullptr, MAPI_NEW_MESSAGE, 0,
                           MSGFLAG_UNSENT, MAPI_ACCESS_MODIFY, noteClass);
    outbox->Release();
    setenv("PATH", path.c_str(), 1);
    unsetenv("DISPLAY");
    EXPECT_EQ(shown, S_OK) << log();
    EXPECT_EQ(SmtpServer::read(argv),
              "[--utf8][--cc][i@example.org][--cc][pat@example.org][--cc][o@example.org]"
              "[pat@example.org][max@example.org]");
    EXPECT_EQ(groupsIn("Drafts/new"),
              "\"groups\":{\"bcc\":[[\"Night Watch\",[]]],\"cc\":[[\"Outer\",[\"i@example.org\","
              "\"pat@example.org\",\"o@example.org\"]]],\"to\":[[\"Team\",[\"pat@example.org\","
              "\"max@example.org\"]]]}");
}

}  // namespace
}  // namespace mb::provider::test
