// SPDX-License-Identifier: MIT
#include "provider/session.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <fstream>

#include "provider/com/provider_test_support.h"

namespace mb::provider::test {
namespace {

using Logon = ProviderTest;

constexpr ULONG kBrokerFlags = 0x63;  // LOGON_UI | NEW_SESSION | EXTENDED | USE_DEFAULT

TEST_F(Logon, BrokerLogonUsesTheBuiltInDefault) {
    static_assert(kBrokerFlags ==
                  (MAPI_LOGON_UI | MAPI_NEW_SESSION | MAPI_EXTENDED | MAPI_USE_DEFAULT));
    IMAPISession* session = nullptr;
    ASSERT_EQ(MAPILogonEx(0, nullptr, nullptr, kBrokerFlags, &session), S_OK);
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(static_cast<Session*>(session)->profile().name, "Default");
    EXPECT_EQ(session->Logoff(0, 0, 0), S_OK);
    IMAPITable* stores = nullptr;
    ASSERT_EQ(session->GetMsgStoresTable(0, &stores), S_OK);
    ULONG rows = 0;
    EXPECT_EQ(stores->GetRowCount(0, &rows), S_OK);
    EXPECT_EQ(rows, 1u);  // the profile's one store
    stores->Release();
    EXPECT_EQ(session->Release(), 0u);
}

// Files in a Maildir's tmp/ are what a writer that died left behind; logon
// removes them once they are older than 36 hours, and only then.
TEST_F(Logon, RemovesFilesLeftInTmpForMoreThan36Hours) {
    const std::string store = data_ + "/mailbroker/Default";
    const std::time_t now = std::time(nullptr);
    const auto place = [&](const std::string& relative, std::time_t mtime) {
        const std::string path = store + "/" + relative;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path) << std::string(1000, 'x');
        const struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
        EXPECT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
        return path;
    };
    const std::time_t old = now - 37 * 3600;
    const std::vector<std::string> stale = {place("Outbox/tmp/1.crashed", old),
                                            place("Drafts/tmp/2.crashed", old),
                                            place("Sent Items/tmp/3.crashed", now - 40 * 86400),
                                            place("Undeliverable/tmp/4.crashed", old)};
    const std::vector<std::string> kept = {place("Outbox/tmp/5.writing", now - 35 * 3600),
                                           place("Outbox/tmp/6.writing", now),
                                           place("Outbox/new/7.queued", old),
                                           place("Drafts/cur/8.read", old)};
    IMAPISession* session = nullptr;
    ASSERT_EQ(MAPILogonEx(0, nullptr, nullptr, kBrokerFlags, &session), S_OK);
    EXPECT_EQ(session->Release(), 0u);
    for (const std::string& path : stale) {
        EXPECT_FALSE(std::filesystem::exists(path)) << path;
    }
    for (const std::string& path : kept) {
        EXPECT_TRUE(std::filesystem::exists(path)) << path;
    }
}

TEST_F(Logon, ChoosesTheMarkedDefaultOrTheNamedProfile) {
    writeProfiles("[profile home]\n[profile work]\ndisplay_name = Work Mail\ndefault = 1\n");
    IMAPISession* session = nullptr;
    ASSERT_EQ(MAPILogonEx(0, nullptr, nullptr, kBrokerFlags, &session), S_OK);
    EXPECT_EQ(static_cast<Session*>(session)->profile().name, "work");
    session->Release();
    char home[] = "home";
    ASSERT_EQ(MAPILogonEx(0, home, nullptr, MAPI_EXTENDED, &session), S_OK);
    EXPECT_EQ(static_cast<Session*>(session)->profile().name, "home");
    session->Release();
    char display[] = "Work Mail";
    ASSERT_EQ(MAPILogonEx(0, display, nullptr, MAPI_EXTENDED, &session), S_OK);
    EXPECT_EQ(static_cast<Session*>(session)->profile().name, "work");
    session->Release();
    char unknown[] = "nobody";
    EXPECT_EQ(MAPILogonEx(0, unknown, nullptr, MAPI_EXTENDED, &session), MAPI_E_LOGON_FAILED);
    EXPECT_EQ(session, nullptr);
}

TEST_F(Logon, FailuresAreReported) {
    IMAPISession* session = nullptr;
    // No name and no MAPI_USE_DEFAULT: no profile dialog exists yet.
    EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, MAPI_EXTENDED, &session), MAPI_E_LOGON_FAILED);
    EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, kBrokerFlags, nullptr), MAPI_E_INVALID_PARAMETER);

    writeProfiles("[profile home]\n");
    EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, MAPI_EXTENDED | MAPI_USE_DEFAULT, &session),
              MAPI_E_LOGON_FAILED);
    EXPECT_EQ(session, nullptr);

    writeProfiles("[profile home]\ndefault = sometimes\n");
    EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, kBrokerFlags, &session), MAPI_E_CORRUPT_DATA);
    EXPECT_EQ(session, nullptr);

    MAPIUninitialize();
    EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, kBrokerFlags, &session), MAPI_E_NOT_INITIALIZED);
    ASSERT_EQ(MAPIInitialize(nullptr), S_OK);  // for TearDown
}

