// SPDX-License-Identifier: MIT
// What the desktop driver and the dialog program (mailbroker-dialogs) say to
// each other over the program's standard streams.
//
// Each message is one JSON object on one line: UTF-8, ended by "\n", at most
// kMaxLineBytes long. Unknown members are ignored, so either side may grow.
//
// The driver starts one program per dialog and writes exactly one request to
// its stdin, which it then keeps open. End of file on stdin means the request
// is over (its host ended, so the Broker did): a modal dialog closes and the
// program exits. The program answers on stdout:
//
//   {"event":"shown"}                      the window is mapped (optional)
//   {"result":"ok", ...}                   confirmed; members by dialog below
//   {"result":"cancel"}                    Escape, or the window closed
//   {"result":"error","message":TEXT}      the dialog could not be shown
//
// The first "result" line ends the conversation. A program that ends without
// one failed, whatever its exit code.
//
// An entry, as the dialogs show and return it:
//
//   {"name":TEXT, "type":"SMTP"|"EX"|"MAPIPDL"|"", "address":TEXT,
//    "id":HEX, "members":[ENTRY...]}
//
// "type" says what the icon shows: MAPIPDL a list, EX a directory user, any
// other a person. "id" is the entry identifier in lower-case hex, "" for a
// one-off; the program returns it unchanged. "members" (lists only, one level,
// never nested further) are what the list shows on demand.
//
// Requests: {"v":1, "dialog":NAME, "parent":N, ...}. "parent" is the host's
// window (an X11 window id), 0 for none. By dialog:
//
//   "check-names"     "text":TEXT as typed, "candidates":[ENTRY...] (may be
//                     empty: nothing matched)
//     ok:             "pick":INDEX into candidates, or
//                     "oneOff":{"name":TEXT,"address":TEXT} typed by the user
//   "select-names"    "caption":TEXT, "wells":[WELL...] (0 to 3),
//                     "book":[ENTRY...]
//                     where WELL is {"type":"to"|"cc"|"bcc","entries":[ENTRY...]}
//     ok:             "wells":[WELL...], the same wells in the same order
//   "choose-profile"  "profiles":[{"name":TEXT,"displayName":TEXT}...]
//     ok:             "pick":INDEX into profiles
//   "compose"         "profile":TEXT, "recipients":[{"type":"to"|"cc"|"bcc",
//                     "name":TEXT,"address":TEXT}...], "subject":TEXT,
//                     "body":TEXT, "attachments":[{"name":TEXT,"path":TEXT,
//                     "size":N}...], "draft":PATH of the message in Drafts,
//                     "book":[ENTRY...] for completion
//     The compose window is not modal: the program answers {"event":"shown"}
//     once the window is up and then runs on by itself, in a session of its
//     own, whatever happens to its stdin, stdout or the Broker. "ok" or
//     "error" before "shown" mean the window never opened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mb::dialogs {

inline constexpr int kProtocolVersion = 1;
inline constexpr std::size_t kMaxLineBytes = 16 * 1024 * 1024;

enum class Dialog { CheckNames, SelectNames, ChooseProfile, Compose };
enum class WellType { To, Cc, Bcc };

struct Entry {
    std::string name;
    std::string type;     // "SMTP", "EX", "MAPIPDL" or ""
    std::string address;  // empty for a list
    std::string id;       // lower-case hex, "" for a one-off
    std::vector<Entry> members;

    bool isList() const { return type == "MAPIPDL"; }
    bool isDirectoryUser() const { return type == "EX"; }
    bool operator==(const Entry&) const = default;
};

struct Well {
    WellType type = WellType::To;
    std::vector<Entry> entries;
    bool operator==(const Well&) const = default;
};

struct ProfileItem {
    std::string name, displayName;
    bool operator==(const ProfileItem&) const = default;
};

struct Recipient {
    WellType type = WellType::To;
    std::string name, address;
    bool operator==(const Recipient&) const = default;
};

struct Attachment {
    std::string name, path;
    std::uint64_t size = 0;
    bool operator==(const Attachment&) const = default;
};

// One request; the members a dialog does not use stay empty.
struct Request {
    Dialog dialog = Dialog::CheckNames;
    std::uint64_t parent = 0;
    std::string text;                 // check-names
    std::vector<Entry> candidates;    // check-names
    std::string caption;              // select-names
    std::vector<Well> wells;          // select-names
    std::vector<Entry> book;          // select-names, compose
    std::vector<ProfileItem> profiles;  // choose-profile
    std::string profile;              // compose
    std::vector<Recipient> recipients;  // compose
    std::string subject, body;        // compose
    std::vector<Attachment> attachments;  // compose
    std::string draft;                // compose
    bool operator==(const Request&) const = default;
};

struct OneOff {
    std::string name, address;
    bool operator==(const OneOff&) const = default;
};

struct Answer {
    enum class Kind { Shown, Ok, Cancel, Error };
    Kind kind = Kind::Cancel;
    std::string message;               // Error
    std::optional<std::size_t> pick;   // Ok: check-names, choose-profile
    std::optional<OneOff> oneOff;      // Ok: check-names
    std::vector<Well> wells;           // Ok: select-names
    bool operator==(const Answer&) const = default;

    static Answer shown() { return Answer{Kind::Shown}; }
    static Answer cancel() { return Answer{Kind::Cancel}; }
    static Answer error(std::string message);
    static Answer picked(std::size_t index);
    static Answer typed(OneOff address);
    static Answer chosen(std::vector<Well> wells);

  private:
    explicit Answer(Kind k) : kind(k) {}

  public:
    Answer() = default;
};

// The wire names: "check-names", "to", ...
const char* dialogName(Dialog dialog);
const char* wellName(WellType type);

// One line each, "\n" included.
std::string encodeRequest(const Request& request);
std::string encodeAnswer(const Answer& answer);

// A line (its "\n" optional) read back; nullopt with `error` saying what is
// wrong for anything that is not a well-formed message of its kind: not
// JSON, not an object, a member of the wrong type, an unknown dialog, result
// or well, members nested in members, a pick that is not a whole number, an
// "ok" without what its dialog returns. `dialog` is the request the answer
// belongs to.
std::optional<Request> decodeRequest(std::string_view line, std::string& error);
std::optional<Answer> decodeAnswer(std::string_view line, Dialog dialog, std::string& error);

// Entry identifiers as the wire carries them.
std::string toHex(const std::vector<std::uint8_t>& bytes);
std::optional<std::vector<std::uint8_t>> fromHex(std::string_view hex);

}  // namespace mb::dialogs
