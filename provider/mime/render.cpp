// SPDX-License-Identifier: MIT
// libmbmime.so: renders one message with GMime. Linked with -z nodelete, and
// opened with RTLD_NODELETE, so it and GLib stay for the life of the process
// and g_mime_init runs exactly once however often the provider is reloaded.
#include "provider/mime/render.h"

#include "base/scoped_generic.h"
#include "provider/mime/base64_stream.h"
#include "provider/mime/header_text.h"
#include "provider/mime/media_type.h"

#include <errno.h>
#include <gmime/gmime.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <string>

namespace {

std::once_flag gInit;

// One GObject reference, given up with g_object_unref; null holds none.
template <typename T>
struct GObjectTraits {
    static T* invalidValue() noexcept { return nullptr; }
    static void free(T* object) noexcept { g_object_unref(object); }
};

template <typename T>
using GObjectRef = mb::ScopedGeneric<T*, GObjectTraits<T>>;

// Valid UTF-8 on one line: headers cannot hold line breaks, and GMime
// expects well-formed text.
std::string headerText(const char* text) {
    if (text == nullptr) {
        return {};
    }
    gchar* valid = g_utf8_make_valid(text, -1);
    std::string out(valid);
    g_free(valid);
    for (char& c : out) {
        if (c == '\r' || c == '\n' || c == '\t') {
            c = ' ';
        }
    }
    return out;
}

std::string bodyText(const char* text) {
    if (text == nullptr) {
        return {};
    }
    gchar* valid = g_utf8_make_valid(text, -1);
    std::string out(valid);
    g_free(valid);
    return out;
}

// A stdio stream with a large buffer over fd (which it owns): GMime's own
// buffers are 4 KiB, which costs a system call per 4 KiB of a large part.
GMimeStream* bufferedFile(int fd, const char* mode) {
    std::FILE* file = ::fdopen(fd, mode);
    if (file == nullptr) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return nullptr;
    }
    std::setvbuf(file, nullptr, _IOFBF, std::size_t{1} << 18);
    return g_mime_stream_file_new(file);
}

GMimeAddressType addressType(std::uint32_t type) {
    switch (type) {
        case 2:
            return GMIME_ADDRESS_TYPE_CC;
        case 3:
            return GMIME_ADDRESS_TYPE_BCC;
        default:
            return GMIME_ADDRESS_TYPE_TO;
    }
}

// The parts below are held from the moment they are made: building their
// texts allocates, and a std::bad_alloc must not leave a part behind.
// Labelled utf-8 whatever the text: GMime's own choice for text that fits
// Latin-1 is iso-8859-1, which readers then carry into what they save.
GObjectRef<GMimeObject> textPart(const char* body) {
    GObjectRef<GMimeTextPart> text(g_mime_text_part_new_with_subtype("plain"));
    const std::string utf8 = bodyText(body);
    const GObjectRef<GMimeStream> content(g_mime_stream_mem_new_with_buffer(utf8.data(), utf8.size()));
    const GObjectRef<GMimeDataWrapper> wrapper(
        g_mime_data_wrapper_new_with_stream(content.get(), GMIME_CONTENT_ENCODING_DEFAULT));
    GMimePart* part = GMIME_PART(text.get());
    g_mime_part_set_content(part, wrapper.get());
    g_mime_text_part_set_charset(text.get(), "utf-8");
    g_mime_part_set_content_encoding(
        part, g_mime_part_get_best_content_encoding(part, GMIME_ENCODING_CONSTRAINT_7BIT));
    return GObjectRef<GMimeObject>(GMIME_OBJECT(text.release()));
}

// The media type of an attachment's data from its name and first bytes.
std::string attachmentType(const MbMimeAttachment& attachment, const std::string& name) {
    unsigned char head[mb::mime::kMediaTypeHead];
    std::size_t size = 0;
    if (attachment.fd >= 0) {
        std::size_t wanted = sizeof head;
        if (attachment.length >= 0 && static_cast<std::uint64_t>(attachment.length) < wanted) {
            wanted = static_cast<std::size_t>(attachment.length);
        }
        const ssize_t got = ::pread(attachment.fd, head, wanted, attachment.offset);
        size = got > 0 ? static_cast<std::size_t>(got) : 0;
    }
    return mb::mime::mediaTypeOf(name, head, size);
}

