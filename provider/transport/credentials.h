// SPDX-License-Identifier: MIT
// Where the secret for a profile's server comes from, looked up at the moment
// of delivery (a token or a password manager's answer may change between
// deliveries, and nothing secret is kept beyond one):
//
// - `password` in profiles.ini;
// - a netrc file (`netrc`), which libcurl reads itself: only its path is
//   resolved here;
// - `password_command`: the first line its output;
// - `secret_service = yes`: the desktop's Secret Service, under the
//   attributes msmtp uses (host, service "smtp", user), through the helper
//   program mailbroker-secret (libsecret's GLib threads must never be loaded
//   into the provider, which is unloaded after every request);
// - `oauth2_token_command`: an OAuth2 access token, sent as a bearer.
//
// A failure says what can fix it (DeliveryFailure::Kind): a password command
// that fails is temporary (its password manager may be locked for the moment),
// a token that cannot be had or a password that is not stored needs the
// user's attention. No reason text holds the secret or the program's output.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "profiles/profiles.h"
#include "provider/transport/delivery_failure.h"

namespace mb::provider {

struct Credentials {
    std::string username;  // empty: no login
    std::string password;
    std::string bearer;     // an OAuth2 access token; then password stays empty
    std::string netrcFile;  // the netrc to read (`netrc` resolved), or empty
};

struct CredentialLookup {
    std::optional<Credentials> credentials;  // none: `failure` says why
    DeliveryFailure failure;
};

// The longest password or token line taken from a program.
inline constexpr std::size_t kMaxSecretLength = 16 * 1024;

// The credentials for the profile's server, running a program when the
// profile names one, each within `timeout`.
CredentialLookup lookupCredentials(const Profile& profile, std::chrono::milliseconds timeout);

// The Secret Service helper: $MAILBROKER_SECRET, else mailbroker-secret
// beside this library, else on PATH; empty when none is found.
std::string secretProgramPath();

}  // namespace mb::provider
