// SPDX-License-Identifier: MIT
#include "provider/com/table.h"

#include <algorithm>
#include <new>

#include "provider/com/abi_guard.h"
#include "provider/com/allocation.h"

namespace mb::provider {
namespace {

// Runs body and turns anything it throws into a MAPI code, so no exception
// leaves a method.
template <typename Body>
HRESULT guarded(Body body) noexcept {
    return abiGuard([&]() -> HRESULT { return body(); });
}

}  // namespace

MemoryTable* MemoryTable::create(std::vector<ULONG> columns, std::vector<Row> rows) {
    return new MemoryTable(std::move(columns), std::move(rows));
}

MemoryTable::MemoryTable(std::vector<ULONG> columns, std::vector<Row> rows)
    : allColumns_(columns), rows_(std::move(rows)), columns_(std::move(columns)) {
    showAll();
}

void MemoryTable::showAll() {
    view_.clear();
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        view_.push_back(i);
    }
    cursor_ = 0;
}

HRESULT MemoryTable::GetStatus(ULONG* lpulTableStatus, ULONG* lpulTableType) {
    if (lpulTableStatus == nullptr || lpulTableType == nullptr) {
        return MAPI_E_INVALID_PARAMETER;
    }
    *lpulTableStatus = TBLSTAT_COMPLETE;
    *lpulTableType = TBLTYPE_SNAPSHOT;
    return S_OK;
}

HRESULT MemoryTable::SetColumns(LPSPropTagArray lpPropTagArray, ULONG ulFlags) {
    if (lpPropTagArray == nullptr || lpPropTagArray->cValues == 0) {
        return MAPI_E_INVALID_PARAMETER;
    }
    if ((ulFlags & ~(TBL_ASYNC | TBL_BATCH)) != 0) {
        return MAPI_E_UNKNOWN_FLAGS;
    }
    return guarded([&] {
        std::vector<ULONG> columns(lpPropTagArray->aulPropTag,
                                   lpPropTagArray->aulPropTag + lpPropTagArray->cValues);
        std::lock_guard<std::mutex> guard(lock_);
        columns_ = std::move(columns);
        return S_OK;
    });
}

HRESULT MemoryTable::copyTags(const std::vector<ULONG>& tags, LPSPropTagArray* out) const {
    void* buffer = nullptr;
    HRESULT hr = MAPIAllocateBuffer(static_cast<ULONG>(CbNewSPropTagArray(tags.size())), &buffer);
    if (FAILED(hr)) {
        return hr;
    }
    auto* array = static_cast<SPropTagArray*>(buffer);
    array->cValues = static_cast<ULONG>(tags.size());
    std::copy(tags.begin(), tags.end(), array->aulPropTag);
    *out = array;
    return S_OK;
}

HRESULT MemoryTable::QueryColumns(ULONG ulFlags, LPSPropTagArray* lpPropTagArray) {
    if (lpPropTagArray == nullptr) {
        return MAPI_E_INVALID_PARAMETER;
    }
    *lpPropTagArray = nullptr;
    if ((ulFlags & ~TBL_ALL_COLUMNS) != 0) {
        return MAPI_E_UNKNOWN_FLAGS;
    }
    return guarded([&] {
        std::lock_guard<std::mutex> guard(lock_);
        return copyTags((ulFlags & TBL_ALL_COLUMNS) != 0 ? allColumns_ : columns_, lpPropTagArray);
    });
}

HRESULT MemoryTable::GetRowCount(ULONG ulFlags, ULONG* lpulCount) {
    if (lpulCount == nullptr) {
        return MAPI_E_INVALID_PARAMETER;
    }
    if (ulFlags != 0) {
        return MAPI_E_UNKNOWN_FLAGS;
    }
    std::lock_guard<std::mutex> guard(lock_);
    *lpulCount = static_cast<ULONG>(view_.size());
    return S_OK;
}

bool MemoryTable::origin(BOOKMARK bookmark, std::size_t& position) const {
    if (bookmark == BOOKMARK_BEGINNING) {
        position = 0;
    } else if (bookmark == BOOKMARK_CURRENT) {
        position = cursor_;
    } else if (bookmark == BOOKMARK_END) {
        position = view_.size();
    } else {
        return false;
    }
    return true;
}

