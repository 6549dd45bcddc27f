// SPDX-License-Identifier: MIT
#include "host/outbox_report.h"

#include <strings.h>

#include <algorithm>
#include <fstream>
#include <vector>

#include "host/message_subject.h"
#include "host/store_watch.h"
#include "profiles/profiles.h"

namespace {

// The listing's recipients: the message's To and Cc as written, one line.
std::string recipientsOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string line, current, result;
    auto take = [&] {
        const std::size_t colon = current.find(':');
        const std::string name = current.substr(0, colon);
        if (colon != std::string::npos &&
            (strcasecmp(name.c_str(), "To") == 0 || strcasecmp(name.c_str(), "Cc") == 0)) {
            result += (result.empty() ? "" : ", ") + current.substr(colon + 1);
        }
        current.clear();
    };
    std::size_t read = 0;
    while (std::getline(in, line) && read < kHeaderLimit) {
        read += line.size() + 1;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty()) {
            break;
        }
        if (line[0] == ' ' || line[0] == '\t') {
            current += line;
            continue;
        }
        take();
        current = line;
    }
    take();
    return mb::provider::oneLineText(decodeHeaderText(result), 200);
}

std::string timeText(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
    return text;
}

}  // namespace

std::optional<mb::provider::RetryRecord> retryRecordOf(const std::string& storePath,
                                                      const std::string& baseName) {
    mb::provider::RetryRecord record;
    if (!mb::provider::readRetryRecord(storePath + "/.retry/" + baseName, record)) {
        return std::nullopt;
    }
    return record;
}

std::string refusalReasonOf(const std::string& storePath, const std::string& baseName) {
    std::ifstream in(storePath + "/Undeliverable/" + baseName + ".reason", std::ios::binary);
    std::string line;
    std::getline(in, line);
    return mb::provider::oneLineText(line, mb::provider::kMaxRetryReason);
}

std::string describeWaiting(const mb::provider::RetryRecord& record, std::time_t now) {
    const std::string reason = record.reason.empty() ? "no reason kept" : record.reason;
    if (record.needsAttention) {
        return "needs attention (attempt " + std::to_string(record.attempts) +
               "; tried again by flush or once profiles.ini changes): " + reason;
    }
    const std::string when = record.next <= now ? "due now" : "next at " + timeText(record.next);
    return "not delivered yet (attempt " + std::to_string(record.attempts) + ", " + when +
           "): " + reason;
}

std::string profilesProblem() {
    const mb::provider::ProfileLoad load = mb::provider::loadProfiles();
    return load.result == S_OK ? std::string() : load.error;
}

int listQueues(std::ostream& out, std::ostream& err, std::time_t now) {
    const mb::provider::ProfileLoad load = mb::provider::loadProfiles();
    if (load.result != S_OK) {
        err << "mailbroker-client: " << load.error << '\n';
        return 6;
    }
    for (const mb::provider::Profile& profile : load.profiles) {
        const StoreSnapshot snapshot = StoreSnapshot::take(profile.storePath);
        const std::vector<StoredMessage> waiting = snapshot.inFolder("Outbox");
        const std::vector<StoredMessage> refused = snapshot.inFolder("Undeliverable");
        out << "profile " << profile.name << ": " << waiting.size() << " waiting, "
            << refused.size() << " undeliverable (transport: "
            << transportForDisplay(profile.transport) << ")\n";
        for (const auto* list : {&waiting, &refused}) {
            for (const StoredMessage& m : *list) {
                const std::optional<std::string> subject = readSubject(m.path);
                std::string state;
                if (m.folder == "Undeliverable") {
                    const std::string reason = refusalReasonOf(profile.storePath, m.baseName);
                    state = "undeliverable: " + (reason.empty() ? "no reason kept" : reason);
                } else if (const auto record = retryRecordOf(profile.storePath, m.baseName)) {
                    state = describeWaiting(*record, now);
                } else {
                    state = "not tried yet";
                }
                const std::string shown =
                    subject && !subject->empty() ? mb::provider::oneLineText(*subject, 120)
                                                 : "(no subject)";
                out << "  " << m.folder << ": \"" << shown << "\" to " << recipientsOf(m.path)
                    << "; " << state << '\n';
            }
        }
    }
    return 0;
}
