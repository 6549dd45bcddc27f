// SPDX-License-Identifier: MIT
#include "tests/support/provider_install.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace mbtest {
namespace {

std::string runCommand(const std::string& command) {
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return "popen failed";
    }
    std::string out;
    char buffer[4096];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        out.append(buffer, got);
    }
    const int status = ::pclose(pipe);
    return status == 0 ? out : "command failed: " + out;
}

// Reads parse_eml.py's JSON on stdin and prints it as lines.
constexpr const char* kFlatten = R"PY(
import json, sys
d = json.load(sys.stdin)
print("subject=%s" % d["subject"])
print("body=%s" % d["body"].rstrip("\r\n"))
for k in ("to", "cc", "bcc"):
    print("%s=%s" % (k, ",".join(a for _, a in d[k])))
for k, groups in sorted(d.get("groups", {}).items()):
    for name, members in groups:
        print("group:%s=%s: %s;" % (k, name, ",".join(members)))
for a in d["attachments"]:
    print("attachment=%s %d %s" % (a["filename"], a["size"], a["sha256"]))
for k, v in sorted(d["x_headers"].items()):
    print("x:%s=%s" % (k, v))
)PY";

}  // namespace

ProviderInstall::ProviderInstall(const char* folder) {
    isolatedRuntimeDir();
    const std::string dir = root() + "/" + folder;
    fs::create_directories(dir);
    brokerPath_ = dir + "/mailbroker";
    fs::copy_file(MB_BROKER_PATH, brokerPath_);
    for (const char* library : {"/libmapi32.so", "/libmbmime.so"}) {
        fs::copy_file(std::string(MB_PROVIDER_DIR) + library, dir + library);
    }
    fs::create_directories(configDir());
    fs::create_directories(dataDir());
    writeUiScript("");
}

std::string ProviderInstall::writeFile(const std::string& relative, const std::string& text) const {
    const fs::path path = fs::path(root()) / relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
}

void ProviderInstall::writeProfiles(const std::string& text) const {
    writeFile("config/mailbroker/profiles.ini", text);
}

void ProviderInstall::writeUiScript(const std::string& text) const {
    writeFile("ui.script", text);
}

void ProviderInstall::writeRegistry(const std::string& key, const std::string& line) const {
    writeFile("config/winpal/user.reg", "Windows Registry Editor Version 5.00\r\n\r\n"
                                        "[HKEY_CURRENT_USER\\" + key + "]\r\n" + line + "\r\n");
}

std::vector<std::string> ProviderInstall::messages(const std::string& folder,
                                                   const std::string& profile) const {
    std::vector<std::string> files;
    std::error_code error;
    const fs::path dir = fs::path(dataDir()) / "mailbroker" / profile / folder;
    for (const auto& entry : fs::directory_iterator(dir, error)) {
        files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string ProviderInstall::providerLog() const {
    std::ifstream in(root() + "/provider.log");
    return std::string(std::istreambuf_iterator<char>(in), {});
}

BrokerHost ProviderInstall::start() const {
    return start(0, {});
}

BrokerHost ProviderInstall::start(uint32_t hostPid,
                                  const std::vector<std::string>& extraEnvironment) const {
    BrokerHost::Options options;
    options.hostPid = hostPid;
    options.process.environment = {
        "XDG_CONFIG_HOME=" + configDir(), "XDG_DATA_HOME=" + dataDir(),
        "XDG_STATE_HOME=" + root() + "/state", "MAILBROKER_UI_SCRIPT=" + root() + "/ui.script",
        "MAILBROKER_PROVIDER_LOG=" + root() + "/provider.log",
        // No notification reaches the desktop of whoever runs the tests.
        "DBUS_SESSION_BUS_ADDRESS", "DISPLAY", "WAYLAND_DISPLAY"};
    options.process.environment.insert(options.process.environment.end(),
                                       extraEnvironment.begin(), extraEnvironment.end());
    return BrokerHost::start(brokerPath_, options);
}

std::string describeMessage(const std::string& path) {
    const std::string python = MB_PYTHON;
    return runCommand(python + " " + MB_PARSE_EML + " '" + path + "' | " + python + " -c '" +
                      kFlatten + "'");
}

std::string sha256Of(const std::string& path) {
    std::string out = runCommand(std::string(MB_PYTHON) +
                                 " -c 'import hashlib,sys; print(hashlib.sha256(open(sys.argv[1],"
                                 "\"rb\").read()).hexdigest())' '" + path + "'");
    if (!out.empty() && out.back() == '\n') {
        out.pop_back();
    }
    return out;
}

}  // namespace mbtest
