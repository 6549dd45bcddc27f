// SPDX-License-Identifier: MIT
// One GObject reference, given up with g_object_unref; empty holds none.
#pragma once

#include <glib-object.h>

#include "base/scoped_generic.h"

namespace mb::dialogs {

template <typename T>
struct GObjectTraits {
    static T* invalidValue() noexcept { return nullptr; }
    static void free(T* object) noexcept { g_object_unref(object); }
};

template <typename T>
using GObjectRef = ScopedGeneric<T*, GObjectTraits<T>>;

}  // namespace mb::dialogs
