// SPDX-License-Identifier: MIT
// Renders the messages a JSON file describes with libmbmime, one file each,
// for the readers test (readers_test.py):
//
//   [{"out": PATH, "subject": TEXT, "from": [NAME, ADDRESS],
//     "to": [[NAME, ADDRESS], ...],
//     "attachments": [{"name": TEXT, "data": HEX}, ...]}, ...]
//
// Exit status 0 when every message was written; otherwise the first failure
// is named on stderr.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "provider/mime/render.h"

extern "C" std::int32_t mb_mime_render(const MbMimeMessage* message, std::int32_t outFd);

namespace {

std::string fromHex(const std::string& hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return out;
}

// An unnamed file holding data; -1 when it cannot be made.
int dataFile(const std::string& data) {
    const int fd = ::open("/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0 && ::pwrite(fd, data.data(), data.size(), 0) != static_cast<ssize_t>(data.size())) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool renderOne(const nlohmann::json& c) {
    const std::string subject = c.value("subject", "");
    const std::string fromName = c["from"][0], fromAddress = c["from"][1];
    std::vector<std::string> texts;
    texts.reserve(c["to"].size() * 2);
    std::vector<MbMimeAddress> to;
    for (const auto& r : c["to"]) {
        texts.push_back(r[0]);
        texts.push_back(r[1]);
    }
    for (std::size_t i = 0; i < texts.size(); i += 2) {
        to.push_back({1, texts[i].c_str(), texts[i + 1].c_str(), 0});
    }
    std::vector<std::string> names;
    std::vector<MbMimeAttachment> files;
    names.reserve(c.value("attachments", nlohmann::json::array()).size());
    for (const auto& a : c.value("attachments", nlohmann::json::array())) {
        names.push_back(a["name"]);
        const int fd = dataFile(fromHex(a["data"]));
        if (fd < 0) {
            return false;
        }
        files.push_back({names.back().c_str(), fd, 0, -1});
    }
    MbMimeMessage message{};
    message.structSize = sizeof message;
    message.subject = subject.c_str();
    message.body = "body";
    message.fromName = fromName.c_str();
    message.fromAddress = fromAddress.c_str();
    message.recipients = to.data();
    message.recipientCount = static_cast<std::uint32_t>(to.size());
    message.attachments = files.data();
    message.attachmentCount = static_cast<std::uint32_t>(files.size());
    message.date = 0;
    message.messageIdDomain = "example.org";
    const std::string out = c["out"];
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const bool written = fd >= 0 && mb_mime_render(&message, fd) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    for (const MbMimeAttachment& a : files) {
        ::close(a.fd);
    }
    return written;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CASES.json\n", argv[0]);
        return 2;
    }
    std::ifstream in(argv[1]);
    const nlohmann::json cases = nlohmann::json::parse(in);
    for (const auto& c : cases) {
        if (!renderOne(c)) {
            std::fprintf(stderr, "cannot render %s\n", c["out"].get<std::string>().c_str());
            return 1;
        }
    }
    return 0;
}
