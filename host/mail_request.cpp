// SPDX-License-Identifier: MIT
#include "host/mail_request.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <system_error>

#include "codec/query_record.h"
#include "pal/win32.h"

#ifdef _WIN32
#include <io.h>
#endif

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
// The C runtime of Windows: the bytes as they are (no CRLF translation, no end
// at Ctrl-Z), and not inherited by the Broker.
constexpr int kBodyOpenFlags = O_RDONLY | O_BINARY | O_NOINHERIT;
#else
constexpr int kBodyOpenFlags = O_RDONLY | O_CLOEXEC;
#endif

struct OptionRule {
    const char* name;
    bool takesValue;
    bool repeatable;
};

// Option name -> its values in command-line order; a flag holds one "".
using Options = std::map<std::string, std::vector<std::string>>;

Options parseOptions(const char* command, const std::vector<std::string>& args,
                     const std::vector<OptionRule>& rules) {
    Options options;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        if (size_t eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.resize(eq);
        }
        const OptionRule* rule = nullptr;
        for (const auto& s : rules) {
            if (name == s.name) {
                rule = &s;
            }
        }
        if (rule == nullptr) {
            throw UsageError(
                std::string(command) +
                (name.rfind("--", 0) == 0 ? ": unknown option " : ": unexpected argument ") + name);
        }
        if (!rule->repeatable && options.count(name) != 0) {
            throw UsageError(std::string(command) + ": " + name + " given twice");
        }
        std::string value;
        if (rule->takesValue) {
            if (inlineValue) {
                value = *inlineValue;
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                throw UsageError(std::string(command) + ": " + name + " needs a value");
            }
        } else if (inlineValue) {
            throw UsageError(std::string(command) + ": " + name + " takes no value");
        }
        options[name].push_back(std::move(value));
    }
    return options;
}

bool isUtf8(const std::string& text) {
    if (text.empty()) {
        return true;
    }
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                               static_cast<int>(text.size()), nullptr, 0) > 0;
}

KsString text(const char* command, const std::string& what, const std::string& value) {
    return requestText(command, what, value);
}

std::string joined(const std::vector<std::string>& values) {
    return joinedValues(values);
}

// Each recipient option present becomes one field, its values joined by ';'.
void putRecipients(const char* command, const Options& options, ParamMap& params) {
    for (const char* key : {"to", "cc", "bcc"}) {
        auto it = options.find(std::string("--") + key);
        if (it != options.end()) {
            params[KsString(key)] = text(command, it->first, joined(it->second));
        }
    }
}

void putNumber(const char* command, const Options& options, const char* option, uint64_t max,
               ParamMap& params, const char* key) {
    auto it = options.find(option);
    if (it == options.end()) {
        return;
    }
    const std::string& v = it->second.front();
    uint64_t n = 0;
    bool ok = !v.empty() && v.size() <= 10;
    for (char c : v) {
        ok = ok && c >= '0' && c <= '9';
        n = n * 10 + static_cast<uint64_t>(c - '0');
    }
    if (!ok || n > max) {
        throw UsageError(std::string(command) + ": " + option + " needs a number from 0 to " +
                         std::to_string(max));
    }
    params[KsString(key)] = KsString(v.c_str());
}

std::string absoluteAttachment(const std::string& path, const std::string& workingDir) {
    if (path.empty()) {
        throw UsageError("send: --attach needs a file, not an empty path");
    }
    if (path.find(';') != std::string::npos) {
        throw UsageError("send: cannot attach " + path +
                         ": the request separates attachments with ';', so a path holding one "
                         "cannot be passed (rename or link the file)");
    }
    std::string relative = path;
    while (relative.rfind("./", 0) == 0) {
        relative.erase(0, 2);
    }
    // "C:/x" and "C:\\x" are absolute on Windows as well as "/x" everywhere.
    const bool isAbsolute = path.front() == '/' || fs::path(path).is_absolute();
    std::string absolute = isAbsolute ? path : workingDir + "/" + relative;
    std::error_code ec;
    fs::file_status status = fs::status(absolute, ec);
    if (ec) {
        throw UsageError("send: cannot attach " + path + ": " + ec.message());
    }
    if (!fs::is_regular_file(status)) {
        throw UsageError("send: cannot attach " + path + ": not a regular file");
    }
    if (!std::ifstream(absolute, std::ios::binary)) {
        throw UsageError("send: cannot attach " + path + ": the file cannot be read");
    }
    return absolute;
}

