// SPDX-License-Identifier: MIT
// Reads messages with GMime's parser and decoders, as GMime-based mail
// readers do, and prints one JSON line per file: the decoded subject, the
// From and To display names and addresses, and per attachment its file name
// and media type.
#include <fcntl.h>
#include <gmime/gmime.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

namespace {

nlohmann::json mailboxes(InternetAddressList* list) {
    nlohmann::json out = nlohmann::json::array();
    for (int i = 0; list != nullptr && i < internet_address_list_length(list); ++i) {
        InternetAddress* address = internet_address_list_get_address(list, i);
        const char* name = internet_address_get_name(address);
        const char* mailbox = INTERNET_ADDRESS_IS_MAILBOX(address)
                               ? internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address))
                               : "";
        out.push_back({name != nullptr ? name : "", mailbox != nullptr ? mailbox : ""});
    }
    return out;
}

nlohmann::json readOne(const char* path) {
    GMimeStream* stream = g_mime_stream_fs_open(path, O_RDONLY, 0, nullptr);
    if (stream == nullptr) {
        return {{"path", path}, {"error", "cannot open"}};
    }
    GMimeParser* parser = g_mime_parser_new_with_stream(stream);
    g_object_unref(stream);
    GMimeMessage* message = g_mime_parser_construct_message(parser, nullptr);
    g_object_unref(parser);
    if (message == nullptr) {
        return {{"path", path}, {"error", "does not parse"}};
    }
    const char* subject = g_mime_message_get_subject(message);
    nlohmann::json out{{"path", path},
                       {"subject", subject != nullptr ? subject : ""},
                       {"from", mailboxes(g_mime_message_get_from(message))},
                       {"to", mailboxes(g_mime_message_get_to(message))},
                       {"attachments", nlohmann::json::array()}};
    GMimePartIter* iter = g_mime_part_iter_new(GMIME_OBJECT(message));
    do {
        GMimeObject* current = g_mime_part_iter_get_current(iter);
        if (current != nullptr && GMIME_IS_PART(current) &&
            g_mime_part_is_attachment(GMIME_PART(current))) {
            const char* name = g_mime_part_get_filename(GMIME_PART(current));
            gchar* type = g_mime_content_type_get_mime_type(g_mime_object_get_content_type(current));
            out["attachments"].push_back({{"name", name != nullptr ? name : ""}, {"type", type}});
            g_free(type);
        }
    } while (g_mime_part_iter_next(iter));
    g_mime_part_iter_free(iter);
    g_object_unref(message);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    g_mime_init();
    for (int i = 1; i < argc; ++i) {
        // Invalid UTF-8 from a decoder is shown, not fatal: the test reports it.
        std::printf("%s\n", readOne(argv[i]).dump(-1, ' ', true,
                                                  nlohmann::json::error_handler_t::replace).c_str());
    }
    g_mime_shutdown();
    return 0;
}
