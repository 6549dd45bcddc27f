// SPDX-License-Identifier: MIT
#include "dialogs/mail_submit.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include <gio/gio.h>

#include "base/scoped_fd.h"
#include "dialogs/compose_i18n.h"

namespace mb::dialogs {
namespace {

std::string baseName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The name as one harmless path component.
std::string safeName(std::string name) {
    for (char& c : name) {
        if (c == '/' || c == ';' || c == '\0') {
            c = '_';
        }
    }
    if (name.empty() || name == "." || name == "..") {
        name = "attachment";
    }
    return name;
}

bool copyFile(const std::string& from, const std::string& to, std::string& error) {
    ScopedFd in(::open(from.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (in.get() < 0 || ::fstat(in.get(), &info) != 0) {
        error = from + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error = from + ": " + _("not a regular file");
        return false;
    }
    ScopedFd out(::open(to.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600));
    if (out.get() < 0) {
        error = to + ": " + std::strerror(errno);
        return false;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(in.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            error = from + ": " + std::strerror(errno);
            return false;
        }
        if (got == 0) {
            return true;
        }
        for (ssize_t put = 0; put < got;) {
            const ssize_t n = ::write(out.get(), buffer + put, static_cast<std::size_t>(got - put));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                error = to + ": " + std::strerror(errno);
                return false;
            }
            put += n;
        }
    }
}

struct ClientRun {
    std::unique_ptr<SubmitFolder> folder;
    std::function<void(bool, const std::string&)> done;
};

std::string bytesText(GBytes* bytes) {
    if (bytes == nullptr) {
        return {};
    }
    gsize size = 0;
    const auto* data = static_cast<const char*>(g_bytes_get_data(bytes, &size));
    gchar* valid = g_utf8_make_valid(data != nullptr ? data : "", static_cast<gssize>(size));
    std::string text(valid);
    g_free(valid);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

void clientEnded(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<ClientRun> run(static_cast<ClientRun*>(data));
    GSubprocess* process = G_SUBPROCESS(source);
    GBytes* out = nullptr;
    GBytes* err = nullptr;
    GError* error = nullptr;
    std::string message;
    bool ok = false;
    if (!g_subprocess_communicate_finish(process, result, &out, &err, &error)) {
        message = std::string(_("The mail client could not be run:")) + " " + error->message;
        g_error_free(error);
    } else if (g_subprocess_get_if_exited(process)) {
        const int status = g_subprocess_get_exit_status(process);
        ok = status == 0;
        if (!ok) {
            char line[128];
            std::snprintf(line, sizeof line, _("mailbroker-client exited with code %d."), status);
            message = line;
        }
    } else {
        char line[128];
        std::snprintf(line, sizeof line, _("mailbroker-client ended by signal %d."),
                      g_subprocess_get_term_sig(process));
        message = line;
    }
    if (!ok) {
        const std::string stderrText = bytesText(err);
        if (!stderrText.empty()) {
            message += "\n\n" + stderrText;
        }
    }
    if (out != nullptr) {
        g_bytes_unref(out);
    }
    if (err != nullptr) {
        g_bytes_unref(err);
    }
    g_object_unref(process);
    auto done = std::move(run->done);
    run.reset();  // the private folder goes before the window hears of it
    done(ok, message);
}

}  // namespace

std::string findClient(const char* overridePath, const std::string& programDir) {
    if (overridePath != nullptr && overridePath[0] != '\0') {
        return overridePath;
    }
    if (!programDir.empty()) {
        const std::string beside = programDir + "/mailbroker-client";
        if (::access(beside.c_str(), X_OK) == 0) {
            return beside;
        }
    }
    return "mailbroker-client";
}

std::string programDirectory() {
    char self[4096];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) {
        return {};
    }
    const std::string path(self, static_cast<std::size_t>(length));
    return path.substr(0, path.rfind('/'));
}

std::unique_ptr<SubmitFolder> SubmitFolder::create(std::string& error) {
    GError* failure = nullptr;
    gchar* made = g_dir_make_tmp("mailbroker-send-XXXXXX", &failure);
    if (made == nullptr) {
        error = std::string(_("Cannot create a temporary folder:")) + " " + failure->message;
        g_error_free(failure);
        return nullptr;
    }
    std::unique_ptr<SubmitFolder> folder(new SubmitFolder(made));
    g_free(made);
    if (folder->path_.find(';') != std::string::npos) {
        error = std::string(_("The temporary folder's path holds a ';':")) + " " + folder->path_;
        return nullptr;
    }
    return folder;
}

SubmitFolder::~SubmitFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string SubmitFolder::writeBody(const std::string& body, std::string& error) {
    const std::string path = path_ + "/body.txt";
    ScopedFd out(::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600));
    std::size_t done = 0;
    while (out.get() >= 0 && done < body.size()) {
        const ssize_t n = ::write(out.get(), body.data() + done, body.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (out.get() < 0 || done < body.size()) {
        error = std::string(_("Cannot write the message body:")) + " " + std::strerror(errno);
        return {};
    }
    return path;
}

std::string SubmitFolder::attachmentPath(const SubmitAttachment& attachment, std::string& error) {
    const std::string wanted = safeName(attachment.name.empty() ? baseName(attachment.path)
                                                                : attachment.name);
    if (attachment.path.find(';') == std::string::npos && baseName(attachment.path) == wanted &&
        !attachment.path.empty()) {
        return attachment.path;
    }
    // One subfolder per attachment, so two files of one name both travel.
    const std::string dir = path_ + "/" + std::to_string(next_++);
    if (::mkdir(dir.c_str(), 0700) != 0) {
        error = dir + ": " + std::strerror(errno);
        return {};
    }
    const std::string target = dir + "/" + wanted;
    if (::link(attachment.path.c_str(), target.c_str()) == 0) {
        return target;
    }
    std::string why;
    if (!copyFile(attachment.path, target, why)) {
        error = std::string(_("Cannot prepare the attachment")) + " \"" + attachment.name + "\": " + why;
        return {};
    }
    return target;
}

std::vector<std::string> clientArguments(const std::string& client, const SubmitMessage& message,
                                         const std::string& bodyFile,
                                         const std::vector<std::string>& attachmentPaths) {
    std::vector<std::string> argv = {client, "send", "--silent"};
    const auto add = [&argv](const char* option, const std::vector<std::string>& values) {
        for (const std::string& value : values) {
            argv.push_back(option);
            argv.push_back(value);
        }
    };
    add("--to", message.to);
    add("--cc", message.cc);
    add("--bcc", message.bcc);
    if (!message.subject.empty()) {
        argv.push_back("--subject");
        argv.push_back(message.subject);
    }
    argv.push_back("--body-file");
    argv.push_back(bodyFile);
    add("--attach", attachmentPaths);
    return argv;
}

void runClient(const std::vector<std::string>& argv, const std::string& profile,
               std::unique_ptr<SubmitFolder> folder,
               std::function<void(bool ok, const std::string& message)> done) {
    std::vector<const gchar*> args;
    for (const std::string& arg : argv) {
        args.push_back(arg.c_str());
    }
    args.push_back(nullptr);
    GSubprocessLauncher* launcher = g_subprocess_launcher_new(
        static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDOUT_PIPE | G_SUBPROCESS_FLAGS_STDERR_PIPE));
    // The client must not read the program's own stdin, which belongs to
    // the desktop driver.
    g_subprocess_launcher_set_stdin_file_path(launcher, "/dev/null");
    if (profile.empty()) {
        g_subprocess_launcher_unsetenv(launcher, "MAILBROKER_PROFILE");  // the default profile
    } else {
        g_subprocess_launcher_setenv(launcher, "MAILBROKER_PROFILE", profile.c_str(), TRUE);
    }
    GError* error = nullptr;
    GSubprocess* process = g_subprocess_launcher_spawnv(launcher, args.data(), &error);
    g_object_unref(launcher);
    if (process == nullptr) {
        const std::string message =
            std::string(_("The mail client could not be started:")) + " " + error->message;
        g_error_free(error);
        folder.reset();
        done(false, message);
        return;
    }
    auto* run = new ClientRun{std::move(folder), std::move(done)};
    g_subprocess_communicate_async(process, nullptr, nullptr, clientEnded, run);
}

}  // namespace mb::dialogs
