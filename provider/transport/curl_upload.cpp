// SPDX-License-Identifier: MIT
#include "provider/transport/curl_upload.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "provider/transport/credentials.h"

namespace mb::provider {
namespace {

constexpr std::size_t kAnswerLineLength = 300;

size_t readUpload(char* buffer, size_t size, size_t count, void* user) {
    auto* upload = static_cast<CurlUpload*>(user);
    const ssize_t got = upload->stream.read(buffer, size * count);
    if (got < 0) {
        upload->readError = errno;
        return CURL_READFUNC_ABORT;
    }
    return static_cast<size_t>(got);
}

// Keeps only what the server said; never what was sent to it (the login).
int noteServer(CURL*, curl_infotype type, char* data, size_t size, void* user) {
    if (type != CURLINFO_HEADER_IN) {
        return 0;
    }
    auto* upload = static_cast<CurlUpload*>(user);
    std::string line(data, std::min(size, kAnswerLineLength));
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    upload->answers.push_back(std::move(line));
    if (upload->answers.size() > upload->keepLines) {
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

}  // namespace

void CurlUpload::attach(const CurlApi& curl, CURL* handle) {
    auto set = curl.easySetopt;
    set(handle, CURLOPT_READFUNCTION, readUpload);
    set(handle, CURLOPT_READDATA, this);
    set(handle, CURLOPT_VERBOSE, 1L);  // feeds noteServer; nothing is printed
    set(handle, CURLOPT_DEBUGFUNCTION, noteServer);
    set(handle, CURLOPT_DEBUGDATA, this);
}

std::string CurlUpload::failureText(const CurlApi& curl, CURLcode code, const char* curlError,
                                    const char* readWhat, const Credentials& credentials) const {
    std::string text = curlError[0] != '\0' ? curlError : curl.easyStrerror(code);
    if (readError != 0) {
        text = std::string("cannot read ") + readWhat + ": " + std::strerror(readError);
    }
    if (!answers.empty()) {
        text += "; the server said:";
        for (const std::string& line : answers) {
            text += " " + line;
        }
    }
    erase(text, credentials.password);
    erase(text, credentials.bearer);
    erase(text, credentials.username);
    return text;
}

}  // namespace mb::provider
