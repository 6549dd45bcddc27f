// SPDX-License-Identifier: MIT
#include "provider/store/stream.h"

#include "provider/store/store_test_support.h"

namespace mb::provider::test {
namespace {

class AttachmentStream : public StoreTest {
  protected:
    void SetUp() override {
        StoreTest::SetUp();
        openStore();
        folder_ = openFolder(PR_IPM_DRAFTS_ENTRYID);
        ASSERT_EQ(folder_->CreateMessage(nullptr, 0, &message_), S_OK);
        ULONG number = 0;
        ASSERT_EQ(message_->CreateAttach(nullptr, 0, &number, &attach_), S_OK);
    }
    void TearDown() override {
        attach_->Release();
        message_->Release();
        folder_->Release();
        StoreTest::TearDown();
    }
    IStream* open(ULONG flags) {
        IUnknown* unknown = nullptr;
        const HRESULT hr =
            attach_->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IStream, 0, flags, &unknown);
        return hr == S_OK ? static_cast<IStream*>(unknown) : nullptr;
    }

    IMAPIFolder* folder_ = nullptr;
    IMessage* message_ = nullptr;
    IAttach* attach_ = nullptr;
};

TEST_F(AttachmentStream, WritesReadBackAfterCommit) {
    EXPECT_EQ(open(0), nullptr);  // no data yet, and no MAPI_CREATE
    IStream* stream = open(MAPI_CREATE | MAPI_MODIFY);
    ASSERT_NE(stream, nullptr);
    ULONG done = 0;
    ASSERT_EQ(stream->Write("hello world", 11, &done), S_OK);
    EXPECT_EQ(done, 11u);
    LARGE_INTEGER to{};
    to.QuadPart = 6;
    ULARGE_INTEGER at{};
    ASSERT_EQ(stream->Seek(to, STREAM_SEEK_SET, &at), S_OK);
    EXPECT_EQ(at.QuadPart, 6u);
    char buffer[16] = {};
    ASSERT_EQ(stream->Read(buffer, sizeof buffer, &done), S_OK);
    EXPECT_EQ(std::string(buffer, done), "world");
    to.QuadPart = -20;
    EXPECT_EQ(stream->Seek(to, STREAM_SEEK_CUR, &at), STG_E_INVALIDFUNCTION);
    ULARGE_INTEGER size{};
    size.QuadPart = 5;
    ASSERT_EQ(stream->SetSize(size), S_OK);
    ASSERT_EQ(stream->Commit(0), S_OK);
    stream->Release();

    // Opened again read-only: the committed, truncated data, and no writing.
    stream = open(0);
    ASSERT_NE(stream, nullptr);
    STATSTG stat{};
    ASSERT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(stat.cbSize.QuadPart, 5u);
    EXPECT_EQ(stream->Write("x", 1, &done), STG_E_ACCESSDENIED);
    ASSERT_EQ(stream->Read(buffer, sizeof buffer, &done), S_OK);
    EXPECT_EQ(std::string(buffer, done), "hello");
    stream->Release();

    SizedSPropTagArray(1, tags) = {1, {PR_ATTACH_SIZE}};
    ULONG count = 0;
    SPropValue* values = nullptr;
    ASSERT_EQ(attach_->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &values),
              S_OK);
    EXPECT_EQ(values[0].Value.l, 5);
    MAPIFreeBuffer(values);
}

TEST_F(AttachmentStream, UncommittedStreamLeavesTheDataAlone) {
    IStream* stream = open(MAPI_CREATE | MAPI_MODIFY);
    ASSERT_NE(stream, nullptr);
    ULONG done = 0;
    ASSERT_EQ(stream->Write("lost", 4, &done), S_OK);
    stream->Release();
    EXPECT_EQ(open(0), nullptr);
    EXPECT_EQ(attach_->OpenProperty(PR_BODY_A, &IID_IStream, 0, 0, nullptr),
              MAPI_E_INVALID_PARAMETER);
    IUnknown* unknown = nullptr;
    EXPECT_EQ(attach_->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IMessage, 0, MAPI_CREATE | MAPI_MODIFY,
                                    &unknown),
              MAPI_E_INTERFACE_NOT_SUPPORTED);
}

TEST_F(AttachmentStream, DataSetAsAValueIsFiledToo) {
    SPropValue values[2] = {};
    values[0].ulPropTag = PR_ATTACH_FILENAME_A;
    values[0].Value.lpszA = const_cast<char*>("note.txt");
    values[1].ulPropTag = PR_ATTACH_DATA_BIN;
    BYTE bytes[] = {'a', 'b', 'c'};
    values[1].Value.bin = {sizeof bytes, bytes};
    ASSERT_EQ(attach_->SetProps(2, values, nullptr), S_OK);
    ASSERT_EQ(attach_->SaveChanges(0), S_OK);
    ASSERT_EQ(message_->SaveChanges(0), S_OK);
    const auto drafts = filesIn(folderPath("Drafts/new"));
    ASSERT_EQ(drafts.size(), 1u);
    const std::string json = parseEml(drafts[0]);
    EXPECT_NE(json.find("\"filename\":\"note.txt\",\"name_param\":\"note.txt\",\"sha256\":"
                        "\"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\","
                        "\"size\":3"),
              std::string::npos)
        << json;
}

}  // namespace
}  // namespace mb::provider::test
