// SPDX-License-Identifier: MIT
#include "profiles/profiles.h"

#include <fcntl.h>
#include <ini.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <set>

#include "base/command_words.h"
#include "base/regular_file.h"

namespace mb::provider {
namespace {

constexpr const char* kSectionPrefix = "profile ";
constexpr std::size_t kMaxFileSize = 1024 * 1024;
constexpr const char* kSystemSendmail = "/usr/sbin/sendmail";
// inih keeps at most 49 characters of a section header.
constexpr std::size_t kMaxNameLength = 40;
// The longest line we take. inih's own buffer holds 198 characters, too few
// for a token command with its arguments; a longer line reaches inih with its
// value left out, and the handler takes the value from here instead.
constexpr std::size_t kMaxLine = 65536;

std::string homeDirectory() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return home;
    }
    if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr) {
        return entry->pw_dir;
    }
    return "/";
}

// An XDG base directory: the variable when it holds an absolute path,
// otherwise the fallback under the home directory.
std::string xdgDirectory(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    if (value != nullptr && value[0] == '/') {
        return value;
    }
    return homeDirectory() + "/" + fallback;
}

std::string expandHome(const std::string& path) {
    if (path == "~") {
        return homeDirectory();
    }
    if (path.rfind("~/", 0) == 0) {
        return homeDirectory() + path.substr(1);
    }
    return path;
}

std::string trim(const std::string& text) {
    const char* blanks = " \t\r\n";
    std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) {
        return "";
    }
    std::size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

bool parseBool(const std::string& value, bool& out) {
    std::string lower;
    for (char c : value) {
        lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    }
    if (lower == "true" || lower == "yes" || lower == "1") {
        out = true;
        return true;
    }
    if (lower == "false" || lower == "no" || lower == "0") {
        out = false;
        return true;
    }
    return false;
}

// A value as inih leaves it: a ';' after a blank starts a comment, and blanks
// at either end go.
std::string withoutComment(const std::string& value) {
    for (std::size_t i = 1; i < value.size(); ++i) {
        if (value[i] == ';' && (value[i - 1] == ' ' || value[i - 1] == '\t')) {
            return trim(value.substr(0, i));
        }
    }
    return trim(value);
}

// "ab:CD:..." as "AB:CD:...", when it is 32 hex bytes; empty otherwise.
std::string normalFingerprint(const std::string& value) {
    constexpr std::size_t kBytes = 32;
    if (value.size() != kBytes * 3 - 1) {
        return "";
    }
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (i % 3 == 2) {
            if (c != ':') {
                return "";
            }
            out.push_back(':');
        } else if (std::isxdigit(static_cast<unsigned char>(c)) == 0) {
            return "";
        } else {
            out.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
        }
    }
    return out;
}

// An SMTP URL is scheme://host[:port][/]; credentials belong in their own
// keys, so that an error message quoting the URL never shows them.
bool validSmtpUrl(const std::string& value, std::size_t hostStart) {
    std::string authority = value.substr(hostStart);
    if (!authority.empty() && authority.back() == '/') {
        authority.pop_back();
    }
    if (authority.empty() || authority.find_first_of("@/?# \t") != std::string::npos) {
        return false;
    }
    const std::size_t colon = authority.rfind(':');
    if (colon == std::string::npos || authority.back() == ']') {
        return true;
    }
    const std::string port = authority.substr(colon + 1);
    return colon > 0 && !port.empty() && port.size() <= 5 &&
           port.find_first_not_of("0123456789") == std::string::npos && std::stoi(port) > 0 &&
           std::stoi(port) < 65536;
}

// imap://HOST[:PORT]/FOLDER or imaps://...: the same authority rules as an
// SMTP URL, and a folder that is one line.
bool validSentCopy(const std::string& value) {
    const std::size_t hostStart = value.rfind("imap://", 0) == 0    ? 7
                                  : value.rfind("imaps://", 0) == 0 ? 8
                                                                    : 0;
    if (hostStart == 0) {
        return false;
    }
    const std::size_t slash = value.find('/', hostStart);
    if (slash == std::string::npos || slash + 1 == value.size() ||
        !validSmtpUrl(value.substr(0, slash), hostStart)) {
        return false;
    }
    for (std::size_t i = slash + 1; i < value.size(); ++i) {
        const auto c = static_cast<unsigned char>(value[i]);
        if (c < 0x20 || c == 0x7F) {
            return false;
        }
    }
    return true;
}

