// SPDX-License-Identifier: MIT
#include "host/client_cli.h"

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <optional>

#include "host/broker_path.h"
#include "host/client_session.h"
#include "host/host_error.h"
#include "host/mail_commands.h"
#include "host/mail_request.h"
#ifndef _WIN32
#include "host/password_set.h"
#include "host/queue_commands.h"
#endif

namespace {

int rawCommand(ClientSession& session, const std::vector<std::string>& args, std::ostream& out,
               std::ostream&) {
    printValues(session.request(args[0]).values, out);
    return kExitOk;
}

constexpr size_t kAnyCount = SIZE_MAX;

struct Subcommand {
    const char* name;
    const char* usage;
    const char* summary;
    size_t minArguments;
    size_t maxArguments;
    std::function<int(ClientSession&, const std::vector<std::string>&, std::ostream&,
                      std::ostream&)>
        run;
};

const std::vector<Subcommand>& subcommands() {
    static const std::vector<Subcommand> table = {
        {"raw", "raw TEXT",
         "send TEXT (e.g. 'SendMail?to=a%40b.org') as one request; print the reply's fields\n      "
         "as "
         "key=value lines",
         1, 1, rawCommand},
        {"send",
         "send [--to ADDR]... [--cc ADDR]... [--bcc ADDR]... [--subject TEXT]\n"
         "       [--body TEXT | --body-file PATH|-] [--attach PATH]... [--silent] [--parent N]",
         "compose a message in the default profile's Outbox: submitted at once with --silent,\n"
         "      else left for the compose window; says where the message was filed",
         0, kAnyCount, sendCommand},
        {"addrs",
         "addrs [--to TEXT]... [--cc TEXT]... [--bcc TEXT]... [--show-address-book]\n"
         "       [--caption TEXT] [--parent N]",
         "resolve names against the address book (and show its dialog with\n"
         "      --show-address-book); prints the SMTP addresses of each field",
         0, kAnyCount, addrsCommand},
        {"profile", "profile [--display-name TEXT]",
         "the default profile's display name (TEXT when there is none)", 0, 2, profileCommand},
        {"flush", "flush",
         "log on, which delivers what waits in the Outbox, then list what still waits there", 0, 0,
         flushCommand},
#ifndef _WIN32
        {"queue", "queue",
         "list what waits in each profile's Outbox and Undeliverable folders: subject,\n"
         "      recipients, attempts, next attempt and the last reason, one line each",
         0, 0, queueCommand},
        {"check", "check [PROFILE]",
         "connect to the profile's server (default: the default profile), start TLS, log\n"
         "      in and quit, sending nothing; says which step failed and why",
         0, 1, checkCommand},
        {"password", "password set PROFILE",
         "ask for the profile's password and store it in the Secret Service, where\n"
         "      secret_service = yes finds it",
         2, 2, passwordCommand},
#endif
    };
    return table;
}

void printHelp(std::ostream& out) {
    out << "usage: mailbroker-client [OPTIONS] COMMAND [ARGS]\n\n"
           "options:\n"
           "  --broker PATH    the Broker to start (default: mailbroker beside this program)\n"
           "  --pipe NAME      use the running Broker that serves pipe NAME; start none\n"
           "  --timeout MS     how long to wait for a reply (default: as long as it takes,\n"
           "                   since the Broker may be showing a dialog), and at most\n"
           "                   5000 for --pipe's Broker to be reached\n"
           "  --help           this text\n\ncommands:\n";
    for (const auto& c : subcommands()) {
        out << "  " << c.usage << "\n      " << c.summary << '\n';
    }
    out << "  help [COMMAND]\n      this text, or one command's (as COMMAND --help or -h)\n";
    out << "\nRepeated --to, --cc, --bcc and --attach values are joined with ';'.\n"
           "\nexit codes: 0 done, 1 usage, 2 Broker not started, 3 Broker not reached,\n"
           "            4 access denied, 5 connection broken or reply malformed,\n"
           "            6 the command failed (the MAPI error is named on stderr)\n";
}

void printCommandHelp(const Subcommand& c, std::ostream& out) {
    out << "usage: mailbroker-client [OPTIONS] " << c.usage << "\n\n      " << c.summary
        << "\n\nOPTIONS are those of mailbroker-client --help.\n";
}

const Subcommand* findSubcommand(const std::string& name) {
    for (const auto& c : subcommands()) {
        if (name == c.name) {
            return &c;
        }
    }
    return nullptr;
}

int exitFor(HostError::Kind kind) {
    switch (kind) {
        case HostError::Kind::StartFailed:
            return kExitStartFailed;
        case HostError::Kind::NotFound:
        case HostError::Kind::Timeout:
        case HostError::Kind::UnsafeFolder:
            return kExitUnreachable;
        case HostError::Kind::AccessDenied:
            return kExitAccessDenied;
        default:
            return kExitBadReply;
    }
}

std::string directoryOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

}  // namespace

