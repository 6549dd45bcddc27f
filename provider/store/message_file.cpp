// SPDX-License-Identifier: MIT
// Filing a message: rendering it into a Maildir, and the draft that the
// compose window gets.
#include "provider/store/message.h"
#include "provider/com/address_check.h"
#include "provider/com/diagnostics.h"
#include "provider/store/message_addresses.h"
#include "provider/store/message_recipients.h"
#include "provider/store/mime_loader.h"

// After the MAPI headers: <fcntl.h> defines LOCK_WRITE, a name MAPI's
// LOCKTYPE uses too.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <set>

namespace mb::provider {
namespace {

std::string attachmentName(const PropertyBag& props, ULONG number) {
    for (ULONG tag : {PR_ATTACH_LONG_FILENAME_A, PR_ATTACH_FILENAME_A, PR_DISPLAY_NAME_A}) {
        std::optional<std::string> text = props.text(PROP_ID(tag));
        if (text && !text->empty()) {
            return *text;
        }
    }
    return "attachment " + std::to_string(number + 1);
}

// A name that is safe as one path component: no '/', not "." or "..", at
// most 255 bytes without cutting a UTF-8 sequence.
std::string fileSystemName(std::string name) {
    for (char& c : name) {
        if (c == '/' || c == '\0') {
            c = '_';
        }
    }
    if (name.empty() || name == "." || name == "..") {
        name = "attachment";
    }
    if (name.size() > 255) {
        std::size_t cut = 255;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        name.resize(cut);
    }
    return name;
}

// Copies length bytes (-1: to the end) from in at inOffset to out at
// *outOffset, advancing it; false with errno on failure.
bool copyRange(int in, std::uint64_t inOffset, std::int64_t length, int out,
               std::uint64_t* outOffset) {
    char buffer[65536];
    std::uint64_t done = 0;
    while (length < 0 || done < static_cast<std::uint64_t>(length)) {
        std::size_t want = sizeof buffer;
        if (length >= 0) {
            want = std::min<std::uint64_t>(want, static_cast<std::uint64_t>(length) - done);
        }
        const ssize_t got = ::pread(in, buffer, want, static_cast<off_t>(inOffset + done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            break;
        }
        for (ssize_t put = 0; put < got;) {
            const ssize_t n = ::pwrite(out, buffer + put, static_cast<std::size_t>(got - put),
                                       static_cast<off_t>(*outOffset));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return false;
            }
            put += n;
            *outOffset += static_cast<std::uint64_t>(n);
        }
        done += static_cast<std::uint64_t>(got);
    }
    return true;
}

// Gives an attachment's data a name: a hard link to its scratch file when it
// has one of its own and the file system allows, else a copy.
HRESULT materialise(const AttachmentData& attachment, const std::string& path) {
    const ScopedFd* data = attachment.data.get();
    if (data != nullptr && attachment.offset == 0 && attachment.length < 0) {
        const std::string self = "/proc/self/fd/" + std::to_string(data->get());
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            return S_OK;
        }
    }
    ScopedFd out(::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600));
    if (out.get() < 0) {
        return mapiFromErrno(errno);
    }
    std::uint64_t written = 0;
    if (data != nullptr &&
        !copyRange(data->get(), attachment.offset, attachment.length, out.get(), &written)) {
        const HRESULT hr = mapiFromErrno(errno);
        ::unlink(path.c_str());
        return hr;
    }
    return S_OK;
}

// Limits that keep a submitted message deliverable: the spooler reads at
// most 1 MiB of header, and servers refuse far less; a subject of 16 KiB is
// already more than any mail program shows.
constexpr std::size_t kMaxSubject = 16 * 1024;
constexpr std::size_t kMaxHeaderBlock = 512 * 1024;

