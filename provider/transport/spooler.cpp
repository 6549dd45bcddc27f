#include "provider/transport/spooler.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <set>
#include <string_view>
#include <system_error>
#include <vector>

#include "base/scoped_generic.h"
#include "provider/com/address_check.h"
#include "provider/com/diagnostics.h"
#include "provider/store/entry_id.h"
#include "provider/store/maildir.h"
#include "provider/transport/queued_message.h"
#include "provider/transport/retry_schedule.h"
#include "provider/store/store.h"

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

constexpr const char* kRetryDir = "/.retry";

// The schedule in path; false when absent or damaged, which makes the message
// due, never lost. A record is one short line: a first line longer than 64
// bytes is damage.
bool readSchedule(const std::string& path, int& attempts, std::time_t& next) {
    std::FILE* file = std::fopen(path.c_str(), "re");
    if (file == nullptr) {
        return false;
    }
    char bytes[65];
    const std::size_t got = std::fread(bytes, 1, sizeof bytes, file);
    std::fclose(file);
    if (got == sizeof bytes && std::memchr(bytes, '\n', got) == nullptr) {
        return false;
    }
    const std::optional<RetrySchedule> schedule = parseRetrySchedule(std::string_view(bytes, got));
    if (!schedule) {
        return false;
    }
    attempts = schedule->attempts;
    next = schedule->next;
    return true;
}

}  // namespace

std::time_t retryDelay(int attempts) {
    constexpr std::time_t kCap = 60 * 60;
    const int doublings = std::clamp(attempts - 1, 0, 6);  // 2^6 minutes passes the cap
    return std::min<std::time_t>(std::time_t{60} << doublings, kCap);
}

Spooler::Spooler(std::string storePath, std::string sender, Transport& transport,
                 std::chrono::seconds timeout, SpoolClock clock)
    : store_(std::move(storePath)),
      sender_(std::move(sender)),
      transport_(transport),
      timeout_(timeout),
      clock_(clock ? std::move(clock) : SpoolClock([] { return std::time(nullptr); })) {}

std::string Spooler::schedulePath(const std::string& name) const {
    return store_ + kRetryDir + "/" + name;
}

bool Spooler::due(const std::string& name) const {
    int attempts = 0;
    std::time_t next = 0;
    return !readSchedule(schedulePath(name), attempts, next) || next <= clock_();
}

void Spooler::postpone(const std::string& name) {
    int attempts = 0;
    std::time_t next = 0;
    if (!readSchedule(schedulePath(name), attempts, next)) {
        attempts = 0;
    }
    ++attempts;
    next = clock_() + retryDelay(attempts);
    ::mkdir((store_ + kRetryDir).c_str(), 0700);
    if (!writeWholeFile(schedulePath(name), formatRetrySchedule({attempts, next}))) {
        // Without a schedule the message is merely retried sooner.
        reportProblem("cannot keep the retry time of " + name + ": " + std::strerror(errno));
    }
}

void Spooler::dropStaleSchedules(const std::vector<std::string>& queued) {
    std::set<std::string> names;
    for (const std::string& path : queued) {
        names.insert(baseName(path));
    }
    const std::string dir = store_ + kRetryDir;
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
    switch (outcome.kind) {
        case DeliveryOutcome::Kind::Delivered:
            file(path, knownFolder(queued.sentFolder) || queued.sentFolder.empty()
                           ? queued.sentFolder
                           : folderName(FolderId::SentItems));
            ++report.delivered;
            ::unlink(schedulePath(name).c_str());
            break;
        case DeliveryOutcome::Kind::Temporary:
        case DeliveryOutcome::Kind::NeedsAttention:  // rescheduled like Temporary, for now
            reportProblem("delivery of " + name + " failed for now: " + outcome.text +
                          "; it stays in the Outbox");
            postpone(name);
            ++report.waiting;
            break;
        case DeliveryOutcome::Kind::Permanent:
            reportProblem("delivery of " + name + " refused: " + outcome.text + "; moved to " +
                          kUndeliverableFolder);
            reject(path, outcome.text);
            ::unlink(schedulePath(name).c_str());
            ++report.undeliverable;
            break;
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
        if (!force && !due(baseName(path))) {
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
    Spooler spooler(profile.storePath, address, *transport, std::chrono::seconds(profile.timeout));
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
