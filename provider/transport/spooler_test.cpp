// SPDX-License-Identifier: MIT
#include "provider/transport/spooler.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "base/temp_dir_test_support.h"
#include "provider/store/maildir.h"

namespace mb::provider::test {
namespace {

namespace fs = std::filesystem;

// Answers from a script, and records what it was given.
class FakeTransport final : public Transport {
  public:
    std::vector<DeliveryOutcome> answers;  // one per call, then Delivered
    std::vector<Envelope> envelopes;
    std::vector<std::chrono::seconds> limits;

    DeliveryOutcome deliver(int, const Envelope& envelope, std::chrono::seconds timeout) override {
        envelopes.push_back(envelope);
        limits.push_back(timeout);
        const std::size_t call = envelopes.size() - 1;
        return call < answers.size() ? answers[call] : DeliveryOutcome::delivered();
    }
};

class SpoolerTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(Maildir(store_ + "/Outbox").ensure(), S_OK); }

    std::string queue(const std::string& name, const std::string& extra = "",
                      bool submitted = true) {
        const std::string path = store_ + "/Outbox/new/" + name;
        std::ofstream(path) << "To: a@x\nBcc: b@x\n"
                            << extra << (submitted ? "X-Mailbroker-Submitted: yes\n" : "")
                            << "\nbody " << name << "\n";
        return path;
    }

    static std::string read(const std::string& path) {
        std::stringstream text;
        text << std::ifstream(path).rdbuf();
        return text.str();
    }

    Spooler spooler(std::chrono::seconds timeout = std::chrono::seconds(30)) {
        SpoolOptions options;
        options.profiles = profiles_;
        options.notify = [this](const DesktopNotice& notice) { notices_.push_back(notice); };
        options.sentCopy = copier_;
        return Spooler(store_, "me@x", fake_, timeout, [this] { return now_; },
                       std::move(options));
    }

    RetryRecord record(const std::string& name) {
        RetryRecord read;
        EXPECT_TRUE(readRetryRecord(store_ + "/.retry/" + name, read)) << name;
        return read;
    }

    FileStamp profiles_{1000, 10};
    std::vector<DesktopNotice> notices_;
    SentCopier* copier_ = nullptr;

    mb::test::TempDir temp_{"spooler"};
    std::string store_ = temp_.path();
    FakeTransport fake_;
    std::time_t now_ = 1'000'000;
};

TEST_F(SpoolerTest, DeliveredMessageMovesIntoItsSentFolderUnchanged) {
    const std::string path = queue("1.a", "X-Mailbroker-Sent-Folder: Sent Items\n");
    const std::string bytes = read(path);
    SpoolReport report;
    spooler().deliverFile(path, report);
    EXPECT_EQ(report.delivered, 1);
    ASSERT_EQ(fake_.envelopes.size(), 1u);
    EXPECT_EQ(fake_.envelopes[0].sender, "me@x");
    EXPECT_EQ(fake_.envelopes[0].recipients, (std::vector<std::string>{"a@x", "b@x"}));
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(read(store_ + "/Sent Items/new/1.a"), bytes);
}

// A mail reader that opened the queued message moved it to cur/ and gave it
// flags; what is filed in new/ carries none.
TEST_F(SpoolerTest, MessageAReaderFlaggedIsFiledWithoutItsFlags) {
    ASSERT_EQ(Maildir(store_ + "/Outbox").ensure(), S_OK);
    const std::string sent = store_ + "/Outbox/cur/1.a:2,S";
    std::ofstream(sent) << "To: a@x\nX-Mailbroker-Submitted: yes\n"
                        << "X-Mailbroker-Sent-Folder: Sent Items\n\nbody\n";
    const std::string refused = store_ + "/Outbox/cur/2.b:2,RS";
    std::ofstream(refused) << "To: a@x\nX-Mailbroker-Submitted: yes\n\nbody\n";
    const std::string bytes = read(sent);
    fake_.answers = {DeliveryOutcome::delivered(), DeliveryOutcome::permanent("554 no")};
    const SpoolReport report = spooler().deliverAll();
    EXPECT_EQ(report.delivered, 1);
    EXPECT_EQ(report.undeliverable, 1);
    EXPECT_EQ(read(store_ + "/Sent Items/new/1.a"), bytes);
    EXPECT_FALSE(fs::exists(store_ + "/Sent Items/new/1.a:2,S"));
    EXPECT_TRUE(fs::exists(store_ + "/Undeliverable/new/2.b"));
    EXPECT_EQ(read(store_ + "/Undeliverable/2.b.reason"), "554 no\n");
    EXPECT_FALSE(fs::exists(refused));
}

