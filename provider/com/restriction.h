// SPDX-License-Identifier: MIT
// Evaluating MAPI restrictions against rows held by the provider.
//
// Supported: RES_AND, RES_OR, RES_NOT, RES_EXIST, RES_PROPERTY and
// RES_COMPAREPROPS (RELOP_LT to RELOP_NE), RES_CONTENT (full string,
// substring, prefix; FL_IGNORECASE folds ASCII letters), RES_BITMASK and
// RES_SIZE. A property the row lacks matches nothing but RES_NOT of it.
// Strings compare byte by byte (8-bit) or unit by unit (UTF-16); values of
// different types never match.
#pragma once

#include <vector>

#include "provider/com/property.h"

namespace mb::provider {

using Row = std::vector<Property>;

// S_OK when the restriction can be evaluated; MAPI_E_INVALID_PARAMETER for a
// malformed one (null pointers), MAPI_E_TOO_COMPLEX for an unsupported type,
// operator or nesting deeper than 64.
HRESULT validateRestriction(const SRestriction* restriction);

// Whether row satisfies a restriction that validateRestriction accepted.
bool rowMatches(const SRestriction& restriction, const Row& row);

}  // namespace mb::provider
