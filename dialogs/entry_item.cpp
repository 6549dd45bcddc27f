// SPDX-License-Identifier: MIT
#include "dialogs/entry_item.h"

#include <gio/gio.h>

#include "dialogs/entry_filter.h"
#include "dialogs/gobject_ref.h"

struct _MbEntryItem {
    GObject parent_instance;
    mb::dialogs::Entry* entry;
    std::string* key;
};

G_DEFINE_FINAL_TYPE(MbEntryItem, mb_entry_item, G_TYPE_OBJECT)

static void mb_entry_item_finalize(GObject* object) {
    MbEntryItem* self = MB_ENTRY_ITEM(object);
    delete self->entry;
    delete self->key;
    G_OBJECT_CLASS(mb_entry_item_parent_class)->finalize(object);
}

static void mb_entry_item_class_init(MbEntryItemClass* klass) {
    G_OBJECT_CLASS(klass)->finalize = mb_entry_item_finalize;
}

static void mb_entry_item_init(MbEntryItem* self) {
    self->entry = nullptr;
    self->key = nullptr;
}

namespace mb::dialogs {

MbEntryItem* newEntryItem(const Entry& entry) {
    auto* item = MB_ENTRY_ITEM(g_object_new(MB_TYPE_ENTRY_ITEM, nullptr));
    item->entry = new Entry(entry);
    item->key = new std::string(searchKey(entry));
    return item;
}

const Entry& entryOf(MbEntryItem* item) { return *item->entry; }

const std::string& searchKeyOf(MbEntryItem* item) { return *item->key; }

GListStore* newEntryStore(const std::vector<Entry>& entries) {
    GListStore* store = g_list_store_new(MB_TYPE_ENTRY_ITEM);
    for (const Entry& entry : entries) {
        GObjectRef<MbEntryItem> item(newEntryItem(entry));
        g_list_store_append(store, item.get());
    }
    return store;
}

}  // namespace mb::dialogs
