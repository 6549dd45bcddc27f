// SPDX-License-Identifier: MIT
// The Broker under churn: thousands of connections in a row, of three kinds
// (a request that waits for its reply, a client that connects and leaves at
// once, a frame with a wrong magic). Every request must be answered, and no
// connect may find the pipe's name missing while the Broker serves it.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "codec/frame.h"
#include "host/host_error.h"
#include "tests/support/broker_fixture.h"
#include "tests/support/proc_counts.h"

#ifndef MB_CHURN_ROUNDS
#define MB_CHURN_ROUNDS 1
#endif

using namespace mbtest;
using namespace std::chrono_literals;

namespace {

constexpr int kConnectionsPerRound = 3000;
constexpr uint32_t kReplyMs = 10000;
// As long as the host library retries a busy pipe.
constexpr auto kConnectRetry = 5s;

struct ChurnCounts {
    int sent = 0;
    int answered = 0;
    int missingName = 0;  // connects that found no socket file
    std::string firstLoss;
};

// Connects as the host library does, retrying a busy pipe, but counts every
// attempt that finds no pipe at all: while the Broker serves, that never happens.
BrokerConnection connectCounting(const std::string& pipeName, ChurnCounts& counts) {
    const auto deadline = std::chrono::steady_clock::now() + kConnectRetry;
    for (;;) {
        try {
            return BrokerConnection::open(pipeName, 0);
        } catch (const HostError& e) {
            if (e.kind() == HostError::Kind::NotFound) {
                ++counts.missingName;
            } else if (e.kind() != HostError::Kind::Timeout) {
                throw;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                throw;
            }
            std::this_thread::sleep_for(1ms);
        }
    }
}

void churnRound(const std::string& pipeName, ChurnCounts& counts) {
    for (int i = 0; i < kConnectionsPerRound; ++i) {
        switch (i % 3) {
            case 0: {
                ++counts.sent;
                try {
                    BrokerConnection c = connectCounting(pipeName, counts);
                    if (value(c.request("X", kReplyMs), "error") == kNoSupport) {
                        ++counts.answered;
                    } else if (counts.firstLoss.empty()) {
                        counts.firstLoss = "connection " + std::to_string(i) + ": wrong reply";
                    }
                } catch (const HostError& e) {
                    if (counts.firstLoss.empty()) {
                        counts.firstLoss = "connection " + std::to_string(i) + ": " + e.what();
                    }
                }
                break;
            }
            case 1: {
                BrokerConnection c = connectCounting(pipeName, counts);
                break;
            }
            case 2:
                try {
                    BrokerConnection c = connectCounting(pipeName, counts);
                    sendHeader(c, 0xDEADBEEFu, codec::kFrameVersion, 1, 1);
                } catch (const HostError& e) {
                    // Being cut off while sending a bad frame is fair.
                    if (e.kind() != HostError::Kind::Disconnected) {
                        throw;
                    }
                }
                break;
        }
    }
}

TEST(Churn, EveryRequestIsAnsweredAndTheNameNeverLapses) {
    BrokerInstall install(Provider::None);
    for (int round = 0; round < MB_CHURN_ROUNDS; ++round) {
        SCOPED_TRACE("round " + std::to_string(round + 1));
        BrokerHost broker = startBroker(install);
        {
            // The name exists from here on: before it, a missing name is no fault.
            BrokerConnection warm = broker.connect();
            ASSERT_EQ(value(warm.request("X", kReplyMs), "error"), kNoSupport);
        }
        ChurnCounts counts;
        ASSERT_NO_THROW(churnRound(broker.pipeName(), counts));
        EXPECT_EQ(counts.answered, counts.sent) << counts.firstLoss;
        EXPECT_EQ(counts.missingName, 0);
        EXPECT_TRUE(broker.process().running());
    }
}

}  // namespace
