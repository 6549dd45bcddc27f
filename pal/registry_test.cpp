// SPDX-License-Identifier: MIT
// Reading HKEY_CURRENT_USER, asserted as Windows answers. The keys are made
// with the registry's own calls on Windows and written to user.reg here.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "pal/file_test_support.h"
#include "pal/win32.h"

namespace {

using pal_test::ScratchDir;
using pal_test::WString;

struct Entry {
    std::string key;  // below the test's own key
    std::string name;  // "" is the default value
    DWORD type;
    std::vector<BYTE> data;
};

Entry Dword(std::string key, std::string name, DWORD value) {
    return {std::move(key), std::move(name), REG_DWORD,
            {BYTE(value), BYTE(value >> 8), BYTE(value >> 16), BYTE(value >> 24)}};
}

Entry Sz(std::string key, std::string name, const std::string& ascii) {
    std::vector<BYTE> data;
    for (char c : ascii) {
        data.push_back(static_cast<BYTE>(c));
        data.push_back(0);
    }
    data.insert(data.end(), {0, 0});
    return {std::move(key), std::move(name), REG_SZ, data};
}

WString W(const std::string& ascii) {
    return WString(ascii.begin(), ascii.end());
}

// The test's keys live below this one, made fresh for each test.
const std::string kRoot = "Software\\MailbrokerPalTest";

#ifdef _WIN32
class Registry : public ::testing::Test {
  protected:
    void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, W(kRoot).c_str()); }

    void Install(const std::vector<Entry>& entries) {
        for (const Entry& e : entries) {
            HKEY key = nullptr;
            ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, W(kRoot + "\\" + e.key).c_str(), 0,
                                      nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
                      ERROR_SUCCESS);
            ASSERT_EQ(RegSetValueExW(key, W(e.name).c_str(), 0, e.type, e.data.data(),
                                     static_cast<DWORD>(e.data.size())),
                      ERROR_SUCCESS);
            RegCloseKey(key);
        }
    }
};
#else
// Points XDG_CONFIG_HOME at a scratch folder holding winpal/user.reg.
class Registry : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* old = std::getenv("XDG_CONFIG_HOME");
        hadConfig_ = old != nullptr;
        oldConfig_ = old != nullptr ? old : "";
        ::setenv("XDG_CONFIG_HOME", config_.path().c_str(), 1);
        std::filesystem::create_directories(config_ / "winpal");
    }
    void TearDown() override {
        if (hadConfig_) {
            ::setenv("XDG_CONFIG_HOME", oldConfig_.c_str(), 1);
        } else {
            ::unsetenv("XDG_CONFIG_HOME");
        }
    }

    void WriteFile(const std::string& bytes) { config_.write("winpal/user.reg", bytes); }

    // One section per entry: sections naming the same key add up.
    void Install(const std::vector<Entry>& entries) {
        std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
        for (const Entry& e : entries) {
            text += "[HKEY_CURRENT_USER\\" + kRoot + "\\" + e.key + "]\r\n";
            text += e.name.empty() ? "@=" : "\"" + e.name + "\"=";
            char hex[16];
            if (e.type == REG_DWORD) {
                std::snprintf(hex, sizeof hex, "dword:%02x%02x%02x%02x", e.data[3], e.data[2],
                              e.data[1], e.data[0]);
                text += hex;
            } else if (e.type == REG_SZ) {
                text += '"';
                for (size_t i = 0; i + 2 < e.data.size(); i += 2) {
                    char c = static_cast<char>(e.data[i]);
                    text += c == '"' || c == '\\' ? std::string{'\\', c} : std::string{c};
                }
                text += '"';
            } else {
                std::snprintf(hex, sizeof hex, "hex(%x):", unsigned(e.type));
                text += hex;
                for (size_t i = 0; i < e.data.size(); ++i) {
                    std::snprintf(hex, sizeof hex, i == 0 ? "%02x" : ",%02x", e.data[i]);
                    text += hex;
                }
            }
            text += "\r\n\r\n";
        }
        WriteFile(text);
    }

    ScratchDir config_;
    bool hadConfig_ = false;
    std::string oldConfig_;
};
#endif

HKEY Open(const std::string& below, LSTATUS expected = ERROR_SUCCESS) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, W(kRoot + below).c_str(), 0, KEY_READ, &key),
              expected)
        << below;
    return key;
}

// The flag reading the mail commands do: a 4-byte buffer, type and size back.
struct Read {
    LSTATUS status;
    DWORD type;
    DWORD size;
    DWORD value;
};

Read ReadDword(HKEY key, const WCHAR* name) {
    Read r{0, 0xFFFF, 4, 0};
    r.status = RegQueryValueExW(key, name, nullptr, &r.type, reinterpret_cast<BYTE*>(&r.value),
                                &r.size);
    return r;
}

