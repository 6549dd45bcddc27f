// SPDX-License-Identifier: MIT
// QueryRecord: a request or reply as a name and its fields, and its text form
// name?key=value&key=value, every part percent-encoded over UTF-8.
#pragma once

#include <cstdint>

#include "codec/param_map.h"
#include "foundation/ks_string.h"

class QueryRecord {
  public:
    QueryRecord() = default;

    // Fills the record from request text. The first '?' ends the name, each
    // '&' ends a field, the first '=' in a field ends its key; empty fields and
    // fields with an empty key are skipped; a later key replaces an earlier one.
    // Throws KsException "bad escape sequence: ..." for a malformed escape; the
    // record then holds what was decoded before it.
    void decode(const KsString& text);

    KsString commandName() const { return name; }

    // The text form; parts are percent-encoded when escapeOnEncode is non-zero.
    KsString encode() const;

    KsString name;
    ParamMap params;
    int32_t escapeOnEncode = 0;
};