HRESULT MemoryTable::SeekRow(BOOKMARK bkOrigin, LONG lRowCount, LONG* lplRowsSought) {
    std::lock_guard<std::mutex> guard(lock_);
    std::size_t start = 0;
    if (!origin(bkOrigin, start)) {
        return MAPI_E_INVALID_BOOKMARK;
    }
    auto from = static_cast<std::int64_t>(start);
    std::int64_t target =
        std::clamp<std::int64_t>(from + lRowCount, 0, static_cast<std::int64_t>(view_.size()));
    cursor_ = static_cast<std::size_t>(target);
    if (lplRowsSought != nullptr) {
        *lplRowsSought = static_cast<LONG>(target - from);
    }
    return S_OK;
}

HRESULT MemoryTable::QueryPosition(ULONG* lpulRow, ULONG* lpulNumerator, ULONG* lpulDenominator) {
    if (lpulRow == nullptr || lpulNumerator == nullptr || lpulDenominator == nullptr) {
        return MAPI_E_INVALID_PARAMETER;
    }
    std::lock_guard<std::mutex> guard(lock_);
    *lpulRow = static_cast<ULONG>(cursor_);
    *lpulNumerator = static_cast<ULONG>(cursor_);
    *lpulDenominator = static_cast<ULONG>(std::max<std::size_t>(view_.size(), 1));
    return S_OK;
}

HRESULT MemoryTable::FindRow(LPSRestriction lpRestriction, BOOKMARK bkOrigin, ULONG ulFlags) {
    if ((ulFlags & ~DIR_BACKWARD) != 0) {
        return MAPI_E_UNKNOWN_FLAGS;
    }
    HRESULT valid = validateRestriction(lpRestriction);
    if (FAILED(valid)) {
        return valid;
    }
    return guarded([&] { return find(*lpRestriction, bkOrigin, (ulFlags & DIR_BACKWARD) != 0); });
}

HRESULT MemoryTable::find(const SRestriction& restriction, BOOKMARK bkOrigin, bool backward) {
    std::lock_guard<std::mutex> guard(lock_);
    std::size_t start = 0;
    if (!origin(bkOrigin, start)) {
        return MAPI_E_INVALID_BOOKMARK;
    }
    if (backward) {
        // Backward searches begin with the row before the bookmark.
        for (std::size_t i = start; i > 0; --i) {
            if (rowMatches(restriction, rows_[view_[i - 1]])) {
                cursor_ = i - 1;
                return S_OK;
            }
        }
    } else {
        for (std::size_t i = start; i < view_.size(); ++i) {
            if (rowMatches(restriction, rows_[view_[i]])) {
                cursor_ = i;
                return S_OK;
            }
        }
    }
    return MAPI_E_NOT_FOUND;
}

HRESULT MemoryTable::Restrict(LPSRestriction lpRestriction, ULONG ulFlags) {
    if ((ulFlags & ~(TBL_ASYNC | TBL_BATCH)) != 0) {
        return MAPI_E_UNKNOWN_FLAGS;
    }
    if (lpRestriction != nullptr) {
        HRESULT valid = validateRestriction(lpRestriction);
        if (FAILED(valid)) {
            return valid;
        }
    }
    return guarded([&] {
        std::lock_guard<std::mutex> guard(lock_);
        if (lpRestriction == nullptr) {
            showAll();
            return S_OK;
        }
        std::vector<std::size_t> view;
        for (std::size_t i = 0; i < rows_.size(); ++i) {
            if (rowMatches(*lpRestriction, rows_[i])) {
                view.push_back(i);
            }
        }
        view_ = std::move(view);
        cursor_ = 0;
        return S_OK;
    });
}

HRESULT MemoryTable::copyRow(const Row& row, SRow& out) const {
    void* buffer = nullptr;
    auto count = static_cast<ULONG>(columns_.size());
    HRESULT hr = MAPIAllocateBuffer(static_cast<ULONG>(count * sizeof(SPropValue)), &buffer);
    if (FAILED(hr)) {
        return hr;
    }
    auto* values = static_cast<SPropValue*>(buffer);
    out.ulAdrEntryPad = 0;
    out.cValues = count;
    out.lpProps = values;
    for (ULONG c = 0; c < count; ++c) {
        ULONG tag = columns_[c];
        auto found =
            std::find_if(row.begin(), row.end(), [tag](const Property& p) { return p.tag == tag; });
        hr = found != row.end()
                 ? copyToMapi(*found, values[c], buffer)
                 : copyToMapi(Property::ofError(PROP_ID(tag), MAPI_E_NOT_FOUND), values[c], buffer);
        if (FAILED(hr)) {
            return hr;  // the caller frees lpProps with the rest
        }
    }
    return S_OK;
}

