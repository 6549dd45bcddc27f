// SPDX-License-Identifier: MIT
// How libcurl reaches a profile's server, set in one place for every
// connection to it: delivery (SMTP), the connection check and the copy to the
// account's Sent folder (IMAP) share it.
//
// - The URL, with TLS as `tls` (and the older `starttls`) says: off, STARTTLS
//   tried or required, or implicit (smtps://, imaps://).
// - Trust: the system's store, or only the certificates of `tls_trust_file`.
// - A pin: with `tls_fingerprint`, the SHA-256 of the server's certificate
//   decides alone (no chain, no host name), checked in the TLS handshake
//   through OpenSSL, libcurl's TLS library here (libcurl itself pins public
//   keys only).
// - A client certificate and key; the SASL mechanism of `auth`; the login:
//   user and password, a bearer token, or a netrc file.
//
// libcurl copies every string it is given; what the transfer still points at
// afterwards (the pin, the netrc descriptor) lives in ConnectionState, which
// must outlive curl_easy_perform and the handle's cleanup.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "base/scoped_fd.h"
#include "profiles/profiles.h"
#include "provider/transport/credentials.h"
#include "provider/transport/curl_loader.h"
#include "provider/transport/delivery_failure.h"

namespace mb::provider {

struct ConnectionState {
    // The pin, as 32 bytes, and what the handshake saw.
    std::string pin;
    bool pinChecked = false;
    bool pinMismatch = false;
    std::string seenFingerprint;  // "AB:CD:..." of the server's certificate
    const void* openssl = nullptr;  // the OpenSSL functions the pin check calls
    // The netrc, opened here (never blocking on a FIFO) and handed to libcurl
    // as /proc/self/fd/N.
    ScopedFd netrcFile;
    std::string netrcPath;
};

// The URL libcurl is given for `url` under the profile's TLS mode: smtp://
// becomes smtps:// (imap:// imaps://) for implicit TLS.
std::string connectionUrl(const Profile& profile, const std::string& url);

// Sets on `handle` the URL (`url`: the profile's transport, or another URL of
// the same account such as an imap:// folder), TLS, trust, the pin, the
// client certificate, the mechanism and the login, and the time limit for
// connecting and for the whole transfer. A failure (a trust file that cannot
// be read, a pin this libcurl cannot check) comes back, and nothing should
// be sent then.
std::optional<DeliveryFailure> applyConnectionOptions(const CurlApi& curl, CURL* handle,
                                                      const Profile& profile,
                                                      const std::string& url,
                                                      const Credentials& credentials,
                                                      std::chrono::seconds timeout,
                                                      ConnectionState& state);

// What a failed transfer means. `response` is CURLINFO_RESPONSE_CODE, `text`
// the reason already written (libcurl's error and the server's last lines).
// A refused login (530 to 538), an untrusted or mismatched certificate, or a
// server without the TLS the profile requires needs attention; another 5xx is
// permanent unless `permanentAllowed` is false; everything else is temporary.
DeliveryFailure classifyConnectionFailure(CURLcode code, long response,
                                          const ConnectionState& state, std::string text,
                                          bool permanentAllowed);

}  // namespace mb::provider
