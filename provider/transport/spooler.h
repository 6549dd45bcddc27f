// SPDX-License-Identifier: MIT
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
// Temporary failures leave the message queued; its retry record (attempts
// so far, time of the next attempt, the last reason: profiles/retry_record.h)
// lives in <store>/.retry/<name>, never in the message, so a logon does not
// wait on a server that keeps failing. The wait doubles from 1 minute up to 1
// hour; a message without a record is due at once.
// Failures only the user can mend (a refused login, an untrusted
// certificate, no token) leave it queued too, marked "needs attention" with
// the reason, and off the back-off schedule: it is tried again at the next
// flush, or at a logon that finds profiles.ini changed since (its mtime and
// size are kept in the record). A message that needs attention or is refused
// for good is told to the desktop once.
// With a sent copy (sent_copy = imap://...), a delivered message is then
// appended to the account's folder; until that succeeds its bytes stay in
// <store>/.sent-copy/<name> (a hard link) with a retry record in
// <store>/.sent-copy-retry/<name>, retried on the same back-off after the
// Outbox. A failed append never holds delivery back.
// A crash between the server's acceptance and the rename means one duplicate
// delivery next time, never a loss.
#pragma once

#include <chrono>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "profiles/retry_record.h"
#include "provider/transport/desktop_notice.h"
#include "provider/transport/transport.h"

namespace mb::provider {

inline constexpr const char* kUndeliverableFolder = "Undeliverable";
inline constexpr const char* kRetryFolder = ".retry";
inline constexpr const char* kSentCopyFolder = ".sent-copy";
inline constexpr const char* kSentCopyRetryFolder = ".sent-copy-retry";

// The subject of a queued message, for telling the user about it.
struct QueuedMessageInfo {
    std::string subject;
};

struct SpoolReport {
    int delivered = 0;
    int waiting = 0;  // failed for now, or left for lack of time
    int undeliverable = 0;
    int skipped = 0;  // not submitted, or claimed by another process
    int deferred = 0;  // failed before, next attempt not yet due
    int attention = 0;  // waits for the user to mend the profile
    int copied = 0;     // appended to the account's sent folder
};

// Appends a delivered message to the account's sent folder.
class SentCopier {
  public:
    virtual ~SentCopier() = default;
    // fd is the message file, positioned anywhere. Delivered, or a failure.
    virtual DeliveryOutcome append(int fd, std::chrono::seconds timeout) = 0;
};

// What a spooler needs besides the transport; all optional.
struct SpoolOptions {
    FileStamp profiles;  // profiles.ini as this run found it
    // Raises a notice on the desktop; empty: none is reachable.
    std::function<void(const DesktopNotice&)> notify;
    SentCopier* sentCopy = nullptr;
};

// Seconds to wait after the given number of failed attempts (1 or more).
std::time_t retryDelay(int attempts);

// Wall-clock seconds; injectable so tests need not sleep.
using SpoolClock = std::function<std::time_t()>;

class Spooler {
  public:
    // storePath is the profile's store; timeout bounds each delivery and, for
    // deliverAll, the whole run.
    Spooler(std::string storePath, std::string sender, Transport& transport,
            std::chrono::seconds timeout, SpoolClock clock = {}, SpoolOptions options = {});

    // One file in the Outbox; adds its fate to report.
    void deliverFile(const std::string& path, SpoolReport& report);

    // Everything queued in the Outbox whose retry is due (everything when
    // force), oldest name first, until the time-out; drops stale schedules;
    // then the sent copies that wait, as far as time allows.
    SpoolReport deliverAll(bool force = false);

  private:
    void file(const std::string& path, const std::string& folder);
    void reject(const std::string& path, const std::string& reason);
    void deliverWithin(const std::string& path, std::chrono::seconds limit, SpoolReport& report);
    std::string schedulePath(const std::string& name) const;
    bool due(const std::string& name, bool force) const;
    // Notes a failure in the record; returns it as written.
    RetryRecord noteFailure(const std::string& recordPath, const std::string& reason,
                            bool needsAttention);
    void tell(const std::string& recordPath, const QueuedMessageInfo& message,
              const std::string& reason, bool forGood);
    void dropStaleSchedules(const std::vector<std::string>& queued);
    void keepForCopy(const std::string& path);
    // claimed: the caller holds the message's flock already.
    void copyPending(const std::string& name, std::chrono::seconds limit, SpoolReport& report,
                     bool claimed);
    void copyAllPending(bool force, std::chrono::steady_clock::time_point deadline,
                        SpoolReport& report);

    std::string store_;
    std::string sender_;
    Transport& transport_;
    std::chrono::seconds timeout_;
    SpoolClock clock_;
    SpoolOptions options_;
};

// What SubmitMessage and logon call: a no-op for transport "none"; problems
// go to the provider log, never to the caller. The logon retries only what is
// due, unless MAILBROKER_FLUSH is set (not "0"), as `mailbroker-client flush`
// does for the Broker it starts.
void deliverQueued(const Profile& profile, const std::string& path);
void deliverOutbox(const Profile& profile);

}  // namespace mb::provider
