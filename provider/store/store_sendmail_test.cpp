// SPDX-License-Identifier: MIT
// SendMail's calls on the store, replayed in the Broker's order through the
// MAPI interfaces, and every message it files read back by the independent
// parser (tests/eml/parse_eml.py).
#include <sys/resource.h>

#include <fstream>
#include <random>

#include "provider/com/property_bag.h"
#include "provider/store/store_test_support.h"

namespace mb::provider::test {
namespace {

struct Recipient {
    ULONG type;
    std::string name, address;
};

struct Request {
    bool silent = true;
    std::vector<Recipient> recipients;
    std::string subject, body;  // UTF-8; the Broker sends UTF-16 first
    std::vector<std::string> attachments;
};

// Windows-1252 for the Latin-1 range, '?' elsewhere: the Broker's CP_ACP
// fallback for attachment names.
std::string toAnsi(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) {
        out += c < 0x100 ? static_cast<char>(c) : '?';
    }
    return out;
}

LPADRLIST buildList(const std::vector<Recipient>& recipients) {
    void* buffer = nullptr;
    EXPECT_EQ(MAPIAllocateBuffer(static_cast<ULONG>(CbNewADRLIST(recipients.size())), &buffer),
              S_OK);
    auto* list = static_cast<ADRLIST*>(buffer);
    list->cEntries = static_cast<ULONG>(recipients.size());
    for (std::size_t i = 0; i < recipients.size(); ++i) {
        void* values = nullptr;
        EXPECT_EQ(MAPIAllocateBuffer(4 * sizeof(SPropValue), &values), S_OK);
        auto* v = static_cast<SPropValue*>(values);
        v[0].ulPropTag = PR_DISPLAY_NAME_A;
        v[0].Value.lpszA = const_cast<char*>(recipients[i].name.c_str());
        v[1].ulPropTag = PR_RECIPIENT_TYPE;
        v[1].Value.l = static_cast<LONG>(recipients[i].type);
        v[2].ulPropTag = PR_ADDRTYPE_A;
        v[2].Value.lpszA = const_cast<char*>("SMTP");
        v[3].ulPropTag = PR_EMAIL_ADDRESS_A;
        v[3].Value.lpszA = const_cast<char*>(recipients[i].address.c_str());
        list->aEntries[i].cValues = 4;
        list->aEntries[i].rgPropVals = v;
    }
    return list;
}

void freeList(LPADRLIST list) {
    for (ULONG i = 0; i < list->cEntries; ++i) {
        MAPIFreeBuffer(list->aEntries[i].rgPropVals);
    }
    MAPIFreeBuffer(list);
}

// The body and the subject: a text in UTF-16, and its UTF-8 bytes when the store
// refuses the width.
void setText(IMessage* message, ULONG wideTag, ULONG narrowTag, const std::string& text) {
    const std::u16string wide = utf8ToUtf16(text);
    SPropValue value{};
    value.ulPropTag = wideTag;
    value.Value.lpszW = const_cast<LPWSTR>(reinterpret_cast<const WCHAR*>(wide.c_str()));
    LPSPropProblemArray problems = nullptr;
    ASSERT_EQ(message->SetProps(1, &value, &problems), S_OK);
    if (problems != nullptr) {
        if (problems->aProblem[0].scode == MAPI_E_BAD_CHARWIDTH) {
            value.ulPropTag = narrowTag;
            value.Value.lpszA = const_cast<char*>(text.c_str());
            EXPECT_EQ(message->SetProps(1, &value, nullptr), S_OK);
        }
        MAPIFreeBuffer(problems);
    }
}

// One attachment, as the Broker adds it: properties, then the file through a stream.
void attach(IMessage* message, const std::string& path, HRESULT& status) {
    ULONG number = 0;
    IAttach* attachment = nullptr;
    ASSERT_EQ(message->CreateAttach(nullptr, 0, &number, &attachment), S_OK);
    const std::u16string name = utf8ToUtf16(std::filesystem::path(path).filename().string());
    const bool exists = std::filesystem::exists(path);
    SPropValue values[3] = {};
    values[0].ulPropTag = PR_ATTACH_METHOD;
    values[0].Value.l = ATTACH_BY_VALUE;
    values[1].ulPropTag = PR_ATTACH_FILENAME_W;
    values[1].Value.lpszW = const_cast<LPWSTR>(reinterpret_cast<const WCHAR*>(name.c_str()));
    // The shell's display name fails for a missing file: tag 0, no value.
    values[2].ulPropTag = exists ? PR_DISPLAY_NAME_W : 0;
    values[2].Value.lpszW = exists ? values[1].Value.lpszW : nullptr;
    LPSPropProblemArray problems = nullptr;
    ASSERT_EQ(attachment->SetProps(3, values, &problems), S_OK);
    if (problems != nullptr) {
        const std::string ansi = toAnsi(name);
        values[1].ulPropTag = PR_ATTACH_FILENAME_A;
        values[1].Value.lpszA = const_cast<char*>(ansi.c_str());
        if (exists) {
            values[2].ulPropTag = PR_DISPLAY_NAME_A;
            values[2].Value.lpszA = values[1].Value.lpszA;
        }
        EXPECT_EQ(attachment->SetProps(3, values, nullptr), S_OK);
        MAPIFreeBuffer(problems);
    }
    IUnknown* unknown = nullptr;
    ASSERT_EQ(attachment->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IStream, STGM_WRITE,
                                       MAPI_CREATE | MAPI_MODIFY, &unknown),
              S_OK);
    auto* stream = static_cast<IStream*>(unknown);
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        status = static_cast<HRESULT>(0x80044005);
    }
    char block[4096];
    while (file && status >= 0) {
        file.read(block, sizeof block);
        ULONG left = static_cast<ULONG>(file.gcount());
        const char* at = block;
        while (left > 0) {
            ULONG written = 0;
            ASSERT_EQ(stream->Write(at, left, &written), S_OK);
            ASSERT_GT(written, 0u);
            at += written;
            left -= written;
        }
    }
    EXPECT_EQ(stream->Commit(0), S_OK);
    stream->Release();
    EXPECT_EQ(attachment->SaveChanges(0), S_OK);
    attachment->Release();
}