// Sets a header of the part to text we encoded ourselves, written as it is.
void setRawHeader(GMimeObject* object, const char* name, const std::string& value) {
    GMimeHeader* header = g_mime_header_list_get_header(g_mime_object_get_header_list(object), name);
    if (header != nullptr) {
        g_mime_header_set_raw_value(header, (" " + value + "\n").c_str());
    }
}

GObjectRef<GMimeObject> attachmentPart(const MbMimeAttachment& attachment, int& error) {
    GObjectRef<GMimePart> part;
    if (attachment.fd >= 0) {
        // Encoded from the data file as the message is written, never held
        // in memory; attachments sharing one file share its descriptor.
        part.reset(mbBase64PartNew(attachment.fd, attachment.offset, attachment.length));
        if (!part) {
            error = errno != 0 ? errno : EINVAL;
            return {};
        }
    } else {
        part.reset(g_mime_part_new_with_type("application", "octet-stream"));
        g_mime_part_set_content_encoding(part.get(), GMIME_CONTENT_ENCODING_BASE64);
        GMimeStream* empty = g_mime_stream_mem_new();
        GMimeDataWrapper* wrapper =
            g_mime_data_wrapper_new_with_stream(empty, GMIME_CONTENT_ENCODING_DEFAULT);
        g_object_unref(empty);
        g_mime_part_set_content(part.get(), wrapper);
        g_object_unref(wrapper);
    }
    std::string name = headerText(attachment.fileName);
    if (name.find_first_not_of(' ') == std::string::npos) {
        name = "attachment";
    }
    // RFC 2231 in the disposition for current readers; RFC 2047 in the
    // content type's name for older ones, which know only that. Both are
    // ours: GMime writes a name that looks like an encoded word as it is,
    // and labels Latin-1 names iso-8859-1.
    GMimeObject* object = GMIME_OBJECT(part.get());
    g_mime_object_set_disposition(object, "attachment");
    setRawHeader(object, "Content-Type",
                 attachmentType(attachment, name) + mb::mime::encodedWordParameter("name", name));
    setRawHeader(object, "Content-Disposition",
                 "attachment" + mb::mime::parameter("filename", name));
    return GObjectRef<GMimeObject>(GMIME_OBJECT(part.release()));
}

std::string_view withoutBlanks(std::string_view text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(' ') + 1 - first);
}

// A mailbox whose display name is only its address again (what a one-off
// typed as a bare address resolves to, in whatever case it was typed) is
// written as the bare address: the name adds nothing for a reader and doubles
// the header, which for many recipients runs into the header block's limit.
void addMailbox(mb::mime::HeaderField& field, const MbMimeAddress& person) {
    const std::string name = headerText(person.name);
    const std::string address = headerText(person.address);
    const std::string_view shown = withoutBlanks(name);
    if (shown.empty() || (shown.size() == address.size() &&
                          g_ascii_strncasecmp(shown.data(), address.data(), shown.size()) == 0)) {
        field.token(address);
        return;
    }
    field.phrase(name);
    field.token("<" + address + ">");
}

// One address header for the recipients of this kind, groups in place, or
// nothing when there are none. Written in one pass: 20,000 recipients cost
// what their text costs.
std::string addressHeader(const MbMimeMessage& in, GMimeAddressType type, const char* name) {
    mb::mime::HeaderField field(name);
    bool any = false;
    for (std::uint32_t i = 0; i < in.recipientCount; ++i) {
        const MbMimeAddress& to = in.recipients[i];
        // A group (no address) is followed by its members; the list's shape
        // was checked before rendering began.
        const std::uint32_t members = to.address == nullptr ? to.members : 0;
        if (addressType(to.type) != type) {
            i += members;
            continue;
        }
        if (any) {
            field.append(",");
        }
        any = true;
        if (to.address != nullptr) {
            addMailbox(field, to);
            continue;
        }
        field.phrase(headerText(to.name));
        field.append(":");
        for (std::uint32_t k = 0; k < members; ++k) {
            if (k > 0) {
                field.append(",");
            }
            addMailbox(field, in.recipients[++i]);
        }
        if (members == 0) {
            field.token(";");
        } else {
            field.append(";");
        }
    }
    return any ? std::move(field).finish() : std::string();
}