bool validTransport(const std::string& value) {
    return value == "none" || value == "sendmail" ||
           (value.rfind("sendmail:", 0) == 0 && value.size() > 9) ||
           (value.rfind("smtp://", 0) == 0 && validSmtpUrl(value, 7)) ||
           (value.rfind("smtps://", 0) == 0 && validSmtpUrl(value, 8));
}

// The state of one parse. inih reads through lineReader, so the line being
// handled is always the last one handed out.
struct ParseState {
    std::string path;
    std::string text;
    std::size_t offset = 0;
    int line = 0;
    int errorLine = 0;
    std::string error;  // the first problem, "PATH:LINE: ..."
    std::vector<Profile> profiles;
    std::vector<std::set<std::string>> seenKeys;
    std::vector<std::map<std::string, int>> keyLines;  // each profile's keys and their lines
    bool afterKey = false;      // the last line that was not blank or a comment held a key
    bool continuation = false;  // the line being handled continues the last key's value
    std::optional<std::string> longValue;  // the value of a line too long for inih
    // A key is applied once its value is whole: at the next key, section or
    // the end of the file.
    struct Pending {
        std::string key;
        std::string value;
        int line = 0;
    };
    std::optional<Pending> pending;

    void fail(const std::string& message) {
        if (error.empty()) {
            errorLine = line;
            error = path + ":" + std::to_string(line) + ": " + message;
        }
    }
};

bool startProfile(ParseState& state, const std::string& section);
void flushPending(ParseState& state);
void finishProfile(ParseState& state);

// inih reports sections only through the keys in them, so an empty or
// misspelt section would go unnoticed; sections are taken here instead, as
// each line is handed to inih, by inih's rules: an indented line after a key
// continues that key's value, and a line without its ']' is left to inih,
// which reports it as a syntax error.
void noteLine(ParseState& state, const std::string& raw) {
    std::string line = trim(raw);
    if (line.empty() || line[0] == ';' || line[0] == '#') {
        return;
    }
    bool indented = raw[0] == ' ' || raw[0] == '\t';
    state.continuation = indented && state.afterKey;
    if (line[0] != '[' || state.continuation) {
        state.afterKey = true;
        return;
    }
    state.afterKey = false;
    std::size_t close = line.find(']');
    if (close != std::string::npos) {
        flushPending(state);
        finishProfile(state);
        startProfile(state, line.substr(1, close - 1));
    }
}

// Hands inih the next whole line of the file.
char* nextLine(ParseState* state, char* buffer, int size) {
    if (state->offset >= state->text.size() || size < 2) {
        return nullptr;
    }
    std::size_t end = state->text.find('\n', state->offset);
    std::size_t stop = end == std::string::npos ? state->text.size() : end + 1;
    std::size_t length = stop - state->offset;
    ++state->line;
    const std::string raw = state->text.substr(state->offset, length);
    state->offset = stop;
    noteLine(*state, raw);
    if (length <= static_cast<std::size_t>(size - 1)) {
        std::memcpy(buffer, raw.data(), length);
        buffer[length] = '\0';
        return buffer;
    }
    // Too long for inih's buffer, which would split it and take the rest for
    // a new line: inih gets the key alone, and the value waits here.
    const std::size_t equals = raw.find_first_of("=:");
    std::string shortLine;
    if (length > kMaxLine) {
        state->fail("line longer than " + std::to_string(kMaxLine - 2) + " characters");
        return nullptr;
    }
    const std::string text = trim(raw);
    if (text[0] == ';' || text[0] == '#') {
        shortLine = ";";  // a comment, however long
    } else if (state->continuation) {
        shortLine = " -";
        state->longValue = raw;
    } else if (equals != std::string::npos && equals + 4 < static_cast<std::size_t>(size) &&
               text[0] != '[') {
        shortLine = raw.substr(0, equals) + "= -";
        state->longValue = raw.substr(equals + 1);
    } else {
        state->fail("line longer than " + std::to_string(size - 2) +
                    " characters that is neither a key nor a value");
        return nullptr;
    }
    shortLine += "\n";
    std::memcpy(buffer, shortLine.data(), shortLine.size() + 1);
    return buffer;
}

char* lineReader(char* buffer, int size, void* stream) noexcept {
    auto* state = static_cast<ParseState*>(stream);
    try {
        return nextLine(state, buffer, size);
    } catch (...) {
        state->fail("out of memory");
        return nullptr;
    }
}

