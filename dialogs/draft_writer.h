// SPDX-License-Identifier: MIT
// Keeping the compose window's message in the profile's Drafts folder.
//
// The window may not reach into the store, so it files the draft the way the
// store does, with the same renderer (libmbmime.so) and the same Maildir
// naming: written into tmp/, synced, renamed into new/, the folder synced.
// Only then does the older draft go, so a failure at any step leaves the
// previous draft where it was and nothing half-written in the folder.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "provider/mime/render.h"
#include "provider/ui/dialog_protocol.h"

namespace mb::dialogs {

struct DraftMailbox {
    std::string name, address;
};

// One entry of a field as the draft files it: a mailbox (address set), or a
// name without an address, filed as a group of that name holding `members`
// (a list's members from the address book; none for a name not yet
// resolved), as the store files lists.
struct DraftRecipient {
    WellType type = WellType::To;
    std::string name, address;
    std::vector<DraftMailbox> members;
};

struct DraftAttachment {
    std::string name, path;
};

struct DraftContent {
    std::vector<DraftRecipient> recipients;
    std::string subject, body;
    std::vector<DraftAttachment> attachments;
};

// The Maildir folder a message file lives in: "/s/Drafts" for
// "/s/Drafts/new/NAME" or "/s/Drafts/cur/NAME:2,S"; empty when the path is
// not inside a new/ or cur/ folder.
std::string maildirFolderOf(const std::string& messagePath);

// A name for a new message, unique across processes and hosts, in the form
// the store gives its own files ("SECONDS.MUSECPPIDQN.HOST").
std::string uniqueMessageName();

// The sender of the message in path (its From header, RFC 2047 words
// decoded); empty when the file has none or cannot be read.
DraftMailbox readSender(const std::string& path);

// libmbmime.so's entry point: beside this program, then where the build put
// it, then by name (a sanitizer build names its own copy to try first). Null with error set when it cannot be loaded.
MbMimeRenderFn loadRenderer(std::string& error);

class DraftWriter {
  public:
    explicit DraftWriter(MbMimeRenderFn render) : render_(render) {}

    // Files content as a new message in the Maildir folder that holds
    // oldDraft, sent from oldDraft's sender (the profile's, as the store
    // wrote it), then removes oldDraft. On success newPath is the new file;
    // on failure error says what went wrong and oldDraft is untouched.
    bool save(const DraftContent& content, const std::string& oldDraft, std::string& newPath,
              std::string& error) const;

  private:
    MbMimeRenderFn render_;
};

}  // namespace mb::dialogs
