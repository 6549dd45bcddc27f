// SPDX-License-Identifier: MIT
// One Maildir folder (tmp/, new/, cur/) and the atomic filing of messages.
//
// A message is written to tmp/ under a unique name, flushed with fsync,
// renamed into new/ and the directory flushed, so a reader sees either the
// whole file or nothing; on any failure the file in tmp/ is removed.
// Attachment data waits in unnamed files (O_TMPFILE) in tmp/, which vanish
// when closed, even when the process dies.
#pragma once

#include <chrono>
#include <ctime>
#include <functional>
#include <string>

#include "base/maildir_name.h"

#include "base/scoped_fd.h"
#include "mapi/mapi.h"

namespace mb::provider {

// MAPI's code for an errno value: disk full or file too large
// MAPI_E_NOT_ENOUGH_DISK, permissions MAPI_E_NO_ACCESS, memory
// MAPI_E_NOT_ENOUGH_MEMORY, anything else MAPI_E_DISK_ERROR.
HRESULT mapiFromErrno(int err);

class Maildir {
  public:
    explicit Maildir(std::string path) : path_(std::move(path)) {}

    const std::string& path() const { return path_; }

    // Creates the folder and its three subfolders when missing.
    HRESULT ensure() const;

    // A read-write file in tmp/ that disappears when closed.
    HRESULT openScratch(ScopedFd& out) const;

    // Files a message: writer fills the file (open for reading and writing);
    // on S_OK finalPath is its path in new/. With replace set (a path in
    // new/), the new file takes that name, replacing the older version in one
    // rename.
    HRESULT deliver(const std::function<HRESULT(int fd)>& writer, std::string& finalPath,
                    const std::string& replace = {}) const;

  private:
    std::string path_;
};

// How long a file may sit in a Maildir's tmp/ before it counts as left by a
// writer that died: the Maildir convention's 36 hours. A younger one may be
// another process's message on its way into new/.
inline constexpr std::chrono::seconds kStaleTemporaryAge = std::chrono::hours(36);

// Removes, in tmp/ of each Maildir folder directly under storePath, the
// regular files last modified before now - kStaleTemporaryAge; problems go to
// the provider log. Returns how many files went.
std::size_t removeStaleTemporaries(const std::string& storePath, std::time_t now);

// A file name unique across processes and hosts, as Maildir readers expect.
using mb::uniqueMaildirName;

// The name a message takes in new/: without the ":2,FLAGS" info a reader adds
// when it moves the message to cur/, since files in new/ carry none and
// readers take a name in new/ with an info part for a broken one.
std::string newFolderName(const std::string& name);

// Makes the renames and unlinks in dir durable.
HRESULT syncDirectory(const std::string& dir);

// Writes all of data, retrying short writes; false with errno set.
bool writeAll(int fd, const void* data, std::size_t size);

}  // namespace mb::provider
