// SPDX-License-Identifier: MIT
#include "provider/store/store.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "provider/store/entry_id.h"
#include "provider/store/store_test_support.h"

namespace mb::provider::test {
namespace {

IMessage* newMessage(IMAPIFolder* folder) {
    IMessage* message = nullptr;
    EXPECT_EQ(folder->CreateMessage(nullptr, 0, &message), S_OK);
    return message;
}

// Adds an attachment whose stream holds size bytes.
void addAttachment(IMessage* message, std::size_t size) {
    ULONG number = 0;
    IAttach* attachment = nullptr;
    ASSERT_EQ(message->CreateAttach(nullptr, 0, &number, &attachment), S_OK);
    IUnknown* unknown = nullptr;
    ASSERT_EQ(attachment->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IStream, STGM_WRITE,
                                       MAPI_CREATE | MAPI_MODIFY, &unknown),
              S_OK);
    auto* stream = static_cast<IStream*>(unknown);
    const std::string block(size, 'z');
    ULONG written = 0;
    EXPECT_EQ(stream->Write(block.data(), static_cast<ULONG>(block.size()), &written), S_OK);
    EXPECT_EQ(written, size);
    EXPECT_EQ(stream->Commit(0), S_OK);
    stream->Release();
    EXPECT_EQ(attachment->SaveChanges(0), S_OK);
    attachment->Release();
}

TEST_F(StoreTest, FoldersOpenFromTheStoresIdentifiers) {
    openStore();
    IMAPIFolder* outbox = openFolder(PR_IPM_OUTBOX_ENTRYID);
    IMAPIFolder* sent = openFolder(PR_IPM_SENTMAIL_ENTRYID);
    IMAPIFolder* deleted = openFolder(PR_IPM_WASTEBASKET_ENTRYID);
    ASSERT_TRUE(outbox && sent && deleted);
    for (const char* name : {"Outbox", "Sent Items", "Deleted Items"}) {
        EXPECT_TRUE(std::filesystem::is_directory(folderPath(name) + "/new")) << name;
    }
    SizedSPropTagArray(1, nameTag) = {1, {PR_DISPLAY_NAME_A}};
    ULONG count = 0;
    SPropValue* values = nullptr;
    ASSERT_EQ(sent->GetProps(reinterpret_cast<LPSPropTagArray>(&nameTag), 0, &count, &values),
              S_OK);
    EXPECT_STREQ(values[0].Value.lpszA, "Sent Items");
    MAPIFreeBuffer(values);
    outbox->Release();
    sent->Release();
    deleted->Release();

    // Identifiers that are not ours, or cut short, are refused.
    std::vector<BYTE> id = folderEntryId(FolderId::Drafts);
    IUnknown* opened = nullptr;
    ULONG type = 0;
    EXPECT_EQ(store_->OpenEntry(static_cast<ULONG>(id.size() - 1),
                                reinterpret_cast<LPENTRYID>(id.data()), nullptr, 0, &type, &opened),
              MAPI_E_INVALID_ENTRYID);
    id[21] = 9;
    EXPECT_EQ(store_->OpenEntry(static_cast<ULONG>(id.size()),
                                reinterpret_cast<LPENTRYID>(id.data()), nullptr, 0, &type, &opened),
              MAPI_E_INVALID_ENTRYID);
    EXPECT_EQ(opened, nullptr);
    IMsgStore* other = nullptr;
    EXPECT_EQ(
        session_->OpenMsgStore(0, static_cast<ULONG>(id.size()),
                               reinterpret_cast<LPENTRYID>(id.data()), nullptr, MDB_WRITE, &other),
        MAPI_E_INVALID_ENTRYID);
}

TEST_F(StoreTest, UnusableStorePathIsAnErrorAtOpen) {
    std::filesystem::create_directories(root_);
    std::ofstream(root_ + "/plain") << "x";
    writeProfiles("[profile p]\ndefault = true\nstore = " + root_ + "/plain/store\n");
    openStore();
    SizedSPropTagArray(1, tags) = {1, {PR_IPM_OUTBOX_ENTRYID}};
    ULONG count = 0;
    SPropValue* values = nullptr;
    ASSERT_EQ(store_->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &values), S_OK);
    IUnknown* folder = nullptr;
    EXPECT_TRUE(FAILED(store_->OpenEntry(values[0].Value.bin.cb,
                                         reinterpret_cast<LPENTRYID>(values[0].Value.bin.lpb),
                                         nullptr, MAPI_BEST_ACCESS, nullptr, &folder)));
    EXPECT_EQ(folder, nullptr);
    MAPIFreeBuffer(values);
}

