// SPDX-License-Identifier: MIT
#include "commands/default_store.h"

#include "commands/mapi_session.h"

namespace {

bool isDefaultRow(const SRow& row) {
    return row.cValues >= 1 && row.lpProps != nullptr &&
           row.lpProps[0].ulPropTag == PR_DEFAULT_STORE && row.lpProps[0].Value.b != 0;
}

}  // namespace

bool openDefaultStore(MapiSession& session, ULONG_PTR parent, DefaultStore& out) {
    if (session.record(session.logonSession()->GetMsgStoresTable(0, out.table.out())) < 0) {
        return false;
    }
    SizedSPropTagArray(2, columns) = {2, {PR_DEFAULT_STORE, PR_ENTRYID}};
    if (session.record(out.table->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), 0)) <
        0) {
        return false;
    }
    // The first row marked default; a row in hand when the table stops early.
    for (;;) {
        const HRESULT hr = session.record(out.table->QueryRows(1, 0, out.row.out()));
        if (out.row.get() == nullptr || out.row->cRows == 0 || hr < 0 ||
            hr == MAPI_W_ERRORS_RETURNED || isDefaultRow(out.row->aRow[0])) {
            break;
        }
    }
    if (out.row.get() == nullptr || out.row->cRows == 0) {
        return false;
    }
    const SRow& row = out.row->aRow[0];
    ULONG idSize = 0;
    LPENTRYID id = nullptr;
    // A row without a usable identifier opens nothing; the store says why.
    if (row.cValues >= 2 && row.lpProps != nullptr && PROP_TYPE(row.lpProps[1].ulPropTag) ==
                                                          PT_BINARY) {
        idSize = row.lpProps[1].Value.bin.cb;
        id = reinterpret_cast<LPENTRYID>(row.lpProps[1].Value.bin.lpb);
    }
    return session.record(session.logonSession()->OpenMsgStore(parent, idSize, id, nullptr,
                                                               MDB_WRITE, out.store.out())) >= 0;
}

bool readEntryId(MapiSession& session, IMAPIProp* object, ULONG tag,
                 MapiBuffer<SPropValue>& value) {
    SizedSPropTagArray(1, tags) = {1, {tag}};
    ULONG count = 0;
    const HRESULT hr = session.record(
        object->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, value.out()));
    return hr >= 0 && hr != MAPI_W_ERRORS_RETURNED && count == 1 && value.get() != nullptr &&
           value->ulPropTag == tag;
}
