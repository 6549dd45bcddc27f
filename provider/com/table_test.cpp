// SPDX-License-Identifier: MIT
#include "provider/com/table.h"

#include <gtest/gtest.h>

#include <string>

#include "provider/com/allocation.h"
#include "provider/com/provider_test_support.h"

namespace mb::provider {
namespace {

using test::freeRows;

constexpr ULONG kName = PR_DISPLAY_NAME_A;
constexpr ULONG kCount = PROP_TAG(PT_LONG, 0x6601);
constexpr ULONG kMissing = PROP_TAG(PT_STRING8, 0x6602);

class Table : public ::testing::Test {
  protected:
    void SetUp() override {
        std::vector<Row> rows;
        const char* names[] = {"alpha", "beta", "gamma", "delta"};
        for (LONG i = 0; i < 4; ++i) {
            rows.push_back(
                {Property::ofString8(kName, names[i]), Property::ofLong(kCount, i * 10)});
        }
        rows[3].pop_back();  // delta has no count
        table_ = MemoryTable::create({kName, kCount}, std::move(rows));
        roots_ = liveRootBuffers();
    }
    void TearDown() override {
        EXPECT_EQ(table_->Release(), 0u);
        EXPECT_EQ(liveRootBuffers(), roots_) << "a MAPI buffer was not freed";
    }

    // The names of the next n rows, "" for a row whose name is missing.
    std::vector<std::string> names(LONG n, ULONG flags = 0) {
        SRowSet* rows = nullptr;
        EXPECT_EQ(table_->QueryRows(n, flags, &rows), S_OK);
        std::vector<std::string> out;
        if (rows == nullptr)
            return out;
        for (ULONG i = 0; i < rows->cRows; ++i) {
            const SPropValue& first = rows->aRow[i].lpProps[0];
            out.push_back(first.ulPropTag == kName ? first.Value.lpszA : "");
        }
        freeRows(rows);
        return out;
    }

    MemoryTable* table_ = nullptr;
    unsigned long roots_ = 0;
};

using Names = std::vector<std::string>;

TEST_F(Table, QueryRowsAdvancesTheCursor) {
    EXPECT_EQ(names(3), (Names{"alpha", "beta", "gamma"}));
    EXPECT_EQ(names(3), (Names{"delta"}));
    EXPECT_EQ(names(3), Names{});
    LONG sought = 0;
    ASSERT_EQ(table_->SeekRow(BOOKMARK_BEGINNING, 1, &sought), S_OK);
    EXPECT_EQ(sought, 1);
    EXPECT_EQ(names(1, TBL_NOADVANCE), (Names{"beta"}));
    EXPECT_EQ(names(1), (Names{"beta"}));
    EXPECT_EQ(names(-2), (Names{"alpha", "beta"}));
    ASSERT_EQ(table_->SeekRow(BOOKMARK_END, -10, &sought), S_OK);
    EXPECT_EQ(sought, -4);
    ULONG count = 0;
    ASSERT_EQ(table_->GetRowCount(0, &count), S_OK);
    EXPECT_EQ(count, 4u);
}

TEST_F(Table, ColumnsAndMissingValues) {
    SizedSPropTagArray(3, columns) = {3, {kCount, kMissing, kName}};
    ASSERT_EQ(table_->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), 0), S_OK);
    SRowSet* rows = nullptr;
    ASSERT_EQ(table_->QueryRows(10, 0, &rows), S_OK);
    ASSERT_EQ(rows->cRows, 4u);
    ASSERT_EQ(test::rowAt(rows, 1).cValues, 3u);
    EXPECT_EQ(test::rowAt(rows, 1).lpProps[0].ulPropTag, kCount);
    EXPECT_EQ(test::rowAt(rows, 1).lpProps[0].Value.l, 10);
    EXPECT_EQ(test::rowAt(rows, 1).lpProps[1].ulPropTag, PROP_TAG(PT_ERROR, 0x6602));
    EXPECT_EQ(test::rowAt(rows, 1).lpProps[1].Value.err, MAPI_E_NOT_FOUND);
    EXPECT_STREQ(test::rowAt(rows, 1).lpProps[2].Value.lpszA, "beta");
    EXPECT_EQ(test::rowAt(rows, 3).lpProps[0].ulPropTag, PROP_TAG(PT_ERROR, 0x6601));
    freeRows(rows);

    SPropTagArray* current = nullptr;
    ASSERT_EQ(table_->QueryColumns(0, &current), S_OK);
    ASSERT_EQ(current->cValues, 3u);
    const ULONG* tags = current->aulPropTag;
    EXPECT_EQ(tags[1], kMissing);
    MAPIFreeBuffer(current);
    ASSERT_EQ(table_->QueryColumns(TBL_ALL_COLUMNS, &current), S_OK);
    ASSERT_EQ(current->cValues, 2u);
    EXPECT_EQ(current->aulPropTag[0], kName);
    MAPIFreeBuffer(current);
}

