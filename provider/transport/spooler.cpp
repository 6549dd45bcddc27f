// SPDX-License-Identifier: MIT
#include "provider/transport/spooler.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <system_error>
#include <vector>

#include "base/scoped_generic.h"
#include "provider/com/address_check.h"
#include "provider/com/diagnostics.h"
#include "provider/store/entry_id.h"
#include "provider/store/maildir.h"
#include "provider/transport/queued_message.h"
#include "provider/store/store.h"
#include "provider/transport/sent_copy.h"

namespace mb::provider {
namespace {

using Clock = std::chrono::steady_clock;

// An open directory listing, closed when it goes: collecting its names
// allocates, and may throw.
struct DirTraits {
    static DIR* invalidValue() noexcept { return nullptr; }
    static void free(DIR* dir) noexcept { ::closedir(dir); }
};
using ScopedDir = ScopedGeneric<DIR*, DirTraits>;

std::string baseName(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

std::string parentOf(const std::string& path) {
    return path.substr(0, path.rfind('/'));
}

// The folders a delivered message may be filed in: the store's own.
bool knownFolder(const std::string& name) {
    return std::any_of(std::begin(kAllFolders), std::end(kAllFolders), [&](FolderId id) {
        return id != FolderId::Outbox && name == folderName(id);
    });
}

std::vector<std::string> queuedFiles(const std::string& outbox) {
    std::vector<std::string> files;
    for (const char* sub : {"/new", "/cur"}) {
        const ScopedDir dir(::opendir((outbox + sub).c_str()));
        if (!dir) {
            continue;
        }
        while (const dirent* entry = ::readdir(dir.get())) {
            if (entry->d_name[0] != '.') {
                files.push_back(outbox + sub + "/" + entry->d_name);
            }
        }
    }
    // Maildir names start with the time of filing: oldest first.
    std::sort(files.begin(), files.end(),
              [](const std::string& a, const std::string& b) { return baseName(a) < baseName(b); });
    return files;
}

bool writeWholeFile(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".tmp";
    ScopedFd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (fd.get() < 0) {
        return false;
    }
    if (!writeAll(fd.get(), text.data(), text.size()) || ::fsync(fd.get()) != 0 ||
        ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

std::vector<std::string> namesIn(const std::string& dir) {
    std::vector<std::string> names;
    const ScopedDir listing(::opendir(dir.c_str()));
    if (!listing) {
        return names;
    }
    while (const dirent* entry = ::readdir(listing.get())) {
        if (entry->d_name[0] != '.') {
            names.push_back(entry->d_name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

std::time_t retryDelay(int attempts) {
    constexpr std::time_t kCap = 60 * 60;
    const int doublings = std::clamp(attempts - 1, 0, 6);  // 2^6 minutes passes the cap
    return std::min<std::time_t>(std::time_t{60} << doublings, kCap);
}

Spooler::Spooler(std::string storePath, std::string sender, Transport& transport,
                 std::chrono::seconds timeout, SpoolClock clock, SpoolOptions options)
    : store_(std::move(storePath)),
      sender_(std::move(sender)),
      transport_(transport),
      timeout_(timeout),
      clock_(clock ? std::move(clock) : SpoolClock([] { return std::time(nullptr); })),
      options_(std::move(options)) {}

std::string Spooler::schedulePath(const std::string& name) const {
    return store_ + "/" + kRetryFolder + "/" + name;
}

bool Spooler::due(const std::string& name, bool force) const {
    RetryRecord record;
    if (force || !readRetryRecord(schedulePath(name), record)) {
        return true;
    }
    if (record.needsAttention) {
        // Only the user can mend it: trying again before the profile changed
        // would fail the same way, and cost every logon a connection.
        return record.profiles != options_.profiles;
    }
    return record.next <= clock_();
}

RetryRecord Spooler::noteFailure(const std::string& recordPath, const std::string& reason,
                                 bool needsAttention) {
    RetryRecord record;
    if (!readRetryRecord(recordPath, record)) {
        record = RetryRecord{};
        record.attempts = 0;
    }
    ++record.attempts;
    record.needsAttention = needsAttention;
    record.reason = reason;
    record.profiles = options_.profiles;
    record.next = needsAttention ? clock_() : clock_() + retryDelay(record.attempts);
    const std::string dir = recordPath.substr(0, recordPath.rfind('/'));
    ::mkdir(dir.c_str(), 0700);
    if (!writeWholeFile(recordPath, formatRetryRecord(record))) {
        // Without a record the message is merely retried sooner.
        reportProblem("cannot keep the retry record " + recordPath + ": " + std::strerror(errno));
    }
    return record;
}

void Spooler::tell(const std::string& recordPath, const QueuedMessageInfo& message,
                   const std::string& reason, bool forGood) {
    if (!options_.notify) {
        return;
    }
    RetryRecord record;
    const bool kept = readRetryRecord(recordPath, record);
    if (kept && record.notified) {
        return;  // once per message
    }
    options_.notify(describeUndelivered(message.subject, reason, forGood));
    if (kept) {
        record.notified = true;
        if (!writeWholeFile(recordPath, formatRetryRecord(record))) {
            reportProblem("cannot note the notice in " + recordPath + ": " + std::strerror(errno));
        }
    }
}

void Spooler::dropStaleSchedules(const std::vector<std::string>& queued) {
    std::set<std::string> names;
    for (const std::string& path : queued) {
        names.insert(baseName(path));
    }
    const std::string dir = store_ + "/" + kRetryFolder;
    std::vector<std::string> stale;
    {
        const ScopedDir listing(::opendir(dir.c_str()));
        if (!listing) {
            return;
        }
        while (const dirent* entry = ::readdir(listing.get())) {
            if (entry->d_name[0] != '.' && names.count(entry->d_name) == 0) {
                stale.push_back(dir + "/" + entry->d_name);
            }
        }
    }
    for (const std::string& path : stale) {
        ::unlink(path.c_str());
    }
}

void Spooler::deliverFile(const std::string& path, SpoolReport& report) {
    deliverWithin(path, timeout_, report);
}

void Spooler::deliverWithin(const std::string& path, std::chrono::seconds limit,
                            SpoolReport& report) {
    ScopedFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        ++report.skipped;  // filed by another process meanwhile
        return;
    }
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        ++report.skipped;  // being delivered by another process
        return;
    }
    // The owner of the claim may have filed it between our open and our lock.
    struct stat opened {
    }, named{};
    if (::fstat(fd.get(), &opened) != 0 || ::stat(path.c_str(), &named) != 0 ||
        opened.st_ino != named.st_ino || opened.st_dev != named.st_dev) {
        ++report.skipped;
        return;
    }
    const std::string name = baseName(path);
    QueuedMessage queued;
    std::string error;
    if (!readQueuedMessage(fd.get(), queued, error)) {
        if (errno == EMSGSIZE) {
            // No later attempt reads it any better: it can never go.
            reportProblem("delivery of " + name + " refused: " + error + "; moved to " +
                          kUndeliverableFolder);
            reject(path, error);
            ::unlink(schedulePath(name).c_str());
            ++report.undeliverable;
            return;
        }
        reportProblem("delivery of " + name + ": " + error + "; left in the Outbox");
        ++report.waiting;
        return;
    }
    if (!queued.submitted) {
        ++report.skipped;  // saved in the Outbox, never submitted
        return;
    }
    DeliveryOutcome outcome;
    const auto unusable =
        std::find_if(queued.recipients.begin(), queued.recipients.end(),
                     [](const std::string& a) { return checkAddress(a) != AddressProblem::None; });
    if (queued.recipients.empty()) {
        outcome = DeliveryOutcome::permanent("the message has no recipients");
    } else if (unusable != queued.recipients.end()) {
        // No server takes it, however often it is tried (libcurl even calls
        // an over-long one "out of memory").
        outcome = DeliveryOutcome::permanent("recipient " + printableAddress(*unusable) + " " +
                                             describeAddressProblem(checkAddress(*unusable)));
    } else {
        outcome = transport_.deliver(fd.get(), Envelope{sender_, queued.recipients}, limit);
    }
    const QueuedMessageInfo info{queued.subject};
    switch (outcome.kind) {
        case DeliveryOutcome::Kind::Delivered:
            if (options_.sentCopy != nullptr) {
                keepForCopy(path);
            }
            file(path, knownFolder(queued.sentFolder) || queued.sentFolder.empty()
                           ? queued.sentFolder
                           : folderName(FolderId::SentItems));
            ++report.delivered;
            ::unlink(schedulePath(name).c_str());
            if (options_.sentCopy != nullptr) {
                // After the message is filed: the copy never holds it back.
                copyPending(name, limit, report, true);
            }
            break;
        case DeliveryOutcome::Kind::Temporary:
            reportProblem("delivery of " + name + " failed for now: " + outcome.text +
                          "; it stays in the Outbox");
            noteFailure(schedulePath(name), outcome.text, false);
            ++report.waiting;
            break;
        case DeliveryOutcome::Kind::NeedsAttention:
            reportProblem("delivery of " + name + " needs attention: " + outcome.text +
                          "; it stays in the Outbox until the profile changes or a flush");
            noteFailure(schedulePath(name), outcome.text, true);
            tell(schedulePath(name), info, outcome.text, false);
            ++report.attention;
            break;
        case DeliveryOutcome::Kind::Permanent: {
            reportProblem("delivery of " + name + " refused: " + outcome.text + "; moved to " +
                          kUndeliverableFolder);
            RetryRecord record;
            const bool toldBefore =
                readRetryRecord(schedulePath(name), record) && record.notified;
            reject(path, outcome.text);
            ::unlink(schedulePath(name).c_str());
            if (!toldBefore && options_.notify) {
                options_.notify(describeUndelivered(queued.subject, outcome.text, true));
            }
            ++report.undeliverable;
            break;
        }
    }
}

void Spooler::keepForCopy(const std::string& path) {
    const std::string dir = store_ + "/" + kSentCopyFolder;
    ::mkdir(dir.c_str(), 0700);
    const std::string kept = dir + "/" + newFolderName(baseName(path));
    if (::link(path.c_str(), kept.c_str()) != 0 && errno != EEXIST) {
        reportProblem("cannot keep " + baseName(path) + " for the sent copy: " +
                      std::strerror(errno) + "; no copy is appended");
    }
}

void Spooler::copyPending(const std::string& name, std::chrono::seconds limit,
                          SpoolReport& report, bool claimed) {
    const std::string kept = store_ + "/" + kSentCopyFolder + "/" + newFolderName(name);
    const std::string record = store_ + "/" + kSentCopyRetryFolder + "/" + newFolderName(name);
    ScopedFd fd(::open(kept.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        return;
    }
    // Right after delivery the message's claim (the same file) is ours already.
    if (!claimed && ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        return;  // another process appends it
    }
    const DeliveryOutcome outcome = options_.sentCopy->append(fd.get(), limit);
    if (outcome.kind == DeliveryOutcome::Kind::Delivered) {
        ::unlink(kept.c_str());
        ::unlink(record.c_str());
        ++report.copied;
        return;
    }
    const RetryRecord noted = noteFailure(record, outcome.text, false);
    reportProblem("the sent copy of " + name + " was not appended: " + outcome.text +
                  "; tried again in " + std::to_string(retryDelay(noted.attempts) / 60) +
                  " min");
}

void Spooler::copyAllPending(bool force, Clock::time_point deadline, SpoolReport& report) {
    const std::string records = store_ + "/" + kSentCopyRetryFolder;
    const std::vector<std::string> kept = namesIn(store_ + "/" + kSentCopyFolder);
    const std::set<std::string> keptNames(kept.begin(), kept.end());
    for (const std::string& stale : namesIn(records)) {
        if (keptNames.count(stale) == 0) {
            ::unlink((records + "/" + stale).c_str());
        }
    }
    if (options_.sentCopy == nullptr) {
        return;  // the key went: the copies stay until it comes back
    }
    for (const std::string& name : kept) {
        RetryRecord record;
        if (!force && readRetryRecord(records + "/" + name, record) && record.next > clock_()) {
            continue;
        }
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) {
            return;
        }
        copyPending(name, std::chrono::ceil<std::chrono::seconds>(left), report, false);
    }
}

void Spooler::file(const std::string& path, const std::string& folder) {
    const std::string outboxDir = parentOf(path);
    if (folder.empty()) {
        if (::unlink(path.c_str()) != 0) {
            reportProblem("delivered " + baseName(path) +
                          " but cannot remove it from the Outbox: " + std::strerror(errno));
        }
        syncDirectory(outboxDir);
        return;
    }
    const Maildir target(store_ + "/" + folder);
    const std::string destination = target.path() + "/new/" + newFolderName(baseName(path));
    if (FAILED(target.ensure()) || ::rename(path.c_str(), destination.c_str()) != 0) {
        // Delivered but not filed: it would go out again, so say so loudly.
        reportProblem("delivered " + baseName(path) + " but cannot file it in " + folder + ": " +
                      std::strerror(errno));
        return;
    }
    syncDirectory(target.path() + "/new");
    syncDirectory(outboxDir);
}

void Spooler::reject(const std::string& path, const std::string& reason) {
    const Maildir target(store_ + "/" + kUndeliverableFolder);
    const std::string name = newFolderName(baseName(path));
    if (FAILED(target.ensure()) ||
        !writeWholeFile(target.path() + "/" + name + ".reason", reason + "\n") ||
        ::rename(path.c_str(), (target.path() + "/new/" + name).c_str()) != 0) {
        reportProblem("cannot move " + name + " to " + kUndeliverableFolder + ": " +
                      std::strerror(errno) + "; it stays in the Outbox");
        return;
    }
    syncDirectory(target.path());
    syncDirectory(target.path() + "/new");
    syncDirectory(parentOf(path));
}

SpoolReport Spooler::deliverAll(bool force) {
    SpoolReport report;
    const auto deadline = Clock::now() + timeout_;
    const std::vector<std::string> queued = queuedFiles(store_ + "/" + folderName(FolderId::Outbox));
    dropStaleSchedules(queued);
    for (const std::string& path : queued) {
        if (!due(baseName(path), force)) {
            ++report.deferred;
            continue;
        }
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) {
            ++report.waiting;
            continue;
        }
        // Rounded up: truncating would give a 1 s time-out no time at all.
        deliverWithin(path, std::chrono::ceil<std::chrono::seconds>(left), report);
    }
    copyAllPending(force, deadline, report);
    return report;
}

namespace {

// Runs `use` with a spooler for the profile's transport and sender; does
// nothing when the profile delivers nowhere.
template <typename Use>
void withSpooler(const Profile& profile, Use use) {
    std::unique_ptr<Transport> transport = makeTransport(profile);
    if (!transport) {
        return;
    }
    std::string name, address;
    chooseSender(profile, name, address);
    SpoolOptions options;
    options.profiles = stampOf(profilesPath());
    if (desktopReachable()) {
        options.notify = [](const DesktopNotice& notice) { raiseDesktopNotice(notice); };
    }
    std::unique_ptr<SentCopier> copier = makeSentCopier(profile);
    options.sentCopy = copier.get();
    Spooler spooler(profile.storePath, address, *transport, std::chrono::seconds(profile.timeout),
                    {}, std::move(options));
    use(spooler);
}

}  // namespace

void deliverQueued(const Profile& profile, const std::string& path) {
    try {
        withSpooler(profile, [&](Spooler& spooler) {
            SpoolReport report;
            spooler.deliverFile(path, report);
        });
    } catch (...) {
        reportProblem("delivery of " + baseName(path) + " stopped: out of memory");
    }
}

void deliverOutbox(const Profile& profile) {
    try {
        const char* flush = std::getenv("MAILBROKER_FLUSH");
        const bool force = flush != nullptr && flush[0] != '\0' && std::strcmp(flush, "0") != 0;
        withSpooler(profile, [&](Spooler& spooler) { spooler.deliverAll(force); });
    } catch (...) {
        reportProblem("delivery of the Outbox stopped: out of memory");
    }
}

}  // namespace mb::provider
