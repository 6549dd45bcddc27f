#include "provider/transport/sent_copy.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <deque>

#include "provider/transport/connection_options.h"
#include "provider/transport/credentials.h"
#include "provider/transport/queued_message.h"

namespace mb::provider {
namespace {

constexpr std::size_t kAnswerLines = 2;
constexpr std::size_t kAnswerLineLength = 300;

struct Upload {
    OutgoingStream stream;
    int readError = 0;
    std::deque<std::string> answers;
};

size_t readCopy(char* buffer, size_t size, size_t count, void* user) {
    auto* upload = static_cast<Upload*>(user);
    const ssize_t got = upload->stream.read(buffer, size * count);
    if (got < 0) {
        upload->readError = errno;
        return CURL_READFUNC_ABORT;
    }
    return static_cast<size_t>(got);
}

// Keeps what the server said, never what was sent (the login).
int noteAnswer(CURL*, curl_infotype type, char* data, size_t size, void* user) {
    if (type != CURLINFO_HEADER_IN) {
        return 0;
    }
    auto* upload = static_cast<Upload*>(user);
    std::string line(data, std::min(size, kAnswerLineLength));
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    upload->answers.push_back(std::move(line));
    if (upload->answers.size() > kAnswerLines) {
        upload->answers.pop_front();
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
    Upload upload{OutgoingStream(fd, true, true), 0, {}};
    char curlError[CURL_ERROR_SIZE] = "";
    auto set = curl->easySetopt;
    set(handle, CURLOPT_UPLOAD, 1L);
    set(handle, CURLOPT_INFILESIZE_LARGE, size);
    set(handle, CURLOPT_READFUNCTION, readCopy);
    set(handle, CURLOPT_READDATA, &upload);
    set(handle, CURLOPT_ERRORBUFFER, curlError);
    set(handle, CURLOPT_VERBOSE, 1L);  // feeds noteAnswer; nothing is printed
    set(handle, CURLOPT_DEBUGFUNCTION, noteAnswer);
    set(handle, CURLOPT_DEBUGDATA, &upload);
    const CURLcode code = curl->easyPerform(handle);
    easy.reset();
    if (code == CURLE_OK) {
        return DeliveryOutcome::delivered();
    }
    std::string text = curlError[0] != '\0' ? curlError : curl->easyStrerror(code);
    if (upload.readError != 0) {
        text = std::string("cannot read the message: ") + std::strerror(upload.readError);
    }
    if (!upload.answers.empty()) {
        text += "; the server said:";
        for (const std::string& line : upload.answers) {
            text += " " + line;
        }
    }
    erase(text, credentials.password);
    erase(text, credentials.bearer);
    erase(text, credentials.username);
    return DeliveryOutcome::temporary(text);
}

std::unique_ptr<SentCopier> makeSentCopier(const Profile& profile) {
    if (profile.sentCopy.empty()) {
        return nullptr;
    }
    return std::make_unique<ImapSentCopy>(profile);
}

}  // namespace mb::provider
