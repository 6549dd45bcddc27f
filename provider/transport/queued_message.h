// SPDX-License-Identifier: MIT
// A message waiting in the Outbox, read for delivery: its envelope from the
// header block, and its bytes as they may leave the machine.
//
// The store keeps Bcc recipients in a Bcc header and marks queued messages
// with X-Mailbroker-* headers; neither may reach another host, so the bytes
// handed to a transport come through OutgoingStream, which drops them while
// streaming the rest from the file.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

namespace mb::provider {

struct QueuedMessage {
    bool submitted = false;               // X-Mailbroker-Submitted: yes
    std::string sentFolder;               // X-Mailbroker-Sent-Folder, or empty
    std::vector<std::string> recipients;  // To, Cc and Bcc addr-specs, no repeats
    std::string subject;                  // unfolded, as it stands (encoded words too)
};

// The header block of the message in fd, at most this long.
inline constexpr std::size_t kMaxHeaderBlock = 1024 * 1024;

// Reads the header block of fd (from offset 0) into message; false with a
// description in error when it cannot be read or is not a header block, and
// errno EMSGSIZE when it is longer than kMaxHeaderBlock.
bool readQueuedMessage(int fd, QueuedMessage& message, std::string& error);

// The addr-specs of one address header's value (unfolded or not): groups,
// comments, quoted display names and RFC 2047 words are skipped.
std::vector<std::string> addressesOf(const std::string& value);

// The message in fd without X-Mailbroker-* headers and, unless keepBcc, without
// Bcc; with crlf, every line ends in CRLF (SMTP's wire form): a bare LF or a
// bare CR becomes CRLF.
class OutgoingStream {
  public:
    OutgoingStream(int fd, bool keepBcc, bool crlf) : fd_(fd), keepBcc_(keepBcc), crlf_(crlf) {}

    // Up to size bytes; 0 at the end; -1 with errno set on a read error, or
    // EMSGSIZE for a header block longer than kMaxHeaderBlock.
    ssize_t read(char* buffer, std::size_t size);

  private:
    bool fill();

    int fd_;
    bool keepBcc_;
    bool crlf_;
    bool started_ = false;
    bool atEnd_ = false;
    bool pendingCr_ = false;  // a CR not yet known to be followed by LF
    off_t offset_ = 0;   // next byte of the file to read
    std::string ready_;  // bytes converted and not yet handed out
    std::size_t taken_ = 0;
};

}  // namespace mb::provider