bool applyKey(ParseState& state, Profile& profile, const std::string& key,
              const std::string& value) {
    if (key == "address_books") {
        std::string item;
        for (char c : value + ",") {
            if (c == ',' || c == ';') {
                std::string entry = trim(item);
                if (!entry.empty()) {
                    profile.addressBooks.push_back(expandHome(entry));
                }
                item.clear();
            } else {
                item.push_back(c);
            }
        }
        return true;
    }
    if (!state.seenKeys.back().insert(key).second) {
        state.fail("key '" + key + "' given twice");
        return false;
    }
    state.keyLines.back()[key] = state.line;
    if (key == "display_name") {
        profile.displayName = value;
    } else if (key == "default" || key == "reject_unicode") {
        bool flag = false;
        if (!parseBool(value, flag)) {
            state.fail("'" + key + "' must be true or false, not '" + value + "'");
            return false;
        }
        (key == "default" ? profile.isDefault : profile.rejectUnicode) = flag;
        if (key == "default" && flag) {
            for (const Profile& other : state.profiles) {
                if (&other != &profile && other.isDefault) {
                    state.fail("profile '" + other.name + "' is the default already");
                    return false;
                }
            }
        }
    } else if (key == "sender_address") {
        profile.senderAddress = value;
    } else if (key == "sender_name") {
        profile.senderName = value;
    } else if (key == "store") {
        if (value.empty()) {
            state.fail("'store' is empty");
            return false;
        }
        profile.storePath = expandHome(value);
    } else if (key == "transport") {
        if (!validTransport(value)) {
            const bool url = value.find("://") != std::string::npos;
            state.fail(url ? "bad transport URL (smtp://HOST[:PORT] or smtps://HOST[:PORT], "
                             "credentials in 'username' and 'password')"
                           : "unknown transport '" + value +
                                 "' (smtp://..., smtps://..., sendmail, sendmail:COMMAND or none)");
            return false;
        }
        profile.transport = value;
    } else if (key == "starttls") {
        if (value != "try" && value != "required") {
            state.fail("unknown starttls '" + value + "' (try or required)");
            return false;
        }
        profile.starttlsRequired = value == "required";
    } else if (key == "tls") {
        if (value == "off") {
            profile.tls = TlsMode::Off;
        } else if (value == "starttls") {
            profile.tls = TlsMode::Starttls;
        } else if (value == "implicit") {
            profile.tls = TlsMode::Implicit;
        } else {
            state.fail("unknown tls '" + value + "' (off, starttls or implicit)");
            return false;
        }
    } else if (key == "tls_trust_file" || key == "tls_client_cert" || key == "tls_client_key") {
        if (value.empty()) {
            state.fail("'" + key + "' is empty (a PEM file)");
            return false;
        }
        (key == "tls_trust_file"    ? profile.tlsTrustFile
         : key == "tls_client_cert" ? profile.tlsClientCert
                                    : profile.tlsClientKey) = expandHome(value);
    } else if (key == "tls_fingerprint") {
        profile.tlsFingerprint = normalFingerprint(value);
        if (profile.tlsFingerprint.empty()) {
            state.fail("'tls_fingerprint' must be the SHA-256 of the server's certificate: "
                       "32 hex bytes separated by ':', not '" + value + "'");
            return false;
        }
    } else if (key == "auth") {
        static const std::map<std::string, AuthMechanism> mechanisms = {
            {"plain", AuthMechanism::Plain},     {"login", AuthMechanism::Login},
            {"cram-md5", AuthMechanism::CramMd5}, {"xoauth2", AuthMechanism::XOAuth2},
            {"oauthbearer", AuthMechanism::OAuthBearer}, {"external", AuthMechanism::External}};
        std::string lower;
        for (char c : value) {
            lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
        }
        const auto found = mechanisms.find(lower);
        if (found == mechanisms.end()) {
            state.fail("unknown auth '" + value +
                       "' (plain, login, cram-md5, xoauth2, oauthbearer or external)");
            return false;
        }
        profile.auth = found->second;
    } else if (key == "password_command" || key == "oauth2_token_command") {
        std::vector<std::string> words;
        if (!splitCommandWords(value, words)) {
            state.fail("'" + key + "' " +
                       (value.find_first_not_of(" \t") == std::string::npos
                            ? std::string("is empty (a command and its arguments)")
                            : std::string("has an unbalanced quote")));
            return false;
        }
        (key == "password_command" ? profile.passwordCommand : profile.oauth2TokenCommand) = value;
    } else if (key == "secret_service" || key == "sendmail_from") {
        bool flag = false;
        if (!parseBool(value, flag)) {
            state.fail("'" + key + "' must be yes or no, not '" + value + "'");
            return false;
        }
        (key == "secret_service" ? profile.secretService : profile.sendmailFrom) = flag;
    } else if (key == "username") {
        profile.username = value;
    } else if (key == "password") {
        profile.password = value;
    } else if (key == "netrc") {
        if (value.empty()) {
            state.fail("'netrc' is empty (a file, or default)");
            return false;
        }
        profile.netrc = value == "default" ? value : expandHome(value);
    } else if (key == "timeout") {
        if (value.empty() || value.size() > 4 ||
            value.find_first_not_of("0123456789") != std::string::npos || std::stoi(value) < 1 ||
            std::stoi(value) > 3600) {
            state.fail("'timeout' must be a number of seconds from 1 to 3600, not '" + value + "'");
            return false;
        }
        profile.timeout = std::stoi(value);
    } else if (key == "sent_copy") {
        if (!validSentCopy(value)) {
            // Not quoted: a URL with a password in it must not reach the log.
            state.fail("bad sent_copy (imap://HOST[:PORT]/FOLDER or imaps://HOST[:PORT]/FOLDER, "
                       "credentials in 'username' and 'password')");
            return false;
        }
        profile.sentCopy = value;
    } else if (key == "ui") {
        if (value == "auto") {
            profile.ui = UiDriver::Auto;
        } else if (value == "headless") {
            profile.ui = UiDriver::Headless;
        } else if (value == "desktop") {
            profile.ui = UiDriver::Desktop;
        } else {
            state.fail("unknown ui '" + value + "' (auto, headless or desktop)");
            return false;
        }
    } else if (key == "compose") {
        if (value == "auto") {
            profile.compose = ComposeWindow::Auto;
        } else if (value == "mailer") {
            profile.compose = ComposeWindow::Mailer;
        } else if (value == "builtin") {
            profile.compose = ComposeWindow::Builtin;
        } else {
            state.fail("unknown compose '" + value + "' (auto, mailer or builtin)");
            return false;
        }
    } else {
        state.fail("unknown key '" + key + "'");
        return false;
    }
    return true;
}

