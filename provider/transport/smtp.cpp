// SPDX-License-Identifier: MIT
#include "provider/transport/smtp.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "provider/transport/connection_options.h"
#include "provider/transport/credentials.h"
#include "provider/transport/curl_loader.h"
#include "provider/transport/curl_upload.h"
#include "provider/transport/queued_message.h"

namespace mb::provider {
namespace {

// The server's last lines that a failure's text quotes.
constexpr std::size_t kAnswerLines = 3;

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
    CurlUpload transfer(fd, false, true, kAnswerLines);
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
    set(handle, CURLOPT_ERRORBUFFER, curlError);
    transfer.attach(*curl, handle);
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

    std::string text =
        transfer.failureText(*curl, code, curlError, "the queued message", credentials);
    if (transfer.readError != 0) {
        return DeliveryOutcome::temporary(text);
    }
    return DeliveryOutcome::failed(
        classifyConnectionFailure(code, response, connection, std::move(text), true));
}

}  // namespace mb::provider
