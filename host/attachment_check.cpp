#include "host/attachment_check.h"

#include <sys/stat.h>
#include <unistd.h>

#include "base/regular_file.h"
#include "codec/query_record.h"
#include "mapi/mapi_codes.h"

bool attachmentReadable(const std::string& path) {
    mb::ScopedFd fd;
    if (mb::openRegularFile(path, fd) != 0) {
        return false;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        return false;
    }
    // The Broker reads exactly the size the file reports; a file that still
    // has data past it (those of /proc report 0), or fails to read where its
    // data should be, is refused there.
    char probe = 0;
    if (info.st_size > 0 && ::pread(fd.get(), &probe, 1, 0) != 1) {
        return false;
    }
    return ::pread(fd.get(), &probe, 1, info.st_size) == 0;
}

std::vector<std::string> sentAttachments(const std::string& request) {
    std::vector<std::string> paths;
    QueryRecord record;
    try {
        record.decode(KsString(request.c_str()));
    } catch (...) {
        return paths;
    }
    const auto found = record.params.find(KsString("attachment"));
    if (found == record.params.end()) {
        return paths;
    }
    KsString copy(found->second);
    const std::string list = copy.utf8View();
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(';', start);
        if (end == std::string::npos) {
            end = list.size();
        }
        if (end > start) {
            paths.push_back(list.substr(start, end - start));
        }
        start = end + 1;
    }
    return paths;
}

std::vector<std::string> unreadableAttachments(HRESULT status, const std::vector<std::string>& sent,
                                               bool (*readable)(const std::string&)) {
    if ((status != MAPI_E_NOT_FOUND && status != MAPI_E_NO_ACCESS) || sent.empty()) {
        return {};
    }
    if (sent.size() == 1) {
        return sent;
    }
    std::vector<std::string> unreadable;
    for (const std::string& path : sent) {
        if (!readable(path)) {
            unreadable.push_back(path);
        }
    }
    return unreadable;
}

std::string attachmentFailureNote(HRESULT status, const std::vector<std::string>& sent,
                                  bool (*readable)(const std::string&)) {
    if ((status != MAPI_E_NOT_FOUND && status != MAPI_E_NO_ACCESS) || sent.empty()) {
        return {};
    }
    const std::vector<std::string> unreadable = unreadableAttachments(status, sent, readable);
    if (unreadable.empty()) {
        return "one of the attachments could not be read whole (it may have changed while it "
               "was read)";
    }
    std::string note = unreadable.size() == 1 ? "attachment " : "attachments ";
    for (size_t i = 0; i < unreadable.size(); ++i) {
        note += (i == 0 ? "" : ", ") + unreadable[i];
    }
    return note + " cannot be read";
}
