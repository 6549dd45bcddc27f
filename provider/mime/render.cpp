// libmbmime.so: renders one message with GMime. Linked with -z nodelete, and
// opened with RTLD_NODELETE, so it and GLib stay for the life of the process
// and g_mime_init runs exactly once however often the provider is reloaded.
#include "provider/mime/render.h"

#include "base/scoped_generic.h"
#include "provider/mime/base64_stream.h"

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
GObjectRef<GMimeObject> textPart(const char* body) {
    GObjectRef<GMimeTextPart> text(g_mime_text_part_new_with_subtype("plain"));
    g_mime_text_part_set_text(text.get(), bodyText(body).c_str());
    GMimePart* part = GMIME_PART(text.get());
    g_mime_part_set_content_encoding(
        part, g_mime_part_get_best_content_encoding(part, GMIME_ENCODING_CONSTRAINT_7BIT));
    return GObjectRef<GMimeObject>(GMIME_OBJECT(text.release()));
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
    const std::string name = headerText(attachment.fileName);
    g_mime_part_set_filename(part.get(), name.empty() ? "attachment" : name.c_str());
    // RFC 2231 in the disposition for current readers; RFC 2047 in the
    // content type's name for older ones, which know only that.
    GMimeContentType* type = g_mime_object_get_content_type(GMIME_OBJECT(part.get()));
    GMimeParam* param =
        g_mime_param_list_get_parameter(g_mime_content_type_get_parameters(type), "name");
    if (param != nullptr) {
        g_mime_param_set_encoding_method(param, GMIME_PARAM_ENCODING_METHOD_RFC2047);
    }
    return GObjectRef<GMimeObject>(GMIME_OBJECT(part.release()));
}

// A mailbox whose display name is only its address again (what a one-off
// typed as a bare address resolves to) is written as the bare address: the
// name adds nothing for a reader and doubles the header, which for many
// recipients runs into the header block's limit.
GObjectRef<InternetAddress> mailboxOf(const MbMimeAddress& person) {
    const std::string name = headerText(person.name);
    const std::string address = headerText(person.address);
    return GObjectRef<InternetAddress>(
        internet_address_mailbox_new(name == address ? "" : name.c_str(), address.c_str()));
}

// Every address added to a list that belongs to a message makes GMime encode
// that whole header again, so adding them one by one costs the square of their
// number (20,000 recipients took 41 s). Each kind is gathered in a list of its
// own first and handed over at once: one encoding per header.
void addRecipients(GMimeMessage* message, const MbMimeMessage& in) {
    constexpr GMimeAddressType kTypes[] = {GMIME_ADDRESS_TYPE_TO, GMIME_ADDRESS_TYPE_CC,
                                           GMIME_ADDRESS_TYPE_BCC};
    for (const GMimeAddressType type : kTypes) {
        const GObjectRef<InternetAddressList> gathered(internet_address_list_new());
        for (std::uint32_t i = 0; i < in.recipientCount; ++i) {
            const MbMimeAddress& to = in.recipients[i];
            // A group (no address) is followed by its members; the list's
            // shape was checked before rendering began.
            const std::uint32_t members = to.address == nullptr ? to.members : 0;
            if (addressType(to.type) != type) {
                i += members;
                continue;
            }
            if (to.address != nullptr) {
                const GObjectRef<InternetAddress> mailbox = mailboxOf(to);
                internet_address_list_add(gathered.get(), mailbox.get());
                continue;
            }
            const GObjectRef<InternetAddress> group(
                internet_address_group_new(headerText(to.name).c_str()));
            for (std::uint32_t k = 0; k < members; ++k) {
                const MbMimeAddress& member = in.recipients[++i];
                const GObjectRef<InternetAddress> mailbox = mailboxOf(member);
                internet_address_group_add_member(INTERNET_ADDRESS_GROUP(group.get()), mailbox.get());
            }
            internet_address_list_add(gathered.get(), group.get());
        }
        if (internet_address_list_length(gathered.get()) > 0) {
            internet_address_list_append(g_mime_message_get_addresses(message, type),
                                         gathered.get());
        }
    }
}

std::int32_t render(const MbMimeMessage& in, int outFd) {
    const GObjectRef<GMimeMessage> message(g_mime_message_new(TRUE));
    g_mime_message_add_mailbox(message.get(), GMIME_ADDRESS_TYPE_FROM,
                               headerText(in.fromName).c_str(), headerText(in.fromAddress).c_str());
    addRecipients(message.get(), in);
    const std::string subject = headerText(in.subject);
    if (!subject.empty()) {
        g_mime_message_set_subject(message.get(), subject.c_str(), "utf-8");
    }
    GDateTime* date = g_date_time_new_from_unix_local(in.date);
    if (date != nullptr) {
        g_mime_message_set_date(message.get(), date);
        g_date_time_unref(date);
    }
    const std::string domain = headerText(in.messageIdDomain);
    char* id = g_mime_utils_generate_message_id(domain.empty() ? "localhost" : domain.c_str());
    g_mime_message_set_message_id(message.get(), id);
    g_free(id);
    for (std::uint32_t i = 0; i < in.headerCount; ++i) {
        g_mime_object_append_header(GMIME_OBJECT(message.get()), in.headers[i].name,
                                    headerText(in.headers[i].value).c_str(), nullptr);
    }

    int error = 0;
    if (in.attachmentCount == 0) {
        const GObjectRef<GMimeObject> text = textPart(in.body);
        g_mime_message_set_mime_part(message.get(), text.get());
    } else {
        const GObjectRef<GMimeMultipart> mixed(g_mime_multipart_new_with_subtype("mixed"));
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
        g_mime_message_set_mime_part(message.get(), GMIME_OBJECT(mixed.get()));
        if (error != 0) {
            return error;
        }
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
    if (g_mime_object_write_to_stream(GMIME_OBJECT(message.get()), nullptr, out.get()) < 0 ||
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
