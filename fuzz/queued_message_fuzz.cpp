// SPDX-License-Identifier: MIT
// Arbitrary bytes as a message file in the Outbox, read back as the spooler
// reads it (a file placed there by hand, or damaged, is possible). The
// envelope reads without a fault and names each mailbox once; the stream that
// leaves the machine carries no X-Mailbroker-* header (and no Bcc unless
// kept), the body byte for byte, and in SMTP's form no bare CR or LF.
#include <sys/mman.h>
#include <unistd.h>

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "base/scoped_fd.h"
#include "fuzz/fuzz_check.h"
#include "provider/transport/queued_message.h"

namespace {

using mb::provider::OutgoingStream;

// Where the header block ends, by the rule the reader states: through the
// first empty line (LF LF or LF CR LF); the whole text when there is none.
size_t headerEnd(std::string_view text) {
    const size_t lf = text.find("\n\n");
    const size_t crlf = text.find("\n\r\n");
    if (lf == std::string_view::npos && crlf == std::string_view::npos) {
        return text.size();
    }
    return crlf < lf ? crlf + 3 : lf + 2;
}

bool startsNoCase(std::string_view line, std::string_view prefix) {
    if (line.size() < prefix.size()) {
        return false;
    }
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(line[i])) != prefix[i]) {
            return false;
        }
    }
    return true;
}

// A line of the header block starts a field of this name (or, with prefix,
// a name that starts so): the name, blanks, a colon.
bool hasField(std::string_view header, std::string_view lowerName, bool prefix = false) {
    size_t at = 0;
    while (at < header.size()) {
        size_t end = header.find('\n', at);
        end = end == std::string_view::npos ? header.size() : end + 1;
        std::string_view line = header.substr(at, end - at);
        if (startsNoCase(line, lowerName)) {
            std::string_view rest = line.substr(lowerName.size());
            const size_t colon = rest.find(':');
            if (colon != std::string_view::npos &&
                (prefix ||
                 rest.substr(0, colon).find_first_not_of(" \t") == std::string_view::npos)) {
                return true;
            }
        }
        at = end;
    }
    return false;
}

std::string drain(int fd, bool keepBcc, bool crlf, size_t chunk) {
    OutgoingStream stream(fd, keepBcc, crlf);
    std::string out;
    char buffer[4096];
    for (;;) {
        const ssize_t got = stream.read(buffer, chunk);
        FUZZ_CHECK(got >= 0);
        if (got == 0) {
            return out;
        }
        FUZZ_CHECK(static_cast<size_t>(got) <= chunk);
        out.append(buffer, static_cast<size_t>(got));
    }
}

std::string withoutLineEnds(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c != '\r' && c != '\n') {
            out.push_back(c);
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const mb::ScopedFd fd(::memfd_create("queued", MFD_CLOEXEC));
    FUZZ_CHECK(fd.get() >= 0);
    FUZZ_CHECK(::write(fd.get(), data, size) == static_cast<ssize_t>(size));

    mb::provider::QueuedMessage message;
    std::string error;
    FUZZ_CHECK(mb::provider::readQueuedMessage(fd.get(), message, error));
    std::set<std::string> seen;
    for (const std::string& address : message.recipients) {
        FUZZ_CHECK(!address.empty());
        FUZZ_CHECK(seen.insert(address).second);
    }
    if (message.submitted) {
        FUZZ_CHECK(hasField(text.substr(0, headerEnd(text)), "x-mailbroker-submitted"));
    }

    const std::string_view body = text.substr(headerEnd(text));
    const size_t chunk = size > 0 ? 1 + data[size - 1] % 97 : 1;
    const std::string kept = drain(fd.get(), true, false, chunk);
    const std::string plain = drain(fd.get(), false, false, 4096);
    const std::string wire = drain(fd.get(), false, true, chunk);
    for (const std::string* out : {&kept, &plain}) {
        FUZZ_CHECK(out->size() >= body.size() && out->size() <= size);
        FUZZ_CHECK(std::string_view(*out).substr(out->size() - body.size()) == body);
        const std::string_view header = std::string_view(*out).substr(0, out->size() - body.size());
        FUZZ_CHECK(!hasField(header, "x-mailbroker-", true));
    }
    FUZZ_CHECK(!hasField(std::string_view(plain).substr(0, plain.size() - body.size()), "bcc"));
    // The wire form is the plain one with every line end made CRLF.
    FUZZ_CHECK(withoutLineEnds(wire) == withoutLineEnds(plain));
    for (size_t i = 0; i < wire.size(); ++i) {
        if (wire[i] == '\r') {
            FUZZ_CHECK(i + 1 < wire.size() && wire[i + 1] == '\n');
        } else if (wire[i] == '\n') {
            FUZZ_CHECK(i > 0 && wire[i - 1] == '\r');
        }
    }
    return 0;
}
