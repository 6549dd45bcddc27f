// SPDX-License-Identifier: MIT
#include "provider/ui/dialog_protocol.h"

#include <array>
#include <nlohmann/json.hpp>

namespace mb::dialogs {
namespace {

using nlohmann::json;

// Entries hold members, which hold nothing: a request is at most
// {"book":[{"members":[{...}]}]} deep, plus the objects around it. Anything
// deeper is not ours, and is refused before it is built.
constexpr int kMaxDepth = 8;

constexpr std::array<const char*, 4> kDialogNames = {"check-names", "select-names",
                                                     "choose-profile", "compose"};
constexpr std::array<const char*, 3> kWellNames = {"to", "cc", "bcc"};

// Decoding errors, caught at the two decode functions and turned into text.
struct Bad {
    std::string what;
};

json parseLine(std::string_view line) {
    if (line.size() > kMaxLineBytes + 1) {
        throw Bad{"the line is longer than " + std::to_string(kMaxLineBytes) + " bytes"};
    }
    if (!line.empty() && line.back() == '\n') {
        line.remove_suffix(1);
    }
    bool tooDeep = false;
    json::parser_callback_t limit = [&](int depth, json::parse_event_t, json&) {
        if (depth > kMaxDepth) {
            tooDeep = true;
            return false;
        }
        return true;
    };
    json value = json::parse(line.begin(), line.end(), limit, /*allow_exceptions=*/false);
    if (tooDeep) {
        throw Bad{"nested more than " + std::to_string(kMaxDepth) + " levels deep"};
    }
    if (value.is_discarded()) {
        throw Bad{"not JSON"};
    }
    if (!value.is_object()) {
        throw Bad{"not a JSON object"};
    }
    return value;
}

// A member that may be absent; present, it must have the right type.
const json* member(const json& object, const char* name, json::value_t type) {
    const auto it = object.find(name);
    if (it == object.end() || it->is_null()) {
        return nullptr;
    }
    const bool numberWanted = type == json::value_t::number_unsigned;
    if (numberWanted ? !it->is_number_unsigned() : it->type() != type) {
        throw Bad{std::string("\"") + name + "\" has the wrong type"};
    }
    return &*it;
}

std::string text(const json& object, const char* name) {
    const json* value = member(object, name, json::value_t::string);
    return value != nullptr ? value->get<std::string>() : std::string();
}

std::uint64_t number(const json& object, const char* name) {
    const json* value = member(object, name, json::value_t::number_unsigned);
    return value != nullptr ? value->get<std::uint64_t>() : 0;
}

// The array member, each element an object.
std::vector<const json*> objects(const json& object, const char* name) {
    std::vector<const json*> out;
    if (const json* array = member(object, name, json::value_t::array)) {
        for (const json& element : *array) {
            if (!element.is_object()) {
                throw Bad{std::string("\"") + name + "\" holds something that is not an object"};
            }
            out.push_back(&element);
        }
    }
    return out;
}

template <std::size_t N>
std::size_t indexOf(const std::array<const char*, N>& names, const std::string& name,
                    const char* what) {
    for (std::size_t i = 0; i < N; ++i) {
        if (name == names[i]) {
            return i;
        }
    }
    throw Bad{std::string("unknown ") + what + " \"" + name + "\""};
}

WellType wellType(const json& object) {
    return static_cast<WellType>(indexOf(kWellNames, text(object, "type"), "well"));
}

Entry readEntry(const json& object, bool membersAllowed) {
    Entry entry{text(object, "name"), text(object, "type"), text(object, "address"),
                text(object, "id"), {}};
    if (!fromHex(entry.id)) {
        throw Bad{"an entry's \"id\" is not hex"};
    }
    const std::vector<const json*> members = objects(object, "members");
    if (!members.empty() && !membersAllowed) {
        throw Bad{"a list member has members of its own"};
    }
    for (const json* m : members) {
        entry.members.push_back(readEntry(*m, false));
    }
    return entry;
}

std::vector<Entry> readEntries(const json& object, const char* name) {
    std::vector<Entry> out;
    for (const json* e : objects(object, name)) {
        out.push_back(readEntry(*e, true));
    }
    return out;
}

std::vector<Well> readWells(const json& object) {
    std::vector<Well> out;
    for (const json* w : objects(object, "wells")) {
        out.push_back(Well{wellType(*w), readEntries(*w, "entries")});
    }
    if (out.size() > 3) {
        throw Bad{"more than three wells"};
    }
    return out;
}

json writeEntry(const Entry& entry) {
    json out = {{"name", entry.name},
                {"type", entry.type},
                {"address", entry.address},
                {"id", entry.id}};
    if (!entry.members.empty()) {
        json members = json::array();
        for (const Entry& m : entry.members) {
            members.push_back(writeEntry(m));
        }
        out["members"] = std::move(members);
    }
    return out;
}

json writeEntries(const std::vector<Entry>& entries) {
    json out = json::array();
    for (const Entry& e : entries) {
        out.push_back(writeEntry(e));
    }
    return out;
}

json writeWells(const std::vector<Well>& wells) {
    json out = json::array();
    for (const Well& w : wells) {
        out.push_back({{"type", wellName(w.type)}, {"entries", writeEntries(w.entries)}});
    }
    return out;
}

// Invalid UTF-8 from a card or a host is replaced rather than refused: a
// dialog must still open to show the rest.
std::string line(const json& value) {
    return value.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace

Answer Answer::error(std::string message) {
    Answer a(Kind::Error);
    a.message = std::move(message);
    return a;
}

Answer Answer::picked(std::size_t index) {
    Answer a(Kind::Ok);
    a.pick = index;
    return a;
}

Answer Answer::typed(OneOff address) {
    Answer a(Kind::Ok);
    a.oneOff = std::move(address);
    return a;
}

Answer Answer::chosen(std::vector<Well> wells) {
    Answer a(Kind::Ok);
    a.wells = std::move(wells);
    return a;
}

const char* dialogName(Dialog dialog) {
    return kDialogNames[static_cast<std::size_t>(dialog)];
}

const char* wellName(WellType type) {
    return kWellNames[static_cast<std::size_t>(type)];
}

std::string encodeRequest(const Request& r) {
    json out = {{"v", kProtocolVersion}, {"dialog", dialogName(r.dialog)}, {"parent", r.parent}};
    switch (r.dialog) {
        case Dialog::CheckNames:
            out["text"] = r.text;
            out["candidates"] = writeEntries(r.candidates);
            break;
        case Dialog::SelectNames:
            out["caption"] = r.caption;
            out["wells"] = writeWells(r.wells);
            out["book"] = writeEntries(r.book);
            break;
        case Dialog::ChooseProfile: {
            json profiles = json::array();
            for (const ProfileItem& p : r.profiles) {
                profiles.push_back({{"name", p.name}, {"displayName", p.displayName}});
            }
            out["profiles"] = std::move(profiles);
            break;
        }
        case Dialog::Compose: {
            out["profile"] = r.profile;
            json recipients = json::array();
            for (const Recipient& p : r.recipients) {
                recipients.push_back(
                    {{"type", wellName(p.type)}, {"name", p.name}, {"address", p.address}});
            }
            out["recipients"] = std::move(recipients);
            out["subject"] = r.subject;
            out["body"] = r.body;
            json attachments = json::array();
            for (const Attachment& a : r.attachments) {
                attachments.push_back({{"name", a.name}, {"path", a.path}, {"size", a.size}});
            }
            out["attachments"] = std::move(attachments);
            out["draft"] = r.draft;
            out["book"] = writeEntries(r.book);
            break;
        }
    }
    return line(out);
}

std::optional<Request> decodeRequest(std::string_view text_, std::string& error) {
    try {
        const json in = parseLine(text_);
        Request r;
        if (const json* v = member(in, "v", json::value_t::number_unsigned);
            v == nullptr || v->get<std::uint64_t>() != kProtocolVersion) {
            throw Bad{"not version " + std::to_string(kProtocolVersion) + " of the protocol"};
        }
        r.dialog = static_cast<Dialog>(indexOf(kDialogNames, text(in, "dialog"), "dialog"));
        r.parent = number(in, "parent");
        switch (r.dialog) {
            case Dialog::CheckNames:
                r.text = text(in, "text");
                r.candidates = readEntries(in, "candidates");
                break;
            case Dialog::SelectNames:
                r.caption = text(in, "caption");
                r.wells = readWells(in);
                r.book = readEntries(in, "book");
                break;
            case Dialog::ChooseProfile:
                for (const json* p : objects(in, "profiles")) {
                    r.profiles.push_back({text(*p, "name"), text(*p, "displayName")});
                }
                break;
            case Dialog::Compose:
                r.profile = text(in, "profile");
                for (const json* p : objects(in, "recipients")) {
                    r.recipients.push_back({wellType(*p), text(*p, "name"), text(*p, "address")});
                }
                r.subject = text(in, "subject");
                r.body = text(in, "body");
                for (const json* a : objects(in, "attachments")) {
                    r.attachments.push_back({text(*a, "name"), text(*a, "path"), number(*a, "size")});
                }
                r.draft = text(in, "draft");
                r.book = readEntries(in, "book");
                break;
        }
        return r;
    } catch (const Bad& bad) {
        error = bad.what;
    } catch (const json::exception& e) {  // a number out of range, for one
        error = e.what();
    }
    return std::nullopt;
}

std::string encodeAnswer(const Answer& a) {
    json out;
    switch (a.kind) {
        case Answer::Kind::Shown:
            return line({{"event", "shown"}});
        case Answer::Kind::Cancel:
            return line({{"result", "cancel"}});
        case Answer::Kind::Error:
            return line({{"result", "error"}, {"message", a.message}});
        case Answer::Kind::Ok:
            out["result"] = "ok";
            break;
    }
    if (a.pick) {
        out["pick"] = *a.pick;
    }
    if (a.oneOff) {
        out["oneOff"] = {{"name", a.oneOff->name}, {"address", a.oneOff->address}};
    }
    if (!a.wells.empty()) {
        out["wells"] = writeWells(a.wells);
    }
    return line(out);
}

std::optional<Answer> decodeAnswer(std::string_view text_, Dialog dialog, std::string& error) {
    try {
        const json in = parseLine(text_);
        Answer a;
        if (in.contains("event")) {
            if (text(in, "event") != "shown") {
                throw Bad{"unknown event \"" + text(in, "event") + "\""};
            }
            a.kind = Answer::Kind::Shown;
            return a;
        }
        const std::string result = text(in, "result");
        if (result == "cancel") {
            a.kind = Answer::Kind::Cancel;
            return a;
        }
        if (result == "error") {
            a.kind = Answer::Kind::Error;
            a.message = text(in, "message");
            return a;
        }
        if (result != "ok") {
            throw Bad{"unknown result \"" + result + "\""};
        }
        a.kind = Answer::Kind::Ok;
        if (member(in, "pick", json::value_t::number_unsigned) != nullptr) {
            a.pick = static_cast<std::size_t>(number(in, "pick"));
        }
        if (const json* o = member(in, "oneOff", json::value_t::object)) {
            a.oneOff = OneOff{text(*o, "name"), text(*o, "address")};
        }
        a.wells = readWells(in);
        switch (dialog) {
            case Dialog::CheckNames:
                if (a.pick.has_value() == a.oneOff.has_value()) {
                    throw Bad{"an answer to check-names needs either \"pick\" or \"oneOff\""};
                }
                break;
            case Dialog::ChooseProfile:
                if (!a.pick) {
                    throw Bad{"an answer to choose-profile needs \"pick\""};
                }
                break;
            case Dialog::SelectNames:
            case Dialog::Compose:
                break;
        }
        return a;
    } catch (const Bad& bad) {
        error = bad.what;
    } catch (const json::exception& e) {
        error = e.what();
    }
    return std::nullopt;
}

std::string toHex(const std::vector<std::uint8_t>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::optional<std::vector<std::uint8_t>> fromHex(std::string_view hex) {
    if (hex.size() % 2 != 0) {
        return std::nullopt;
    }
    const auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        if (c >= 'a' && c <= 'f') {
            return c - 'a' + 10;
        }
        if (c >= 'A' && c <= 'F') {
            return c - 'A' + 10;
        }
        return -1;
    };
    std::vector<std::uint8_t> out;
    out.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = digit(hex[i]), low = digit(hex[i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        out.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    return out;
}

}  // namespace mb::dialogs