std::string encoded(const char* name, ParamMap params) {
    return encodedRequest(name, std::move(params));
}

}  // namespace

// Text for the record; the request carries UTF-8 only, and a NUL would end
// the value early at the Broker.
KsString requestText(const char* command, const std::string& what, const std::string& value) {
    if (value.size() > 0x7FFFFFFFu || !isUtf8(value)) {
        throw UsageError(std::string(command) + ": " + what + " is not UTF-8 text");
    }
    if (value.find('\0') != std::string::npos) {
        throw UsageError(std::string(command) + ": " + what + " holds a NUL character");
    }
    return KsString(value.c_str(), static_cast<int64_t>(value.size()));
}

std::string joinedValues(const std::vector<std::string>& values) {
    std::string all;
    for (const auto& v : values) {
        all += all.empty() ? "" : ";";
        all += v;
    }
    return all;
}

std::string encodedRequest(const char* name, ParamMap params) {
    QueryRecord record;
    record.name = KsString(name);
    record.params = std::move(params);
    record.escapeOnEncode = 1;
    KsString text = record.encode();
    std::string request = text.utf8View();
    if (request.size() > kRequestLimit) {
        throw RequestTooLarge(std::string(name) + ": the request would take " +
                         std::to_string(request.size()) + " bytes, more than the " +
                         std::to_string(kRequestLimit >> 20) + " MiB a Broker takes");
    }
    return request;
}

namespace {

const std::vector<OptionRule>& sendRules() {
    static const std::vector<OptionRule> rules = {
        {"--to", true, true},        {"--cc", true, true},      {"--bcc", true, true},
        {"--subject", true, false},  {"--body", true, false},   {"--body-file", true, false},
        {"--attach", true, true},    {"--silent", false, false}, {"--parent", true, false}};
    return rules;
}

const std::vector<OptionRule>& addrsRules() {
    static const std::vector<OptionRule> rules = {
        {"--to", true, true},         {"--cc", true, true},      {"--bcc", true, true},
        {"--show-address-book", false, false}, {"--caption", true, false},
        {"--parent", true, false}};
    return rules;
}

const std::vector<OptionRule>& profileRules() {
    static const std::vector<OptionRule> rules = {{"--display-name", true, false}};
    return rules;
}

std::string checkedBody(const char* what, std::string body) {
    if (body.size() > kBodyLimit) {
        throw UsageError(std::string("send: ") + what + " is larger than " +
                         std::to_string(kBodyLimit >> 20) + " MiB");
    }
    return body;
}

}  // namespace

bool asksForHelp(const std::string& command, const std::vector<std::string>& args) {
    static const std::vector<OptionRule> none;
    const std::vector<OptionRule>& rules = command == "send"    ? sendRules()
                                           : command == "addrs" ? addrsRules()
                                           : command == "profile" ? profileRules()
                                                                  : none;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--help" || args[i] == "-h") {
            return true;
        }
        for (const OptionRule& rule : rules) {
            if (rule.takesValue && args[i] == rule.name) {
                ++i;  // its value, whatever it looks like
                break;
            }
        }
    }
    return false;
}

