#include "provider/transport/smtp.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>

#include "provider/transport/connection_options.h"
#include "provider/transport/credentials.h"
#include "provider/transport/curl_loader.h"
#include "provider/transport/queued_message.h"

namespace mb::provider {
namespace {

constexpr std::size_t kAnswerLines = 3;
constexpr std::size_t kAnswerLineLength = 300;

struct Transfer {
    OutgoingStream stream;
    int readError = 0;
    std::deque<std::string> answers;  // the server's last lines
};

size_t readMessage(char* buffer, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const ssize_t got = transfer->stream.read(buffer, size * count);
    if (got < 0) {
        transfer->readError = errno;
        return CURL_READFUNC_ABORT;
    }
    return static_cast<size_t>(got);
}

// Keeps only what the server said; never what was sent to it.
int noteTraffic(CURL*, curl_infotype type, char* data, size_t size, void* user) {
    if (type != CURLINFO_HEADER_IN) {
        return 0;
    }
    auto* transfer = static_cast<Transfer*>(user);
    std::string line(data, std::min(size, kAnswerLineLength));
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    transfer->answers.push_back(std::move(line));
    if (transfer->answers.size() > kAnswerLines) {
        transfer->answers.pop_front();
    }
    return 0;
}

void erase(std::string& text, const std::string& secret) {
    if (secret.size() < 3) {
        return;  // too short to tell apart from ordinary words
    }
    for (std::size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at)) {
        text.replace(at, secret.size(), "***");
    }
}

}  // namespace

SmtpTransport::SmtpTransport(const Profile& profile) : profile_(profile) {}

DeliveryOutcome SmtpTransport::deliver(int fd, const Envelope& envelope,
                                       std::chrono::seconds timeout) {
    std::string error;
    const CurlApi* curl = loadCurl(error);
    if (curl == nullptr) {
        return DeliveryOutcome::temporary(error);
    }
    // Freed through the loaded library's own functions, which ScopedGeneric's
    // stateless traits cannot hold: unique_ptr keeps each as its deleter. The
    // list goes first, then the handle, on every way out.
    std::unique_ptr<CURL, decltype(curl->easyCleanup)> easy(curl->easyInit(), curl->easyCleanup);
    if (!easy) {
        return DeliveryOutcome::temporary("libcurl cannot start a transfer");
    }
    CURL* const handle = easy.get();
    std::unique_ptr<curl_slist, decltype(curl->slistFreeAll)> recipients(nullptr,
                                                                         curl->slistFreeAll);
    for (const std::string& address : envelope.recipients) {
        curl_slist* grown = curl->slistAppend(recipients.get(), ("<" + address + ">").c_str());
        if (grown == nullptr) {
            return DeliveryOutcome::temporary("out of memory");
        }
        // The same list, or its first item when it was empty: held once.
        static_cast<void>(recipients.release());
        recipients.reset(grown);
    }
    CredentialLookup login = lookupCredentials(profile_, timeout);
    if (!login.credentials) {
        return DeliveryOutcome::failed(login.failure);
    }
    const Credentials& credentials = *login.credentials;
    Transfer transfer{OutgoingStream(fd, false, true), 0, {}};
    char curlError[CURL_ERROR_SIZE] = "";
    const std::string from = "<" + envelope.sender + ">";
    ConnectionState connection;
    if (std::optional<DeliveryFailure> failure = applyConnectionOptions(
            *curl, handle, profile_, profile_.transport, credentials, timeout, connection)) {
        return DeliveryOutcome::failed(*failure);
    }
    auto set = curl->easySetopt;
    set(handle, CURLOPT_MAIL_FROM, from.c_str());
    set(handle, CURLOPT_MAIL_RCPT, recipients.get());
    set(handle, CURLOPT_UPLOAD, 1L);
    set(handle, CURLOPT_READFUNCTION, readMessage);
    set(handle, CURLOPT_READDATA, &transfer);
    set(handle, CURLOPT_ERRORBUFFER, curlError);
    set(handle, CURLOPT_VERBOSE, 1L);  // feeds noteTraffic; nothing is printed
    set(handle, CURLOPT_DEBUGFUNCTION, noteTraffic);
    set(handle, CURLOPT_DEBUGDATA, &transfer);
    const CURLcode code = curl->easyPerform(handle);
    long response = 0;
    curl->easyGetinfo(handle, CURLINFO_RESPONSE_CODE, &response);
    // Here, while the transfer record and the error buffer the handle points
    // at still exist: closing its connection may report traffic.
    recipients.reset();
    easy.reset();
    if (code == CURLE_OK) {
        return DeliveryOutcome::delivered();
    }

    std::string text = curlError[0] != '\0' ? curlError : curl->easyStrerror(code);
    if (transfer.readError != 0) {
        text = std::string("cannot read the queued message: ") + std::strerror(transfer.readError);
    }
    if (!transfer.answers.empty()) {
        text += "; the server said:";
        for (const std::string& line : transfer.answers) {
            text += " " + line;
        }
    }
    erase(text, credentials.password);
    erase(text, credentials.bearer);
    erase(text, credentials.username);
    if (transfer.readError != 0) {
        return DeliveryOutcome::temporary(text);
    }
    return DeliveryOutcome::failed(
        classifyConnectionFailure(code, response, connection, std::move(text), true));
}

}  // namespace mb::provider
