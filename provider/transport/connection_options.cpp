// SPDX-License-Identifier: MIT
#include "provider/transport/connection_options.h"

#include <dlfcn.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "base/regular_file.h"

namespace mb::provider {
namespace {

constexpr std::size_t kPinBytes = 32;

// The few OpenSSL functions the pin needs, from the libraries libcurl itself
// loaded (opened here too, and never unloaded, as libcurl is).
struct OpenSslApi {
    decltype(&SSL_CTX_set_cert_verify_callback) setCertVerifyCallback;
    decltype(&X509_STORE_CTX_get0_cert) storeCertificate;
    decltype(&X509_STORE_CTX_set_error) storeSetError;
    decltype(&X509_digest) digest;
    decltype(&EVP_sha256) sha256;
};

template <typename T>
bool bind(void* library, const char* name, T& out) {
    out = reinterpret_cast<T>(::dlsym(library, name));
    return out != nullptr;
}

const OpenSslApi* loadOpenSsl(std::string& error) {
    static std::mutex lock;
    static OpenSslApi api{};
    static bool loaded = false;
    static std::string failure;
    std::lock_guard<std::mutex> guard(lock);
    if (!loaded && failure.empty()) {
        void* ssl = ::dlopen("libssl.so.3", RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        void* crypto = ::dlopen("libcrypto.so.3", RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        if (ssl == nullptr || crypto == nullptr) {
            const char* why = ::dlerror();
            failure = std::string("cannot load OpenSSL: ") + (why ? why : "unknown error");
        } else if (!bind(ssl, "SSL_CTX_set_cert_verify_callback", api.setCertVerifyCallback) ||
                   !bind(crypto, "X509_STORE_CTX_get0_cert", api.storeCertificate) ||
                   !bind(crypto, "X509_STORE_CTX_set_error", api.storeSetError) ||
                   !bind(crypto, "X509_digest", api.digest) ||
                   !bind(crypto, "EVP_sha256", api.sha256)) {
            failure = "OpenSSL lacks a function the certificate pin needs";
        } else {
            loaded = true;
        }
    }
    error = failure;
    return loaded ? &api : nullptr;
}

std::string hexFingerprint(const unsigned char* bytes, std::size_t count) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        if (i != 0) {
            out.push_back(':');
        }
        out.push_back(digits[bytes[i] >> 4]);
        out.push_back(digits[bytes[i] & 0x0F]);
    }
    return out;
}

// "AB:CD:..." (checked when profiles.ini was read) as its bytes.
std::string pinBytes(const std::string& fingerprint) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < fingerprint.size(); i += 3) {
        bytes.push_back(static_cast<char>(std::stoi(fingerprint.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

// Replaces OpenSSL's chain verification: the server's own certificate must
// have the pinned digest, and nothing else is asked of it.
int verifyPin(X509_STORE_CTX* store, void* argument) {
    auto* state = static_cast<ConnectionState*>(argument);
    const auto* api = static_cast<const OpenSslApi*>(state->openssl);
    X509* certificate = api->storeCertificate(store);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (certificate == nullptr ||
        api->digest(certificate, api->sha256(), digest, &length) != 1 ||
        length != kPinBytes) {
        api->storeSetError(store, X509_V_ERR_UNSPECIFIED);
        return 0;
    }
    state->pinChecked = true;
    state->seenFingerprint = hexFingerprint(digest, length);
    if (std::memcmp(digest, state->pin.data(), kPinBytes) != 0) {
        state->pinMismatch = true;
        api->storeSetError(store, X509_V_ERR_CERT_REJECTED);
        return 0;
    }
    return 1;
}

CURLcode installPin(CURL*, void* context, void* argument) {
    const auto* api = static_cast<const OpenSslApi*>(static_cast<ConnectionState*>(argument)->openssl);
    api->setCertVerifyCallback(static_cast<SSL_CTX*>(context), verifyPin, argument);
    return CURLE_OK;
}

const char* mechanismOption(AuthMechanism mechanism) {
    switch (mechanism) {
        case AuthMechanism::Any:
            return nullptr;
        case AuthMechanism::Plain:
            return "AUTH=PLAIN";
        case AuthMechanism::Login:
            return "AUTH=LOGIN";
        case AuthMechanism::CramMd5:
            return "AUTH=CRAM-MD5";
        case AuthMechanism::XOAuth2:
            return "AUTH=XOAUTH2";
        case AuthMechanism::OAuthBearer:
            return "AUTH=OAUTHBEARER";
        case AuthMechanism::External:
            return "AUTH=EXTERNAL";
    }
    return nullptr;
}

bool implicitScheme(const std::string& url) {
    return url.rfind("smtps://", 0) == 0 || url.rfind("imaps://", 0) == 0;
}

}  // namespace

std::string connectionUrl(const Profile& profile, const std::string& url) {
    if (profile.tls == TlsMode::Implicit && !implicitScheme(url)) {
        const std::size_t colon = url.find("://");
        if (colon != std::string::npos) {
            return url.substr(0, colon) + "s" + url.substr(colon);
        }
    }
    return url;
}

std::optional<DeliveryFailure> applyConnectionOptions(const CurlApi& curl, CURL* handle,
                                                      const Profile& profile,
                                                      const std::string& url,
                                                      const Credentials& credentials,
                                                      std::chrono::seconds timeout,
                                                      ConnectionState& state) {
    auto set = curl.easySetopt;
    const std::string target = connectionUrl(profile, url);
    const long seconds = static_cast<long>(timeout.count());
    set(handle, CURLOPT_URL, target.c_str());
    set(handle, CURLOPT_PROTOCOLS_STR, "smtp,smtps,imap,imaps");
    set(handle, CURLOPT_TIMEOUT, seconds);
    set(handle, CURLOPT_CONNECTTIMEOUT, seconds);
    set(handle, CURLOPT_NOSIGNAL, 1L);  // no SIGALRM inside the Broker

    if (!implicitScheme(target)) {
        long use = CURLUSESSL_TRY;
        if (profile.tls == TlsMode::Off) {
            use = CURLUSESSL_NONE;
        } else if (profile.tls == TlsMode::Starttls ||
                   (profile.tls == TlsMode::Default && profile.starttlsRequired)) {
            use = CURLUSESSL_ALL;
        }
        set(handle, CURLOPT_USE_SSL, use);
    }
    if (!profile.tlsTrustFile.empty()) {
        // Checked here so that the reason names the file, not "error setting
        // certificate file" from deep inside the handshake.
        ScopedFd probe;
        if (const int failure = openRegularFile(profile.tlsTrustFile, probe); failure != 0) {
            return DeliveryFailure::needsAttention("tls_trust_file " + profile.tlsTrustFile +
                                                   ": cannot be read: " +
                                                   regularFileFailureText(failure));
        }
        set(handle, CURLOPT_CAINFO, profile.tlsTrustFile.c_str());
        set(handle, CURLOPT_CAPATH, static_cast<const char*>(nullptr));
    }
    if (!profile.tlsFingerprint.empty()) {
        const curl_version_info_data* version = curl.versionInfo(CURLVERSION_NOW);
        if (version == nullptr || version->ssl_version == nullptr ||
            std::strncmp(version->ssl_version, "OpenSSL", 7) != 0) {
            return DeliveryFailure::needsAttention(
                "tls_fingerprint needs libcurl built with OpenSSL, and this one uses " +
                std::string(version != nullptr && version->ssl_version != nullptr
                                ? version->ssl_version
                                : "no TLS library"));
        }
        std::string why;
        const OpenSslApi* openssl = loadOpenSsl(why);
        if (openssl == nullptr) {
            return DeliveryFailure::temporary(why);
        }
        state.pin = pinBytes(profile.tlsFingerprint);
        state.openssl = openssl;
        set(handle, CURLOPT_SSL_VERIFYPEER, 1L);
        set(handle, CURLOPT_SSL_VERIFYHOST, 0L);
        if (set(handle, CURLOPT_SSL_CTX_FUNCTION, installPin) != CURLE_OK ||
            set(handle, CURLOPT_SSL_CTX_DATA, &state) != CURLE_OK) {
            return DeliveryFailure::needsAttention(
                "tls_fingerprint cannot be checked: this libcurl cannot hand over its TLS context");
        }
    }
    if (!profile.tlsClientCert.empty()) {
        set(handle, CURLOPT_SSLCERT, profile.tlsClientCert.c_str());
        set(handle, CURLOPT_SSLKEY, (profile.tlsClientKey.empty() ? profile.tlsClientCert
                                                                  : profile.tlsClientKey)
                                        .c_str());
    }
    if (const char* mechanism = mechanismOption(profile.auth); mechanism != nullptr) {
        set(handle, CURLOPT_LOGIN_OPTIONS, mechanism);
    }
    if (profile.auth == AuthMechanism::External && credentials.username.empty()) {
        // libcurl logs in only with a user set; EXTERNAL sends it as the
        // authorization identity, and an empty one means "the certificate's".
        set(handle, CURLOPT_USERNAME, "");
    } else if (!credentials.username.empty()) {
        set(handle, CURLOPT_USERNAME, credentials.username.c_str());
        if (!credentials.bearer.empty()) {
            set(handle, CURLOPT_XOAUTH2_BEARER, credentials.bearer.c_str());
        } else if (profile.auth != AuthMechanism::External) {
            set(handle, CURLOPT_PASSWORD, credentials.password.c_str());
        }
    } else if (!credentials.netrcFile.empty()) {
        // libcurl opens the netrc file with a blocking fopen: a FIFO there
        // would hold the delivery for good. It gets the file opened here,
        // as a /proc/self/fd path, once it is known to be a regular file.
        set(handle, CURLOPT_NETRC, static_cast<long>(CURL_NETRC_OPTIONAL));
        const int failure = openRegularFile(credentials.netrcFile, state.netrcFile);
        if (failure != 0 && failure != ENOENT) {
            return DeliveryFailure::temporary(credentials.netrcFile +
                                              ": cannot read the netrc file: " +
                                              regularFileFailureText(failure));
        }
        if (failure == 0) {
            state.netrcPath = "/proc/self/fd/" + std::to_string(state.netrcFile.get());
            set(handle, CURLOPT_NETRC_FILE, state.netrcPath.c_str());
        } else if (profile.netrc != "default") {
            // Missing: no login, as before.
            set(handle, CURLOPT_NETRC_FILE, credentials.netrcFile.c_str());
        }
    }
    return std::nullopt;
}

DeliveryFailure classifyConnectionFailure(CURLcode code, long response,
                                          const ConnectionState& state, std::string text,
                                          bool permanentAllowed) {
    if (state.pinMismatch) {
        return DeliveryFailure::needsAttention(
            "the server's certificate has the SHA-256 fingerprint " + state.seenFingerprint +
            ", not the one in tls_fingerprint");
    }
    switch (code) {
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_USE_SSL_FAILED:
        case CURLE_LOGIN_DENIED:
        case CURLE_AUTH_ERROR:
            return DeliveryFailure::needsAttention(std::move(text));
        default:
            break;
    }
    // 530 to 538 ask for a login (or a better one): the profile's to fix.
    if (response >= 530 && response <= 538) {
        return DeliveryFailure::needsAttention(std::move(text));
    }
    if (permanentAllowed && response >= 500 && response < 600) {
        return DeliveryFailure::permanent(std::move(text));
    }
    return DeliveryFailure::temporary(std::move(text));
}

}  // namespace mb::provider
