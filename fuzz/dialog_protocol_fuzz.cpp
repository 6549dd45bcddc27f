// SPDX-License-Identifier: MIT
// The dialog program's answers (and, for the program, its requests) arrive as
// JSON lines from another process that may have crashed mid-line or be
// something else entirely. Whatever arrives must decode or be refused, never
// crash; and whatever decodes must encode to a line that decodes the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "provider/ui/dialog_protocol.h"

using namespace mb::dialogs;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    std::string error;
    if (const auto request = decodeRequest(line, error)) {
        const auto again = decodeRequest(encodeRequest(*request), error);
        if (!again || !(*again == *request)) {
            abort();
        }
    }
    for (Dialog dialog : {Dialog::CheckNames, Dialog::SelectNames, Dialog::ChooseProfile,
                          Dialog::Compose}) {
        if (const auto answer = decodeAnswer(line, dialog, error)) {
            const auto again = decodeAnswer(encodeAnswer(*answer), dialog, error);
            if (!again || !(*again == *answer)) {
                abort();
            }
        }
    }
    return 0;
}