bool startProfile(ParseState& state, const std::string& section) {
    if (section.rfind(kSectionPrefix, 0) != 0) {
        state.fail("unknown section [" + section + "] (expected [profile NAME])");
        return false;
    }
    std::string name = trim(section.substr(std::strlen(kSectionPrefix)));
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
        state.fail("bad profile name '" + name + "'");
        return false;
    }
    if (name.size() > kMaxNameLength) {
        state.fail("profile name longer than " + std::to_string(kMaxNameLength) + " characters");
        return false;
    }
    for (const Profile& existing : state.profiles) {
        if (existing.name == name) {
            state.fail("profile '" + name + "' defined twice");
            return false;
        }
    }
    Profile profile;
    profile.name = name;
    state.profiles.push_back(profile);
    state.seenKeys.emplace_back();
    state.keyLines.emplace_back();
    return true;
}

void flushPending(ParseState& state) {
    if (!state.pending || state.profiles.empty()) {
        state.pending.reset();
        return;
    }
    const ParseState::Pending pending = std::move(*state.pending);
    state.pending.reset();
    // Errors name the key's own line, not the one that ended its value.
    const int current = state.line;
    state.line = pending.line;
    applyKey(state, state.profiles.back(), pending.key, pending.value);
    state.line = current;
}

// Keys that make sense only together, or not together, checked once the
// profile's section is whole; an error names the later of the lines.
void finishProfile(ParseState& state) {
    if (state.profiles.empty() || !state.error.empty()) {
        return;
    }
    const Profile& profile = state.profiles.back();
    const std::map<std::string, int>& lines = state.keyLines.back();
    auto lineOf = [&](const std::string& key) {
        const auto found = lines.find(key);
        return found == lines.end() ? 0 : found->second;
    };
    auto conflict = [&](std::initializer_list<const char*> keys, const std::string& message) {
        const int current = state.line;
        state.line = 0;
        for (const char* key : keys) {
            state.line = std::max(state.line, lineOf(key));
        }
        state.fail(message);
        state.line = current;
    };
    const bool implicitUrl = profile.transport.rfind("smtps://", 0) == 0;
    const bool plainUrl = profile.transport.rfind("smtp://", 0) == 0;
    if (lines.count("tls") != 0 && lines.count("starttls") != 0) {
        conflict({"tls", "starttls"},
                 "'tls' and 'starttls' together (tls = starttls requires STARTTLS; drop starttls)");
    } else if (implicitUrl && profile.tls == TlsMode::Off) {
        conflict({"tls", "transport"}, "'tls = off' with an smtps:// transport, which is TLS");
    } else if (implicitUrl && profile.tls == TlsMode::Starttls) {
        conflict({"tls", "transport"},
                 "'tls = starttls' with an smtps:// transport (use smtp://, or tls = implicit)");
    } else if (profile.tls == TlsMode::Off &&
               (!profile.tlsTrustFile.empty() || !profile.tlsFingerprint.empty() ||
                !profile.tlsClientCert.empty())) {
        conflict({"tls", "tls_trust_file", "tls_fingerprint", "tls_client_cert"},
                 "'tls = off' with TLS keys (tls_trust_file, tls_fingerprint, tls_client_cert)");
    } else if (!profile.tlsClientKey.empty() && profile.tlsClientCert.empty()) {
        conflict({"tls_client_key"}, "'tls_client_key' without 'tls_client_cert'");
    } else if (int sources = (!profile.password.empty() || !profile.netrc.empty()) +
                             !profile.passwordCommand.empty() + profile.secretService;
               sources > 1) {
        // password beside netrc is the older way: the password serves with a
        // username, the netrc without one.
        conflict({"password", "netrc", "password_command", "secret_service"},
                 "more than one of password (or netrc), password_command and secret_service");
    } else if ((!profile.passwordCommand.empty() || profile.secretService ||
                !profile.oauth2TokenCommand.empty()) &&
               profile.username.empty()) {
        conflict({"password_command", "secret_service", "oauth2_token_command"},
                 "'username' is needed with password_command, secret_service or "
                 "oauth2_token_command");
    } else if (profile.secretService && !plainUrl && !implicitUrl) {
        conflict({"secret_service", "transport"},
                 "'secret_service' needs an smtp:// or smtps:// transport (its host names the "
                 "password)");
    } else if (!profile.oauth2TokenCommand.empty() &&
               (sources = !profile.password.empty() + !profile.netrc.empty() +
                          !profile.passwordCommand.empty() + profile.secretService) > 0) {
        conflict({"oauth2_token_command", "password", "netrc", "password_command",
                  "secret_service"},
                 "'oauth2_token_command' together with a password source");
    } else if (!profile.oauth2TokenCommand.empty() && profile.auth != AuthMechanism::Any &&
               profile.auth != AuthMechanism::XOAuth2 &&
               profile.auth != AuthMechanism::OAuthBearer) {
        conflict({"oauth2_token_command", "auth"},
                 "'oauth2_token_command' with a password mechanism in 'auth' (xoauth2 or "
                 "oauthbearer)");
    } else if ((profile.auth == AuthMechanism::XOAuth2 ||
                profile.auth == AuthMechanism::OAuthBearer) &&
               profile.oauth2TokenCommand.empty()) {
        conflict({"auth"}, "'auth = xoauth2' or 'oauthbearer' needs 'oauth2_token_command'");
    } else if (profile.auth == AuthMechanism::External && profile.tlsClientCert.empty()) {
        conflict({"auth"}, "'auth = external' needs 'tls_client_cert'");
    }
}

