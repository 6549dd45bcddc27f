// SPDX-License-Identifier: MIT
// Scoped ownership of what MAPI hands out: interfaces are released and buffers
// freed through the session's allocator when their holder goes, so a command
// that stops early, or unwinds, leaves nothing behind.
#pragma once

#include <utility>

#include "mapi/mapi.h"
#include "commands/mapi_allocator.h"

template <typename T>
class MapiRef {
  public:
    MapiRef() = default;
    explicit MapiRef(T* object) : object_(object) {}
    MapiRef(const MapiRef&) = delete;
    MapiRef& operator=(const MapiRef&) = delete;
    ~MapiRef() { reset(); }

    T* get() const { return object_; }
    T* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    // The slot a MAPI call fills; whatever was held before is released first.
    T** out() {
        reset();
        return &object_;
    }
    void reset() {
        if (object_ != nullptr) {
            std::exchange(object_, nullptr)->Release();
        }
    }

  private:
    T* object_ = nullptr;
};

// One MAPI buffer (property values, a problem array, an entry identifier).
template <typename T>
class MapiBuffer {
  public:
    explicit MapiBuffer(WabOrMapiAllocator* allocator) : allocator_(allocator) {}
    MapiBuffer(const MapiBuffer&) = delete;
    MapiBuffer& operator=(const MapiBuffer&) = delete;
    ~MapiBuffer() { reset(); }

    T* get() const { return buffer_; }
    T* operator->() const { return buffer_; }
    T** out() {
        reset();
        return &buffer_;
    }
    void reset() {
        if (buffer_ != nullptr) {
            allocator_->freeBuffer(std::exchange(buffer_, nullptr));
        }
    }

  private:
    WabOrMapiAllocator* allocator_;
    T* buffer_ = nullptr;
};

// An ADRLIST or SRowSet with the value arrays of its entries.
template <typename T>
class MapiList {
  public:
    explicit MapiList(WabOrMapiAllocator* allocator, T* list = nullptr)
        : allocator_(allocator), list_(list) {}
    MapiList(const MapiList&) = delete;
    MapiList& operator=(const MapiList&) = delete;
    ~MapiList() { reset(); }

    T* get() const { return list_; }
    T* operator->() const { return list_; }
    // The slot of a call that may replace the list (IAddrBook::Address): not
    // freed first.
    T** slot() { return &list_; }
    T** out() {
        reset();
        return &list_;
    }
    void reset();

  private:
    WabOrMapiAllocator* allocator_;
    T* list_ = nullptr;
};

using MapiRows = MapiList<SRowSet>;
using MapiAddressList = MapiList<ADRLIST>;

// The last value of a tag in a row or entry, or null.
inline const SPropValue* findProp(const SPropValue* values, ULONG count, ULONG tag) {
    const SPropValue* found = nullptr;
    for (ULONG i = 0; values != nullptr && i < count; ++i) {
        if (values[i].ulPropTag == tag) {
            found = &values[i];
        }
    }
    return found;
}

// Defined after MapiSession, whose freeAddressList it uses.
#include "commands/mapi_session.h"

template <typename T>
void MapiList<T>::reset() {
    if (list_ != nullptr) {
        MapiSession::freeAddressList(allocator_, std::exchange(list_, nullptr));
    }
}
