// SPDX-License-Identifier: MIT
#include "broker/security_utils.h"

#include <gtest/gtest.h>

#include <string>

#ifdef _WIN32
#include <sddl.h>
#endif

#include "foundation/ks_exception.h"
#include "foundation/ks_string_test_support.h"

namespace {

using namespace KsSecurityUtilsWin;
using ks_test::messageOf;

TEST(SecurityUtils, AttributesCarryTheDescriptorAndAreNotInherited) {
    SECURITY_ATTRIBUTES attributes;
    attributes.nLength = 0;
    attributes.bInheritHandle = TRUE;
    attributes.lpSecurityDescriptor = nullptr;
    PSECURITY_DESCRIPTOR descriptor = createCurrentUserSecurityAttributes(attributes);
    CLocalFreeGuard guard(descriptor);
    ASSERT_NE(descriptor, nullptr);
    EXPECT_EQ(attributes.nLength, sizeof(SECURITY_ATTRIBUTES));
    EXPECT_EQ(attributes.bInheritHandle, FALSE);
    EXPECT_EQ(attributes.lpSecurityDescriptor, descriptor);
}

TEST(SecurityUtils, PipeWithTheDescriptorAdmitsItsOwnUser) {
    SECURITY_ATTRIBUTES attributes;
    CLocalFreeGuard guard(createCurrentUserSecurityAttributes(attributes));
    const std::string path =
        "\\\\.\\pipe\\mbsec-" + std::to_string(GetCurrentProcessId());
    HANDLE server = CreateNamedPipeA(path.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                     PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 255, 4096, 4096,
                                     0, &attributes);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    HANDLE client = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(client, INVALID_HANDLE_VALUE);
    SetLastError(0);
    EXPECT_FALSE(ConnectNamedPipe(server, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PIPE_CONNECTED));
    CloseHandle(client);
    CloseHandle(server);
}

TEST(SecurityUtils, TokenUserNamesASid) {
    HANDLE token = getCurrentToken();
    ASSERT_NE(token, nullptr);
    CLocalFreeGuard info(queryTokenInformation(token, TokenUser));
    LPSTR text = nullptr;
    ASSERT_TRUE(ConvertSidToStringSidA(static_cast<TOKEN_USER*>(info.get())->User.Sid, &text));
    EXPECT_EQ(std::string(text).rfind("S-1-", 0), 0u) << text;
    LocalFree(text);
    CloseHandle(token);
}

TEST(SecurityUtils, QueryOnANonTokenFailsWithTheSizeText) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    try {
        queryTokenInformation(event, TokenUser);
        ADD_FAILURE() << "no exception";
    } catch (const KsException& e) {
        EXPECT_EQ(messageOf(e), "unable to get size of token info");
    }
    CloseHandle(event);
}

}  // namespace
