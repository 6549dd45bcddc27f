// SPDX-License-Identifier: MIT
// A queued message uploaded through libcurl, as delivery over SMTP and the
// sent copy over IMAP both do: the stream libcurl reads from, the read error
// that stopped it, and the server's last lines for the failure's text.
#pragma once

#include <cstddef>
#include <deque>
#include <string>

#include "provider/transport/curl_loader.h"
#include "provider/transport/queued_message.h"

namespace mb::provider {

struct Credentials;

struct CurlUpload {
    // The message in fd, as OutgoingStream gives it; keep: how many of the
    // server's last lines the failure's text holds.
    CurlUpload(int fd, bool keepBcc, bool crlf, std::size_t keep)
        : stream(fd, keepBcc, crlf), keepLines(keep) {}

    OutgoingStream stream;
    int readError = 0;                // errno of a failed read of the message
    std::size_t keepLines;            // how many of the server's lines to keep
    std::deque<std::string> answers;  // the server's last lines, never what was sent

    // Makes handle read the message from this upload and note what the
    // server says; this upload must outlive the transfer and the handle.
    void attach(const CurlApi& curl, CURL* handle);

    // Why the transfer failed: the read error if there was one, else
    // libcurl's text; then the server's last lines. No credential is in it.
    std::string failureText(const CurlApi& curl, CURLcode code, const char* curlError,
                            const char* readWhat, const Credentials& credentials) const;
};

}  // namespace mb::provider