int handler(void* user, const char* section, const char* name, const char* value) {
    auto* state = static_cast<ParseState*>(user);
    try {
        if (section == nullptr || section[0] == '\0' || state->profiles.empty()) {
            state->fail("key outside a [profile NAME] section");
            return 0;
        }
        const std::string key = name != nullptr ? name : "";
        std::string text = value != nullptr ? value : "";
        if (state->longValue) {
            text = withoutComment(*state->longValue);
            state->longValue.reset();
        } else if (state->continuation) {
            text = withoutComment(text);  // inih leaves " ;" comments on continuation lines
        }
        if (state->continuation && state->pending && state->pending->key == key) {
            // address_books lists items; any other value reads on after a blank.
            if (!state->pending->value.empty() && !text.empty()) {
                state->pending->value += key == "address_books" ? "," : " ";
            }
            state->pending->value += text;
            return 1;
        }
        flushPending(*state);
        state->pending = ParseState::Pending{key, text, state->line};
        return 1;
    } catch (...) {
        state->fail("out of memory");
        return 0;
    }
}

void fillDefaults(std::vector<Profile>& profiles) {
    for (Profile& profile : profiles) {
        if (profile.displayName.empty()) {
            profile.displayName = profile.name;
        }
        if (profile.storePath.empty()) {
            profile.storePath = dataRoot() + "/" + profile.name;
        }
    }
}

}  // namespace

