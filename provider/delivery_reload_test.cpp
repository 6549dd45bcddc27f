// SPDX-License-Identifier: MIT
// Delivery from libmapi32.so loaded and unloaded as the Broker does for every
// request: libcurl comes in on the first SMTP delivery and must stay usable
// across provider reloads.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "base/temp_dir_test_support.h"
#include "mapi/mapi.h"
#include "provider/transport/smtp_test_support.h"

namespace mb::provider::test {
namespace {

// One request: load, log on (which delivers the Outbox), log off, unload.
void logonOnce() {
    void* library = dlopen(MB_MAPI32_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    auto initialize = reinterpret_cast<LPMAPIINITIALIZE>(dlsym(library, "MAPIInitialize"));
    auto uninitialize = reinterpret_cast<LPMAPIUNINITIALIZE>(dlsym(library, "MAPIUninitialize"));
    auto logon = reinterpret_cast<LPMAPILOGONEX>(dlsym(library, "MAPILogonEx"));
    ASSERT_TRUE(initialize && uninitialize && logon);
    ASSERT_EQ(initialize(nullptr), S_OK);
    IMAPISession* session = nullptr;
    ASSERT_EQ(logon(0, nullptr, nullptr, 0x63, &session), S_OK);
    session->Logoff(0, 0, 0);
    session->Release();
    uninitialize();
    dlclose(library);
}

TEST(DeliveryReload, EachLoadOfTheProviderDeliversThroughSmtp) {
    const mb::test::TempDir temp("delivery-reload");
    const std::string& root = temp.path();
    SmtpServer server(root + "/smtp", "accept");
    std::filesystem::create_directories(root + "/config/mailbroker");
    std::ofstream(root + "/config/mailbroker/profiles.ini")
        << "[profile Default]\ndefault = true\nsender_address = me@example.org\nstore = " << root
        << "/store\ntransport = " << server.url() << "\ntimeout = 5\n";
    setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    const std::string outbox = root + "/store/Outbox/new/";
    std::filesystem::create_directories(outbox);
    for (int round = 1; round <= 3; ++round) {
        std::ofstream(outbox + std::to_string(round) + ".queued")
            << "To: you@example.org\nSubject: round " << round
            << "\nX-Mailbroker-Submitted: yes\n\nbody\n";
        logonOnce();
        EXPECT_TRUE(std::filesystem::is_empty(outbox));
        EXPECT_EQ(server.received().size(), static_cast<std::size_t>(round));
    }
    server.stop();
}

}  // namespace
}  // namespace mb::provider::test
