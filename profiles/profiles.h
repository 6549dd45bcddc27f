// SPDX-License-Identifier: MIT
// Mail profiles, read from $XDG_CONFIG_HOME/mailbroker/profiles.ini
// (~/.config/mailbroker/profiles.ini when the variable is unset or relative).
//
// One section per profile; keys and values are trimmed, lines starting with
// ';' or '#' are comments, and " ;" starts a comment at the end of a line:
//
//   [profile work]
//   display_name   = Work mail          ; default: the profile's name
//   default        = true               ; true/false/yes/no/1/0, default false
//   sender_address = me@example.org
//   sender_name    = Me
//   store          = ~/Mail/work        ; default: $XDG_DATA_HOME/mailbroker/work
//   address_books  = ~/contacts.vcf,~/Contacts/   ; ',' or ';' separated files or folders
//     ~/more.vcf                        ; an indented line continues address_books
//   transport      = smtps://mail.example.org:465  ; smtp://, smtps://, sendmail,
//                                       ; sendmail:COMMAND or none (the default)
//   starttls       = try                ; try (the default) or required
//   tls            = starttls           ; off, starttls (required) or implicit;
//                                       ; without it smtp:// follows starttls and
//                                       ; smtps:// is implicit. Not with starttls;
//                                       ; not off with smtps://
//   tls_trust_file = ~/certs/ca.pem     ; PEM CA certificates trusted instead of
//                                       ; the system's
//   tls_fingerprint = 4A:...:0F         ; 32 hex bytes, the SHA-256 of the server's
//                                       ; certificate (DER); when set, only it decides
//   tls_client_cert = ~/certs/me.pem    ; a client certificate (PEM), with its key
//   tls_client_key  = ~/certs/me.key    ; in the same file or here
//   auth           = plain              ; plain, login, cram-md5, xoauth2,
//                                       ; oauthbearer or external; default: what
//                                       ; the server offers
//   username       = me                 ; SMTP AUTH; the URL may hold no user
//   password       = secret             ; at most one of password, netrc,
//   netrc          = ~/.netrc           ; password_command and secret_service;
//                                       ; netrc: a file or "default"
//   password_command = pass show mail   ; its first line of output, run without a
//                                       ; shell, split like the sendmail command
//   secret_service = yes                ; the desktop's Secret Service, stored as
//                                       ; msmtp stores it (host, service smtp, user)
//   oauth2_token_command = get-token me ; prints an OAuth2 access token, sent as
//                                       ; a bearer (XOAUTH2 or OAUTHBEARER)
//   sendmail_from  = yes                ; the sendmail command gets -f sender_address
//                                       ; (when the profile has one); no: it does not
//   timeout        = 60                 ; seconds per delivery, 1 to 3600
//   sent_copy      = imaps://mail.example.org/Sent   ; after delivery, append the
//                                       ; message to that IMAP folder with the same
//                                       ; login and TLS settings (imap:// or
//                                       ; imaps://HOST[:PORT]/FOLDER; FOLDER as the
//                                       ; server names it, e.g. INBOX/Sent or Sent
//                                       ; Items); default: no copy
//   ui             = auto               ; auto (the default: desktop when one is
//                                       ; reachable, headless otherwise), headless
//                                       ; or desktop
//   compose        = auto               ; the desktop's compose window: mailer (the
//                                       ; user's mail program, through xdg-email),
//                                       ; builtin (our own), or auto (the default:
//                                       ; the mail program unless the mailto:
//                                       ; handler is a web browser or there is none)
//   reject_unicode = false              ; the store refuses Unicode properties
//
// A profile name may not be empty, contain '/' or be "." or ".."; names are
// unique and at most one profile is the default. When no profile says
// default = true there is no default profile, as in MAPI: logging on with
// MAPI_USE_DEFAULT fails and the profile table has no row marked default.
// Any value may continue on indented lines after its key: they are joined to
// it with a blank (address_books: as another item). Lines may be up to 65,533
// characters long.
//
// Without the file, one built-in profile serves: "Default", the default, with
// its store under $XDG_DATA_HOME/mailbroker/Default, delivering through
// sendmail when /usr/sbin/sendmail exists and through none otherwise.
//
// Any other problem (an unreadable file, a syntax error, an unknown section
// or key, a bad value) fails the whole load with a message naming the file
// and line; the entry points then return MAPI_E_CORRUPT_DATA.
#pragma once

#include <string>
#include <vector>

#include "mapi/mapi.h"

namespace mb::provider {

enum class UiDriver { Auto, Headless, Desktop };
enum class ComposeWindow { Auto, Mailer, Builtin };
// How the connection is secured. Default: as the URL and starttls say.
enum class TlsMode { Default, Off, Starttls, Implicit };
// The SASL mechanism pinned by `auth`; Any: whatever the server offers.
enum class AuthMechanism { Any, Plain, Login, CramMd5, XOAuth2, OAuthBearer, External };

struct Profile {
    std::string name;
    std::string displayName;
    bool isDefault = false;
    std::string senderAddress;
    std::string senderName;
    std::string storePath;
    std::vector<std::string> addressBooks;
    std::string transport = "none";
    bool starttlsRequired = false;
    std::string username;
    std::string password;
    std::string netrc;  // a file, "default", or empty: no netrc
    TlsMode tls = TlsMode::Default;
    std::string tlsTrustFile;      // empty: the system's store
    std::string tlsFingerprint;    // "AB:CD:..." upper case, or empty
    std::string tlsClientCert;
    std::string tlsClientKey;
    AuthMechanism auth = AuthMechanism::Any;
    std::string passwordCommand;     // as written; split like the sendmail command
    bool secretService = false;
    std::string oauth2TokenCommand;  // as written
    bool sendmailFrom = true;
    int timeout = 60;   // seconds
    std::string sentCopy;  // imap(s)://HOST[:PORT]/FOLDER, or empty
    UiDriver ui = UiDriver::Auto;
    ComposeWindow compose = ComposeWindow::Auto;
    bool rejectUnicode = false;
};

struct ProfileLoad {
    HRESULT result = S_OK;  // S_OK, or MAPI_E_CORRUPT_DATA with error set
    std::string error;      // "PATH:LINE: what is wrong"
    std::vector<Profile> profiles;
    bool builtIn = false;  // no file: the built-in default profile
};

// The path of profiles.ini from the environment.
std::string profilesPath();

// Where profile stores live by default: $XDG_DATA_HOME/mailbroker.
std::string dataRoot();

// Reads the profiles from profilesPath().
ProfileLoad loadProfiles();

// Reads the profiles from the given file; a missing file gives the built-in
// profile.
ProfileLoad loadProfilesFrom(const std::string& path);

// Reads profiles from `text`, the contents of the file at `path` (which
// only names it in errors).
ProfileLoad parseProfiles(const std::string& path, std::string text);

// The host of an smtp://, smtps://, imap:// or imaps:// URL, without port or
// brackets; empty when there is none. The Secret Service knows a password
// by it.
std::string urlHost(const std::string& url);

// The default profile of a load, or null when none is marked default.
const Profile* defaultProfile(const ProfileLoad& load);

}  // namespace mb::provider
