// SPDX-License-Identifier: MIT
#include "tests/support/broker_fixture.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "codec/frame.h"

namespace fs = std::filesystem;

namespace mbtest {

BrokerInstall::BrokerInstall(Provider provider) : dir_("broker") {
    isolatedRuntimeDir();
    brokerPath_ = dir_.path() + "/" + fs::path(MB_BROKER_PATH).filename().string();
    logPath_ = dir_.path() + "/calls.log";
    fs::copy_file(MB_BROKER_PATH, brokerPath_);
    if (provider != Provider::None) {
        const char* variant = provider == Provider::Double ? "/whole" : "/nologon";
        fs::copy_file(std::string(MB_DOUBLE_DIR) + variant + "/" MB_DOUBLE_FILE,
                      dir_.path() + "/" MB_DOUBLE_FILE);
    }
}

std::vector<std::string> BrokerInstall::environment() const {
    return {"MB_MAPI_DOUBLE_LOG=" + logPath_};
}

std::vector<std::string> BrokerInstall::calls() const {
    std::vector<std::string> lines;
    std::ifstream in(logPath_);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

void BrokerInstall::clearCalls() const {
    std::error_code ec;
    fs::remove(logPath_, ec);
}

BrokerHost startBroker(const BrokerInstall& install, uint32_t hostPid,
                       const std::vector<std::string>& extraEnvironment) {
    BrokerHost::Options options;
    options.hostPid = hostPid;
    options.process.environment = install.environment();
    options.process.environment.insert(options.process.environment.end(), extraEnvironment.begin(),
                                       extraEnvironment.end());
    return BrokerHost::start(install.brokerPath(), options);
}

void sendWord(BrokerConnection& c, uint32_t value) {
    const codec::FrameWord bytes = codec::encodeFrameWord(value);
    c.writeMessage(bytes.data(), codec::kFrameWordBytes);
}

void sendHeader(BrokerConnection& c, uint32_t magic, uint32_t version, uint32_t messageId,
                uint32_t length) {
    sendWord(c, magic);
    sendWord(c, version);
    sendWord(c, GetCurrentProcessId());
    sendWord(c, messageId);
    sendWord(c, length);
}

void sendPayload(BrokerConnection& c, const std::string& payload) {
    c.writeMessage(payload.data(), static_cast<uint32_t>(payload.size()));
}

bool waitForBrokerClose(BrokerConnection& c, uint32_t timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (!c.peek()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return !c.peek();
}

bool silentButConnected(BrokerConnection& c, uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    uint32_t available = 0;
    return c.peek(&available) && available == 0;
}

std::string value(const BrokerConnection::Reply& reply, const char* key) {
    return reply.value(key);
}

std::string fields(const BrokerConnection::Reply& reply) {
    std::string text;
    for (const auto& [key, val] : reply.values) {
        KsString k(key), v(val);
        text += std::string(k.utf8View()) + "=" + v.utf8View() + ";";
    }
    return text;
}

}  // namespace mbtest
