// SPDX-License-Identifier: MIT
// ParamMap: request parameters and reply values, keyed and ordered by the exact,
// case-sensitive byte order of KsString ('B' before 'a'). Indexing inserts an
// absent key with an empty value; find() looks up without inserting.
#pragma once

#include <map>

#include "foundation/ks_string.h"

using ParamMap = std::map<KsString, KsString, KsStringLess>;