HRESULT checkDeliverable(const std::vector<MbMimeAddress>& addresses, const std::string& subject) {
    for (const MbMimeAddress& person : addresses) {
        if (person.address == nullptr) {
            continue;  // a group's name: its members follow as addresses of their own
        }
        const AddressProblem problem = checkAddress(person.address);
        if (problem != AddressProblem::None) {
            reportProblem("message refused: recipient " + printableAddress(person.address) +
                          " " + describeAddressProblem(problem));
            return problem == AddressProblem::TooLong ? MAPI_E_STRING_TOO_LONG
                                                      : MAPI_E_INVALID_PARAMETER;
        }
    }
    if (subject.size() > kMaxSubject) {
        reportProblem("message refused: a subject of " + std::to_string(subject.size()) +
                      " bytes (at most " + std::to_string(kMaxSubject) + ")");
        return MAPI_E_TOO_BIG;
    }
    return S_OK;
}

// Whether the rendered file's header block, through its blank line, is
// within kMaxHeaderBlock. Many recipients can make it long even when every
// address and the subject are within their limits.
HRESULT checkHeaderBlock(int fd) {
    const auto tooBig = [] {
        reportProblem("message refused: its header block is longer than " +
                      std::to_string(kMaxHeaderBlock) + " bytes");
        return MAPI_E_TOO_BIG;
    };
    std::string block;
    char chunk[16384];
    for (off_t offset = 0; block.size() <= kMaxHeaderBlock + 1;) {
        const ssize_t got = ::pread(fd, chunk, sizeof chunk, offset);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return mapiFromErrno(errno);
        }
        const std::size_t from = block.size() >= 1 ? block.size() - 1 : 0;
        block.append(chunk, static_cast<std::size_t>(got));
        offset += got;
        const std::size_t end = block.find("\n\n", from);
        if (end != std::string::npos) {
            return end + 2 <= kMaxHeaderBlock ? S_OK : tooBig();
        }
        if (got == 0) {
            break;
        }
    }
    // All header and no body: within the limit or not.
    return block.size() <= kMaxHeaderBlock ? S_OK : tooBig();
}

}  // namespace

HRESULT Message::file(FolderId target,
                      const std::vector<std::pair<std::string, std::string>>& headers,
                      bool submitting) {
    MessageAddresses recipients;
    if (const HRESULT hr = recipients.build(recipients_, context_->profile, context_->expandLists);
        FAILED(hr)) {
        return hr;
    }
    // A message whose recipients all come to no address (say, To only an
    // empty list) is refused before it is queued, so the caller hears of it
    // rather than the spooler. One without any recipient is queued as ever:
    // the spooler files it as undeliverable, saying why.
    if (submitting && !recipients_.empty() && recipients.envelopeCount() == 0) {
        return MAPI_E_NO_RECIPIENTS;
    }
    const std::vector<MbMimeAddress>& addresses = recipients.addresses();
    std::vector<std::string> names;
    names.reserve(attachments_.size());
    std::vector<MbMimeAttachment> parts;
    for (const auto& [number, attachment] : attachments_) {
        names.push_back(attachmentName(attachment.props, number));
        parts.push_back({names.back().c_str(), attachment.data ? attachment.data->get() : -1,
                         static_cast<std::int64_t>(attachment.offset), attachment.length});
    }
    std::vector<MbMimeHeader> extra;
    for (const auto& [name, value] : headers) {
        extra.push_back({name.c_str(), value.c_str()});
    }
    const std::string subject = bag_.text(PROP_ID(PR_SUBJECT_A)).value_or("");
    if (submitting) {
        if (const HRESULT refused = checkDeliverable(addresses, subject); FAILED(refused)) {
            return refused;
        }
    }
    const std::string body = bag_.text(PROP_ID(PR_BODY_A)).value_or("");
    const std::string& from = context_->fromAddress;
    const std::string domain =
        from.substr(from.find('@') == std::string::npos ? from.size() : from.find('@') + 1);

    MbMimeMessage message{};
    message.structSize = sizeof message;
    message.subject = subject.c_str();
    message.body = body.c_str();
    message.fromName = context_->fromName.c_str();
    message.fromAddress = from.c_str();
    message.recipients = addresses.data();
    message.recipientCount = static_cast<std::uint32_t>(addresses.size());
    message.attachments = parts.data();
    message.attachmentCount = static_cast<std::uint32_t>(parts.size());
    message.headers = extra.data();
    message.headerCount = static_cast<std::uint32_t>(extra.size());
    message.date = static_cast<std::int64_t>(std::time(nullptr));
    message.messageIdDomain = domain.c_str();

    const Maildir folder = context_->folder(target);
    const std::string replace = !savedPath_.empty() && savedFolder_ == target ? savedPath_ : "";
    std::string path;
    HRESULT hr = folder.deliver(
        [&](int fd) {
            const HRESULT rendered = renderMime(message, fd);
            return SUCCEEDED(rendered) && submitting ? checkHeaderBlock(fd) : rendered;
        },
        path, replace);
    if (FAILED(hr)) {
        return hr;
    }
    if (!savedPath_.empty() && savedPath_ != path) {
        ::unlink(savedPath_.c_str());  // the message moved: one copy only
    }
    savedPath_ = path;
    savedFolder_ = target;
    return S_OK;
}