TEST_F(StoreTest, MessageReleasedUnsavedLeavesNothing) {
    openStore();
    IMAPIFolder* outbox = openFolder(PR_IPM_OUTBOX_ENTRYID);
    IMessage* message = newMessage(outbox);
    addAttachment(message, 100000);
    EXPECT_EQ(message->Release(), 0u);
    outbox->Release();
    EXPECT_TRUE(allFilesUnder(storeRoot()).empty());
}

TEST_F(StoreTest, RecipientsAddListAndRemove) {
    openStore();
    IMAPIFolder* deleted = openFolder(PR_IPM_WASTEBASKET_ENTRYID);
    IMessage* message = newMessage(deleted);
    void* buffer = nullptr;
    ASSERT_EQ(MAPIAllocateBuffer(static_cast<ULONG>(CbNewADRLIST(2)), &buffer), S_OK);
    auto* list = static_cast<ADRLIST*>(buffer);
    list->cEntries = 2;  // the second entry is empty, as a resolver leaves it
    SPropValue values[2] = {};
    values[0].ulPropTag = PR_DISPLAY_NAME_W;
    values[0].Value.lpszW = const_cast<LPWSTR>(reinterpret_cast<const WCHAR*>(u"Zoë"));
    values[1].ulPropTag = PR_SMTP_ADDRESS_A;
    values[1].Value.lpszA = const_cast<char*>("zoe@example.org");
    list->aEntries[0].cValues = 2;
    list->aEntries[0].rgPropVals = values;
    ASSERT_EQ(message->ModifyRecipients(MODRECIP_ADD, list), S_OK);
    EXPECT_EQ(message->ModifyRecipients(0x100, list), MAPI_E_UNKNOWN_FLAGS);
    EXPECT_EQ(message->ModifyRecipients(MODRECIP_ADD, nullptr), MAPI_E_INVALID_PARAMETER);
    ADRENTRY* entries = list->aEntries;  // the list holds two, past the declared one
    entries[1].cValues = 3;              // values promised, none there: refused whole
    EXPECT_EQ(message->ModifyRecipients(MODRECIP_ADD, list), MAPI_E_INVALID_PARAMETER);
    entries[1].cValues = 0;

    IMAPITable* table = nullptr;
    ASSERT_EQ(message->GetRecipientTable(0, &table), S_OK);
    SizedSPropTagArray(3, columns) = {3, {PR_ROWID, PR_DISPLAY_NAME_A, PR_SMTP_ADDRESS_A}};
    ASSERT_EQ(table->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), 0), S_OK);
    SRowSet* rows = nullptr;
    ASSERT_EQ(table->QueryRows(10, 0, &rows), S_OK);
    ASSERT_EQ(rows->cRows, 1u);
    EXPECT_STREQ(rows->aRow[0].lpProps[1].Value.lpszA, "Zoë");
    EXPECT_STREQ(rows->aRow[0].lpProps[2].Value.lpszA, "zoe@example.org");
    const LONG rowId = rows->aRow[0].lpProps[0].Value.l;
    MAPIFreeBuffer(rows->aRow[0].lpProps);
    MAPIFreeBuffer(rows);
    table->Release();

    SPropValue byId{};
    byId.ulPropTag = PR_ROWID;
    byId.Value.l = rowId + 1;
    list->cEntries = 1;
    list->aEntries[0].cValues = 1;
    list->aEntries[0].rgPropVals = &byId;
    EXPECT_EQ(message->ModifyRecipients(MODRECIP_REMOVE, list), MAPI_E_NOT_FOUND);
    byId.Value.l = rowId;
    EXPECT_EQ(message->ModifyRecipients(MODRECIP_REMOVE, list), S_OK);
    ASSERT_EQ(message->GetRecipientTable(0, &table), S_OK);
    ULONG count = 99;
    EXPECT_EQ(table->GetRowCount(0, &count), S_OK);
    EXPECT_EQ(count, 0u);
    table->Release();
    MAPIFreeBuffer(list);
    message->Release();
    deleted->Release();
    EXPECT_TRUE(allFilesUnder(storeRoot()).empty());
}