TEST_F(SpoolerTest, DeliveredWithoutSentFolderLeavesNoCopy) {
    const std::string path = queue("1.a");
    SpoolReport report;
    spooler().deliverFile(path, report);
    EXPECT_EQ(report.delivered, 1);
    EXPECT_FALSE(fs::exists(path));
    EXPECT_FALSE(fs::exists(store_ + "/Sent Items"));
}

TEST_F(SpoolerTest, UnknownSentFolderFallsBackToSentItems) {
    const std::string path = queue("1.a", "X-Mailbroker-Sent-Folder: ../../etc\n");
    SpoolReport report;
    spooler().deliverFile(path, report);
    EXPECT_TRUE(fs::exists(store_ + "/Sent Items/new/1.a"));
}

TEST_F(SpoolerTest, TemporaryFailureKeepsTheMessageQueued) {
    const std::string path = queue("1.a", "X-Mailbroker-Sent-Folder: Sent Items\n");
    fake_.answers = {DeliveryOutcome::temporary("451 later")};
    SpoolReport report;
    spooler().deliverFile(path, report);
    EXPECT_EQ(report.waiting, 1);
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(read(path).find("451"), std::string::npos);
    // Not before its retry is due, then once.
    now_ += 59;
    EXPECT_EQ(spooler().deliverAll().deferred, 1);
    EXPECT_EQ(fake_.envelopes.size(), 1u);
    now_ += 1;
    EXPECT_EQ(spooler().deliverAll().delivered, 1);
    EXPECT_FALSE(fs::exists(path));
    EXPECT_TRUE(fs::exists(store_ + "/Sent Items/new/1.a"));
    EXPECT_TRUE(fs::is_empty(store_ + "/.retry"));
}

TEST_F(SpoolerTest, RetriesBackOffByDoublingUpToAnHour) {
    EXPECT_EQ(retryDelay(1), 60);
    EXPECT_EQ(retryDelay(2), 120);
    EXPECT_EQ(retryDelay(4), 480);
    EXPECT_EQ(retryDelay(7), 3600);
    EXPECT_EQ(retryDelay(1000), 3600);
    const std::string path = queue("1.a");
    fake_.answers.assign(3, DeliveryOutcome::temporary("421 busy"));
    SpoolReport report;
    spooler().deliverFile(path, report);  // at submit, attempt 1
    now_ += 60;
    EXPECT_EQ(spooler().deliverAll().waiting, 1);  // attempt 2: next in 2 min
    now_ += 119;
    EXPECT_EQ(spooler().deliverAll().deferred, 1);
    now_ += 1;
    EXPECT_EQ(spooler().deliverAll().waiting, 1);  // attempt 3: next in 4 min
    now_ += 239;
    EXPECT_EQ(spooler().deliverAll().deferred, 1);
    EXPECT_EQ(fake_.envelopes.size(), 3u);
    // A flush ignores the schedule.
    EXPECT_EQ(spooler().deliverAll(true).delivered, 1);
    EXPECT_FALSE(fs::exists(store_ + "/.retry/1.a"));
}

TEST_F(SpoolerTest, DamagedOrStaleSchedulesNeverHoldAMessageBack) {
    const std::string path = queue("1.a");
    fs::create_directories(store_ + "/.retry");
    std::ofstream(store_ + "/.retry/1.a") << "99999999999999999999 99999999999";
    std::ofstream(store_ + "/.retry/gone.b") << "1 99999999999";
    EXPECT_EQ(spooler().deliverAll().delivered, 1);
    EXPECT_FALSE(fs::exists(path));
    EXPECT_TRUE(fs::is_empty(store_ + "/.retry"));
}

