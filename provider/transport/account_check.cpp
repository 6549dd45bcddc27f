// SPDX-License-Identifier: MIT
#include "provider/transport/account_check.h"

#include <unistd.h>

#include <algorithm>
#include <memory>

#include "base/command_words.h"
#include "provider/transport/connection_options.h"
#include "provider/transport/credentials.h"
#include "provider/transport/curl_loader.h"

namespace mb::provider {
namespace {

constexpr std::size_t kReplies = 3;

std::string chomp(const char* data, std::size_t size) {
    std::string line(data, std::min<std::size_t>(size, 300));
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    return line;
}

int noteCheck(CURL*, curl_infotype type, char* data, size_t size, void* user) {
    auto* trace = static_cast<CheckTrace*>(user);
    const std::string line = chomp(data, size);
    if (type == CURLINFO_TEXT) {
        if (line.rfind("Connected to", 0) == 0) {
            trace->connected = true;
        } else if (line.rfind("SSL connection using", 0) == 0) {
            trace->tlsUp = true;
            trace->tlsVersion = line.substr(21);
        }
    } else if (type == CURLINFO_HEADER_OUT) {
        // Only the command word: AUTH's argument is the credential.
        const std::string word = line.substr(0, line.find(' '));
        if (word == "STARTTLS") {
            trace->starttlsSent = true;
        } else if (word == "AUTH" && trace->authMechanism.empty()) {
            const std::size_t start = line.find(' ');
            const std::string rest = start == std::string::npos ? "" : line.substr(start + 1);
            trace->authMechanism = rest.substr(0, rest.find(' '));
        } else if (word == "NOOP") {
            trace->noopSent = true;
        }
    } else if (type == CURLINFO_HEADER_IN) {
        trace->connected = true;
        if (!trace->greeted && line.rfind("220", 0) == 0) {
            trace->greeted = true;
            trace->greeting = line;
        }
        if (line.rfind("235", 0) == 0) {
            trace->authOk = true;
        }
        if (trace->noopSent && line.rfind("250", 0) == 0) {
            trace->noopOk = true;
        }
        trace->lastReplies.push_back(line);
        if (trace->lastReplies.size() > kReplies) {
            trace->lastReplies.erase(trace->lastReplies.begin());
        }
    }
    return 0;
}

using State = CheckStep::State;

}  // namespace

bool CheckReport::ok() const {
    return !steps.empty() && std::none_of(steps.begin(), steps.end(), [](const CheckStep& s) {
        return s.state == State::Failed;
    });
}

CheckReport readCheck(const CheckTrace& trace, int curlCode, bool implicitTls,
                      const std::string& text) {
    CheckReport report;
    const auto code = static_cast<CURLcode>(curlCode);
    auto add = [&](const char* name, State state, std::string detail) {
        report.steps.push_back({name, state, std::move(detail)});
    };
    auto fail = [&](const char* name) { add(name, State::Failed, text); };
    if (code == CURLE_COULDNT_RESOLVE_HOST) {
        fail("resolve");
        return report;
    }
    add("resolve", State::Ok, "");
    if (!trace.connected) {
        fail("connect");
        return report;
    }
    add("connect", State::Ok, "");
    if (implicitTls) {
        if (!trace.tlsUp) {
            fail("tls");
            return report;
        }
        add("tls", State::Ok, "implicit, " + trace.tlsVersion);
    }
    if (!trace.greeted) {
        fail("greeting");
        return report;
    }
    add("greeting", State::Ok, trace.greeting);
    if (!implicitTls) {
        if (trace.starttlsSent && !trace.tlsUp) {
            fail("tls");
            return report;
        }
        if (trace.tlsUp) {
            add("tls", State::Ok, "STARTTLS, " + trace.tlsVersion);
        } else if (code == CURLE_USE_SSL_FAILED) {
            fail("tls");
            return report;
        } else {
            add("tls", State::Skipped, "not offered or not asked for: the login travels in clear");
        }
    }
    if (!trace.authMechanism.empty()) {
        if (!trace.authOk) {
            fail("login");
            return report;
        }
        add("login", State::Ok, "AUTH " + trace.authMechanism);
    } else if (code == CURLE_LOGIN_DENIED || code == CURLE_AUTH_ERROR) {
        fail("login");
        return report;
    } else {
        add("login", State::Skipped, "no login given or none asked for");
    }
    if (code != CURLE_OK || !trace.noopOk) {
        fail("noop");
        return report;
    }
    add("noop", State::Ok, "");
    return report;
}

CheckReport checkAccount(const Profile& profile, std::chrono::seconds timeout) {
    CheckReport report;
    const std::string& transport = profile.transport;
    if (transport == "none") {
        report.steps.push_back({"transport", State::Failed,
                                "none: messages stay in the Outbox; set transport = smtp://... "
                                "or sendmail"});
        return report;
    }
    if (transport.rfind("sendmail", 0) == 0) {
        std::vector<std::string> words;
        const std::string command =
            transport == "sendmail" ? "/usr/sbin/sendmail -t -oi" : transport.substr(9);
        if (!splitCommandWords(command, words) || words.empty()) {
            report.steps.push_back({"command", State::Failed, "cannot be split into words"});
            return report;
        }
        std::string found = words[0];
        if (found.find('/') == std::string::npos) {
            const char* path = std::getenv("PATH");
            std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
            found.clear();
            for (std::size_t at = 0; at <= dirs.size();) {
                std::size_t end = dirs.find(':', at);
                if (end == std::string::npos) {
                    end = dirs.size();
                }
                const std::string candidate = dirs.substr(at, end - at) + "/" + words[0];
                if (::access(candidate.c_str(), X_OK) == 0) {
                    found = candidate;
                    break;
                }
                at = end + 1;
            }
        }
        if (found.empty() || ::access(found.c_str(), X_OK) != 0) {
            report.steps.push_back({"command", State::Failed, words[0] + " cannot be run"});
            return report;
        }
        report.steps.push_back({"command", State::Ok, found + " can be run; nothing was sent"});
        return report;
    }
    std::string error;
    const CurlApi* curl = loadCurl(error);
    if (curl == nullptr) {
        report.steps.push_back({"libcurl", State::Failed, error});
        return report;
    }
    CredentialLookup login = lookupCredentials(profile, timeout);
    if (!login.credentials) {
        report.steps.push_back({"credentials", State::Failed, login.failure.reason});
        return report;
    }
    const Credentials& credentials = *login.credentials;
    std::unique_ptr<CURL, decltype(curl->easyCleanup)> easy(curl->easyInit(), curl->easyCleanup);
    if (!easy) {
        report.steps.push_back({"libcurl", State::Failed, "cannot start a transfer"});
        return report;
    }
    CURL* const handle = easy.get();
    ConnectionState connection;
    if (std::optional<DeliveryFailure> failure = applyConnectionOptions(
            *curl, handle, profile, transport, credentials, timeout, connection)) {
        report.steps.push_back({"settings", State::Failed, failure->reason});
        return report;
    }
    CheckTrace trace;
    char curlError[CURL_ERROR_SIZE] = "";
    auto set = curl->easySetopt;
    // No MAIL FROM, no upload: libcurl logs in and sends this one command.
    set(handle, CURLOPT_CUSTOMREQUEST, "NOOP");
    set(handle, CURLOPT_NOBODY, 1L);
    set(handle, CURLOPT_ERRORBUFFER, curlError);
    set(handle, CURLOPT_VERBOSE, 1L);
    set(handle, CURLOPT_DEBUGFUNCTION, noteCheck);
    set(handle, CURLOPT_DEBUGDATA, &trace);
    const CURLcode code = curl->easyPerform(handle);
    long response = 0;
    curl->easyGetinfo(handle, CURLINFO_RESPONSE_CODE, &response);
    easy.reset();
    std::string text = curlError[0] != '\0' ? curlError : curl->easyStrerror(code);
    if (!trace.lastReplies.empty()) {
        text += "; the server said:";
        for (const std::string& line : trace.lastReplies) {
            text += " " + line;
        }
    }
    if (code != CURLE_OK) {
        const DeliveryFailure failure =
            classifyConnectionFailure(code, response, connection, text, false);
        text = failure.reason + " (" + kindName(failure.kind) + ")";
    }
    for (const std::string* secret :
         {&credentials.password, &credentials.bearer, &credentials.username}) {
        if (secret->size() >= 3) {
            for (std::size_t at = text.find(*secret); at != std::string::npos;
                 at = text.find(*secret, at)) {
                text.replace(at, secret->size(), "***");
            }
        }
    }
    const std::string url = connectionUrl(profile, transport);
    return readCheck(trace, code, url.rfind("smtps://", 0) == 0, text);
}

int printCheck(const Profile& profile, const CheckReport& report, std::ostream& out) {
    out << "check " << profile.name << " (" << profile.transport << ")\n";
    for (const CheckStep& step : report.steps) {
        const char* state = step.state == State::Ok        ? "ok"
                            : step.state == State::Skipped ? "skipped"
                                                           : "FAILED";
        out << "  " << step.name << ": " << state << (step.detail.empty() ? "" : ": ")
            << step.detail << '\n';
    }
    if (report.ok()) {
        out << "result: the account works; nothing was sent\n";
        return 0;
    }
    out << "result: " << report.steps.back().name << " failed\n";
    return 6;
}

}  // namespace mb::provider
