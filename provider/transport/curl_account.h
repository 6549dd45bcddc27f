// A profile's account settings on a libcurl handle: the login (username and
// password, or a netrc file) and TLS (STARTTLS tried or required). The SMTP
// transport, the sent copy (IMAP) and the account check all set them here,
// so that the three reach the server the same way.
#pragma once

#include <curl/curl.h>

#include <string>

#include "base/scoped_fd.h"
#include "profiles/profiles.h"
#include "provider/transport/curl_loader.h"

namespace mb::provider {

// What the handle points at while it runs: keep it until the handle is gone.
struct AccountHold {
    ScopedFd netrcFile;
    std::string netrcPath;
};

// Sets the options; false with the reason in error (a netrc that cannot be
// read), which never holds a credential.
bool applyAccount(const CurlApi& curl, CURL* handle, const Profile& profile, AccountHold& hold,
                  std::string& error);

// Replaces each occurrence of the profile's username and password in text.
void hideCredentials(const Profile& profile, std::string& text);

}  // namespace mb::provider