// The Broker's SendMail from the stores table to the cleanup, with the recipients as the
// address book resolves them. Returns "result".
int sendMail(IMAPISession* session, const Request& request, HRESULT& status) {
    IMAPITable* table = nullptr;
    EXPECT_EQ(status = session->GetMsgStoresTable(0, &table), S_OK);
    SizedSPropTagArray(2, columns) = {2, {PR_DEFAULT_STORE, PR_ENTRYID}};
    EXPECT_EQ(status = table->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), 0), S_OK);
    SRowSet* rows = nullptr;
    EXPECT_EQ(status = table->QueryRows(1, 0, &rows), S_OK);
    EXPECT_EQ(rows->cRows, 1u);
    const SBinary& storeId = rows->aRow[0].lpProps[1].Value.bin;
    IMsgStore* store = nullptr;
    EXPECT_EQ(
        status = session->OpenMsgStore(0, storeId.cb, reinterpret_cast<LPENTRYID>(storeId.lpb),
                                       nullptr, MDB_WRITE, &store),
        S_OK);
    SizedSPropTagArray(1, outboxTag) = {1, {PR_IPM_OUTBOX_ENTRYID}};
    ULONG count = 0;
    SPropValue* outboxId = nullptr;
    EXPECT_EQ(status = store->GetProps(reinterpret_cast<LPSPropTagArray>(&outboxTag), 0, &count,
                                       &outboxId),
              S_OK);
    EXPECT_EQ(count, 1u);
    ULONG type = 0;
    IUnknown* unknown = nullptr;
    EXPECT_EQ(status = store->OpenEntry(outboxId[0].Value.bin.cb,
                                        reinterpret_cast<LPENTRYID>(outboxId[0].Value.bin.lpb),
                                        nullptr, MAPI_BEST_ACCESS, &type, &unknown),
              S_OK);
    auto* outbox = static_cast<IMAPIFolder*>(unknown);
    IMessage* message = nullptr;
    EXPECT_EQ(status = outbox->CreateMessage(nullptr, 0, &message), S_OK);

    LPADRLIST list = buildList(request.recipients);
    status = message->ModifyRecipients(MODRECIP_ADD, list);
    EXPECT_EQ(status, S_OK);
    freeList(list);
    if (!request.body.empty()) {
        setText(message, PR_BODY_W, PR_BODY_A, request.body);
    }
    if (!request.subject.empty()) {
        setText(message, PR_SUBJECT_W, PR_SUBJECT_A, request.subject);
    }
    for (const std::string& path : request.attachments) {
        attach(message, path, status);
    }
    SPropValue messageClass{};
    messageClass.ulPropTag = PR_MESSAGE_CLASS_A;
    messageClass.Value.lpszA = const_cast<char*>("IPM.Note");
    status = message->SetProps(1, &messageClass, nullptr);
    int result = 1;

    if (status >= 0 && request.silent) {
        SizedSPropTagArray(1, sentTag) = {1, {PR_IPM_SENTMAIL_ENTRYID}};
        SPropValue* sent = nullptr;
        status = store->GetProps(reinterpret_cast<LPSPropTagArray>(&sentTag), 0, &count, &sent);
        if (status == S_OK && count == 1) {
            SPropValue value = sent[0];
            value.ulPropTag = PR_SENTMAIL_ENTRYID;
            EXPECT_EQ(message->SetProps(1, &value, nullptr), S_OK);
        }
        MAPIFreeBuffer(sent);
        EXPECT_EQ(message->SubmitMessage(FORCE_SUBMIT), S_OK);
        message->Release();
    } else if (status >= 0) {
        ULONG token = 0;
        status = session->PrepareForm(nullptr, message, &token);
        message->Release();
        if (status < 0) {
            result = 0;
        } else {
            status = session->ShowForm(0, store, outbox, nullptr, token, nullptr, MAPI_NEW_MESSAGE,
                                       0, MSGFLAG_UNSENT, MAPI_ACCESS_MODIFY,
                                       const_cast<char*>("IPM.Note"));
        }
    } else {
        message->Release();
    }
    outbox->Release();
    MAPIFreeBuffer(outboxId);
    store->Release();
    MAPIFreeBuffer(rows->aRow[0].lpProps);
    MAPIFreeBuffer(rows);
    table->Release();
    return result;
}

