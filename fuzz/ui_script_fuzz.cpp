// SPDX-License-Identifier: MIT
// Arbitrary bytes as the headless driver's UI script: every text parses or is
// refused with "line N: ..." naming a line it has, never a fault. A script
// that parses is written out again, one answer per line in the script's own
// words, and parses to the same answers in the same order for every dialog.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "provider/ui/script.h"

namespace {

using mb::provider::UiScript;
using mb::provider::UiStep;
using mb::provider::UiStepKind;

constexpr UiStepKind kKinds[] = {UiStepKind::Logon, UiStepKind::Resolve, UiStepKind::Address,
                                 UiStepKind::Form};

std::string written(const UiStep& step) {
    using A = UiStep::Action;
    switch (step.kind) {
        case UiStepKind::Logon:
            return step.action == A::Pick   ? "logon pick " + std::to_string(step.pick)
                   : step.action == A::Ok ? "logon ok"
                                          : "logon cancel";
        case UiStepKind::Resolve:
            if (step.action == A::Pick) {
                return "resolve pick " + std::to_string(step.pick);
            }
            if (step.action == A::OneOff) {
                return "resolve address " + step.address + (step.name.empty() ? "" : " " + step.name);
            }
            return "resolve cancel";
        case UiStepKind::Address: {
            if (step.action != A::Choose) {
                return step.action == A::Keep ? "address keep" : "address cancel";
            }
            std::string line = "address";
            for (size_t w = 0; w < step.wells.size(); ++w) {
                const UiStep::Well& well = step.wells[w];
                line += w == 0 ? " " : " | ";
                line += well.type == MAPI_TO ? "to:" : well.type == MAPI_CC ? "cc:" : "bcc:";
                for (size_t i = 0; i < well.items.size(); ++i) {
                    line += (i == 0 ? " " : "; ") + well.items[i];
                }
            }
            return line;
        }
        case UiStepKind::Form:
            if (step.action == A::Error) {
                char code[16];
                std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(step.code));
                return std::string("form error ") + code;
            }
            return step.action == A::Ok ? "form ok" : "form cancel";
    }
    return "";
}

bool same(const UiStep& a, const UiStep& b) {
    if (a.kind != b.kind || a.action != b.action || a.pick != b.pick || a.address != b.address ||
        a.name != b.name || a.code != b.code || a.wells.size() != b.wells.size()) {
        return false;
    }
    for (size_t i = 0; i < a.wells.size(); ++i) {
        if (a.wells[i].type != b.wells[i].type || a.wells[i].items != b.wells[i].items) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    std::optional<UiScript> script = UiScript::parse(text, error);
    if (!script) {
        size_t number = 0;
        FUZZ_CHECK(std::sscanf(error.c_str(), "line %zu: ", &number) == 1);
        size_t lines = 1;
        for (char c : text) {
            lines += c == '\n' ? 1 : 0;
        }
        FUZZ_CHECK(number >= 1 && number <= lines);
        FUZZ_CHECK(error.size() > std::string("line " + std::to_string(number) + ": ").size());
        return 0;
    }
    // Answers of every kind, each kind in its order, then the same script
    // written out in that order (the kinds apart: each keeps its own place).
    std::vector<UiStep> steps;
    std::string out = "# written again\n";
    for (UiStepKind kind : kKinds) {
        while (std::optional<UiStep> step = script->next(kind)) {
            FUZZ_CHECK(step->kind == kind);
            out += "\n" + written(*step) + "\n";
            steps.push_back(std::move(*step));
        }
    }
    std::optional<UiScript> again = UiScript::parse(out, error);
    if (!again) {
        std::fprintf(stderr, "%s\n--\n%s\n", error.c_str(), out.c_str());
    }
    FUZZ_CHECK(again.has_value());
    size_t at = 0;
    for (UiStepKind kind : kKinds) {
        while (std::optional<UiStep> step = again->next(kind)) {
            FUZZ_CHECK(at < steps.size());
            FUZZ_CHECK(same(*step, steps[at]));
            ++at;
        }
    }
    FUZZ_CHECK(at == steps.size());
    return 0;
}
