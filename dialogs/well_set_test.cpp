// SPDX-License-Identifier: MIT
#include "dialogs/well_set.h"

#include <gtest/gtest.h>

namespace mb::dialogs {
namespace {

Entry entry(std::string name, std::string address, std::string id) {
    return Entry{std::move(name), "SMTP", std::move(address), std::move(id), {}};
}

WellSet toCcBcc() {
    return WellSet({Well{WellType::To, {}}, Well{WellType::Cc, {}}, Well{WellType::Bcc, {}}});
}

TEST(WellSet, AddsInOrderAndKeepsEntriesAsTheyCame) {
    WellSet wells = toCcBcc();
    Entry ann = entry("Ann", "ann@example.org", "00aa");
    Entry bob = entry("Bob", "bob@example.org", "00bb");
    EXPECT_TRUE(wells.add(0, ann));
    EXPECT_TRUE(wells.add(0, bob));
    EXPECT_TRUE(wells.add(2, ann));
    ASSERT_EQ(wells.well(0).entries.size(), 2u);
    EXPECT_EQ(wells.well(0).entries[0], ann);
    EXPECT_EQ(wells.well(0).entries[1], bob);
    EXPECT_TRUE(wells.well(1).entries.empty());
    EXPECT_EQ(wells.well(2).entries, std::vector<Entry>{ann});
    EXPECT_EQ(wells.well(2).type, WellType::Bcc);
}

TEST(WellSet, TheSameEntryTwiceInOneWellIsKeptOnce) {
    WellSet wells = toCcBcc();
    Entry ann = entry("Ann", "ann@example.org", "00aa");
    EXPECT_TRUE(wells.add(1, ann));
    EXPECT_FALSE(wells.add(1, ann));
    // The same identifier under another name is still the same entry.
    EXPECT_FALSE(wells.add(1, entry("Ann E.", "ann@example.org", "00AA")));
    EXPECT_EQ(wells.well(1).entries.size(), 1u);
}

TEST(WellSet, EntriesWithOtherIdentifiersAreOthersEvenWithOneAddress) {
    // Two address-book entries may share an address; the provider tells them
    // apart by identifier, so both may go.
    WellSet wells = toCcBcc();
    EXPECT_TRUE(wells.add(0, entry("Sales", "sales@example.org", "0001")));
    EXPECT_TRUE(wells.add(0, entry("Sales desk", "sales@example.org", "0002")));
    EXPECT_EQ(wells.well(0).entries.size(), 2u);
}

TEST(WellSet, OneOffsAreTheSameWhenTheirAddressesAre) {
    WellSet wells = toCcBcc();
    EXPECT_TRUE(wells.add(0, entry("guest@example.org", "guest@example.org", "")));
    EXPECT_FALSE(wells.add(0, entry("Guest", "GUEST@example.org", "")));
    EXPECT_TRUE(wells.add(0, entry("guest@example.org", "guest@example.org", "0003")));
    EXPECT_EQ(wells.well(0).entries.size(), 2u);
}

TEST(WellSet, EntriesWithoutAddressOrIdentifierCompareByName) {
    WellSet wells = toCcBcc();
    EXPECT_TRUE(wells.add(0, entry("Team", "", "")));
    EXPECT_FALSE(wells.add(0, entry("Team", "", "")));
    EXPECT_TRUE(wells.add(0, entry("Other team", "", "")));
}

TEST(WellSet, RemovesByPositionAndRefusesWhatIsNotThere) {
    WellSet wells = toCcBcc();
    wells.add(0, entry("Ann", "ann@example.org", "00aa"));
    wells.add(0, entry("Bob", "bob@example.org", "00bb"));
    EXPECT_FALSE(wells.remove(0, 2));
    EXPECT_FALSE(wells.remove(3, 0));
    EXPECT_TRUE(wells.remove(0, 0));
    ASSERT_EQ(wells.well(0).entries.size(), 1u);
    EXPECT_EQ(wells.well(0).entries[0].name, "Bob");
    // Removed, it may come back.
    EXPECT_TRUE(wells.add(0, entry("Ann", "ann@example.org", "00aa")));
}

TEST(WellSet, AWellPastTheEndTakesNothing) {
    WellSet none({});
    EXPECT_FALSE(none.add(0, entry("Ann", "ann@example.org", "00aa")));
    EXPECT_EQ(none.size(), 0u);
}

TEST(WellSet, WhatTheRequestBroughtStaysUntouched) {
    // Entries already in a well come back as they were, duplicates included:
    // the dialog only refuses to make new ones.
    Entry ann = entry("Ann", "ann@example.org", "00aa");
    WellSet wells({Well{WellType::Cc, {ann, ann}}});
    EXPECT_FALSE(wells.add(0, ann));
    EXPECT_EQ(wells.wells(), (std::vector<Well>{Well{WellType::Cc, {ann, ann}}}));
}

}  // namespace
}  // namespace mb::dialogs