class SendMail : public StoreTest {
  protected:
    std::string writeFile(const std::string& name, std::size_t size, unsigned seed) {
        std::filesystem::create_directories(root_ + "/files");
        const std::string path = root_ + "/files/" + name;
        std::mt19937 random(seed);
        std::ofstream out(path, std::ios::binary);
        for (std::size_t i = 0; i < size; ++i) {
            out.put(static_cast<char>(random()));
        }
        return path;
    }

    // type: the media type the shared MIME database gives the name and data.
    static std::string attachmentJson(const std::string& name, const std::string& path,
                                      const std::string& type = "application/octet-stream") {
        const auto size = std::filesystem::file_size(path);
        return "{\"content_type\":\"" + type + "\",\"filename\":" + jsonString(name) +
               ",\"name_param\":" + jsonString(name) + ",\"sha256\":\"" + sha256Hex(path) +
               "\",\"size\":" + std::to_string(size) + "}";
    }

    const std::vector<Recipient> people_ = {{MAPI_TO, "Zoë Åberg", "zoe@example.org"},
                                            {MAPI_TO, "Smith, John", "john@example.org"},
                                            {MAPI_CC, "Q \"Quote\" Person", "q@example.org"},
                                            {MAPI_BCC, "Tom & Jerry", "tj@example.org"}};
};

