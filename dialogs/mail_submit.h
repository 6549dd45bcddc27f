// SPDX-License-Identifier: MIT
// Sending the compose window's message: through mailbroker-client, so it
// takes the same way as any silent SendMail (the profile's transport, filed
// in Sent Items) instead of a second delivery path inside the window.
//
// The client joins repeated values with ';', and the Broker splits at it, so
// no value may hold one: recipients with ';' are refused before this (see
// recipient_list.h), and an attachment whose path holds ';', or whose file
// name differs from the name the message shows, travels as a hard link (a
// copy where links fail) under a safe name in a private folder.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace mb::dialogs {

struct SubmitAttachment {
    std::string name;  // as the message names it
    std::string path;  // where the data is
};

struct SubmitMessage {
    std::vector<std::string> to, cc, bcc;  // as the client takes them
    std::string subject, body;
    std::vector<SubmitAttachment> attachments;
};

// The client to run: overridePath (MAILBROKER_CLIENT) when set, else
// mailbroker-client in programDir when executable there, else the bare name
// for a PATH search.
std::string findClient(const char* overridePath, const std::string& programDir);

// The folder of the running program (/proc/self/exe), "" when unknown.
std::string programDirectory();

// A private folder (mode 0700) for the body and the renamed attachments,
// removed with everything in it when the object goes.
class SubmitFolder {
  public:
    static std::unique_ptr<SubmitFolder> create(std::string& error);
    ~SubmitFolder();
    SubmitFolder(const SubmitFolder&) = delete;
    SubmitFolder& operator=(const SubmitFolder&) = delete;

    const std::string& path() const { return path_; }

    // Writes the body as a file; its path, or "" with error.
    std::string writeBody(const std::string& body, std::string& error);

    // The path the client gets for an attachment: its own when that is safe
    // and carries the right file name, else a link or copy in this folder.
    std::string attachmentPath(const SubmitAttachment& attachment, std::string& error);

  private:
    explicit SubmitFolder(std::string path) : path_(std::move(path)) {}
    std::string path_;
    unsigned next_ = 0;
};

// The client's command line: CLIENT send --silent --to ... --cc ... --bcc ...
// --subject S --body-file F --attach P...
std::vector<std::string> clientArguments(const std::string& client, const SubmitMessage& message,
                                         const std::string& bodyFile,
                                         const std::vector<std::string>& attachmentPaths);

// Runs the client asynchronously on the GLib main loop with
// MAILBROKER_PROFILE=profile, and calls done once it has ended: ok when it
// exited 0, else message holding its exit and its standard error. The folder
// lives until then.
void runClient(const std::vector<std::string>& argv, const std::string& profile,
               std::unique_ptr<SubmitFolder> folder,
               std::function<void(bool ok, const std::string& message)> done);

}  // namespace mb::dialogs