std::string readBodyFile(const std::string& path) {
    const bool standardInput = path == "-";
    const std::string shown = standardInput ? std::string("on standard input") : path;
#ifdef _WIN32
    if (standardInput) {
        ::_setmode(0, _O_BINARY);
    }
#endif
    const int fd = standardInput ? 0 : ::open(path.c_str(), kBodyOpenFlags);
    const int openError = errno;
    if (fd < 0 && openError == EACCES && fs::is_directory(path)) {
        // Windows' _open refuses a directory with EACCES where POSIX opens it:
        // both are told the same.
        throw UsageError("send: cannot read the body file " + path + ": not a file");
    }
    if (fd < 0) {
        throw UsageError("send: cannot read the body file " + path + ": " +
                         std::generic_category().message(openError));
    }
    struct Closer {
        int fd;
        bool owned;
        ~Closer() {
            if (owned) {
                ::close(fd);
            }
        }
    } closer{fd, !standardInput};
    struct stat info {};
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        throw UsageError("send: cannot read the body file " + path + ": not a file");
    }
    const auto tooLarge = [&] {
        return UsageError("send: the body file " + shown + " is larger than " +
                          std::to_string(kBodyLimit >> 20) + " MiB");
    };
    std::string body;
    if (S_ISREG(info.st_mode)) {
        if (static_cast<uint64_t>(info.st_size) > kBodyLimit) {
            throw tooLarge();
        }
        // One byte more than the size, to see end of file in the same read.
        body.reserve(static_cast<size_t>(info.st_size) + 1);
    }
    char chunk[65536];
    while (true) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            throw UsageError("send: cannot read the body file " + shown + ": " +
                             std::generic_category().message(errno));
        }
        if (n == 0) {
            return body;
        }
        if (body.size() + static_cast<size_t>(n) > kBodyLimit) {
            throw tooLarge();  // it grew, or it is a stream with more to say
        }
        body.append(chunk, static_cast<size_t>(n));
    }
}

std::string sendRequest(const std::vector<std::string>& args, const std::string& workingDir) {
    Options options = parseOptions("send", args, sendRules());
    ParamMap params;
    putRecipients("send", options, params);
    if (auto it = options.find("--subject"); it != options.end()) {
        params[KsString("subject")] = text("send", "--subject", it->second.front());
    }
    if (options.count("--body") != 0 && options.count("--body-file") != 0) {
        throw UsageError("send: give --body or --body-file, not both");
    }
    if (auto it = options.find("--body"); it != options.end()) {
        params[KsString("message")] =
            text("send", "--body", checkedBody("the --body text", it->second.front()));
    }
    if (auto it = options.find("--body-file"); it != options.end()) {
        const std::string& path = it->second.front();
        params[KsString("message")] = text("send", "the body file " + path, readBodyFile(path));
    }
    if (auto it = options.find("--attach"); it != options.end()) {
        std::vector<std::string> paths;
        for (const auto& path : it->second) {
            paths.push_back(absoluteAttachment(path, workingDir));
        }
        params[KsString("attachment")] = text("send", "--attach", joined(paths));
    }
    if (options.count("--silent") != 0) {
        params[KsString("silent")] = KsString("1");
    }
    putNumber("send", options, "--parent", 0xFFFFFFFFu, params, "parent");
    return encoded("SendMail", std::move(params));
}

std::string addrsRequest(const std::vector<std::string>& args) {
    Options options = parseOptions("addrs", args, addrsRules());
    ParamMap params;
    putRecipients("addrs", options, params);
    if (options.count("--show-address-book") != 0) {
        const bool recipientGiven = !params.empty();
        params[KsString("ShowAddressBook")] = KsString("1");
        if (!recipientGiven) {
            // The Broker offers the dialog a well for each recipient key it
            // gets: with none given, one To well to pick into.
            params[KsString("to")] = KsString("");
        }
    }
    if (auto it = options.find("--caption"); it != options.end()) {
        params[KsString("caption")] = text("addrs", "--caption", it->second.front());
    }
    putNumber("addrs", options, "--parent", 0x7FFFFFFFu, params, "parent");
    return encoded("OutlookGetAddrs", std::move(params));
}

std::string profileRequest(const std::vector<std::string>& args) {
    Options options = parseOptions("profile", args, profileRules());
    ParamMap params;
    if (auto it = options.find("--display-name"); it != options.end()) {
        params[KsString("displayName")] = text("profile", "--display-name", it->second.front());
    }
    return encoded("AutoCompleteFileName", std::move(params));
}

std::string flushRequest() {
    return encoded("AutoCompleteFileName", {});
}
