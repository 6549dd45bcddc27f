#include "host/client_cli.h"

#include <cstdlib>
#include <functional>
#include <optional>

#include "host/broker_host.h"
#include "host/host_error.h"

namespace {

struct Settings {
    std::string brokerPath;
    std::string pipeName;  // set: talk to a running Broker instead of starting one
    uint32_t timeoutMs = 60000;
};

// The Broker in use, started or reached on first need.
class Session {
  public:
    explicit Session(const Settings& settings) : settings_(settings) {}
    ~Session() {
        // A started Broker ends by itself once this process, its host, has gone.
        if (host_) {
            host_->process().detach();
        }
    }

    BrokerConnection& connection() {
        if (!connection_) {
            if (!settings_.pipeName.empty()) {
                connection_.emplace(BrokerConnection::open(
                    settings_.pipeName, settings_.timeoutMs < 5000 ? settings_.timeoutMs : 5000));
            } else {
                host_.emplace(BrokerHost::start(settings_.brokerPath));
                connection_.emplace(host_->connect());
            }
        }
        return *connection_;
    }
    uint32_t timeoutMs() const { return settings_.timeoutMs; }

  private:
    const Settings& settings_;
    std::optional<BrokerHost> host_;
    std::optional<BrokerConnection> connection_;
};

void printValues(const ParamMap& values, std::ostream& out) {
    for (const auto& [key, value] : values) {
        KsString k(key), v(value);
        out << k.utf8View() << '=' << v.utf8View() << '\n';
    }
}

int rawCommand(Session& session, const std::vector<std::string>& args, std::ostream& out) {
    BrokerConnection::Reply reply = session.connection().request(args[0], session.timeoutMs());
    printValues(reply.values, out);
    return kExitOk;
}

struct Subcommand {
    const char* name;
    const char* usage;
    const char* summary;
    size_t argumentCount;
    std::function<int(Session&, const std::vector<std::string>&, std::ostream&)> run;
};

const std::vector<Subcommand>& subcommands() {
    static const std::vector<Subcommand> table = {
        {"raw", "raw TEXT",
         "send TEXT (e.g. 'SendMail?to=a%40b.org') as one request; print the reply's fields as "
         "key=value lines",
         1, rawCommand},
    };
    return table;
}

void printHelp(std::ostream& out) {
    out << "usage: mailbroker-client [OPTIONS] COMMAND [ARGS]\n\n"
           "options:\n"
           "  --broker PATH    the Broker to start (default: mailbroker beside this program)\n"
           "  --pipe NAME      use the running Broker that serves pipe NAME; start none\n"
           "  --timeout MS     how long to wait for a reply (default 60000), and at most\n"
           "                   5000 for --pipe's Broker to be reached\n"
           "  --help           this text\n\ncommands:\n";
    for (const auto& c : subcommands()) {
        out << "  " << c.usage << "\n      " << c.summary << '\n';
    }
    out << "\nexit codes: 0 done, 1 usage, 2 Broker not started, 3 Broker not reached,\n"
           "            4 access denied, 5 connection broken or reply malformed\n";
}

int exitFor(HostError::Kind kind) {
    switch (kind) {
        case HostError::Kind::StartFailed:
            return kExitStartFailed;
        case HostError::Kind::NotFound:
        case HostError::Kind::Timeout:
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
    Settings settings;
    settings.brokerPath = directoryOf(selfPath) + "/mailbroker";
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
    for (const auto& c : subcommands()) {
        if (args[i] != c.name) {
            continue;
        }
        std::vector<std::string> rest(args.begin() + static_cast<long>(i) + 1, args.end());
        if (rest.size() != c.argumentCount) {
            err << "mailbroker-client: usage: mailbroker-client [OPTIONS] " << c.usage << '\n';
            return kExitUsage;
        }
        try {
            Session session(settings);
            return c.run(session, rest, out);
        } catch (const HostError& e) {
            err << "mailbroker-client: " << e.what() << '\n';
            return exitFor(e.kind());
        }
    }
    err << "mailbroker-client: unknown command " << args[i] << " (see --help)\n";
    return kExitUsage;
}
