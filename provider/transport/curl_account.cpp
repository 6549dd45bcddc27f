#include "provider/transport/curl_account.h"

#include <cerrno>
#include <cstdlib>

#include "base/regular_file.h"

namespace mb::provider {
namespace {

void erase(std::string& text, const std::string& secret) {
    if (secret.size() < 3) {
        return;  // too short to tell apart from ordinary words
    }
    for (std::size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at)) {
        text.replace(at, secret.size(), "***");
    }
}

}  // namespace

bool applyAccount(const CurlApi& curl, CURL* handle, const Profile& profile, AccountHold& hold,
                  std::string& error) {
    auto set = curl.easySetopt;
    set(handle, CURLOPT_USE_SSL,
        static_cast<long>(profile.starttlsRequired ? CURLUSESSL_ALL : CURLUSESSL_TRY));
    if (!profile.username.empty()) {
        set(handle, CURLOPT_USERNAME, profile.username.c_str());
        set(handle, CURLOPT_PASSWORD, profile.password.c_str());
        return true;
    }
    if (profile.netrc.empty()) {
        return true;
    }
    // libcurl opens the netrc file with a blocking fopen: a FIFO there would
    // hold the delivery for good. It gets the file opened here instead, as a
    // /proc/self/fd path, once it is known to be a regular file.
    set(handle, CURLOPT_NETRC, static_cast<long>(CURL_NETRC_OPTIONAL));
    const char* home = std::getenv("HOME");
    const std::string named = profile.netrc != "default"
                                  ? profile.netrc
                                  : std::string(home != nullptr ? home : "") + "/.netrc";
    const int failure = openRegularFile(named, hold.netrcFile);
    if (failure != 0 && failure != ENOENT) {
        error = named + ": cannot read the netrc file: " + regularFileFailureText(failure);
        return false;
    }
    if (failure == 0) {
        hold.netrcPath = "/proc/self/fd/" + std::to_string(hold.netrcFile.get());
        set(handle, CURLOPT_NETRC_FILE, hold.netrcPath.c_str());
    } else if (profile.netrc != "default") {
        set(handle, CURLOPT_NETRC_FILE, profile.netrc.c_str());  // missing: no login, as before
    }
    return true;
}

void hideCredentials(const Profile& profile, std::string& text) {
    erase(text, profile.password);
    erase(text, profile.username);
}

}  // namespace mb::provider
