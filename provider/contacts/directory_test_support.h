// SPDX-License-Identifier: MIT
// Test helpers for the address book: a private folder for vCard files, and
// recipient lists laid out as the Broker lays them out.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "base/temp_dir_test_support.h"
#include "provider/com/allocation.h"
#include "provider/com/exports.h"

namespace mb::provider::test {

class CardFolder {
  public:
    CardFolder() = default;
    CardFolder(const CardFolder&) = delete;
    CardFolder& operator=(const CardFolder&) = delete;

    // Writes name (folders made as needed) and returns its path.
    std::string write(const std::string& name, const std::string& text) const {
        const std::filesystem::path path = std::filesystem::path(root()) / name;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << text;
        return path.string();
    }
    const std::string& root() const { return dir_.path(); }

  private:
    mb::test::TempDir dir_{"ab"};
};

// One 4.0 card.
inline std::string card(const std::string& body) {
    return "BEGIN:VCARD\r\nVERSION:4.0\r\n" + body + "END:VCARD\r\n";
}

// A group card whose name is also its UID, listing `members` (URIs) in order.
inline std::string group(const std::string& name, const std::vector<std::string>& members) {
    std::string body = "KIND:group\r\nFN:" + name + "\r\nUID:" + name + "\r\n";
    for (const std::string& m : members) {
        body += "MEMBER:" + m + "\r\n";
    }
    return card(body);
}

// A recipient list built the way the Broker builds one: every slot's names
// in an ADRLIST of count entries, each name's value array holding
// PR_DISPLAY_NAME_A (pointing into the caller's text) and PR_RECIPIENT_TYPE.
class BrokerList {
  public:
    // names: (recipient type, name); count: entries allocated, at least names.
    explicit BrokerList(const std::vector<std::pair<ULONG, std::string>>& names, ULONG count = 0)
        : texts_(names.size()) {
        count = std::max<ULONG>(count, static_cast<ULONG>(names.size()));
        void* block = nullptr;
        EXPECT_EQ(MAPIAllocateBuffer(static_cast<ULONG>(CbNewADRLIST(count)), &block), S_OK);
        list_ = static_cast<LPADRLIST>(block);
        list_->cEntries = count;
        for (std::size_t i = 0; i < names.size(); ++i) {
            texts_[i] = std::make_unique<std::string>(names[i].second);
            ADRENTRY& entry = list_->aEntries[i];
            entry.cValues = 2;
            EXPECT_EQ(MAPIAllocateBuffer(2 * sizeof(SPropValue),
                                         reinterpret_cast<void**>(&entry.rgPropVals)),
                      S_OK);
            entry.rgPropVals[0].ulPropTag = PR_DISPLAY_NAME_A;
            entry.rgPropVals[0].Value.lpszA = texts_[i]->data();
            entry.rgPropVals[1].ulPropTag = PR_RECIPIENT_TYPE;
            entry.rgPropVals[1].Value.l = static_cast<LONG>(names[i].first);
        }
    }
    ~BrokerList() { free(list_); }
    BrokerList(const BrokerList&) = delete;
    BrokerList& operator=(const BrokerList&) = delete;

    LPADRLIST& get() { return list_; }
    ADRENTRY& operator[](std::size_t i) { return list_->aEntries[i]; }

    static void free(LPADRLIST list) {
        if (list == nullptr) {
            return;
        }
        for (ULONG i = 0; i < list->cEntries; ++i) {
            MAPIFreeBuffer(list->aEntries[i].rgPropVals);
        }
        MAPIFreeBuffer(list);
    }

  private:
    std::vector<std::unique_ptr<std::string>> texts_;
    LPADRLIST list_ = nullptr;
};

// The last value with tag, as the Broker reads them, or null.
inline const SPropValue* value(const ADRENTRY& entry, ULONG tag) {
    const SPropValue* found = nullptr;
    for (ULONG i = 0; entry.rgPropVals != nullptr && i < entry.cValues; ++i) {
        if (entry.rgPropVals[i].ulPropTag == tag) {
            found = &entry.rgPropVals[i];
        }
    }
    return found;
}

inline std::string text(const ADRENTRY& entry, ULONG tag) {
    const SPropValue* v = value(entry, tag);
    return v != nullptr && v->Value.lpszA != nullptr ? v->Value.lpszA : "<none>";
}

inline LONG number(const ADRENTRY& entry, ULONG tag) {
    const SPropValue* v = value(entry, tag);
    return v != nullptr ? v->Value.l : -1;
}

}  // namespace mb::provider::test
