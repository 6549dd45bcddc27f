// SPDX-License-Identifier: MIT
// A Broker installed beside the real provider (libmapi32.so, libmbmime.so) in a
// folder of a chosen name, with a private configuration and data directory:
// profiles, vCards, the UI script and the registry file are the test's own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/broker_fixture.h"

namespace mbtest {

class ProviderInstall {
  public:
    // folder: the name of the directory the Broker runs from ("bin", "Tavro").
    explicit ProviderInstall(const char* folder = "bin");

    const std::string& root() const { return root_.path(); }
    std::string configDir() const { return root() + "/config"; }
    std::string dataDir() const { return root() + "/data"; }
    // Writes a file below root(), making its folders.
    std::string writeFile(const std::string& relative, const std::string& text) const;
    void writeProfiles(const std::string& text) const;
    void writeUiScript(const std::string& text) const;
    // One HKEY_CURRENT_USER value: "key" below HKEY_CURRENT_USER, `line` as in
    // an export file ("name"=dword:00000001).
    void writeRegistry(const std::string& key, const std::string& line) const;

    // The files of a store folder ("Outbox/new"), sorted.
    std::vector<std::string> messages(const std::string& folder,
                                      const std::string& profile = "Default") const;
    std::string providerLog() const;

    BrokerHost start() const;
    // The same with another process as the host (0: this one), and
    // "NAME=value" entries laid over the environment.
    BrokerHost start(uint32_t hostPid, const std::vector<std::string>& extraEnvironment) const;

  private:
    TempDir root_{"provider"};
    std::string brokerPath_;
};

// parse_eml.py's reading of a message, flattened to "field=value" lines:
// subject, body, to/cc/bcc (addresses joined by ','), each group of them as
// "group:to=NAME: ADDRESS,ADDRESS;", one "attachment=NAME SIZE SHA256" per
// attachment, and each X- header as "x:NAME=VALUE".
std::string describeMessage(const std::string& path);
// SHA-256 of a file's bytes, in hex.
std::string sha256Of(const std::string& path);

}  // namespace mbtest
