// SPDX-License-Identifier: MIT
#include "dialogs/draft_writer.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>

#include <glib.h>

#include "base/scoped_fd.h"
#include "base/maildir_name.h"
#include "dialogs/compose_i18n.h"

namespace mb::dialogs {
namespace {

// The renderer's recipient types are MAPI's: MAPI_TO, MAPI_CC, MAPI_BCC.
std::uint32_t mimeType(WellType type) {
    switch (type) {
        case WellType::Cc:
            return 2;
        case WellType::Bcc:
            return 3;
        case WellType::To:
            break;
    }
    return 1;
}

std::string errnoText(int err) { return std::strerror(err); }

bool syncDirectory(const std::string& dir) {
    ScopedFd handle(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return handle.get() >= 0 && ::fsync(handle.get()) == 0;
}

// One RFC 2047 encoded word's text in UTF-8, or nullopt when it is not one.
std::optional<std::string> decodeWord(const std::string& word) {
    if (word.size() < 8 || word.rfind("=?", 0) != 0 || word.substr(word.size() - 2) != "?=") {
        return std::nullopt;
    }
    const std::size_t q1 = word.find('?', 2);
    if (q1 == std::string::npos || q1 + 3 > word.size() - 2 || word[q1 + 2] != '?') {
        return std::nullopt;
    }
    std::string charset = word.substr(2, q1 - 2);
    charset = charset.substr(0, charset.find('*'));  // RFC 2231 language
    const char encoding = static_cast<char>(g_ascii_toupper(word[q1 + 1]));
    const std::string text = word.substr(q1 + 3, word.size() - 2 - (q1 + 3));
    std::string raw;
    if (encoding == 'B') {
        gsize length = 0;
        guchar* data = g_base64_decode(text.c_str(), &length);
        raw.assign(reinterpret_cast<const char*>(data), length);
        g_free(data);
    } else if (encoding == 'Q') {
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '_') {
                raw += ' ';
            } else if (text[i] == '=' && i + 2 < text.size() && g_ascii_isxdigit(text[i + 1]) &&
                       g_ascii_isxdigit(text[i + 2])) {
                raw += static_cast<char>(g_ascii_xdigit_value(text[i + 1]) * 16 +
                                         g_ascii_xdigit_value(text[i + 2]));
                i += 2;
            } else {
                raw += text[i];
            }
        }
    } else {
        return std::nullopt;
    }
    gchar* converted =
        g_convert(raw.data(), static_cast<gssize>(raw.size()), "UTF-8", charset.c_str(), nullptr,
                  nullptr, nullptr);
    if (converted == nullptr) {
        return std::nullopt;
    }
    std::string out(converted);
    g_free(converted);
    return out;
}

// A header value with its encoded words decoded; blanks between two encoded
// words go, as RFC 2047 says.
std::string decodeHeader(const std::string& value) {
    std::string out;
    bool lastWasEncoded = false;
    std::string pendingBlanks;
    for (std::size_t i = 0; i < value.size();) {
        if (value[i] == ' ' || value[i] == '\t') {
            pendingBlanks += value[i++];
            continue;
        }
        std::size_t end = value.find_first_of(" \t", i);
        end = end == std::string::npos ? value.size() : end;
        const std::string token = value.substr(i, end - i);
        i = end;
        if (const auto decoded = decodeWord(token)) {
            if (!lastWasEncoded) {
                out += pendingBlanks;
            }
            out += *decoded;
            lastWasEncoded = true;
        } else {
            out += pendingBlanks + token;
            lastWasEncoded = false;
        }
        pendingBlanks.clear();
    }
    return out;
}

// The login name at the host name, as the store's own fallback sender.
DraftMailbox fallbackSender() {
    std::string user = "user";
    if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_name != nullptr) {
        user = entry->pw_name;
    }
    char host[256] = "localhost";
    if (::gethostname(host, sizeof host - 1) != 0) {
        std::snprintf(host, sizeof host, "localhost");
    }
    host[sizeof host - 1] = '\0';
    return {"", user + "@" + host};
}

}  // namespace

