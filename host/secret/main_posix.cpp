// SPDX-License-Identifier: MIT
// mailbroker-secret: the one program of ours that talks to the desktop's
// Secret Service (through libsecret, which brings GLib, GDBus and a worker
// thread; the provider is unloaded after every request and must never load
// them). Items are those msmtp keeps: schema de.marlam.msmtp.password with
// host, service "smtp" and user, so an account already set up for msmtp (or
// with `secret-tool store ... host H service smtp user U`) is found as it is.
//
//   mailbroker-secret lookup HOST USER   prints the password and a newline
//   mailbroker-secret store HOST USER    reads the password, one line, from
//                                        standard input, and stores it
//
// The password never travels in argv or the environment. Exit codes: 0 done,
// 1 nothing stored (lookup), 2 the Secret Service failed (the reason on
// standard error, never the password), 3 usage.
#include <libsecret/secret.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "base/scoped_generic.h"

namespace {

constexpr std::size_t kMaxPassword = 16 * 1024;

const SecretSchema* msmtpSchema() {
    // DONT_MATCH_NAME: items stored under another schema with the same
    // attributes (secret-tool's) are found too, as msmtp finds them.
    static const SecretSchema schema = {
        "de.marlam.msmtp.password",
        SECRET_SCHEMA_DONT_MATCH_NAME,
        {{"host", SECRET_SCHEMA_ATTRIBUTE_STRING},
         {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
         {"user", SECRET_SCHEMA_ATTRIBUTE_STRING},
         {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    return &schema;
}

struct ErrorTraits {
    static GError* invalidValue() { return nullptr; }
    static void free(GError* error) { g_error_free(error); }
};
using ScopedError = mb::ScopedGeneric<GError*, ErrorTraits>;

struct PasswordTraits {
    static gchar* invalidValue() { return nullptr; }
    static void free(gchar* password) { secret_password_free(password); }
};
using ScopedPassword = mb::ScopedGeneric<gchar*, PasswordTraits>;

int usage() {
    std::cerr << "usage: mailbroker-secret lookup|store HOST USER\n";
    return 3;
}

int lookup(const std::string& host, const std::string& user) {
    GError* raw = nullptr;
    ScopedPassword password(secret_password_lookup_sync(msmtpSchema(), nullptr, &raw, "host",
                                                        host.c_str(), "service", "smtp", "user",
                                                        user.c_str(), nullptr));
    ScopedError error(raw);
    if (error) {
        std::cerr << "mailbroker-secret: " << error.get()->message << "\n";
        return 2;
    }
    if (!password) {
        return 1;
    }
    const std::string line = std::string(password.get()) + "\n";
    return std::fwrite(line.data(), 1, line.size(), stdout) == line.size() &&
                   std::fflush(stdout) == 0
               ? 0
               : 2;
}

int store(const std::string& host, const std::string& user) {
    std::string password;
    char c = 0;
    while (::read(0, &c, 1) == 1 && c != '\n') {
        if (password.size() >= kMaxPassword) {
            std::cerr << "mailbroker-secret: the password is longer than " << kMaxPassword
                      << " bytes\n";
            return 3;
        }
        password.push_back(c);
    }
    if (!password.empty() && password.back() == '\r') {
        password.pop_back();
    }
    const std::string label = "mailbroker: " + user + " at " + host;
    GError* raw = nullptr;
    // The new password replaces every one stored for this account, whatever
    // stored it: a lookup takes any item with these attributes, so one left
    // by secret-tool under another schema could still be the one found.
    secret_password_clear_sync(msmtpSchema(), nullptr, &raw, "host", host.c_str(), "service",
                               "smtp", "user", user.c_str(), nullptr);
    if (ScopedError cleared(raw); cleared) {
        std::cerr << "mailbroker-secret: " << cleared.get()->message << "\n";
        return 2;
    }
    raw = nullptr;
    const gboolean stored = secret_password_store_sync(
        msmtpSchema(), SECRET_COLLECTION_DEFAULT, label.c_str(), password.c_str(), nullptr, &raw,
        "host", host.c_str(), "service", "smtp", "user", user.c_str(), nullptr);
    ScopedError error(raw);
    // Not left in this process's memory longer than needed.
    volatile char* wipe = password.data();
    for (std::size_t i = 0; i < password.size(); ++i) {
        wipe[i] = 0;
    }
    if (!stored || error) {
        std::cerr << "mailbroker-secret: "
                  << (error ? error.get()->message : "the Secret Service refused the password")
                  << "\n";
        return 2;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 || argv[2][0] == '\0' || argv[3][0] == '\0') {
        return usage();
    }
    const std::string command = argv[1];
    if (command == "lookup") {
        return lookup(argv[2], argv[3]);
    }
    if (command == "store") {
        return store(argv[2], argv[3]);
    }
    return usage();
}
