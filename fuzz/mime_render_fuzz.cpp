// SPDX-License-Identifier: MIT
// A message made from arbitrary bytes (subject, body, recipients with display
// names, groups, attachments with names and data) is rendered as the store
// renders it, then parsed back with GMime as GMime-based mail readers parse
// it: the same subject, the same recipients (names and addresses, in order,
// per header) and the same attachment file names, as the renderer's rules
// say the text shows (header text on one line; blanks at either end dropped
// from a subject or a display name; a display name that only repeats its
// address left out; a file name that shows nothing named "attachment").
#include <fuzzer/FuzzedDataProvider.h>
#include <gmime/gmime.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/scoped_fd.h"
#include "fuzz/fuzz_check.h"
#include "provider/mime/render.h"

extern "C" std::int32_t mb_mime_render(const MbMimeMessage* message, std::int32_t outFd);

namespace {

struct Person {
    std::string name;
    std::string address;  // empty: a group, whose members follow
    uint32_t members = 0;
    uint32_t type = 1;
};

// Text on one line: valid UTF-8, tabs and line breaks as blanks. A file name
// is written so, blanks and all.
std::string oneLine(const std::string& text) {
    gchar* valid = g_utf8_make_valid(text.c_str(), -1);
    std::string out(valid);
    g_free(valid);
    for (char& c : out) {
        if (c == '\r' || c == '\n' || c == '\t') {
            c = ' ';
        }
    }
    return out;
}

// What a subject or display name shows: text on one line without blanks at
// either end.
std::string shown(const std::string& text) {
    const std::string out = oneLine(text);
    const size_t first = out.find_first_not_of(' ');
    if (first == std::string::npos) {
        return "";
    }
    return out.substr(first, out.find_last_not_of(' ') + 1 - first);
}

// What a display name or group name shows: as shown, and without the form
// feeds and vertical tabs at either end, which GMime trims as blanks when it
// reads a name.
std::string shownAsName(const std::string& name) {
    const std::string out = shown(name);
    const size_t first = out.find_first_not_of(" \f\v");
    if (first == std::string::npos) {
        return "";
    }
    return out.substr(first, out.find_last_not_of(" \f\v") + 1 - first);
}

std::string shownName(const std::string& name, const std::string& address) {
    const std::string text = shownAsName(name);
    return g_ascii_strcasecmp(text.c_str(), address.c_str()) == 0 ? "" : text;
}

// A plain addr-spec from the bytes: a dot-atom local part at a fixed domain.
std::string address(FuzzedDataProvider& in) {
    std::string local;
    for (char c : in.ConsumeRandomLengthString(24)) {
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '_' ||
            c == '-' || (c == '.' && !local.empty() && local.back() != '.')) {
            local.push_back(c);
        }
    }
    while (!local.empty() && local.back() == '.') {
        local.pop_back();
    }
    return (local.empty() ? "x" : local) + "@example.org";
}

// "name <address>" pairs of one header, groups flattened with their name.
std::vector<std::string> expectedOf(const std::vector<Person>& people, uint32_t type) {
    std::vector<std::string> out;
    for (size_t i = 0; i < people.size(); ++i) {
        const Person& p = people[i];
        const size_t members = p.address.empty() ? p.members : 0;
        if (p.type != type) {
            i += members;
            continue;
        }
        if (!p.address.empty()) {
            out.push_back(shownName(p.name, p.address) + " <" + p.address + ">");
            continue;
        }
        out.push_back("group " + shownAsName(p.name));
        for (size_t k = 0; k < members; ++k) {
            const Person& m = people[++i];
            out.push_back(shownName(m.name, m.address) + " <" + m.address + ">");
        }
    }
    return out;
}