std::string maildirFolderOf(const std::string& messagePath) {
    const std::size_t slash = messagePath.rfind('/');
    if (slash == std::string::npos || slash + 1 == messagePath.size()) {
        return {};
    }
    const std::string dir = messagePath.substr(0, slash);
    const std::size_t parent = dir.rfind('/');
    const std::string leaf = parent == std::string::npos ? dir : dir.substr(parent + 1);
    if (leaf != "new" && leaf != "cur") {
        return {};
    }
    return parent == std::string::npos ? "." : parent == 0 ? "/" : dir.substr(0, parent);
}

std::string uniqueMessageName() {
    return mb::uniqueMaildirName();
}

DraftMailbox readSender(const std::string& path) {
    // Non-blocking and regular files only: a FIFO put in place of the draft
    // must not hang the window.
    ScopedFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return {};
    }
    // The header block, at most 1 MiB of it: the sender is near its top.
    std::string head;
    char chunk[8192];
    while (head.size() < (1u << 20) && head.find("\n\n") == std::string::npos &&
           head.find("\r\n\r\n") == std::string::npos) {
        const ssize_t got = ::read(fd.get(), chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        head.append(chunk, static_cast<std::size_t>(got));
    }
    std::string value;
    bool inFrom = false;
    std::size_t at = 0;
    while (at < head.size()) {
        std::size_t end = head.find('\n', at);
        end = end == std::string::npos ? head.size() : end;
        std::string line = head.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty()) {
            break;
        }
        if (inFrom && (line[0] == ' ' || line[0] == '\t')) {
            value += line;
            continue;
        }
        inFrom = g_ascii_strncasecmp(line.c_str(), "From:", 5) == 0;
        if (inFrom) {
            value = line.substr(5);
        }
    }
    DraftMailbox sender;
    const std::size_t open = value.rfind('<');
    const std::size_t close = value.rfind('>');
    if (open != std::string::npos && close != std::string::npos && close > open) {
        sender.address = value.substr(open + 1, close - open - 1);
        std::string name = decodeHeader(value.substr(0, open));
        g_strstrip(name.data());
        name.resize(std::strlen(name.c_str()));
        if (name.size() >= 2 && name.front() == '"' && name.back() == '"') {
            std::string unquoted;
            for (std::size_t i = 1; i + 1 < name.size(); ++i) {
                if (name[i] == '\\' && i + 2 < name.size()) {
                    ++i;
                }
                unquoted += name[i];
            }
            name = unquoted;
        }
        sender.name = name;
    } else {
        sender.address = value;
        g_strstrip(sender.address.data());
        sender.address.resize(std::strlen(sender.address.c_str()));
    }
    return sender;
}

MbMimeRenderFn loadRenderer(std::string& error) {
    std::vector<std::string> candidates;
#ifdef MB_MIME_FIRST_PATH
    candidates.push_back(MB_MIME_FIRST_PATH);
#endif
    char self[4096];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length > 0) {
        std::string dir(self, static_cast<std::size_t>(length));
        candidates.push_back(dir.substr(0, dir.rfind('/')) + "/" MB_MIME_LIBRARY);
    }
#ifdef MB_MIME_BUILD_PATH
    candidates.push_back(MB_MIME_BUILD_PATH);
#endif
    candidates.push_back(MB_MIME_LIBRARY);
    std::string reasons;
    for (const std::string& candidate : candidates) {
        // Never closed: GLib and GMime do not survive being unloaded.
        void* handle = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        if (handle == nullptr) {
            const char* why = ::dlerror();
            reasons += std::string("\n") + (why != nullptr ? why : candidate);
            continue;
        }
        if (auto* render = reinterpret_cast<MbMimeRenderFn>(::dlsym(handle, MB_MIME_RENDER_SYMBOL))) {
            return render;
        }
        reasons += "\n" + candidate + ": no " MB_MIME_RENDER_SYMBOL;
    }
    error = std::string(_("The message renderer cannot be loaded:")) + reasons;
    return nullptr;
}

