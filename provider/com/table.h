// SPDX-License-Identifier: MIT
// An IMAPITable over rows held in memory: a snapshot taken when the table is
// made. Used for the profile table, and meant for the provider's other
// tables.
//
// Supported: SetColumns, QueryColumns, GetRowCount, SeekRow (the three
// predefined bookmarks), QueryPosition, FindRow, Restrict, QueryRows,
// GetStatus and WaitForCompletion (the table is always complete). A column
// the row lacks comes back as PT_ERROR with MAPI_E_NOT_FOUND. QueryRows
// returns each row's values in one MAPIAllocateBuffer buffer (their strings
// linked to it) and the row set in another, as MAPI's callers expect to free
// them. Every other method returns MAPI_E_NO_SUPPORT. No method throws.
#pragma once

#include <atomic>
#include <mutex>
#include <vector>

#include "provider/com/restriction.h"

#include "provider/com/com_object.h"

namespace mb::provider {

class MemoryTable final : public ComObject<IMAPITable, IID_IMAPITable> {
  public:
    // columns: the default column set, also what TBL_ALL_COLUMNS reports.
    // Creates the table with one reference.
    static MemoryTable* create(std::vector<ULONG> columns, std::vector<Row> rows);

    HRESULT STDMETHODCALLTYPE GetLastError(HRESULT hResult, ULONG ulFlags,
                                           LPMAPIERROR* lppMAPIError) override;
    HRESULT STDMETHODCALLTYPE Advise(ULONG ulEventMask, LPMAPIADVISESINK lpAdviseSink,
                                     ULONG_PTR* lpulConnection) override;
    HRESULT STDMETHODCALLTYPE Unadvise(ULONG_PTR ulConnection) override;
    HRESULT STDMETHODCALLTYPE GetStatus(ULONG* lpulTableStatus, ULONG* lpulTableType) override;
    HRESULT STDMETHODCALLTYPE SetColumns(LPSPropTagArray lpPropTagArray, ULONG ulFlags) override;
    HRESULT STDMETHODCALLTYPE QueryColumns(ULONG ulFlags, LPSPropTagArray* lpPropTagArray) override;
    HRESULT STDMETHODCALLTYPE GetRowCount(ULONG ulFlags, ULONG* lpulCount) override;
    HRESULT STDMETHODCALLTYPE SeekRow(BOOKMARK bkOrigin, LONG lRowCount,
                                      LONG* lplRowsSought) override;
    HRESULT STDMETHODCALLTYPE SeekRowApprox(ULONG ulNumerator, ULONG ulDenominator) override;
    HRESULT STDMETHODCALLTYPE QueryPosition(ULONG* lpulRow, ULONG* lpulNumerator,
                                            ULONG* lpulDenominator) override;
    HRESULT STDMETHODCALLTYPE FindRow(LPSRestriction lpRestriction, BOOKMARK bkOrigin,
                                      ULONG ulFlags) override;
    HRESULT STDMETHODCALLTYPE Restrict(LPSRestriction lpRestriction, ULONG ulFlags) override;
    HRESULT STDMETHODCALLTYPE CreateBookmark(BOOKMARK* lpbkPosition) override;
    HRESULT STDMETHODCALLTYPE FreeBookmark(BOOKMARK bkPosition) override;
    HRESULT STDMETHODCALLTYPE SortTable(LPSSortOrderSet lpSortCriteria, ULONG ulFlags) override;
    HRESULT STDMETHODCALLTYPE QuerySortOrder(LPSSortOrderSet* lppSortCriteria) override;
    HRESULT STDMETHODCALLTYPE QueryRows(LONG lRowCount, ULONG ulFlags, LPSRowSet* lppRows) override;
    HRESULT STDMETHODCALLTYPE Abort() override;
    HRESULT STDMETHODCALLTYPE ExpandRow(ULONG cbInstanceKey, LPBYTE pbInstanceKey, ULONG ulRowCount,
                                        ULONG ulFlags, LPSRowSet* lppRows,
                                        ULONG* lpulMoreRows) override;
    HRESULT STDMETHODCALLTYPE CollapseRow(ULONG cbInstanceKey, LPBYTE pbInstanceKey, ULONG ulFlags,
                                          ULONG* lpulRowCount) override;
    HRESULT STDMETHODCALLTYPE WaitForCompletion(ULONG ulFlags, ULONG ulTimeout,
                                                ULONG* lpulTableStatus) override;
    HRESULT STDMETHODCALLTYPE GetCollapseState(ULONG ulFlags, ULONG cbInstanceKey,
                                               LPBYTE lpbInstanceKey, ULONG* lpcbCollapseState,
                                               LPBYTE* lppbCollapseState) override;
    HRESULT STDMETHODCALLTYPE SetCollapseState(ULONG ulFlags, ULONG cbCollapseState,
                                               LPBYTE pbCollapseState,
                                               BOOKMARK* lpbkLocation) override;

  private:
    MemoryTable(std::vector<ULONG> columns, std::vector<Row> rows);
    ~MemoryTable() override = default;

    void showAll();
    // The start position for a predefined bookmark, or false for any other.
    bool origin(BOOKMARK bookmark, std::size_t& position) const;
    HRESULT find(const SRestriction& restriction, BOOKMARK bkOrigin, bool backward);
    HRESULT query(LONG lRowCount, ULONG ulFlags, LPSRowSet* lppRows);
    HRESULT copyRow(const Row& row, SRow& out) const;
    HRESULT copyTags(const std::vector<ULONG>& tags, LPSPropTagArray* out) const;

    mutable std::mutex lock_;
    const std::vector<ULONG> allColumns_;
    const std::vector<Row> rows_;
    std::vector<ULONG> columns_;
    std::vector<std::size_t> view_;  // indices into rows_ that the restriction lets through
    std::size_t cursor_ = 0;         // position in view_
};

}  // namespace mb::provider