TEST_F(SendMail, SilentSubmitFilesTheWholeMessageInTheOutbox) {
    writeProfiles(
        "[profile main]\ndefault = true\nsender_name = Ana Núñez\n"
        "sender_address = ana@example.net\nstore = " +
        storeRoot() + "\n");
    logon();
    Request request;
    request.recipients = people_;
    request.subject = "Grüße – Report, Q3 & \"final\"";
    request.body = "Hello,\nZeile zwei: äöü €\n";
    const std::string pdf = writeFile("Résumé 2024.pdf", 70000, 1);
    const std::string txt = writeFile("a, b & \"c\".txt", 10, 2);
    const std::string cjk = writeFile("日本語 ファイル.bin", 4097, 3);
    request.attachments = {pdf, txt, cjk};
    HRESULT status = S_OK;
    EXPECT_EQ(sendMail(session_, request, status), 1);
    EXPECT_EQ(status, S_OK);

    EXPECT_TRUE(filesIn(folderPath("Outbox/tmp")).empty());
    const auto filed = filesIn(folderPath("Outbox/new"));
    ASSERT_EQ(filed.size(), 1u);
    const std::string expected =
        "{\"attachments\":[" + attachmentJson("Résumé 2024.pdf", pdf, "application/pdf") + "," +
        attachmentJson("a, b & \"c\".txt", txt, "text/plain") + "," + attachmentJson("日本語 ファイル.bin", cjk) +
        "],\"bcc\":" + jsonMailboxes({{"Tom & Jerry", "tj@example.org"}}) +
        ",\"body\":" + jsonString(request.body) + ",\"body_charset\":\"utf-8\",\"cc\":" +
        jsonMailboxes({{"Q \"Quote\" Person", "q@example.org"}}) +
        ",\"from\":" + jsonMailboxes({{"Ana Núñez", "ana@example.net"}}) +
        ",\"has_date\":true,\"message_id_domain\":\"example.net\",\"subject\":" +
        jsonString(request.subject) + ",\"to\":" +
        jsonMailboxes({{"Zoë Åberg", "zoe@example.org"}, {"Smith, John", "john@example.org"}}) +
        ",\"x_headers\":{\"X-Mailbroker-Sent-Folder\":\"Sent Items\","
        "\"X-Mailbroker-Submitted\":\"yes\"}}";
    EXPECT_EQ(parseEml(filed[0]), expected);
    EXPECT_TRUE(filesIn(folderPath("Drafts/new")).empty());
}

TEST_F(SendMail, StoreWithoutUnicodeTakesTheEightBitFallback) {
    writeProfiles(
        "[profile main]\ndefault = true\nreject_unicode = true\n"
        "sender_address = me@example.com\nstore = " +
        storeRoot() + "\n");
    logon();
    Request request;
    request.recipients = {{MAPI_TO, "Jürgen", "j@example.com"}};
    request.subject = "Überweisung ✓";
    request.body = "Grüße 😀";
    const std::string file = writeFile("Café crème.txt", 100, 4);
    request.attachments = {file};
    HRESULT status = S_OK;
    EXPECT_EQ(sendMail(session_, request, status), 1);
    const auto filed = filesIn(folderPath("Outbox/new"));
    ASSERT_EQ(filed.size(), 1u);
    const std::string json = parseEml(filed[0]);
    EXPECT_NE(json.find("\"subject\":" + jsonString(request.subject)), std::string::npos) << json;
    EXPECT_NE(json.find("\"body\":" + jsonString(request.body)), std::string::npos) << json;
    // The name came as Windows-1252 bytes, and reads back as the same text.
    EXPECT_NE(json.find("\"attachments\":[" + attachmentJson("Café crème.txt", file, "text/plain") + "]"),
              std::string::npos)
        << json;
}