TEST_F(Logon, WithoutADefaultTheLogonDialogDecides) {
    writeProfiles("[profile home]\n[profile work]\n");
    IMAPISession* session = nullptr;
    ::unsetenv("MAILBROKER_UI_SCRIPT");
    EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, kBrokerFlags, &session), MAPI_E_USER_CANCEL);
    EXPECT_EQ(session, nullptr);

    const std::string script = iniPath() + ".ui";
    std::ofstream(script) << "logon ok\n";
    ::setenv("MAILBROKER_UI_SCRIPT", script.c_str(), 1);
    ASSERT_EQ(MAPILogonEx(0, nullptr, nullptr, kBrokerFlags, &session), S_OK);
    EXPECT_EQ(static_cast<Session*>(session)->profile().name, "home");
    session->Release();

    std::ofstream(script) << "logon pick 2\n";
    ASSERT_EQ(MAPILogonEx(0, nullptr, nullptr, kBrokerFlags, &session), S_OK);
    EXPECT_EQ(static_cast<Session*>(session)->profile().name, "work");
    session->Release();

    std::ofstream(script) << "logon pick 3\n";  // offered two
    EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, kBrokerFlags, &session), MAPI_E_NOT_FOUND);
    EXPECT_EQ(session, nullptr);

    std::ofstream(script) << "logon cancel\n";
    EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, kBrokerFlags, &session), MAPI_E_USER_CANCEL);
    ::unsetenv("MAILBROKER_UI_SCRIPT");
}

TEST_F(Logon, TheEnvironmentMayNameTheProfile) {
    writeProfiles("[profile home]\ndefault = true\n[profile work]\ndisplay_name = Work mail\n");
    IMAPISession* session = nullptr;
    ::setenv("MAILBROKER_PROFILE", "Work mail", 1);
    ASSERT_EQ(MAPILogonEx(0, nullptr, nullptr, kBrokerFlags, &session), S_OK);
    EXPECT_EQ(static_cast<Session*>(session)->profile().name, "work");
    session->Release();
    char home[] = "home";  // a name the caller passes still wins
    ASSERT_EQ(MAPILogonEx(0, home, nullptr, kBrokerFlags, &session), S_OK);
    EXPECT_EQ(static_cast<Session*>(session)->profile().name, "home");
    session->Release();
    ::setenv("MAILBROKER_PROFILE", "gone", 1);
    EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, kBrokerFlags, &session), MAPI_E_LOGON_FAILED);
    EXPECT_EQ(session, nullptr);
    ::unsetenv("MAILBROKER_PROFILE");
}

TEST_F(Logon, InitialisationNests) {
    // The fixture holds one initialisation; two more, then three releases.
    MAPIINIT_0 init{MAPI_INIT_VERSION, MAPI_MULTITHREAD_NOTIFICATIONS};
    ASSERT_EQ(MAPIInitialize(&init), S_OK);
    ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
    MAPIUninitialize();
    MAPIUninitialize();
    IMAPISession* session = nullptr;
    ASSERT_EQ(MAPILogonEx(0, nullptr, nullptr, kBrokerFlags, &session), S_OK);
    session->Release();
    MAPIUninitialize();
    MAPIUninitialize();  // one too many: harmless
    EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, kBrokerFlags, &session), MAPI_E_NOT_INITIALIZED);
    MAPIINIT_0 future{1, 0};
    EXPECT_EQ(MAPIInitialize(&future), MAPI_E_VERSION);
    ASSERT_EQ(MAPIInitialize(nullptr), S_OK);  // for TearDown
}

}  // namespace
}  // namespace mb::provider::test