TEST_F(Table, RestrictAndFindRow) {
    SPropValue thirty{};
    thirty.ulPropTag = kCount;
    thirty.Value.l = 30;
    SRestriction below{};
    below.rt = RES_PROPERTY;
    below.res.resProperty = {RELOP_LT, kCount, &thirty};
    ASSERT_EQ(table_->Restrict(&below, TBL_BATCH), S_OK);
    EXPECT_EQ(names(10), (Names{"alpha", "beta", "gamma"}));

    // NOT(count exists) OR name = "alpha"
    SRestriction parts[2]{};
    SRestriction exists{};
    exists.rt = RES_EXIST;
    exists.res.resExist.ulPropTag = kCount;
    parts[0].rt = RES_NOT;
    parts[0].res.resNot.lpRes = &exists;
    SPropValue alpha{};
    alpha.ulPropTag = kName;
    alpha.Value.lpszA = const_cast<LPSTR>("alpha");
    parts[1].rt = RES_PROPERTY;
    parts[1].res.resProperty = {RELOP_EQ, kName, &alpha};
    SRestriction either{};
    either.rt = RES_OR;
    either.res.resOr = {2, parts};
    ASSERT_EQ(table_->Restrict(&either, 0), S_OK);
    EXPECT_EQ(names(10), (Names{"alpha", "delta"}));

    SRestriction both{};
    both.rt = RES_AND;
    both.res.resAnd = {2, parts};
    ASSERT_EQ(table_->Restrict(&both, 0), S_OK);
    ULONG count = 7;
    ASSERT_EQ(table_->GetRowCount(0, &count), S_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(table_->FindRow(&either, BOOKMARK_BEGINNING, 0), MAPI_E_NOT_FOUND);

    ASSERT_EQ(table_->Restrict(nullptr, 0), S_OK);
    ASSERT_EQ(table_->FindRow(&either, BOOKMARK_BEGINNING, 0), S_OK);
    EXPECT_EQ(names(1), (Names{"alpha"}));
    ASSERT_EQ(table_->FindRow(&either, BOOKMARK_CURRENT, 0), S_OK);
    EXPECT_EQ(names(1), (Names{"delta"}));
    EXPECT_EQ(table_->FindRow(&either, BOOKMARK_CURRENT, 0), MAPI_E_NOT_FOUND);
    ASSERT_EQ(table_->FindRow(&below, BOOKMARK_END, DIR_BACKWARD), S_OK);
    EXPECT_EQ(names(1), (Names{"gamma"}));
}

TEST_F(Table, BadArgumentsAreErrorsNotCrashes) {
    SRowSet* rows = nullptr;
    EXPECT_EQ(table_->QueryRows(0, 0, &rows), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(table_->QueryRows(1, 0, nullptr), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(table_->QueryRows(1, 0x80, &rows), MAPI_E_UNKNOWN_FLAGS);
    EXPECT_EQ(table_->SetColumns(nullptr, 0), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(table_->SeekRow(static_cast<BOOKMARK>(12345), 1, nullptr), MAPI_E_INVALID_BOOKMARK);
    EXPECT_EQ(table_->FindRow(nullptr, BOOKMARK_BEGINNING, 0), MAPI_E_INVALID_PARAMETER);

    SRestriction broken{};
    broken.rt = RES_AND;
    broken.res.resAnd = {3, nullptr};
    EXPECT_EQ(table_->Restrict(&broken, 0), MAPI_E_INVALID_PARAMETER);
    SRestriction noValue{};
    noValue.rt = RES_PROPERTY;
    noValue.res.resProperty = {RELOP_EQ, kName, nullptr};
    EXPECT_EQ(table_->Restrict(&noValue, 0), MAPI_E_INVALID_PARAMETER);
    SRestriction unknown{};
    unknown.rt = 99;
    EXPECT_EQ(table_->Restrict(&unknown, 0), MAPI_E_TOO_COMPLEX);
    // A restriction nested too deep is refused rather than recursed into.
    std::vector<SRestriction> chain(100);
    for (std::size_t i = 0; i + 1 < chain.size(); ++i) {
        chain[i].rt = RES_NOT;
        chain[i].res.resNot.lpRes = &chain[i + 1];
    }
    chain.back().rt = RES_EXIST;
    EXPECT_EQ(table_->Restrict(chain.data(), 0), MAPI_E_TOO_COMPLEX);
    // A failed Restrict leaves the table as it was.
    EXPECT_EQ(names(10).size(), 4u);

    void* iface = nullptr;
    EXPECT_EQ(table_->QueryInterface(IID_IMAPISession, &iface), MAPI_E_INTERFACE_NOT_SUPPORTED);
    EXPECT_EQ(iface, nullptr);
    ASSERT_EQ(table_->QueryInterface(IID_IMAPITable, &iface), S_OK);
    EXPECT_EQ(static_cast<IMAPITable*>(iface)->Release(), 1u);
    EXPECT_EQ(table_->SortTable(nullptr, 0), MAPI_E_NO_SUPPORT);
}

}  // namespace
}  // namespace mb::provider