HRESULT MemoryTable::QueryRows(LONG lRowCount, ULONG ulFlags, LPSRowSet* lppRows) {
    if (lppRows == nullptr) {
        return MAPI_E_INVALID_PARAMETER;
    }
    *lppRows = nullptr;
    if (lRowCount == 0) {
        return MAPI_E_INVALID_PARAMETER;
    }
    if ((ulFlags & ~TBL_NOADVANCE) != 0) {
        return MAPI_E_UNKNOWN_FLAGS;
    }
    return guarded([&] { return query(lRowCount, ulFlags, lppRows); });
}

HRESULT MemoryTable::query(LONG lRowCount, ULONG ulFlags, LPSRowSet* lppRows) {
    std::lock_guard<std::mutex> guard(lock_);
    // Forward: rows from the cursor on. Backward: the rows before the cursor,
    // returned in table order, and the cursor moves to the first of them.
    std::size_t first = cursor_;
    std::size_t count = 0;
    if (lRowCount > 0) {
        count = std::min<std::size_t>(static_cast<std::size_t>(lRowCount), view_.size() - cursor_);
    } else {
        auto back = static_cast<std::size_t>(-static_cast<std::int64_t>(lRowCount));
        count = std::min(back, cursor_);
        first = cursor_ - count;
    }
    void* buffer = nullptr;
    HRESULT hr = MAPIAllocateBuffer(static_cast<ULONG>(CbNewSRowSet(count)), &buffer);
    if (FAILED(hr)) {
        return hr;
    }
    auto* set = static_cast<SRowSet*>(buffer);
    set->cRows = 0;
    for (std::size_t i = 0; i < count; ++i) {
        hr = copyRow(rows_[view_[first + i]], set->aRow[i]);
        if (FAILED(hr)) {
            for (std::size_t j = 0; j <= i; ++j) {
                MAPIFreeBuffer(set->aRow[j].lpProps);
            }
            MAPIFreeBuffer(set);
            return hr;
        }
        set->cRows = static_cast<ULONG>(i + 1);
    }
    if ((ulFlags & TBL_NOADVANCE) == 0) {
        cursor_ = lRowCount > 0 ? first + count : first;
    }
    *lppRows = set;
    return S_OK;
}

HRESULT MemoryTable::WaitForCompletion(ULONG, ULONG, ULONG* lpulTableStatus) {
    if (lpulTableStatus != nullptr) {
        *lpulTableStatus = TBLSTAT_COMPLETE;
    }
    return S_OK;
}

HRESULT MemoryTable::GetLastError(HRESULT, ULONG, LPMAPIERROR* lppMAPIError) {
    if (lppMAPIError != nullptr) {
        *lppMAPIError = nullptr;
    }
    return MAPI_E_NO_SUPPORT;
}

HRESULT MemoryTable::Advise(ULONG, LPMAPIADVISESINK, ULONG_PTR*) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT MemoryTable::Unadvise(ULONG_PTR) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT MemoryTable::SeekRowApprox(ULONG, ULONG) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT MemoryTable::CreateBookmark(BOOKMARK*) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT MemoryTable::FreeBookmark(BOOKMARK) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT MemoryTable::SortTable(LPSSortOrderSet, ULONG) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT MemoryTable::QuerySortOrder(LPSSortOrderSet*) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT MemoryTable::Abort() {
    return MAPI_E_NO_SUPPORT;
}
HRESULT MemoryTable::ExpandRow(ULONG, LPBYTE, ULONG, ULONG, LPSRowSet*, ULONG*) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT MemoryTable::CollapseRow(ULONG, LPBYTE, ULONG, ULONG*) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT MemoryTable::GetCollapseState(ULONG, ULONG, LPBYTE, ULONG*, LPBYTE*) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT MemoryTable::SetCollapseState(ULONG, ULONG, LPBYTE, BOOKMARK*) {
    return MAPI_E_NO_SUPPORT;
}

}  // namespace mb::provider