TEST_F(StoreTest, SavingReplacesAndSubmittingMoves) {
    openStore();
    IMAPIFolder* drafts = openFolder(PR_IPM_DRAFTS_ENTRYID);
    IMessage* message = newMessage(drafts);
    ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    EXPECT_EQ(filesIn(folderPath("Drafts/new")).size(), 1u);

    SPropValue bad{};
    bad.ulPropTag = PR_SENTMAIL_ENTRYID;
    BYTE junk[4] = {1, 2, 3, 4};
    bad.Value.bin = {sizeof junk, junk};
    LPSPropProblemArray problems = nullptr;
    ASSERT_EQ(message->SetProps(1, &bad, &problems), S_OK);
    ASSERT_NE(problems, nullptr);
    EXPECT_EQ(problems->aProblem[0].scode, MAPI_E_INVALID_ENTRYID);
    MAPIFreeBuffer(problems);

    ASSERT_EQ(message->SubmitMessage(0), S_OK);
    EXPECT_TRUE(filesIn(folderPath("Drafts/new")).empty());
    const auto outbox = filesIn(folderPath("Outbox/new"));
    ASSERT_EQ(outbox.size(), 1u);
    EXPECT_NE(parseEml(outbox[0]).find("\"x_headers\":{\"X-Mailbroker-Submitted\":\"yes\"}"),
              std::string::npos);
    // Submitted means handed over: no more changes, no second submission.
    SPropValue subject{};
    subject.ulPropTag = PR_SUBJECT_A;
    subject.Value.lpszA = const_cast<char*>("late");
    EXPECT_EQ(message->SetProps(1, &subject, nullptr), MAPI_E_NO_ACCESS);
    EXPECT_EQ(message->SubmitMessage(0), MAPI_E_NO_ACCESS);
    message->Release();
    drafts->Release();
}

TEST_F(StoreTest, FailedRenderingLeavesNoPartialMessage) {
    openStore();
    IMAPIFolder* outbox = openFolder(PR_IPM_OUTBOX_ENTRYID);
    IMessage* message = newMessage(outbox);
    addAttachment(message, 200000);
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto* previous = signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 65536;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const HRESULT hr = message->SubmitMessage(FORCE_SUBMIT);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, previous);
    EXPECT_EQ(hr, MAPI_E_NOT_ENOUGH_DISK);
    EXPECT_TRUE(allFilesUnder(storeRoot()).empty());
    // Nothing was lost: with room again the same message goes through.
    EXPECT_EQ(message->SubmitMessage(FORCE_SUBMIT), S_OK);
    EXPECT_EQ(filesIn(folderPath("Outbox/new")).size(), 1u);
    message->Release();
    outbox->Release();
}

// Makes every folder of the tree read-only (restoring 0700 when it goes), and
// takes from this thread the capabilities that let root write there anyway,
// so that the store is read-only for whoever runs the tests.
class ReadOnlyTree {
  public:
    explicit ReadOnlyTree(const std::string& root) : root_(root) {
        setModes(0555);
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        if (::syscall(SYS_capget, &header, saved_) == 0) {
            __user_cap_data_struct lowered[2] = {saved_[0], saved_[1]};
            for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER}) {
                lowered[0].effective &= ~(1u << cap);
            }
            lowered_ = ::syscall(SYS_capset, &header, lowered) == 0;
        }
    }
    ~ReadOnlyTree() {
        if (lowered_) {
            __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
            ::syscall(SYS_capset, &header, saved_);
        }
        setModes(0700);
    }

  private:
    void setModes(mode_t mode) {
        std::filesystem::permissions(root_, static_cast<std::filesystem::perms>(mode));
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root_)) {
            if (entry.is_directory()) {
                std::filesystem::permissions(entry.path(), static_cast<std::filesystem::perms>(mode));
            }
        }
    }

    std::string root_;
    __user_cap_data_struct saved_[2] = {};
    bool lowered_ = false;
};

