// SPDX-License-Identifier: MIT
#include "provider/transport/sent_copy.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "provider/transport/connection_options.h"
#include "provider/transport/credentials.h"
#include "provider/transport/curl_upload.h"
#include "provider/transport/queued_message.h"

namespace mb::provider {
namespace {

// The server's last lines that a failure's text quotes.
constexpr std::size_t kAnswerLines = 2;

bool unreserved(unsigned char c) {
    return std::isalnum(c) != 0 || c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
}

}  // namespace

std::string sentCopyUrl(const std::string& value) {
    const std::size_t scheme = value.find("://");
    const std::size_t slash =
        scheme == std::string::npos ? std::string::npos : value.find('/', scheme + 3);
    if (slash == std::string::npos) {
        return value;
    }
    std::string url = value.substr(0, slash + 1);
    static const char* hex = "0123456789ABCDEF";
    for (std::size_t i = slash + 1; i < value.size(); ++i) {
        const auto c = static_cast<unsigned char>(value[i]);
        if (unreserved(c)) {
            url.push_back(static_cast<char>(c));
        } else {
            url += {'%', hex[c >> 4], hex[c & 15]};
        }
    }
    return url;
}

ImapSentCopy::ImapSentCopy(const Profile& profile)
    : profile_(profile), url_(sentCopyUrl(profile.sentCopy)) {}

DeliveryOutcome ImapSentCopy::append(int fd, std::chrono::seconds timeout) {
    std::string error;
    const CurlApi* curl = loadCurl(error);
    if (curl == nullptr) {
        return DeliveryOutcome::temporary(error);
    }
    // APPEND names the size first: the copy is streamed once to count it.
    curl_off_t size = 0;
    {
        OutgoingStream counting(fd, true, true);
        char buffer[65536];
        ssize_t got;
        while ((got = counting.read(buffer, sizeof buffer)) > 0) {
            size += got;
        }
        if (got < 0) {
            return DeliveryOutcome::temporary(std::string("cannot read the message: ") +
                                              std::strerror(errno));
        }
    }
    std::unique_ptr<CURL, decltype(curl->easyCleanup)> easy(curl->easyInit(), curl->easyCleanup);
    if (!easy) {
        return DeliveryOutcome::temporary("libcurl cannot start a transfer");
    }
    CURL* const handle = easy.get();
    CredentialLookup login = lookupCredentials(profile_, timeout);
    if (!login.credentials) {
        return DeliveryOutcome::temporary(login.failure.reason);
    }
    const Credentials& credentials = *login.credentials;
    ConnectionState connection;
    if (std::optional<DeliveryFailure> failure = applyConnectionOptions(
            *curl, handle, profile_, url_, credentials, timeout, connection)) {
        return DeliveryOutcome::temporary(failure->reason);
    }
    CurlUpload upload(fd, true, true, kAnswerLines);
    char curlError[CURL_ERROR_SIZE] = "";
    auto set = curl->easySetopt;
    set(handle, CURLOPT_UPLOAD, 1L);
    set(handle, CURLOPT_INFILESIZE_LARGE, size);
    set(handle, CURLOPT_ERRORBUFFER, curlError);
    upload.attach(*curl, handle);
    const CURLcode code = curl->easyPerform(handle);
    easy.reset();
    if (code == CURLE_OK) {
        return DeliveryOutcome::delivered();
    }
    return DeliveryOutcome::temporary(
        upload.failureText(*curl, code, curlError, "the message", credentials));
}

std::unique_ptr<SentCopier> makeSentCopier(const Profile& profile) {
    if (profile.sentCopy.empty()) {
        return nullptr;
    }
    return std::make_unique<ImapSentCopy>(profile);
}

}  // namespace mb::provider
