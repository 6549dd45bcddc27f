// SPDX-License-Identifier: MIT
#include "libmailbroker/handle.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "host/host_error.h"

#if !defined(MB_INSTALLED_BROKER) || !defined(MB_BROKER_FROM_LIBDIR)
#error "MB_INSTALLED_BROKER and MB_BROKER_FROM_LIBDIR must name the installed Broker"
#endif

namespace {

// How long a connect to a pipe that already serves may wait for it to appear
// or for an instance to be free, as mailbroker-client allows.
constexpr uint32_t kConnectMs = 5000;

}  // namespace

std::string defaultBrokerPath() {
    const char* fromEnvironment = std::getenv("MAILBROKER_BROKER");
    if (fromEnvironment != nullptr && fromEnvironment[0] != '\0') {
        return fromEnvironment;
    }
    // The Broker of the install this library lies in: an installed tree that
    // was put under another prefix starts its own Broker, not the system's.
    Dl_info self{};
    if (::dladdr(reinterpret_cast<void*>(&defaultBrokerPath), &self) != 0 &&
        self.dli_fname != nullptr) {
        const std::filesystem::path beside =
            (std::filesystem::path(self.dli_fname).parent_path() / MB_BROKER_FROM_LIBDIR)
                .lexically_normal();
        std::error_code error;
        if (std::filesystem::is_regular_file(beside, error)) {
            return beside.string();
        }
    }
    return MB_INSTALLED_BROKER;
}

mailbroker::~mailbroker() {
    connection_.reset();
    if (host_) {
        // The host is done with this Broker; it would otherwise run until the
        // host process ends. A delivery cut off stays in the Outbox.
        host_->stop();
    }
}

void mailbroker::start(const std::string& brokerPath) {
    if (ready_.load()) {
        throw StateError("this handle is already started or connected");
    }
    BrokerHost host = BrokerHost::start(brokerPath);
    BrokerConnection connection = host.connect();
    pipeName_ = host.pipeName();
    host_.emplace(std::move(host));
    connection_.emplace(std::move(connection));
    ready_.store(true, std::memory_order_release);
}

void mailbroker::connect(const std::string& pipeName) {
    if (ready_.load()) {
        throw StateError("this handle is already started or connected");
    }
    connection_.emplace(BrokerConnection::open(pipeName, kConnectMs));
    pipeName_ = pipeName;
    ready_.store(true, std::memory_order_release);
}

const char* mailbroker::pipeName() const {
    return ready_.load(std::memory_order_acquire) ? pipeName_.c_str() : nullptr;
}

BrokerConnection::Reply mailbroker::request(const std::string& payload) {
    if (!ready_.load()) {
        throw StateError("this handle is neither started nor connected (call mailbroker_start "
                         "or mailbroker_connect first)");
    }
    if (!connection_ || !connection_->isOpen()) {
        // A time-out or a broken read closed the last connection; the Broker
        // may well still serve.
        connection_.reset();
        connection_.emplace(host_ ? host_->connect() : BrokerConnection::open(pipeName_, kConnectMs));
    }
    const uint32_t timeout = timeoutMs_.load();
    return connection_->request(payload, timeout == 0 ? INFINITE : timeout);
}

void mailbroker::setError(mailbroker_error code, std::string message) {
    std::lock_guard<std::mutex> lock(errorLock_);
    errors_[std::this_thread::get_id()] = Error{code, std::move(message)};
}

void mailbroker::clearError() {
    std::lock_guard<std::mutex> lock(errorLock_);
    errors_.erase(std::this_thread::get_id());
}

mailbroker_error mailbroker::lastError() {
    std::lock_guard<std::mutex> lock(errorLock_);
    auto found = errors_.find(std::this_thread::get_id());
    return found == errors_.end() ? MAILBROKER_OK : found->second.code;
}

const char* mailbroker::lastErrorMessage() {
    std::lock_guard<std::mutex> lock(errorLock_);
    auto found = errors_.find(std::this_thread::get_id());
    // The entry stays put until this thread calls again: map nodes do not move.
    return found == errors_.end() ? "" : found->second.message.c_str();
}
