// Delivery of the Outbox: each message that SubmitMessage queued goes out
// through the profile's transport and is then filed.
//
// States on disk, so that a crash anywhere loses nothing:
// - queued: in Outbox (new/ or cur/), marked "X-Mailbroker-Submitted: yes";
// - being delivered: the same file, held with an exclusive flock by the one
//   process delivering it; others skip it. The lock dies with its owner, so a
//   claim left by a crashed process is simply taken again next time;
// - delivered: renamed into the folder of its X-Mailbroker-Sent-Folder header
//   (same file name, new/), or removed when it has none;
// - refused for good (SMTP 5xx, or a sendmail exit status that says the
//   message or an address is at fault): renamed into the Maildir folder
//   "Undeliverable", with the reason in Undeliverable/<name>.reason beside it,
//   written first, so the message bytes stay as they were.
// Temporary failures leave the message queued for the next logon or flush.
// A crash between the server's acceptance and the rename means one duplicate
// delivery next time, never a loss.
#pragma once

#include <chrono>
#include <string>

#include "provider/transport.h"

namespace mb::provider {

inline constexpr const char* kUndeliverableFolder = "Undeliverable";

struct SpoolReport {
    int delivered = 0;
    int waiting = 0;  // failed for now, or left for lack of time
    int undeliverable = 0;
    int skipped = 0;  // not submitted, or claimed by another process
};

class Spooler {
  public:
    // storePath is the profile's store; timeout bounds each delivery and, for
    // deliverAll, the whole run.
    Spooler(std::string storePath, std::string sender, Transport& transport,
            std::chrono::seconds timeout);

    // One file in the Outbox; adds its fate to report.
    void deliverFile(const std::string& path, SpoolReport& report);

    // Everything queued in the Outbox, oldest name first, until the time-out.
    SpoolReport deliverAll();

  private:
    void file(const std::string& path, const std::string& folder);
    void reject(const std::string& path, const std::string& reason);
    void deliverWithin(const std::string& path, std::chrono::seconds limit, SpoolReport& report);

    std::string store_;
    std::string sender_;
    Transport& transport_;
    std::chrono::seconds timeout_;
};

// What SubmitMessage and logon call: a no-op for transport "none"; problems
// go to the provider log, never to the caller.
void deliverQueued(const Profile& profile, const std::string& path);
void deliverOutbox(const Profile& profile);

}  // namespace mb::provider
