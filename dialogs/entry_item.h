// SPDX-License-Identifier: MIT
// An address-book entry as an item of a GTK list model, with its search key
// folded once when the item is made.
#pragma once

#include <gio/gio.h>
#include <string>
#include <vector>

#include "provider/ui/dialog_protocol.h"

G_BEGIN_DECLS
#define MB_TYPE_ENTRY_ITEM (mb_entry_item_get_type())
G_DECLARE_FINAL_TYPE(MbEntryItem, mb_entry_item, MB, ENTRY_ITEM, GObject)
G_END_DECLS

namespace mb::dialogs {

// A new item holding a copy of entry (the caller owns the reference).
MbEntryItem* newEntryItem(const Entry& entry);
const Entry& entryOf(MbEntryItem* item);
const std::string& searchKeyOf(MbEntryItem* item);

// A list store of items for entries.
GListStore* newEntryStore(const std::vector<Entry>& entries);

}  // namespace mb::dialogs