void collect(InternetAddressList* list, std::vector<std::string>& out) {
    for (int i = 0; list != nullptr && i < internet_address_list_length(list); ++i) {
        InternetAddress* a = internet_address_list_get_address(list, i);
        const char* name = internet_address_get_name(a);
        if (INTERNET_ADDRESS_IS_GROUP(a)) {
            out.push_back("group " + std::string(name != nullptr ? name : ""));
            collect(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(a)), out);
        } else {
            const char* addr = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(a));
            out.push_back(std::string(name != nullptr ? name : "") + " <" +
                          (addr != nullptr ? addr : "") + ">");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool initialized = (g_mime_init(), true);
    (void)initialized;
    FuzzedDataProvider in(data, size);
    const std::string subject = in.ConsumeRandomLengthString(300);
    const std::string body = in.ConsumeRandomLengthString(200);

    std::vector<Person> people;
    const int count = in.ConsumeIntegralInRange(0, 5);
    for (int i = 0; i < count; ++i) {
        Person p;
        p.type = in.ConsumeIntegralInRange<uint32_t>(1, 3);
        p.name = in.ConsumeRandomLengthString(80);
        if (in.ConsumeIntegralInRange(0, 4) == 0) {
            p.members = in.ConsumeIntegralInRange<uint32_t>(0, 2);
            people.push_back(p);
            for (uint32_t k = 0; k < p.members; ++k) {
                Person m;
                m.type = p.type;
                m.name = in.ConsumeRandomLengthString(40);
                m.address = address(in);
                people.push_back(m);
            }
            continue;
        }
        p.address = address(in);
        people.push_back(p);
    }
    std::vector<MbMimeAddress> recipients;
    for (const Person& p : people) {
        recipients.push_back({p.type, p.name.c_str(), p.address.empty() ? nullptr : p.address.c_str(),
                              p.members});
    }

    std::vector<std::string> names;
    std::vector<MbMimeAttachment> attachments;
    const mb::ScopedFd attachmentData(::memfd_create("attachment", MFD_CLOEXEC));
    FUZZ_CHECK(attachmentData.get() >= 0);
    const int attachmentCount = in.ConsumeIntegralInRange(0, 3);
    for (int i = 0; i < attachmentCount; ++i) {
        names.push_back(in.ConsumeRandomLengthString(120));
    }
    const std::string content = in.ConsumeRemainingBytesAsString();
    FUZZ_CHECK(::pwrite(attachmentData.get(), content.data(), content.size(), 0) ==
               static_cast<ssize_t>(content.size()));
    for (int i = 0; i < attachmentCount; ++i) {
        // Each attachment a slice of the one data file, as the store shares them.
        const int64_t offset = static_cast<int64_t>(content.size() * i / attachmentCount);
        attachments.push_back({names[i].c_str(), attachmentData.get(), offset, -1});
    }

    MbMimeMessage message{};
    message.structSize = sizeof message;
    message.subject = subject.c_str();
    message.body = body.c_str();
    message.fromName = "Sender";
    message.fromAddress = "sender@example.org";
    message.recipients = recipients.data();
    message.recipientCount = static_cast<uint32_t>(recipients.size());
    message.attachments = attachments.data();
    message.attachmentCount = static_cast<uint32_t>(attachments.size());
    message.date = 1700000000;
    message.messageIdDomain = "example.org";

    const mb::ScopedFd out(::memfd_create("message", MFD_CLOEXEC));
    FUZZ_CHECK(out.get() >= 0);
    FUZZ_CHECK(mb_mime_render(&message, out.get()) == 0);

    // The stream starts where its descriptor stands: at the message's start.
    FUZZ_CHECK(::lseek(out.get(), 0, SEEK_SET) == 0);
    GMimeStream* stream = g_mime_stream_fs_new(::dup(out.get()));
    FUZZ_CHECK(stream != nullptr);
    GMimeParser* parser = g_mime_parser_new_with_stream(stream);
    g_object_unref(stream);
    GMimeMessage* parsed = g_mime_parser_construct_message(parser, nullptr);
    g_object_unref(parser);
    FUZZ_CHECK(parsed != nullptr);

    const char* gotSubject = g_mime_message_get_subject(parsed);
    const std::string wantSubject = shown(subject);
    if (wantSubject.empty()) {
        FUZZ_CHECK(gotSubject == nullptr);
    } else {
        if (gotSubject == nullptr || wantSubject != gotSubject) {
            std::fprintf(stderr, "subject: [%s] read as [%s]\n", wantSubject.c_str(),
                         gotSubject != nullptr ? gotSubject : "(none)");
        }
        FUZZ_CHECK(gotSubject != nullptr && wantSubject == gotSubject);
    }
    const GMimeAddressType types[] = {GMIME_ADDRESS_TYPE_TO, GMIME_ADDRESS_TYPE_CC,
                                      GMIME_ADDRESS_TYPE_BCC};
    for (uint32_t type = 1; type <= 3; ++type) {
        std::vector<std::string> got;
        collect(g_mime_message_get_addresses(parsed, types[type - 1]), got);
        const std::vector<std::string> want = expectedOf(people, type);
        if (got != want) {
            for (size_t i = 0; i < std::max(got.size(), want.size()); ++i) {
                std::fprintf(stderr, "recipient %zu: [%s] read as [%s]\n", i,
                             i < want.size() ? want[i].c_str() : "", i < got.size() ? got[i].c_str() : "");
            }
        }
        FUZZ_CHECK(got == want);
    }
    std::vector<std::string> gotNames;
    GMimePartIter* iter = g_mime_part_iter_new(GMIME_OBJECT(parsed));
    do {
        GMimeObject* current = g_mime_part_iter_get_current(iter);
        if (current != nullptr && GMIME_IS_PART(current) &&
            g_mime_part_is_attachment(GMIME_PART(current))) {
            const char* name = g_mime_part_get_filename(GMIME_PART(current));
            gotNames.push_back(name != nullptr ? name : "(none)");
        }
    } while (g_mime_part_iter_next(iter));
    g_mime_part_iter_free(iter);
    g_object_unref(parsed);
    FUZZ_CHECK(gotNames.size() == names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        std::string want = oneLine(names[i]);
        // The renderer's name for a file whose name shows nothing.
        if (want.find_first_not_of(' ') == std::string::npos) {
            want = "attachment";
        }
        if (gotNames[i] != want) {
            std::fprintf(stderr, "file name: [%s] read as [%s]\n", want.c_str(), gotNames[i].c_str());
        }
        FUZZ_CHECK(gotNames[i] == want);
    }
    return 0;
}