int runClient(const std::vector<std::string>& args, const std::string& selfPath, std::ostream& out,
              std::ostream& err) {
    ClientSettings settings;
    settings.brokerPath = defaultBrokerPath(directoryOf(selfPath), MB_PRIVATE_FROM_BIN);
    size_t i = 0;
    auto optionValue = [&](const std::string& option) -> std::optional<std::string> {
        if (i + 1 >= args.size()) {
            err << "mailbroker-client: " << option << " needs a value\n";
            return std::nullopt;
        }
        return args[++i];
    };
    for (; i < args.size() && args[i].rfind("--", 0) == 0; ++i) {
        const std::string& option = args[i];
        std::optional<std::string> value;
        if (option == "--help") {
            printHelp(out);
            return kExitOk;
        } else if (option == "--broker" || option == "--pipe" || option == "--timeout") {
            if (!(value = optionValue(option))) {
                return kExitUsage;
            }
        } else {
            err << "mailbroker-client: unknown option " << option << " (see --help)\n";
            return kExitUsage;
        }
        if (option == "--broker") {
            settings.brokerPath = *value;
        } else if (option == "--pipe") {
            settings.pipeName = *value;
        } else {
            char* end = nullptr;
            unsigned long ms = std::strtoul(value->c_str(), &end, 10);
            if (value->empty() || *end != '\0' || ms == 0 || ms > 0xFFFFFFFEul) {
                err << "mailbroker-client: --timeout needs a number of milliseconds\n";
                return kExitUsage;
            }
            settings.timeoutMs = static_cast<uint32_t>(ms);
        }
    }
    if (i == args.size()) {
        err << "mailbroker-client: no command given (see --help)\n";
        return kExitUsage;
    }
    std::vector<std::string> rest(args.begin() + static_cast<long>(i) + 1, args.end());
    if (args[i] == "-h") {
        printHelp(out);
        return kExitOk;
    }
    if (args[i] == "help") {
        if (rest.empty()) {
            printHelp(out);
            return kExitOk;
        }
        const Subcommand* c = rest.size() == 1 ? findSubcommand(rest[0]) : nullptr;
        if (c == nullptr) {
            err << "mailbroker-client: usage: mailbroker-client help [COMMAND] (see --help)\n";
            return kExitUsage;
        }
        printCommandHelp(*c, out);
        return kExitOk;
    }
    if (const Subcommand* found = findSubcommand(args[i])) {
        const Subcommand& c = *found;
        if (asksForHelp(c.name, rest)) {
            printCommandHelp(c, out);
            return kExitOk;
        }
        if (rest.size() < c.minArguments || rest.size() > c.maxArguments) {
            err << "mailbroker-client: usage: mailbroker-client [OPTIONS] " << c.usage << '\n';
            return kExitUsage;
        }
        try {
            ClientSession session(settings);
            return c.run(session, rest, out, err);
        } catch (const UsageError& e) {
            err << "mailbroker-client: " << e.what() << '\n';
            return kExitUsage;
        } catch (const HostError& e) {
            err << "mailbroker-client: " << e.what() << '\n';
            return exitFor(e.kind());
        }
    }
    err << "mailbroker-client: unknown command " << args[i] << " (see --help)\n";
    return kExitUsage;
}