TEST_F(SpoolerTest, PermanentRefusalFilesTheMessageWithItsReason) {
    const std::string path = queue("1.a", "X-Mailbroker-Sent-Folder: Sent Items\n");
    const std::string bytes = read(path);
    fake_.answers = {DeliveryOutcome::permanent("554 no such user")};
    SpoolReport report;
    spooler().deliverFile(path, report);
    EXPECT_EQ(report.undeliverable, 1);
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(read(store_ + "/Undeliverable/new/1.a"), bytes);
    EXPECT_EQ(read(store_ + "/Undeliverable/1.a.reason"), "554 no such user\n");
    EXPECT_FALSE(fs::exists(store_ + "/.retry/1.a"));
    EXPECT_EQ(spooler().deliverAll().delivered, 0);
    EXPECT_EQ(fake_.envelopes.size(), 1u);
}

TEST_F(SpoolerTest, MessageWithoutRecipientsIsUndeliverableUntried) {
    const std::string path = store_ + "/Outbox/new/1.a";
    std::ofstream(path) << "Subject: s\nX-Mailbroker-Submitted: yes\n\nbody\n";
    EXPECT_EQ(spooler().deliverAll().undeliverable, 1);
    EXPECT_TRUE(fake_.envelopes.empty());
    EXPECT_NE(read(store_ + "/Undeliverable/1.a.reason").find("no recipients"), std::string::npos);
}

TEST_F(SpoolerTest, MalformedOrOverlongRecipientIsUndeliverableUntried) {
    const std::string longAddress = std::string(3000, 'a') + "@x";
    queue("1.a", "Cc: " + longAddress + "\n");
    queue("2.a", "Cc: " + std::string(200000, 'a') + "@x\n");
    queue("3.a", "Cc: <a..b@x>\n");
    queue("4.a", "Cc: ok@x, Q <\"q..r\"@[192.0.2.1]>\n");
    const SpoolReport report = spooler().deliverAll();
    EXPECT_EQ(report.undeliverable, 3);
    EXPECT_EQ(report.delivered, 1);
    ASSERT_EQ(fake_.envelopes.size(), 1u);
    EXPECT_EQ(fake_.envelopes[0].recipients,
              (std::vector<std::string>{"a@x", "b@x", "ok@x", "\"q..r\"@[192.0.2.1]"}));
    EXPECT_TRUE(fs::is_empty(store_ + "/Outbox/new"));
    EXPECT_NE(read(store_ + "/Undeliverable/1.a.reason").find("too long"), std::string::npos);
    EXPECT_NE(read(store_ + "/Undeliverable/2.a.reason").find("too long"), std::string::npos);
    EXPECT_NE(read(store_ + "/Undeliverable/3.a.reason").find("a..b@x is not an e-mail address"),
              std::string::npos);
    EXPECT_TRUE(fs::exists(store_ + "/Undeliverable/new/3.a"));
}

TEST_F(SpoolerTest, OversizedHeaderBlockIsUndeliverable) {
    const std::string path = queue("1.a", "Subject: " + std::string(4 << 20, 's') + "\n");
    const SpoolReport report = spooler().deliverAll();
    EXPECT_EQ(report.undeliverable, 1);
    EXPECT_EQ(report.waiting, 0);
    EXPECT_TRUE(fake_.envelopes.empty());
    EXPECT_FALSE(fs::exists(path));
    EXPECT_TRUE(fs::exists(store_ + "/Undeliverable/new/1.a"));
    EXPECT_NE(read(store_ + "/Undeliverable/1.a.reason").find("header block longer than 1048576"),
              std::string::npos);
}