TEST_F(StoreTest, ReadOnlyStoreRefusesClearlyAndKeepsTheMessage) {
    openStore();
    IMAPIFolder* outbox = openFolder(PR_IPM_OUTBOX_ENTRYID);
    IMessage* message = newMessage(outbox);
    addAttachment(message, 100000);
    const std::vector<std::string> before = allFilesUnder(storeRoot());
    HRESULT hr = S_OK;
    {
        ReadOnlyTree readOnly(storeRoot());
        // The test means nothing unless the tree really cannot be written.
        const std::string probe = storeRoot() + "/probe";
        const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        ASSERT_LT(fd, 0) << "the store is writable even read-only";
        ASSERT_EQ(errno, EACCES);
        hr = message->SubmitMessage(FORCE_SUBMIT);
    }
    EXPECT_EQ(hr, MAPI_E_NO_ACCESS);
    EXPECT_EQ(allFilesUnder(storeRoot()), before);
    // Nothing was lost: writable again, the same message goes through.
    EXPECT_EQ(message->SubmitMessage(FORCE_SUBMIT), S_OK);
    EXPECT_EQ(filesIn(folderPath("Outbox/new")).size(), 1u);
    message->Release();
    outbox->Release();
}

// A file system that really fills up: a 1 MiB tmpfs, where one may be mounted
// (root with the capability to mount; elsewhere the size limit above stands in
// for it).
TEST_F(StoreTest, FullFileSystemRefusesClearlyAndLeavesNothingHalfWritten) {
    const std::string mountPoint = root_ + "/tiny";
    std::filesystem::create_directories(mountPoint);
    if (::mount("tmpfs", mountPoint.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=1m") != 0) {
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    }
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{mountPoint};
    const std::string store = mountPoint + "/store";
    std::ofstream(config_ + "/mailbroker/profiles.ini", std::ios::binary)
        << "[profile Default]\ndefault = true\ntransport = none\nstore = " << store << "\n";
    openStore();
    IMAPIFolder* outbox = openFolder(PR_IPM_OUTBOX_ENTRYID);
    IMessage* message = newMessage(outbox);
    // Fits as it is, not once encoded into the message file beside it.
    addAttachment(message, 700 * 1024);
    EXPECT_EQ(message->SubmitMessage(FORCE_SUBMIT), MAPI_E_NOT_ENOUGH_DISK);
    EXPECT_TRUE(allFilesUnder(store).empty());
    struct statvfs room {};
    ASSERT_EQ(::statvfs(mountPoint.c_str(), &room), 0);
    message->Release();
    outbox->Release();
    // Whatever was written for the message went with it.
    struct statvfs after {};
    ASSERT_EQ(::statvfs(mountPoint.c_str(), &after), 0);
    EXPECT_GT(after.f_bfree, room.f_bfree);
    EXPECT_TRUE(allFilesUnder(store).empty());
}

}  // namespace
}  // namespace mb::provider::test

namespace mb::provider::test {
namespace {

TEST(Sender, ProfileValuesOrLoginAtHost) {
    Profile profile;
    profile.senderName = "Ana";
    profile.senderAddress = "ana@example.net";
    std::string name, address;
    chooseSender(profile, name, address);
    EXPECT_EQ(name, "Ana");
    EXPECT_EQ(address, "ana@example.net");
    chooseSender(Profile{}, name, address);
    char host[256] = {};
    ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
    const std::size_t at = address.find('@');
    ASSERT_NE(at, std::string::npos);
    EXPECT_GT(at, 0u);
    EXPECT_EQ(address.substr(at + 1), host);
}

}  // namespace
}  // namespace mb::provider::test
