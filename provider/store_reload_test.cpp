// SPDX-License-Identifier: MIT
// Loads and unloads libmapi32.so as the Broker does for every request,
// filing a message each time: the MIME libraries must come in on first use,
// stay loaded across provider reloads, and start once per process, also
// when several threads load the provider at the same time.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "base/temp_dir_test_support.h"
#include "mapi/mapi.h"
#include "provider/com/provider_test_support.h"

namespace {

struct Api {
    void* library = nullptr;
    LPMAPIINITIALIZE initialize = nullptr;
    LPMAPIUNINITIALIZE uninitialize = nullptr;
    LPMAPILOGONEX logon = nullptr;
    LPMAPIFREEBUFFER freeBuffer = nullptr;
};

bool load(Api& api) {
    api.library = dlopen(MB_MAPI32_PATH, RTLD_NOW | RTLD_LOCAL);
    if (api.library == nullptr) {
        return false;
    }
    api.initialize = reinterpret_cast<LPMAPIINITIALIZE>(dlsym(api.library, "MAPIInitialize"));
    api.uninitialize = reinterpret_cast<LPMAPIUNINITIALIZE>(dlsym(api.library, "MAPIUninitialize"));
    api.logon = reinterpret_cast<LPMAPILOGONEX>(dlsym(api.library, "MAPILogonEx"));
    api.freeBuffer = reinterpret_cast<LPMAPIFREEBUFFER>(dlsym(api.library, "MAPIFreeBuffer"));
    return api.initialize && api.uninitialize && api.logon && api.freeBuffer;
}

// One request's worth: load, log on, submit a message, and unload.
void cycle(const std::string& subject) {
    Api api;
    ASSERT_TRUE(load(api)) << dlerror();
    ASSERT_EQ(api.initialize(nullptr), S_OK);
    IMAPISession* session = nullptr;
    ASSERT_EQ(api.logon(0, nullptr, nullptr, 0x63, &session), S_OK);
    IMAPITable* table = nullptr;
    ASSERT_EQ(session->GetMsgStoresTable(0, &table), S_OK);
    SRowSet* rows = nullptr;
    SizedSPropTagArray(2, columns) = {2, {PR_DEFAULT_STORE, PR_ENTRYID}};
    ASSERT_EQ(table->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), 0), S_OK);
    ASSERT_EQ(table->QueryRows(1, 0, &rows), S_OK);
    const SBinary& id = rows->aRow[0].lpProps[1].Value.bin;
    IMsgStore* store = nullptr;
    ASSERT_EQ(session->OpenMsgStore(0, id.cb, reinterpret_cast<LPENTRYID>(id.lpb), nullptr,
                                    MDB_WRITE, &store),
              S_OK);
    SizedSPropTagArray(1, outboxTag) = {1, {PR_IPM_OUTBOX_ENTRYID}};
    ULONG count = 0;
    SPropValue* outboxId = nullptr;
    ASSERT_EQ(store->GetProps(reinterpret_cast<LPSPropTagArray>(&outboxTag), 0, &count, &outboxId),
              S_OK);
    IUnknown* unknown = nullptr;
    ULONG type = 0;
    ASSERT_EQ(store->OpenEntry(outboxId[0].Value.bin.cb,
                               reinterpret_cast<LPENTRYID>(outboxId[0].Value.bin.lpb), nullptr,
                               MAPI_BEST_ACCESS, &type, &unknown),
              S_OK);
    auto* outbox = static_cast<IMAPIFolder*>(unknown);
    IMessage* message = nullptr;
    ASSERT_EQ(outbox->CreateMessage(nullptr, 0, &message), S_OK);
    SPropValue value{};
    value.ulPropTag = PR_SUBJECT_A;
    value.Value.lpszA = const_cast<char*>(subject.c_str());
    ASSERT_EQ(message->SetProps(1, &value, nullptr), S_OK);
    EXPECT_EQ(message->SubmitMessage(FORCE_SUBMIT), S_OK);
    message->Release();
    outbox->Release();
    api.freeBuffer(outboxId);
    store->Release();
    api.freeBuffer(rows->aRow[0].lpProps);
    api.freeBuffer(rows);
    table->Release();
    EXPECT_EQ(session->Logoff(0, 0, 0), S_OK);
    session->Release();
    api.uninitialize();
    EXPECT_EQ(dlclose(api.library), 0);
}

class Reload : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(setenv("XDG_CONFIG_HOME", (root_ + "/config").c_str(), 1), 0);
        ASSERT_EQ(setenv("XDG_DATA_HOME", (root_ + "/data").c_str(), 1), 0);
        mb::provider::test::writeOutboxOnlyProfile(root_ + "/config");
    }
    std::size_t filed() const {
        std::size_t n = 0;
        std::error_code error;
        for (auto it = std::filesystem::directory_iterator(
                 root_ + "/data/mailbroker/Default/Outbox/new", error);
             !error && it != std::filesystem::directory_iterator(); ++it) {
            ++n;
        }
        return n;
    }
    mb::test::TempDir temp_{"reload"};
    std::string root_ = temp_.path();
};

TEST_F(Reload, FiftyLoadsEachFilingAMessage) {
    const std::string renderer =
        std::filesystem::path(MB_MAPI32_PATH).parent_path().string() + "/libmbmime.so";
    for (int i = 0; i < 50; ++i) {
        cycle("message " + std::to_string(i));
        // The provider is gone after each request; the renderer stays.
        EXPECT_EQ(dlopen(MB_MAPI32_PATH, RTLD_NOW | RTLD_NOLOAD), nullptr);
        void* stays = dlopen(renderer.c_str(), RTLD_NOW | RTLD_NOLOAD);
        EXPECT_NE(stays, nullptr);
        if (stays != nullptr) {
            dlclose(stays);
        }
    }
    EXPECT_EQ(filed(), 50u);
}

TEST_F(Reload, FourThreadsLoadingAtOnce) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 50; ++i) {
                cycle("thread " + std::to_string(t) + " message " + std::to_string(i));
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(filed(), 200u);
}

}  // namespace
