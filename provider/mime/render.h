// SPDX-License-Identifier: MIT
// The boundary between the provider and its MIME renderer, libmbmime.so.
//
// The renderer lives in a library of its own because GMime and GLib are
// heavy to load and cannot be unloaded safely: the provider, which the
// Broker loads and unloads for every request, opens it on the first message
// it renders and never closes it (see store/mime_loader.h). Plain C types only,
// so nothing but data crosses, and no exception.
#pragma once

#include <cstdint>

extern "C" {

// One mailbox, or a group (RFC 5322's "name: member, member;"): address null,
// name the group's, and its members the next `members` entries, each with an
// address. A group may have no members.
struct MbMimeAddress {
    std::uint32_t type;     // MAPI_TO, MAPI_CC or MAPI_BCC
    const char* name;       // UTF-8, may be empty
    const char* address;    // the SMTP address; null for a group
    std::uint32_t members;  // a group's member count; 0 for a mailbox
};

struct MbMimeHeader {
    const char* name;
    const char* value;  // ASCII
};

struct MbMimeAttachment {
    const char* fileName;  // UTF-8
    std::int32_t fd;       // the file holding the data; -1 for none
    std::int64_t offset;   // where the data starts in it
    std::int64_t length;   // its length; -1: to the end of the file
};

struct MbMimeMessage {
    std::uint32_t structSize;  // sizeof(MbMimeMessage), checked by the renderer
    const char* subject;       // UTF-8; null or empty: no subject
    const char* body;          // UTF-8; null: empty
    const char* fromName;
    const char* fromAddress;
    const MbMimeAddress* recipients;
    std::uint32_t recipientCount;
    const MbMimeAttachment* attachments;
    std::uint32_t attachmentCount;
    const MbMimeHeader* headers;  // extra headers, after the standard ones
    std::uint32_t headerCount;
    std::int64_t date;            // seconds since 1970
    const char* messageIdDomain;  // right-hand side of the Message-ID
};

// Writes the message as RFC 5322 text to outFd from its current offset.
// Returns 0, or an errno value (EINVAL for a malformed request).
typedef std::int32_t (*MbMimeRenderFn)(const MbMimeMessage* message, std::int32_t outFd);

#define MB_MIME_RENDER_SYMBOL "mb_mime_render"
#define MB_MIME_LIBRARY "libmbmime.so"
}