bool DraftWriter::save(const DraftContent& content, const std::string& oldDraft,
                       std::string& newPath, std::string& error) const {
    if (render_ == nullptr) {
        error = _("The message renderer is not loaded.");
        return false;
    }
    const std::string folder = maildirFolderOf(oldDraft);
    if (folder.empty()) {
        error = std::string(_("No Drafts folder is known for this message")) + " (" + oldDraft + ")";
        return false;
    }
    for (const char* sub : {"/tmp", "/new", "/cur"}) {
        const std::string dir = folder + sub;
        if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
            error = std::string(_("Cannot create")) + " " + dir + ": " + errnoText(errno);
            return false;
        }
    }

    DraftMailbox sender = readSender(oldDraft);
    if (sender.address.empty()) {
        sender = fallbackSender();
    }
    const std::size_t at = sender.address.find('@');
    const std::string domain = at == std::string::npos ? "" : sender.address.substr(at + 1);

    std::vector<MbMimeAddress> addresses;
    for (const DraftRecipient& person : content.recipients) {
        if (!person.address.empty()) {
            addresses.push_back({mimeType(person.type), person.name.c_str(), person.address.c_str(), 0});
            continue;
        }
        addresses.push_back({mimeType(person.type), person.name.c_str(), nullptr,
                             static_cast<std::uint32_t>(person.members.size())});
        for (const DraftMailbox& member : person.members) {
            addresses.push_back({mimeType(person.type), member.name.c_str(), member.address.c_str(), 0});
        }
    }
    // A file that cannot be read stays in the list without data, as the
    // store keeps an unreadable attachment for the person to see.
    std::vector<ScopedFd> files;
    std::vector<MbMimeAttachment> parts;
    for (const DraftAttachment& attachment : content.attachments) {
        ScopedFd file(::open(attachment.path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        struct stat info {};
        if (file.get() >= 0 && (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode))) {
            file.reset();
        }
        const std::int64_t size = file.get() >= 0 ? static_cast<std::int64_t>(info.st_size) : 0;
        parts.push_back({attachment.name.c_str(), file.get(), 0, size});
        files.push_back(std::move(file));
    }

    MbMimeMessage message{};
    message.structSize = sizeof message;
    message.subject = content.subject.c_str();
    message.body = content.body.c_str();
    message.fromName = sender.name.c_str();
    message.fromAddress = sender.address.c_str();
    message.recipients = addresses.data();
    message.recipientCount = static_cast<std::uint32_t>(addresses.size());
    message.attachments = parts.data();
    message.attachmentCount = static_cast<std::uint32_t>(parts.size());
    message.date = static_cast<std::int64_t>(std::time(nullptr));
    message.messageIdDomain = domain.c_str();

    const std::string name = uniqueMessageName();
    const std::string tmpPath = folder + "/tmp/" + name;
    const std::string target = folder + "/new/" + name;
    ScopedFd out(::open(tmpPath.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600));
    if (out.get() < 0) {
        error = std::string(_("Cannot write the draft:")) + " " + tmpPath + ": " + errnoText(errno);
        return false;
    }
    int failure = render_(&message, out.get());
    if (failure == 0 && ::fsync(out.get()) != 0) {
        failure = errno;
    }
    if (failure == 0 && ::close(out.release()) != 0) {
        failure = errno;
    }
    if (failure == 0 && ::rename(tmpPath.c_str(), target.c_str()) != 0) {
        failure = errno;
    }
    if (failure != 0) {
        ::unlink(tmpPath.c_str());
        error = std::string(_("Cannot write the draft:")) + " " + errnoText(failure);
        return false;
    }
    // Only once the new file is durable may the old one go; should the
    // folder not sync, both stay, which loses nothing.
    if (syncDirectory(folder + "/new") && oldDraft != target && ::unlink(oldDraft.c_str()) == 0) {
        syncDirectory(oldDraft.substr(0, oldDraft.rfind('/')));
    }
    newPath = target;
    return true;
}

}  // namespace mb::dialogs
