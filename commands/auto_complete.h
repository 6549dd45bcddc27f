// SPDX-License-Identifier: MIT
// AutoCompleteFileName: the display name of the default MAPI profile, or the
// request's own "displayName" when profile administration cannot tell.
#pragma once

#include "codec/param_map.h"

class MapiSession;

// Returns exactly {"displayName": ...}; never changes the session's status.
ParamMap autoCompleteFileName(MapiSession& session);