// The message's own header block, ours rather than GMime's: GMime's encoded
// words and folding are what readers decoded into something else (see
// header_text.h). The body's own headers follow it, written by GMime.
std::string messageHeaders(const MbMimeMessage& in) {
    std::string out;
    GDateTime* date = g_date_time_new_from_unix_local(in.date);
    if (date != nullptr) {
        gchar* text = g_mime_utils_header_format_date(date);
        g_date_time_unref(date);
        out += std::string("Date: ") + text + "\n";
        g_free(text);
    }
    mb::mime::HeaderField from("From");
    const MbMimeAddress sender{1, in.fromName, in.fromAddress, 0};
    addMailbox(from, sender);
    out += std::move(from).finish();
    const std::string subject = headerText(in.subject);
    if (!withoutBlanks(subject).empty()) {
        mb::mime::HeaderField field("Subject");
        field.text(subject);
        out += std::move(field).finish();
    }
    out += addressHeader(in, GMIME_ADDRESS_TYPE_TO, "To");
    out += addressHeader(in, GMIME_ADDRESS_TYPE_CC, "Cc");
    out += addressHeader(in, GMIME_ADDRESS_TYPE_BCC, "Bcc");
    const std::string domain = headerText(in.messageIdDomain);
    char* id = g_mime_utils_generate_message_id(domain.empty() ? "localhost" : domain.c_str());
    out += std::string("Message-Id: <") + id + ">\n";
    g_free(id);
    for (std::uint32_t i = 0; i < in.headerCount; ++i) {
        mb::mime::HeaderField field(in.headers[i].name == nullptr ? "" : in.headers[i].name);
        field.text(headerText(in.headers[i].value));
        out += std::move(field).finish();
    }
    return out + "MIME-Version: 1.0\n";
}

std::int32_t render(const MbMimeMessage& in, int outFd) {
    const std::string headers = messageHeaders(in);
    GObjectRef<GMimeObject> body;
    int error = 0;
    if (in.attachmentCount == 0) {
        body = textPart(in.body);
    } else {
        GObjectRef<GMimeMultipart> mixed(g_mime_multipart_new_with_subtype("mixed"));
        {
            const GObjectRef<GMimeObject> text = textPart(in.body);
            g_mime_multipart_add(mixed.get(), text.get());
        }
        for (std::uint32_t i = 0; i < in.attachmentCount && error == 0; ++i) {
            const GObjectRef<GMimeObject> part = attachmentPart(in.attachments[i], error);
            if (part) {
                g_mime_multipart_add(mixed.get(), part.get());
            }
        }
        if (error != 0) {
            return error;
        }
        body.reset(GMIME_OBJECT(mixed.release()));
    }

    int fd = ::dup(outFd);
    if (fd < 0) {
        return errno;
    }
    const GObjectRef<GMimeStream> out(bufferedFile(fd, "wb"));
    if (!out) {
        return errno != 0 ? errno : ENOMEM;
    }
    errno = 0;
    if (g_mime_stream_write(out.get(), headers.data(), headers.size()) !=
            static_cast<ssize_t>(headers.size()) ||
        g_mime_object_write_to_stream(body.get(), nullptr, out.get()) < 0 ||
        g_mime_stream_flush(out.get()) != 0) {
        return errno != 0 ? errno : EIO;
    }
    return 0;
}

// Every group's members are within the list and are mailboxes.
bool wellFormedGroups(const MbMimeAddress* recipients, std::uint32_t count) {
    for (std::uint32_t i = 0; i < count; ++i) {
        if (recipients[i].address != nullptr) {
            continue;
        }
        const std::uint32_t members = recipients[i].members;
        if (members > count - i - 1) {
            return false;
        }
        for (std::uint32_t k = 1; k <= members; ++k) {
            if (recipients[i + k].address == nullptr) {
                return false;
            }
        }
        i += members;
    }
    return true;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) std::int32_t mb_mime_render(
    const MbMimeMessage* message, std::int32_t outFd) {
    if (message == nullptr || message->structSize != sizeof(MbMimeMessage) || outFd < 0 ||
        (message->recipientCount > 0 && message->recipients == nullptr) ||
        (message->attachmentCount > 0 && message->attachments == nullptr) ||
        (message->headerCount > 0 && message->headers == nullptr) ||
        !wellFormedGroups(message->recipients, message->recipientCount)) {
        return EINVAL;
    }
    try {
        std::call_once(gInit, [] { g_mime_init(); });
        return render(*message, outFd);
    } catch (...) {
        return ENOMEM;
    }
}