TEST_F(SendMail, ComposeWindowGetsTheDraft) {
    logon();
    Request request;
    request.silent = false;
    request.recipients = {{MAPI_TO, "Bob", "bob@example.org"}};
    request.subject = "Draft";
    const std::string file = writeFile("report.bin", 5000, 5);
    const std::string missing = root_ + "/files/missing.txt";
    request.attachments = {file, missing};
    HRESULT status = S_OK;
    // The missing file leaves its status, which the message class overwrites.
    EXPECT_EQ(sendMail(session_, request, status), 1);
    EXPECT_EQ(status, S_OK);
    EXPECT_TRUE(filesIn(folderPath("Outbox/new")).empty());
    const auto drafts = filesIn(folderPath("Drafts/new"));
    ASSERT_EQ(drafts.size(), 1u);
    const std::string json = parseEml(drafts[0]);
    EXPECT_NE(json.find("\"attachments\":[" + attachmentJson("report.bin", file) +
                        ",{\"content_type\":\"text/plain\",\"filename\":"
                        "\"missing.txt\",\"name_param\":\"missing.txt\",\"sha256\":"
                        "\"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855\","
                        "\"size\":0}]"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"x_headers\":{}"), std::string::npos) << json;
    // The compose window's copies of the attachments, named as they are.
    const std::string forms =
        storeRoot() + "/forms/" + std::filesystem::path(drafts[0]).filename().string();
    EXPECT_EQ(sha256Hex(forms + "/report.bin"), sha256Hex(file));
    EXPECT_EQ(std::filesystem::file_size(forms + "/missing.txt"), 0u);
}

// Each attachment's data waits in a scratch file until the message is filed;
// past a few, they share one, so a message with thousands of attachments
// fits in the descriptors a process has.
TEST_F(SendMail, ManyAttachmentsFitInAFewDescriptors) {
    logon();
    Request request;
    request.recipients = {{MAPI_TO, "Bob", "bob@example.org"}};
    std::string expected;
    for (unsigned i = 0; i < 120; ++i) {
        const std::string name = "part" + std::to_string(i) + ".bin";
        request.attachments.push_back(writeFile(name, (i * 7919) % 9000, 100 + i));
        expected += (i == 0 ? "" : ",") + attachmentJson(name, request.attachments.back());
    }
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    const auto open = static_cast<rlim_t>(std::distance(
        std::filesystem::directory_iterator("/proc/self/fd"), std::filesystem::directory_iterator{}));
    rlimit tight = saved;
    tight.rlim_cur = open + 60;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    HRESULT status = S_OK;
    const int result = sendMail(session_, request, status);
    request.silent = false;
    HRESULT draftStatus = S_OK;
    const int draftResult = sendMail(session_, request, draftStatus);
    ::setrlimit(RLIMIT_NOFILE, &saved);

    EXPECT_EQ(result, 1);
    EXPECT_EQ(status, S_OK);
    const auto filed = filesIn(folderPath("Outbox/new"));
    ASSERT_EQ(filed.size(), 1u);
    const std::string json = parseEml(filed[0]);
    EXPECT_NE(json.find("\"attachments\":[" + expected + "]"), std::string::npos) << json;
    // The compose window's files come out of the shared scratch file too.
    EXPECT_EQ(draftResult, 1);
    EXPECT_EQ(draftStatus, S_OK);
    const auto drafts = filesIn(folderPath("Drafts/new"));
    ASSERT_EQ(drafts.size(), 1u);
    const std::string forms =
        storeRoot() + "/forms/" + std::filesystem::path(drafts[0]).filename().string();
    for (unsigned i : {0u, 15u, 16u, 77u, 119u}) {
        EXPECT_EQ(sha256Hex(forms + "/part" + std::to_string(i) + ".bin"),
                  sha256Hex(request.attachments[i]))
            << i;
    }
}

TEST_F(SendMail, TokenIsGoodForOneShowForm) {
    logon();
    HRESULT status = S_OK;
    Request request;
    request.silent = false;
    EXPECT_EQ(sendMail(session_, request, status), 1);
    EXPECT_EQ(status, S_OK);
    // Tokens start at 1; the one above is spent.
    EXPECT_EQ(session_->ShowForm(0, nullptr, nullptr, nullptr, 1, nullptr, MAPI_NEW_MESSAGE, 0, 0,
                                 0, nullptr),
              MAPI_E_INVALID_PARAMETER);
    ULONG token = 0;
    EXPECT_EQ(session_->PrepareForm(nullptr, nullptr, &token), MAPI_E_INVALID_PARAMETER);
}

}  // namespace
}  // namespace mb::provider::test