HRESULT Message::share(AttachmentData& attachment) {
    constexpr std::size_t kOwnDataFiles = 16;
    if (!attachment.data || attachment.data == shared_) {
        return S_OK;
    }
    if (ownDataFiles_ < kOwnDataFiles) {
        return S_OK;
    }
    if (!shared_) {
        ScopedFd scratch;
        const HRESULT hr = context_->folder(folder_.load()).openScratch(scratch);
        if (FAILED(hr)) {
            return hr;
        }
        shared_ = std::make_shared<ScopedFd>(std::move(scratch));
    }
    const std::uint64_t start = sharedEnd_;
    std::uint64_t end = start;
    if (!copyRange(attachment.data->get(), attachment.offset, attachment.length, shared_->get(),
                   &end)) {
        return mapiFromErrno(errno);
    }
    sharedEnd_ = end;
    attachment.data = shared_;
    attachment.offset = start;
    attachment.length = static_cast<std::int64_t>(end - start);
    return S_OK;
}

HRESULT Message::fileDraft(ComposeForm& form) {
    std::lock_guard<std::mutex> guard(lock_);
    if (submitted_) {
        return MAPI_E_NO_ACCESS;
    }
    HRESULT hr = file(FolderId::Drafts, {});
    if (FAILED(hr)) {
        return hr;
    }
    folder_ = FolderId::Drafts;
    form = ComposeForm{};
    form.draftPath = savedPath_;
    // The mail program gets a list's members: it knows nothing of our
    // address book, and a list's name is no address.
    MessageAddresses recipients;
    hr = recipients.build(recipients_, context_->profile, context_->expandLists);
    if (FAILED(hr)) {
        return hr;
    }
    for (const MbMimeAddress& person : recipients.addresses()) {
        if (person.address != nullptr) {
            form.recipients.push_back({person.type, person.name, person.address});
        }
    }
    form.subject = bag_.text(PROP_ID(PR_SUBJECT_A)).value_or("");
    form.body = bag_.text(PROP_ID(PR_BODY_A)).value_or("");
    if (attachments_.empty()) {
        return S_OK;
    }
    const std::string draftName = std::filesystem::path(savedPath_).filename().string();
    const std::string dir = context_->profile.storePath + "/forms/" + draftName;
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error) {
        return mapiFromErrno(error.value());
    }
    std::set<std::string> taken;
    for (const auto& [number, attachment] : attachments_) {
        const std::string base = fileSystemName(attachmentName(attachment.props, number));
        std::string name = base;
        for (int copy = 2; !taken.insert(name).second; ++copy) {
            name = fileSystemName(std::to_string(copy) + " " + base);
        }
        const std::string path = dir + "/" + name;
        hr = materialise(attachment, path);
        if (FAILED(hr)) {
            return hr;
        }
        form.attachmentPaths.push_back(path);
    }
    return S_OK;
}

}  // namespace mb::provider
