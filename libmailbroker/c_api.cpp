// SPDX-License-Identifier: MIT
// The exported functions. Each one catches everything: no exception may
// cross into a C caller, and a failure becomes a code and a message.
#include <mailbroker/mailbroker.h>

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <optional>
#include <new>
#include <string>
#include <vector>

#include "foundation/ks_exception.h"
#include "host/attachment_check.h"
#include "host/host_error.h"
#include "host/typed_request.h"
#include "libmailbroker/handle.h"
#include "libmailbroker/result.h"

namespace {

// What a caller may pass as a list before the library stops reading: a list
// without its NULL end would otherwise run through memory.
constexpr size_t kMaxListEntries = 1u << 20;

class ArgumentError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

mailbroker_error codeOf(HostError::Kind kind) {
    switch (kind) {
        case HostError::Kind::StartFailed:
            return MAILBROKER_E_START_FAILED;
        case HostError::Kind::NotFound:
            return MAILBROKER_E_NOT_FOUND;
        case HostError::Kind::AccessDenied:
            return MAILBROKER_E_ACCESS_DENIED;
        case HostError::Kind::UnsafeFolder:
            return MAILBROKER_E_UNSAFE_FOLDER;
        case HostError::Kind::Timeout:
            return MAILBROKER_E_TIMEOUT;
        case HostError::Kind::Disconnected:
            return MAILBROKER_E_DISCONNECTED;
        case HostError::Kind::Protocol:
            return MAILBROKER_E_PROTOCOL;
        case HostError::Kind::Io:
            return MAILBROKER_E_IO;
    }
    return MAILBROKER_E_INTERNAL;
}

// Runs `body` on the handle under its call lock, and turns whatever it throws
// into the handle's error for this thread.
template <typename Body>
mailbroker_error guarded(mailbroker* mb, Body&& body) {
    if (mb == nullptr) {
        return MAILBROKER_E_INVALID_ARGUMENT;
    }
    mailbroker_error code = MAILBROKER_OK;
    std::string message;
    try {
        std::lock_guard<std::mutex> lock(mb->callLock);
        body();
    } catch (const ArgumentError& e) {
        code = MAILBROKER_E_INVALID_ARGUMENT;
        message = e.what();
    } catch (const RequestTooLarge& e) {
        code = MAILBROKER_E_TOO_LARGE;
        message = e.what();
    } catch (const UsageError& e) {
        code = MAILBROKER_E_INVALID_ARGUMENT;
        message = e.what();
    } catch (const StateError& e) {
        code = MAILBROKER_E_STATE;
        message = e.what();
    } catch (const HostError& e) {
        code = codeOf(e.kind());
        message = e.what();
    } catch (const ReplyError& e) {
        code = MAILBROKER_E_PROTOCOL;
        message = e.what();
    } catch (const std::bad_alloc&) {
        code = MAILBROKER_E_NO_MEMORY;
        message = "out of memory";
    } catch (const std::exception& e) {
        code = MAILBROKER_E_INTERNAL;
        message = e.what();
    } catch (const KsException& e) {
        code = MAILBROKER_E_INTERNAL;
        KsString text = e.getMessage();
        message = text.utf8View();
    } catch (...) {
        code = MAILBROKER_E_INTERNAL;
        message = "an unknown exception";
    }
    try {
        if (code == MAILBROKER_OK) {
            mb->clearError();
        } else {
            mb->setError(code, std::move(message));
        }
    } catch (...) {
        // Only memory can fail here; the code still says what happened.
    }
    return code;
}

std::string required(const char* text, const char* what) {
    if (text == nullptr) {
        throw ArgumentError(std::string(what) + " is NULL");
    }
    return text;
}

std::optional<std::string> optionalText(const char* text) {
    return text == nullptr ? std::nullopt : std::optional<std::string>(text);
}

RecipientList listOf(const char* const* list) {
    if (list == nullptr) {
        return std::nullopt;
    }
    std::vector<std::string> values;
    for (size_t i = 0; list[i] != nullptr; ++i) {
        if (i == kMaxListEntries) {
            throw ArgumentError("a list holds more than " + std::to_string(kMaxListEntries) +
                                " entries (is its NULL end missing?)");
        }
        values.emplace_back(list[i]);
    }
    return values;
}

std::string workingDirectory() {
    std::vector<char> buffer(4096);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE || buffer.size() > (1u << 20)) {
            throw ArgumentError("the current directory cannot be read, so a relative "
                                "attachment path cannot be made absolute");
        }
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

bool hasRelative(const std::vector<std::string>& paths) {
    for (const std::string& p : paths) {
        if (!p.empty() && p.front() != '/') {
            return true;
        }
    }
    return false;
}

// A template rather than a std::function, whose making could throw before
// the guard is in place.
template <typename Build>
mailbroker_error run(mailbroker* mb, mailbroker_result** result, const char* command,
                     Build&& build) {
    if (result != nullptr) {
        *result = nullptr;
    }
    return guarded(mb, [&] {
        if (result == nullptr) {
            throw ArgumentError("the result pointer is NULL");
        }
        const std::string payload = build();
        const BrokerConnection::Reply reply = mb->request(payload);
        // Every reply is named SendMailResponse, whatever the command: the
        // name tells nothing, the fields do.
        *result = new mailbroker_result(
            readResult(command, reply.values, sentAttachments(payload), attachmentReadable));
    });
}

}  // namespace