std::string profilesPath() {
    return xdgDirectory("XDG_CONFIG_HOME", ".config") + "/mailbroker/profiles.ini";
}

std::string dataRoot() {
    return xdgDirectory("XDG_DATA_HOME", ".local/share") + "/mailbroker";
}

ProfileLoad loadProfiles() {
    return loadProfilesFrom(profilesPath());
}

ProfileLoad loadProfilesFrom(const std::string& path) {
    ProfileLoad load;
    std::string text;
    // Never blocks: a FIFO or a device named as the file is refused unopened.
    int failure = readRegularFile(path, kMaxFileSize, text);
    if (failure == ENOENT) {
        Profile builtIn;
        builtIn.name = "Default";
        builtIn.isDefault = true;
        builtIn.transport = ::access(kSystemSendmail, X_OK) == 0 ? "sendmail" : "none";
        load.profiles.push_back(builtIn);
        fillDefaults(load.profiles);
        load.builtIn = true;
        return load;
    }
    if (failure != 0) {
        load.result = MAPI_E_CORRUPT_DATA;
        load.error = path + ": cannot be read: " +
                     (failure == EFBIG ? "larger than " + std::to_string(kMaxFileSize) + " bytes"
                                       : regularFileFailureText(failure));
        return load;
    }
    return parseProfiles(path, std::move(text));
}

ProfileLoad parseProfiles(const std::string& path, std::string text) {
    ProfileLoad load;
    ParseState state;
    state.path = path;
    state.text = std::move(text);
    if (state.text.rfind("\xEF\xBB\xBF", 0) == 0) {
        state.text.erase(0, 3);  // a UTF-8 byte order mark
    }
    if (state.text.find('\0') != std::string::npos) {
        load.result = MAPI_E_CORRUPT_DATA;
        load.error = path + ": contains a NUL byte; not a text file";
        return load;
    }
    static std::once_flag limits;
    std::call_once(limits, [] {
        ini_use_stack = false;  // a buffer of ini_max_line bytes on the heap
        ini_allow_realloc = false;
        ini_max_line = kMaxLine;
    });
    int firstError = ini_parse_stream(lineReader, &state, handler, &state);
    state.line = static_cast<int>(std::count(state.text.begin(), state.text.end(), '\n')) + 1;
    flushPending(state);
    finishProfile(state);
    if (firstError > 0 && (state.error.empty() || firstError < state.errorLine)) {
        // inih's own syntax errors do not reach the handler; it reports the
        // line of the first error. It wins when it comes before ours.
        state.error.clear();
        state.line = firstError;
        state.fail("syntax error (expected [profile NAME], key = value or a comment)");
    } else if (firstError < 0 && state.error.empty()) {
        state.fail("cannot be parsed (out of memory)");
    }
    if (!state.error.empty()) {
        load.result = MAPI_E_CORRUPT_DATA;
        load.error = state.error;
        return load;
    }
    load.profiles = std::move(state.profiles);
    fillDefaults(load.profiles);
    return load;
}

std::string urlHost(const std::string& url) {
    const std::size_t scheme = url.find("://");
    if (scheme == std::string::npos) {
        return "";
    }
    std::string authority = url.substr(scheme + 3);
    authority = authority.substr(0, authority.find('/'));
    if (const std::size_t at = authority.rfind('@'); at != std::string::npos) {
        authority.erase(0, at + 1);
    }
    if (!authority.empty() && authority[0] == '[') {
        const std::size_t close = authority.find(']');
        return close == std::string::npos ? "" : authority.substr(1, close - 1);
    }
    return authority.substr(0, authority.find(':'));
}

const Profile* defaultProfile(const ProfileLoad& load) {
    for (const Profile& profile : load.profiles) {
        if (profile.isDefault) {
            return &profile;
        }
    }
    return nullptr;
}

}  // namespace mb::provider
