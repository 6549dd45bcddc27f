// SPDX-License-Identifier: MIT
// What a profile's Maildir store holds, so the client can say where a request
// left its message. A snapshot lists the messages of the folders a message can
// land in; comparing two tells this request's new message apart from older
// ones that only moved (delivered meanwhile, say), by the Maildir base name,
// which survives renames between folders.
#pragma once

#include <string>
#include <vector>

struct StoredMessage {
    std::string folder;  // "Outbox", "Sent Items", "Drafts", "Undeliverable"
    std::string path;
    std::string baseName;  // the file name up to its ':' info part
};

class StoreSnapshot {
  public:
    // Lists new/ and cur/ of each folder; a missing folder lists nothing.
    static StoreSnapshot take(const std::string& storePath);

    const std::vector<StoredMessage>& messages() const { return messages_; }
    std::vector<StoredMessage> inFolder(const std::string& folder) const;

  private:
    std::vector<StoredMessage> messages_;
};

struct StoreChange {
    std::vector<StoredMessage> added;  // base names `before` never held
    std::vector<StoredMessage> moved;  // files of older messages under a new path
};

StoreChange compareSnapshots(const StoreSnapshot& before, const StoreSnapshot& after);

// "filed: PATH (...)": where the message went, told with the profile's
// transport, and why it was not delivered when `why` says so.
std::string describeFiling(const StoredMessage& message, const std::string& transport,
                           const std::string& why = {});

// A transport for display: user and password of a URL are left out.
std::string transportForDisplay(const std::string& transport);