TEST_F(Registry, DwordFlagsAndOtherTypes) {
    Install({Dword("Sendmail", "On", 1), Dword("Sendmail", "Off", 0),
             Dword("Sendmail", "Big", 0xA1B2C3D4), Sz("Sendmail", "Text", "1"),
             Sz("Sendmail", "Long", "true")});
    HKEY key = Open("\\Sendmail");
    ASSERT_NE(key, nullptr);
    Read on = ReadDword(key, WLIT("On"));
    EXPECT_EQ(on.status, ERROR_SUCCESS);
    EXPECT_EQ(on.type, REG_DWORD);
    EXPECT_EQ(on.size, 4u);
    EXPECT_EQ(on.value, 1u);
    EXPECT_EQ(ReadDword(key, WLIT("Off")).value, 0u);
    EXPECT_EQ(ReadDword(key, WLIT("Big")).value, 0xA1B2C3D4u);
    Read text = ReadDword(key, WLIT("Text"));  // "1" and its terminator: 4 bytes
    EXPECT_EQ(text.status, ERROR_SUCCESS);
    EXPECT_EQ(text.type, REG_SZ);
    EXPECT_EQ(text.value, 0x31u);
    Read longer = ReadDword(key, WLIT("Long"));
    EXPECT_EQ(longer.status, ERROR_MORE_DATA);
    EXPECT_EQ(longer.type, REG_SZ);
    EXPECT_EQ(longer.size, 10u);
    EXPECT_EQ(ReadDword(key, WLIT("Absent")).status, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(Registry, SizeFirstThenTheData) {
    Install({Sz("K", "Name", "a \"quoted\\\" value"), Sz("K", "", "default"),
             {"K", "Multi", REG_MULTI_SZ, {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}},
             {"K", "Bytes", REG_BINARY, {}}});
    HKEY key = Open("\\K");
    ASSERT_NE(key, nullptr);
    DWORD type = 0;
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, WLIT("name"), nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    const WString expected = WLIT("a \"quoted\\\" value");
    ASSERT_EQ(size, (expected.size() + 1) * 2);
    std::vector<WCHAR> text(size / 2);
    EXPECT_EQ(RegQueryValueExW(key, WLIT("NAME"), nullptr, nullptr,
                               reinterpret_cast<BYTE*>(text.data()), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(WString(text.data()), expected);

    for (const WCHAR* name : {static_cast<const WCHAR*>(nullptr), WLIT("")}) {
        WCHAR value[16] = {};
        size = sizeof value;
        EXPECT_EQ(RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value),
                                   &size),
                  ERROR_SUCCESS);
        EXPECT_EQ(WString(value), WLIT("default"));
    }
    BYTE multi[16];
    size = sizeof multi;
    EXPECT_EQ(RegQueryValueExW(key, WLIT("Multi"), nullptr, &type, multi, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_MULTI_SZ);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(RegQueryValueExW(key, WLIT("Bytes"), nullptr, &type, multi, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(Registry, KeysFoundCaseInsensitivelyAndThroughTheirParents) {
    Install({Dword("Varnek\\Pellion Tavro\\10.0\\Sendmail", "bFlag", 1)});
    HKEY key = Open("\\varnek\\PELLION TAVRO\\10.0\\sendmail\\");
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(ReadDword(key, WLIT("BFLAG")).value, 1u);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

    HKEY parent = Open("\\Varnek");  // exists because a key below it does
    ASSERT_NE(parent, nullptr);
    HKEY child = nullptr;
    EXPECT_EQ(RegOpenKeyExW(parent, WLIT("Pellion Tavro\\10.0\\Sendmail"), 0, KEY_READ, &child),
              ERROR_SUCCESS);
    EXPECT_EQ(ReadDword(child, WLIT("bFlag")).value, 1u);
    EXPECT_EQ(RegCloseKey(child), ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyExW(parent, WLIT("Pellion"), 0, KEY_READ, &child), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(parent), ERROR_SUCCESS);
    Open("\\Varnek\\Varnek Pellion\\10.0\\Sendmail", ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, BadHandlesAndArguments) {
    Install({Dword("K", "On", 1)});
    HKEY key = Open("\\K");
    ASSERT_NE(key, nullptr);
    DWORD reserved = 0;
    DWORD value = 0;
    EXPECT_EQ(RegQueryValueExW(key, WLIT("On"), &reserved, nullptr, nullptr, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegQueryValueExW(key, WLIT("On"), nullptr, nullptr,
                               reinterpret_cast<BYTE*>(&value), nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, W(kRoot).c_str(), 0, KEY_READ, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(ReadDword(key, WLIT("On")).status, ERROR_INVALID_HANDLE);
    HKEY bogus = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x7FFC));
    EXPECT_EQ(RegOpenKeyExW(bogus, WLIT("K"), 0, KEY_READ, &key), ERROR_INVALID_HANDLE);
    // The registry answers through its result and leaves the last error alone.
    SetLastError(1234);
    Open("\\Absent", ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetLastError(), 1234u);
}

#ifndef _WIN32
// Only reading is provided; on Windows a user may write below HKEY_CURRENT_USER.
TEST_F(Registry, WriteAccessIsRefused) {
    Install({Dword("K", "On", 1)});
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, W(kRoot + "\\K").c_str(), 0, KEY_READ | 0x2, &key),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(key, nullptr);
}

// The file itself: what the export format allows, and what must not stop it.
TEST_F(Registry, MalformedLinesAreSkippedAndTheRestCounts) {
    WriteFile(
        "\xEF\xBB\xBFWindows Registry Editor Version 5.00\n"
        "; a comment\n"
        "[HKEY_CURRENT_USER\\Software\\MailbrokerPalTest\\K]\n"
        "\"Before\"=dword:00000001\n"
        "this line means nothing\n"
        "\"TooLong\"=dword:000000001\n"
        "\"Unclosed=dword:00000001\n"
        "\"Odd\"=hex:1,zz\n"
        "\"Bin\"=hex(3):01,02,\\\n"
        "   03,04\n"
        "\"After\" = dword:2 ; set by hand\n"
        "\"Gone\"=dword:1\n"
        "\"Gone\"=-\n"
        "[HKEY_CURRENT_USER\\Software\\\\Broken]\n"
        "\"After\"=dword:00000009\n"
        "[HKEY_LOCAL_MACHINE\\Software\\MailbrokerPalTest\\K]\n"
        "\"Before\"=dword:00000009\n");
    HKEY key = Open("\\K");
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(ReadDword(key, WLIT("Before")).value, 1u);
    EXPECT_EQ(ReadDword(key, WLIT("After")).value, 2u);
    for (const WCHAR* name : {WLIT("TooLong"), WLIT("Unclosed"), WLIT("Odd"), WLIT("Gone")}) {
        EXPECT_EQ(ReadDword(key, name).status, ERROR_FILE_NOT_FOUND);
    }
    Read bin = ReadDword(key, WLIT("Bin"));
    EXPECT_EQ(bin.type, REG_BINARY);
    EXPECT_EQ(bin.value, 0x04030201u);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(Registry, Utf16FilesAndTheOlderHeader) {
    const std::string text =
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\MailbrokerPalTest\\K]\r\n\"On\"=dword:00000003\r\n";
    std::string utf16 = "\xFF\xFE";
    for (char c : text) {
        utf16 += c;
        utf16 += '\0';
    }
    WriteFile(utf16);
    HKEY key = Open("\\K");
    EXPECT_EQ(ReadDword(key, WLIT("On")).value, 3u);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

    WriteFile("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\MailbrokerPalTest\\K]\n\"On\"=dword:4\n");
    key = Open("\\K");  // read afresh at each open
    EXPECT_EQ(ReadDword(key, WLIT("On")).value, 4u);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

    WriteFile("[HKEY_CURRENT_USER\\Software\\MailbrokerPalTest\\K]\n\"On\"=dword:4\n");
    Open("\\K", ERROR_FILE_NOT_FOUND);  // no header: not a registry file

    WriteFile("REGEDIT4\n[HKEY_CURRENT_USER\\Software\\MailbrokerPalTest\\K\\Sub]\n\"On\"=dword:4\n"
              "[-HKEY_CURRENT_USER\\Software\\MailbrokerPalTest]\n");
    Open("\\K", ERROR_FILE_NOT_FOUND);  // removed with the key above it
}

TEST_F(Registry, MissingOrStrangeFilesAreAnEmptyRegistry) {
    Open("\\K", ERROR_FILE_NOT_FOUND);  // no user.reg at all
    std::filesystem::create_directory(config_ / "winpal" / "user.reg");
    Open("\\K", ERROR_FILE_NOT_FOUND);
    std::filesystem::remove(config_ / "winpal" / "user.reg");
    ASSERT_EQ(::mkfifo((config_ / "winpal" / "user.reg").c_str(), 0600), 0);
    Open("\\K", ERROR_FILE_NOT_FOUND);  // a FIFO without a writer must not hold the open
    HKEY root = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, WLIT("Software"), 0, KEY_READ, &root),
              ERROR_FILE_NOT_FOUND);
}
#endif

}  // namespace
