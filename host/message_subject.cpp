// SPDX-License-Identifier: MIT
#include "host/message_subject.h"

#include <strings.h>

#include <fstream>

std::optional<std::string> readSubject(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string head(kHeaderLimit, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<size_t>(in.gcount()));
    std::optional<std::string> subject;
    bool inSubject = false;
    for (size_t start = 0; start < head.size();) {
        size_t end = head.find('\n', start);
        std::string line = head.substr(start, end == std::string::npos ? end : end - start);
        start = end == std::string::npos ? head.size() : end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty()) {
            break;  // end of the header block
        }
        if (line.front() == ' ' || line.front() == '\t') {
            if (inSubject) {
                *subject += line;  // unfolding keeps the blank that starts the line
            }
            continue;
        }
        inSubject = !subject && strncasecmp(line.c_str(), "subject:", 8) == 0;
        if (inSubject) {
            size_t first = line.find_first_not_of(" \t", 8);
            subject = first == std::string::npos ? std::string() : line.substr(first);
        }
    }
    if (subject) {
        return decodeHeaderText(*subject);
    }
    return std::nullopt;
}
