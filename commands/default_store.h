// SPDX-License-Identifier: MIT
// The user's default message store, found in the session's stores table and
// opened for writing; shared by SendMail and the Exchange address lookup.
#pragma once

#include "commands/mapi_ptr.h"

class MapiSession;

struct DefaultStore {
    explicit DefaultStore(WabOrMapiAllocator* allocator) : row(allocator) {}

    // Released in reverse: the store, the last row set read, the table.
    MapiRef<IMAPITable> table;
    MapiRows row;
    MapiRef<IMsgStore> store;
};

// Every MAPI result goes into the session's status; false when a step failed
// (the status may then be a warning, or 0 for a table without rows).
bool openDefaultStore(MapiSession& session, ULONG_PTR parent, DefaultStore& out);

// GetProps of one binary property (a folder's entry identifier): true when the
// call succeeded without warnings and gave exactly that one value. The result
// goes into the status.
bool readEntryId(MapiSession& session, IMAPIProp* object, ULONG tag, MapiBuffer<SPropValue>& value);