extern "C" {

const char* mailbroker_version(void) {
    return "1.0.0";
}

const char* mailbroker_error_name(mailbroker_error code) {
    switch (code) {
        case MAILBROKER_OK:
            return "MAILBROKER_OK";
        case MAILBROKER_E_INVALID_ARGUMENT:
            return "MAILBROKER_E_INVALID_ARGUMENT";
        case MAILBROKER_E_STATE:
            return "MAILBROKER_E_STATE";
        case MAILBROKER_E_START_FAILED:
            return "MAILBROKER_E_START_FAILED";
        case MAILBROKER_E_NOT_FOUND:
            return "MAILBROKER_E_NOT_FOUND";
        case MAILBROKER_E_ACCESS_DENIED:
            return "MAILBROKER_E_ACCESS_DENIED";
        case MAILBROKER_E_UNSAFE_FOLDER:
            return "MAILBROKER_E_UNSAFE_FOLDER";
        case MAILBROKER_E_TIMEOUT:
            return "MAILBROKER_E_TIMEOUT";
        case MAILBROKER_E_DISCONNECTED:
            return "MAILBROKER_E_DISCONNECTED";
        case MAILBROKER_E_PROTOCOL:
            return "MAILBROKER_E_PROTOCOL";
        case MAILBROKER_E_TOO_LARGE:
            return "MAILBROKER_E_TOO_LARGE";
        case MAILBROKER_E_NO_MEMORY:
            return "MAILBROKER_E_NO_MEMORY";
        case MAILBROKER_E_IO:
            return "MAILBROKER_E_IO";
        case MAILBROKER_E_INTERNAL:
            return "MAILBROKER_E_INTERNAL";
    }
    return "MAILBROKER_E_UNKNOWN";
}

const char* mailbroker_status_name(int32_t status) {
    return statusName(status);
}

mailbroker* mailbroker_new(void) {
    return new (std::nothrow) mailbroker();
}

mailbroker_error mailbroker_start(mailbroker* mb, const char* broker_path) {
    return guarded(mb, [&] {
        const std::string path = broker_path != nullptr ? std::string(broker_path)
                                                        : defaultBrokerPath();
        if (path.empty()) {
            throw ArgumentError("the Broker path is empty");
        }
        mb->start(path);
    });
}

mailbroker_error mailbroker_connect(mailbroker* mb, const char* pipe_name) {
    return guarded(mb, [&] {
        const std::string name = required(pipe_name, "the pipe name");
        if (name.empty()) {
            throw ArgumentError("the pipe name is empty");
        }
        mb->connect(name);
    });
}

const char* mailbroker_pipe_name(mailbroker* mb) {
    return mb == nullptr ? nullptr : mb->pipeName();
}

mailbroker_error mailbroker_set_timeout(mailbroker* mb, uint32_t milliseconds) {
    if (mb == nullptr) {
        return MAILBROKER_E_INVALID_ARGUMENT;
    }
    // Not under the call lock: a request that waits on a dialog must not
    // keep another thread from setting the limit for the requests after it.
    mb->setTimeout(milliseconds);
    try {
        mb->clearError();
    } catch (...) {
    }
    return MAILBROKER_OK;
}

mailbroker_error mailbroker_last_error(mailbroker* mb) {
    if (mb == nullptr) {
        return MAILBROKER_E_INVALID_ARGUMENT;
    }
    try {
        return mb->lastError();
    } catch (...) {
        return MAILBROKER_E_INTERNAL;
    }
}

const char* mailbroker_last_error_message(mailbroker* mb) {
    if (mb == nullptr) {
        return "the mailbroker handle is NULL";
    }
    try {
        return mb->lastErrorMessage();
    } catch (...) {
        return "the error message cannot be read";
    }
}

void mailbroker_close(mailbroker* mb) {
    try {
        delete mb;
    } catch (...) {
        // A destructor that throws ends the program; none of these does, and
        // the catch keeps it so should one start to.
    }
}

mailbroker_error mailbroker_send_mail(mailbroker* mb, const char* const* to,
                                      const char* const* cc, const char* const* bcc,
                                      const char* subject, const char* body,
                                      const char* const* attachments, uint32_t flags,
                                      uint32_t parent_window, mailbroker_result** result) {
    return run(mb, result, "SendMail", [&] {
        if ((flags & ~MAILBROKER_SEND_SILENT) != 0) {
            throw ArgumentError("SendMail: unknown flags " + std::to_string(flags));
        }
        SendMailFields fields;
        fields.to = listOf(to);
        fields.cc = listOf(cc);
        fields.bcc = listOf(bcc);
        fields.subject = optionalText(subject);
        fields.body = optionalText(body);
        if (RecipientList paths = listOf(attachments)) {
            fields.attachments = std::move(*paths);
        }
        fields.silent = (flags & MAILBROKER_SEND_SILENT) != 0;
        fields.parent = parent_window;
        return sendMailRequest(fields,
                               hasRelative(fields.attachments) ? workingDirectory() : "/");
    });
}

mailbroker_error mailbroker_get_addrs(mailbroker* mb, const char* const* to,
                                      const char* const* cc, const char* const* bcc,
                                      uint32_t flags, const char* caption,
                                      uint32_t parent_window, mailbroker_result** result) {
    return run(mb, result, "OutlookGetAddrs", [&] {
        if ((flags & ~MAILBROKER_SHOW_ADDRESS_BOOK) != 0) {
            throw ArgumentError("OutlookGetAddrs: unknown flags " + std::to_string(flags));
        }
        GetAddrsFields fields;
        fields.to = listOf(to);
        fields.cc = listOf(cc);
        fields.bcc = listOf(bcc);
        fields.showAddressBook = (flags & MAILBROKER_SHOW_ADDRESS_BOOK) != 0;
        fields.caption = optionalText(caption);
        fields.parent = parent_window;
        return getAddrsRequest(fields);
    });
}

mailbroker_error mailbroker_auto_complete_file_name(mailbroker* mb, mailbroker_result** result) {
    return run(mb, result, "AutoCompleteFileName", [] { return autoCompleteRequest(); });
}

const char* mailbroker_result_command(const mailbroker_result* result) {
    return result == nullptr ? nullptr : result->command.c_str();
}

int32_t mailbroker_result_status(const mailbroker_result* result) {
    return result == nullptr ? 0 : result->status;
}

const char* mailbroker_result_status_name(const mailbroker_result* result) {
    return result == nullptr ? nullptr : result->statusName.c_str();
}

int32_t mailbroker_result_succeeded(const mailbroker_result* result) {
    return result != nullptr && result->succeeded ? 1 : 0;
}

int32_t mailbroker_result_result(const mailbroker_result* result) {
    return result == nullptr ? -1 : result->result;
}

const char* mailbroker_result_message(const mailbroker_result* result) {
    return result == nullptr ? nullptr : result->message.c_str();
}

size_t mailbroker_result_address_count(const mailbroker_result* result, mailbroker_well well) {
    if (result == nullptr || static_cast<unsigned>(well) > MAILBROKER_BCC) {
        return 0;
    }
    return result->addresses[static_cast<size_t>(well)].size();
}

const char* mailbroker_result_address(const mailbroker_result* result, mailbroker_well well,
                                      size_t index) {
    if (index >= mailbroker_result_address_count(result, well)) {
        return nullptr;
    }
    return result->addresses[static_cast<size_t>(well)][index].c_str();
}

const char* mailbroker_result_display_name(const mailbroker_result* result) {
    return result == nullptr || !result->hasDisplayName ? nullptr : result->displayName.c_str();
}

size_t mailbroker_result_failed_attachment_count(const mailbroker_result* result) {
    return result == nullptr ? 0 : result->failedAttachments.size();
}

const char* mailbroker_result_failed_attachment(const mailbroker_result* result, size_t index) {
    if (index >= mailbroker_result_failed_attachment_count(result)) {
        return nullptr;
    }
    return result->failedAttachments[index].c_str();
}

const char* mailbroker_result_value(const mailbroker_result* result, const char* key) {
    if (result == nullptr || key == nullptr) {
        return nullptr;
    }
    auto found = result->values.find(key);
    return found == result->values.end() ? nullptr : found->second.c_str();
}

void mailbroker_result_free(mailbroker_result* result) {
    delete result;
}

}  // extern "C"
