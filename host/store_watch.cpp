// SPDX-License-Identifier: MIT
#include "host/store_watch.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>

namespace fs = std::filesystem;

namespace {

const char* const kFolders[] = {"Outbox", "Sent Items", "Drafts", "Undeliverable"};

}  // namespace

StoreSnapshot StoreSnapshot::take(const std::string& storePath) {
    StoreSnapshot snapshot;
    for (const char* folder : kFolders) {
        for (const char* sub : {"new", "cur"}) {
            std::error_code ec;
            fs::directory_iterator it(fs::path(storePath) / folder / sub, ec), end;
            for (; !ec && it != end; it.increment(ec)) {
                std::string name = it->path().filename().string();
                // Maildir readers skip dot files; so does the store.
                if (name.empty() || name.front() == '.' || !it->is_regular_file(ec)) {
                    continue;
                }
                snapshot.messages_.push_back(
                    {folder, it->path().string(), name.substr(0, name.find(':'))});
            }
        }
    }
    std::sort(snapshot.messages_.begin(), snapshot.messages_.end(),
              [](const StoredMessage& a, const StoredMessage& b) { return a.path < b.path; });
    return snapshot;
}

std::vector<StoredMessage> StoreSnapshot::inFolder(const std::string& folder) const {
    std::vector<StoredMessage> found;
    std::copy_if(messages_.begin(), messages_.end(), std::back_inserter(found),
                 [&](const StoredMessage& m) { return m.folder == folder; });
    return found;
}

StoreChange compareSnapshots(const StoreSnapshot& before, const StoreSnapshot& after) {
    std::set<std::string> paths, baseNames;
    for (const auto& m : before.messages()) {
        paths.insert(m.path);
        baseNames.insert(m.baseName);
    }
    StoreChange change;
    for (const auto& m : after.messages()) {
        if (paths.count(m.path) == 0) {
            (baseNames.count(m.baseName) != 0 ? change.moved : change.added).push_back(m);
        }
    }
    return change;
}

std::string transportForDisplay(const std::string& transport) {
    size_t scheme = transport.find("://");
    if (scheme == std::string::npos) {
        return transport;
    }
    size_t hostStart = scheme + 3;
    size_t hostEnd = transport.find('/', hostStart);
    size_t at = transport.rfind('@', hostEnd == std::string::npos ? std::string::npos : hostEnd);
    if (at == std::string::npos || at < hostStart) {
        return transport;
    }
    return transport.substr(0, hostStart) + transport.substr(at + 1);
}

std::string describeFiling(const StoredMessage& message, const std::string& transport,
                           const std::string& reason) {
    std::string shown = transportForDisplay(transport);
    std::string why;
    if (message.folder == "Sent Items") {
        why = "delivered through " + shown;
    } else if (message.folder == "Outbox") {
        why = "transport: " + shown + ": the message waits in the Outbox";
        if (!reason.empty()) {
            why += " (queued, not lost): " + reason;
        }
        if (shown != "none") {
            why += "; `mailbroker-client flush` tries again";
        }
    } else if (message.folder == "Undeliverable") {
        why = "transport: " + shown + ": refused for good, kept as undeliverable";
        if (!reason.empty()) {
            why += ": " + reason;
        }
    } else {
        why = "a draft, left for the compose window";
    }
    return "filed: " + message.path + " (" + why + ")";
}
