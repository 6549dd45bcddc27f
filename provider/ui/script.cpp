// SPDX-License-Identifier: MIT
#include "provider/ui/script.h"

#include <charconv>

#include "provider/contacts/directory.h"

namespace mb::provider {
namespace {

// The first word of text, and text moved past it and the blanks after it.
std::string_view word(std::string_view& text) {
    text = trimBlanks(text);
    const std::size_t end = text.find_first_of(" \t");
    std::string_view first = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : trimBlanks(text.substr(end));
    return first;
}

bool parseWells(std::string_view text, std::vector<UiStep::Well>& wells, std::string& error) {
    while (!text.empty()) {
        const std::size_t bar = text.find('|');
        std::string_view part = trimBlanks(text.substr(0, bar));
        text = bar == std::string_view::npos ? std::string_view() : text.substr(bar + 1);
        const std::size_t colon = part.find(':');
        const std::string_view name = trimBlanks(part.substr(0, colon));
        ULONG type = 0;
        if (name == "to") {
            type = MAPI_TO;
        } else if (name == "cc") {
            type = MAPI_CC;
        } else if (name == "bcc") {
            type = MAPI_BCC;
        }
        if (colon == std::string_view::npos || type == 0) {
            error = "expected 'to:', 'cc:' or 'bcc:' before \"" + std::string(part) + "\"";
            return false;
        }
        for (const UiStep::Well& well : wells) {
            if (well.type == type) {
                error = "well " + std::string(name) + " given twice";
                return false;
            }
        }
        UiStep::Well well{type, {}};
        std::string_view items = part.substr(colon + 1);
        while (!items.empty()) {
            const std::size_t semi = items.find(';');
            const std::string_view item = trimBlanks(items.substr(0, semi));
            items = semi == std::string_view::npos ? std::string_view() : items.substr(semi + 1);
            if (!item.empty()) {
                well.items.emplace_back(item);
            }
        }
        wells.push_back(std::move(well));
    }
    return true;
}

// "N": a whole number from 1, and nothing after it.
bool parsePick(std::string_view& line, std::size_t& pick) {
    const std::string_view n = word(line);
    const auto [end, ec] = std::from_chars(n.data(), n.data() + n.size(), pick);
    return ec == std::errc() && end == n.data() + n.size() && pick > 0 && line.empty();
}

bool parseStep(std::string_view line, UiStep& step, std::string& error) {
    const std::string_view kind = word(line);
    using A = UiStep::Action;
    std::string_view afterPick = line;
    if (kind == "logon" && word(afterPick) == "pick") {
        step.kind = UiStepKind::Logon;
        line = afterPick;
        if (parsePick(line, step.pick)) {
            step.action = A::Pick;
            return true;
        }
        error = "'logon pick' needs a number from 1";
        return false;
    }
    if (kind == "logon" || kind == "form") {
        step.kind = kind == "logon" ? UiStepKind::Logon : UiStepKind::Form;
        const std::string_view action = word(line);
        if (action == "ok" || action == "cancel") {
            step.action = action == "ok" ? A::Ok : A::Cancel;
            if (line.empty()) {
                return true;
            }
        } else if (kind == "form" && action == "error") {
            const std::string_view code = word(line);
            std::uint32_t value = 0;
            const bool hex = code.substr(0, 2) == "0x" || code.substr(0, 2) == "0X";
            const std::string_view digits = hex ? code.substr(2) : code;
            const auto [end, ec] =
                std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
            if (hex && ec == std::errc() && end == digits.data() + digits.size() &&
                !digits.empty() && (value & 0x80000000u) != 0 && line.empty()) {
                step.action = A::Error;
                step.code = static_cast<HRESULT>(value);
                return true;
            }
            error = "'form error' needs a failure code such as 0x80004005";
            return false;
        }
        error = kind == "logon" ? "expected 'logon ok', 'logon pick N' or 'logon cancel'"
                                : "expected 'form ok' or 'form cancel'";
        return false;
    }
    if (kind == "resolve") {
        step.kind = UiStepKind::Resolve;
        const std::string_view action = word(line);
        if (action == "cancel" && line.empty()) {
            step.action = A::Cancel;
            return true;
        }
        if (action == "pick") {
            if (parsePick(line, step.pick)) {
                step.action = A::Pick;
                return true;
            }
            error = "'resolve pick' needs a number from 1";
            return false;
        }
        if (action == "address") {
            step.address = std::string(word(line));
            step.name = std::string(line);
            if (isEmailAddress(step.address)) {
                step.action = A::OneOff;
                return true;
            }
            error = "'resolve address' needs an e-mail address";
            return false;
        }
        error = "expected 'resolve pick N', 'resolve address ADDR [NAME]' or 'resolve cancel'";
        return false;
    }
    if (kind == "address") {
        step.kind = UiStepKind::Address;
        if (line == "keep" || line == "cancel") {
            step.action = line == "keep" ? A::Keep : A::Cancel;
            return true;
        }
        step.action = A::Choose;
        if (!line.empty() && parseWells(line, step.wells, error)) {
            return true;
        }
        if (line.empty()) {
            error = "expected 'address keep', 'address cancel' or wells such as 'address to: A'";
        }
        return false;
    }
    error = "unknown dialog \"" + std::string(kind.substr(0, 40)) + "\"";
    return false;
}

}  // namespace

std::optional<UiScript> UiScript::parse(std::string_view text, std::string& error) {
    UiScript script;
    std::size_t number = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = trimBlanks(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++number;
        if (line.empty() || line.front() == '#') {
            continue;
        }
        if (line.find('\0') != std::string_view::npos) {
            error = "line " + std::to_string(number) + ": NUL byte";
            return std::nullopt;
        }
        UiStep step;
        std::string what;
        if (!parseStep(line, step, what)) {
            error = "line " + std::to_string(number) + ": " + what;
            return std::nullopt;
        }
        script.steps_.push_back(std::move(step));
    }
    return script;
}

std::optional<UiStep> UiScript::next(UiStepKind kind) {
    std::size_t& position = position_[static_cast<int>(kind)];
    while (position < steps_.size()) {
        const UiStep& step = steps_[position++];
        if (step.kind == kind) {
            return step;
        }
    }
    return std::nullopt;
}

}  // namespace mb::provider
