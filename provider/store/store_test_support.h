// SPDX-License-Identifier: MIT
// Test helpers for the store: a logged-on session with its store, files in
// a Maildir, the independent parser's description of a message, and the
// canonical JSON that description is compared with.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "provider/com/provider_test_support.h"

namespace mb::provider::test {

// JSON as Python's json.dumps(sort_keys=True, ensure_ascii=True,
// separators=(",", ":")) writes it; callers list object keys in sorted order.
inline std::string jsonString(const std::string& utf8) {
    std::string out = "\"";
    const std::u16string wide = [&] {
        std::u16string w;
        for (std::size_t i = 0; i < utf8.size();) {
            unsigned char c = static_cast<unsigned char>(utf8[i]);
            char32_t cp = c;
            std::size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
            if (n > 1) {
                cp = c & (0xFF >> (n + 1));
                for (std::size_t k = 1; k < n; ++k) {
                    cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
                }
            }
            if (cp >= 0x10000) {
                w += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
                w += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
            } else {
                w += static_cast<char16_t>(cp);
            }
            i += n;
        }
        return w;
    }();
    for (char16_t u : wide) {
        switch (u) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (u < 0x20 || u > 0x7E) {
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(u));
                    out += escape;
                } else {
                    out += static_cast<char>(u);
                }
        }
    }
    return out + "\"";
}

struct Mailbox {
    std::string name, address;
};

inline std::string jsonMailboxes(const std::vector<Mailbox>& boxes) {
    std::string out = "[";
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        out +=
            (i ? ",[" : "[") + jsonString(boxes[i].name) + "," + jsonString(boxes[i].address) + "]";
    }
    return out + "]";
}

// What parse_eml.py prints for a file, without the trailing newline; the
// parser's error text on failure.
inline std::string parseEml(const std::string& path) {
    const std::string command =
        std::string(MB_PYTHON) + " " + MB_PARSE_EML + " '" + path + "' 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return "popen failed";
    }
    std::string out;
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        out.append(buffer, got);
    }
    const int status = ::pclose(pipe);
    if (!out.empty() && out.back() == '\n') {
        out.pop_back();
    }
    return status == 0 ? out : "parser failed: " + out;
}

// The regular files in a directory, sorted; none when it does not exist.
inline std::vector<std::string> filesIn(const std::string& dir) {
    std::vector<std::string> out;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
        out.push_back(entry.path().string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

// Every file under a directory tree.
inline std::vector<std::string> allFilesUnder(const std::string& dir) {
    std::vector<std::string> out;
    std::error_code error;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir, error)) {
        if (entry.is_regular_file()) {
            out.push_back(entry.path().string());
        }
    }
    return out;
}

inline std::string sha256Hex(const std::string& path) {
    const std::string command = "sha256sum '" + path + "'";
    FILE* pipe = ::popen(command.c_str(), "r");
    char buffer[128] = {};
    const std::size_t got = pipe ? std::fread(buffer, 1, 64, pipe) : 0;
    if (pipe) {
        ::pclose(pipe);
    }
    return std::string(buffer, got);
}

class StoreTest : public ProviderTest {
  protected:
    // Tests that want another profile write their own over this one.
    void SetUp() override {
        ProviderTest::SetUp();
        writeOutboxOnlyProfile(config_);
    }

    void TearDown() override {
        if (store_ != nullptr) {
            store_->Release();
        }
        if (session_ != nullptr) {
            session_->Release();
        }
        ProviderTest::TearDown();
    }

    std::string storeRoot() const { return data_ + "/mailbroker/Default"; }
    std::string folderPath(const char* name) const { return storeRoot() + "/" + name; }

    // Logs on (after writeProfiles, when a test wants a profile of its own).
    void logon() { ASSERT_EQ(MAPILogonEx(0, nullptr, nullptr, 0x63, &session_), S_OK); }

    // Logs on and opens the default store as the Broker does.
    void openStore() {
        logon();
        IMAPITable* table = nullptr;
        ASSERT_EQ(session_->GetMsgStoresTable(0, &table), S_OK);
        SizedSPropTagArray(2, columns) = {2, {PR_DEFAULT_STORE, PR_ENTRYID}};
        ASSERT_EQ(table->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), 0), S_OK);
        SRowSet* rows = nullptr;
        ASSERT_EQ(table->QueryRows(1, 0, &rows), S_OK);
        ASSERT_EQ(rows->cRows, 1u);
        ASSERT_EQ(rows->aRow[0].lpProps[0].Value.b, 1);
        const SBinary& id = rows->aRow[0].lpProps[1].Value.bin;
        ASSERT_EQ(session_->OpenMsgStore(0, id.cb, reinterpret_cast<LPENTRYID>(id.lpb), nullptr,
                                         MDB_WRITE, &store_),
                  S_OK);
        MAPIFreeBuffer(rows->aRow[0].lpProps);
        MAPIFreeBuffer(rows);
        table->Release();
    }

    // Opens the folder whose identifier the store gives under tag.
    IMAPIFolder* openFolder(ULONG tag) {
        SizedSPropTagArray(1, tags) = {1, {tag}};
        ULONG count = 0;
        SPropValue* values = nullptr;
        EXPECT_EQ(store_->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &values),
                  S_OK);
        if (count != 1 || values == nullptr) {
            return nullptr;
        }
        ULONG type = 0;
        IUnknown* folder = nullptr;
        EXPECT_EQ(store_->OpenEntry(values[0].Value.bin.cb,
                                    reinterpret_cast<LPENTRYID>(values[0].Value.bin.lpb), nullptr,
                                    MAPI_BEST_ACCESS, &type, &folder),
                  S_OK);
        MAPIFreeBuffer(values);
        EXPECT_EQ(type, MAPI_FOLDER);
        return static_cast<IMAPIFolder*>(folder);
    }

    IMAPISession* session_ = nullptr;
    IMsgStore* store_ = nullptr;
};

}  // namespace mb::provider::test