TEST_F(SpoolerTest, UnsubmittedAndClaimedMessagesAreLeftAlone) {
    const std::string saved = queue("1.a", "", false);
    const std::string claimed = queue("2.a");
    ScopedFd other(::open(claimed.c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_EQ(::flock(other.get(), LOCK_EX | LOCK_NB), 0);
    SpoolReport report = spooler().deliverAll();
    EXPECT_EQ(report.skipped, 2);
    EXPECT_TRUE(fake_.envelopes.empty());
    EXPECT_TRUE(fs::exists(saved));
    EXPECT_TRUE(fs::exists(claimed));
    // A claim ends with its owner.
    other = ScopedFd();
    EXPECT_EQ(spooler().deliverAll().delivered, 1);
    EXPECT_FALSE(fs::exists(claimed));
    EXPECT_TRUE(fs::exists(saved));
}

// Spoolers running at once share the Outbox: each message goes out once.
TEST_F(SpoolerTest, ConcurrentRunsDeliverEachMessageOnce) {
    class Slow final : public Transport {
      public:
        std::atomic<int> calls{0};
        DeliveryOutcome deliver(int, const Envelope&, std::chrono::seconds) override {
            ++calls;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            return DeliveryOutcome::delivered();
        }
    } slow;
    for (int i = 0; i < 10; ++i) {
        queue(std::to_string(i) + ".a");
    }
    std::vector<std::thread> runs;
    for (int i = 0; i < 4; ++i) {
        runs.emplace_back(
            [&] { Spooler(store_, "me@x", slow, std::chrono::seconds(30)).deliverAll(); });
    }
    for (std::thread& run : runs) {
        run.join();
    }
    EXPECT_EQ(slow.calls.load(), 10);
    EXPECT_TRUE(fs::is_empty(store_ + "/Outbox/new"));
}

TEST_F(SpoolerTest, OldestFirstAndTheRunSharesOneTimeLimit) {
    queue("2.b", "Cc: 2@x\n");
    queue("1.a", "Cc: 1@x\n");
    const std::string third = queue("3.c", "Cc: 3@x\n");
    EXPECT_EQ(spooler(std::chrono::seconds(0)).deliverAll().waiting, 3);
    EXPECT_TRUE(fake_.envelopes.empty());
    SpoolReport report = spooler(std::chrono::seconds(5)).deliverAll();
    EXPECT_EQ(report.delivered, 3);
    ASSERT_EQ(fake_.limits.size(), 3u);
    EXPECT_LE(fake_.limits[0].count(), 5);
    EXPECT_GE(fake_.limits[0].count(), 4);
    EXPECT_EQ(fake_.envelopes[0].recipients[2], "1@x");
    EXPECT_EQ(fake_.envelopes[2].recipients[2], "3@x");
    EXPECT_FALSE(fs::exists(third));
}

TEST_F(SpoolerTest, OneSecondTimeOutStillGivesTheRunItsSecond) {
    queue("1.a");
    EXPECT_EQ(spooler(std::chrono::seconds(1)).deliverAll().delivered, 1);
    ASSERT_EQ(fake_.limits.size(), 1u);
    EXPECT_EQ(fake_.limits[0].count(), 1);
}

TEST_F(SpoolerTest, RefusedLoginWaitsOffTheScheduleUntilTheProfileChanges) {
    const std::string path = queue("1.a", "Subject: =?utf-8?q?Gr=C3=BC=C3=9Fe?=\n");
    fake_.answers.assign(3, DeliveryOutcome::needsAttention("535 5.7.8 bad login"));
    SpoolReport report;
    spooler().deliverFile(path, report);
    EXPECT_EQ(report.attention, 1);
    RetryRecord noted = record("1.a");
    EXPECT_TRUE(noted.needsAttention);
    EXPECT_EQ(noted.attempts, 1);
    EXPECT_EQ(noted.reason, "535 5.7.8 bad login");
    EXPECT_EQ(noted.profiles, profiles_);
    EXPECT_TRUE(noted.notified);
    ASSERT_EQ(notices_.size(), 1u);
    EXPECT_EQ(notices_[0].summary, "Mail waits for you: Gr\xC3\xBC\xC3\x9F" "e");
    EXPECT_NE(notices_[0].body.find("535 5.7.8 bad login"), std::string::npos);
    // Hours later the back-off would have tried it long ago; this waits.
    now_ += 10 * 3600;
    EXPECT_EQ(spooler().deliverAll().deferred, 1);
    EXPECT_EQ(fake_.envelopes.size(), 1u);
    // A flush tries it; the desktop hears of it once.
    EXPECT_EQ(spooler().deliverAll(true).attention, 1);
    EXPECT_EQ(record("1.a").attempts, 2);
    EXPECT_EQ(notices_.size(), 1u);
    // profiles.ini changed (mtime or size): the next logon tries it.
    profiles_.size = 11;
    EXPECT_EQ(spooler().deliverAll().attention, 1);
    EXPECT_EQ(fake_.envelopes.size(), 3u);
    profiles_.mtimeNs = 2000;
    EXPECT_EQ(spooler().deliverAll().delivered, 1);
    EXPECT_FALSE(fs::exists(path));
    EXPECT_FALSE(fs::exists(store_ + "/.retry/1.a"));
    EXPECT_EQ(notices_.size(), 1u);
}

TEST_F(SpoolerTest, TemporaryFailuresKeepTheirReasonAndTellNobody) {
    const std::string path = queue("1.a");
    fake_.answers = {DeliveryOutcome::temporary("421 busy")};
    SpoolReport report;
    spooler().deliverFile(path, report);
    const RetryRecord noted = record("1.a");
    EXPECT_FALSE(noted.needsAttention);
    EXPECT_EQ(noted.reason, "421 busy");
    EXPECT_EQ(noted.next, now_ + 60);
    EXPECT_TRUE(notices_.empty());
}

TEST_F(SpoolerTest, RecordsOfTheFirstFormatStillSchedule) {
    queue("1.a");
    fs::create_directories(store_ + "/.retry");
    std::ofstream(store_ + "/.retry/1.a") << "3 " << now_ + 100 << "\n";
    EXPECT_EQ(spooler().deliverAll().deferred, 1);
    now_ += 100;
    EXPECT_EQ(spooler().deliverAll().delivered, 1);
}

TEST_F(SpoolerTest, RefusalForGoodIsToldOnceUnlessToldBefore) {
    queue("1.a", "Subject: first\n");
    queue("2.b", "Subject: second\n");
    fs::create_directories(store_ + "/.retry");
    RetryRecord told;
    told.needsAttention = true;
    told.notified = true;
    told.profiles = FileStamp{1, 1};
    std::ofstream(store_ + "/.retry/2.b") << formatRetryRecord(told);
    fake_.answers = {DeliveryOutcome::permanent("554 no"), DeliveryOutcome::permanent("554 no")};
    EXPECT_EQ(spooler().deliverAll().undeliverable, 2);
    ASSERT_EQ(notices_.size(), 1u);
    EXPECT_EQ(notices_[0].summary, "Mail not delivered: first");
}

class FakeCopier final : public SentCopier {
  public:
    std::vector<DeliveryOutcome> answers;
    std::vector<std::string> copied;
    DeliveryOutcome append(int fd, std::chrono::seconds) override {
        std::string bytes(4096, '\0');
        bytes.resize(static_cast<std::size_t>(::pread(fd, bytes.data(), bytes.size(), 0)));
        copied.push_back(bytes);
        const std::size_t call = copied.size() - 1;
        return call < answers.size() ? answers[call] : DeliveryOutcome::delivered();
    }
};

TEST_F(SpoolerTest, AFailedSentCopyNeverHoldsDeliveryBackAndIsRetriedOnItsOwn) {
    FakeCopier copier;
    copier_ = &copier;
    copier.answers = {DeliveryOutcome::temporary("no IMAP server")};
    const std::string path = queue("1.a", "X-Mailbroker-Sent-Folder: Sent Items\n");
    SpoolReport report;
    spooler().deliverFile(path, report);
    EXPECT_EQ(report.delivered, 1);
    EXPECT_EQ(report.copied, 0);
    EXPECT_TRUE(fs::exists(store_ + "/Sent Items/new/1.a"));
    ASSERT_EQ(copier.copied.size(), 1u);
    EXPECT_NE(copier.copied[0].find("body 1.a"), std::string::npos);
    EXPECT_TRUE(fs::exists(store_ + "/.sent-copy/1.a"));
    // Not before its retry is due.
    now_ += 59;
    EXPECT_EQ(spooler().deliverAll().copied, 0);
    now_ += 1;
    EXPECT_EQ(spooler().deliverAll().copied, 1);
    EXPECT_EQ(copier.copied.size(), 2u);
    EXPECT_FALSE(fs::exists(store_ + "/.sent-copy/1.a"));
    EXPECT_TRUE(fs::is_empty(store_ + "/.sent-copy-retry"));
    EXPECT_TRUE(fs::exists(store_ + "/Sent Items/new/1.a"));
}

}  // namespace
}  // namespace mb::provider::test
