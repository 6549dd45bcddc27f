// SPDX-License-Identifier: MIT
#include "commands/message_content.h"

#include <algorithm>
#include <string>
#include <vector>

#include "commands/attachment_file.h"
#include "commands/attachment_name.h"
#include "commands/mapi_ptr.h"
#include "commands/mapi_session.h"

namespace {

// The working sizes the Broker was built around; longer input grows them.
constexpr size_t kPathListUnits = 52200;
constexpr HRESULT kAttachFileError = static_cast<HRESULT>(0x80044005);
constexpr DWORD kShellFileAttributes = 0xD0;

using WideText = std::basic_string<WCHAR>;

bool hasBadCharWidth(const SPropProblemArray* problems) {
    for (ULONG i = 0; problems != nullptr && i < problems->cProblem; ++i) {
        if (problems->aProblem[i].scode == MAPI_E_BAD_CHARWIDTH) {
            return true;
        }
    }
    return false;
}

size_t wideLength(const WCHAR* text) {
    return std::char_traits<WCHAR>::length(text);
}

std::string toAnsi(const WCHAR* text) {
    const int bytes = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1) {
        return {};
    }
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, out.data(), bytes, nullptr, nullptr);
    out.resize(static_cast<size_t>(bytes) - 1);
    return out;
}

// Method, file name and display name; 8-bit names when the store asks for them.
void setAttachmentNames(MapiSession& session, IAttach* attachment, const WCHAR* path) {
    WideText fileName = attachmentFileName(path);
    SHFILEINFOW info{};
    const bool shown =
        SHGetFileInfoW(path, kShellFileAttributes, &info, sizeof info, SHGFI_DISPLAYNAME) != 0;
    SPropValue values[3] = {};
    values[0].ulPropTag = PR_ATTACH_METHOD;
    values[0].Value.l = ATTACH_BY_VALUE;
    values[1].ulPropTag = PR_ATTACH_FILENAME_W;
    values[1].Value.lpszW = fileName.data();
    // Without a display name the slot is still passed, with tag 0.
    values[2].ulPropTag = shown ? PR_DISPLAY_NAME_W : 0;
    values[2].Value.lpszW = shown ? info.szDisplayName : nullptr;
    MapiBuffer<SPropProblemArray> problems(session.allocator());
    if (session.record(attachment->SetProps(3, values, problems.out())) < 0 ||
        !hasBadCharWidth(problems.get())) {
        return;
    }
    std::string ansiName = toAnsi(fileName.c_str());
    std::string ansiShown = shown ? toAnsi(info.szDisplayName) : std::string();
    values[1].ulPropTag = PR_ATTACH_FILENAME_A;
    values[1].Value.lpszA = ansiName.data();
    if (shown) {
        values[2].ulPropTag = PR_DISPLAY_NAME_A;
        values[2].Value.lpszA = ansiShown.data();
    }
    if (!ansiName.empty() && (!shown || !ansiShown.empty())) {
        attachment->SetProps(3, values, nullptr);  // a best effort: its result is not kept
    }
}

// An exception on the way still commits what the stream holds.
struct OpenStream {
    IStream* stream = nullptr;
    ~OpenStream() {
        if (stream != nullptr) {
            stream->Commit(0);
            stream->Release();
        }
    }
};

// Returns the file's failure when the file could not be read whole.
HRESULT attachFile(MapiSession& session, IMessage* message, const WCHAR* path) {
    ULONG number = 0;
    MapiRef<IAttach> attachment;
    if (session.record(message->CreateAttach(nullptr, 0, &number, attachment.out())) < 0) {
        return S_OK;
    }
    HRESULT fileResult = S_OK;
    setAttachmentNames(session, attachment.get(), path);
    OpenStream data;
    LPUNKNOWN unknown = nullptr;
    if (session.record(attachment->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IStream, STGM_WRITE,
                                                MAPI_CREATE | MAPI_MODIFY, &unknown)) >= 0 &&
        unknown != nullptr) {
        data.stream = static_cast<IStream*>(unknown);
        const AttachmentCopy copy = copyAttachmentFile(path, data.stream);
        if (copy.stream < 0) {
            session.setStatus(copy.stream);
        } else if (copy.file < 0) {
            session.setStatus(kAttachFileError);
        }
        fileResult = copy.file;
        session.record(data.stream->Commit(0));
        std::exchange(data.stream, nullptr)->Release();
    }
    attachment->SaveChanges(0);  // its result is not kept
    return fileResult;
}

}  // namespace

void setTextProperty(MapiSession& session, IMessage* message, ULONG wideTag, ULONG narrowTag,
                     const KsString& text) {
    KsString wide(text);
    SPropValue value{};
    value.ulPropTag = wideTag;
    value.Value.lpszW = const_cast<LPWSTR>(wide.wideView());
    MapiBuffer<SPropProblemArray> problems(session.allocator());
    if (session.record(message->SetProps(1, &value, problems.out())) < 0 ||
        !hasBadCharWidth(problems.get())) {
        return;
    }
    KsString narrow(text);
    const char* bytes = narrow.utf8View();
    if (*bytes != '\0') {
        value.ulPropTag = narrowTag;
        value.Value.lpszA = const_cast<LPSTR>(bytes);
        session.record(message->SetProps(1, &value, nullptr));
    }
}

HRESULT attachFiles(MapiSession& session, IMessage* message, const KsString& paths) {
    KsString copy(paths);
    const WCHAR* wide = copy.wideView();
    const size_t units = wideLength(wide);
    if (units == 0) {
        return S_OK;
    }
    std::vector<WCHAR> work(std::max(kPathListUnits, units + 1));
    std::copy(wide, wide + units + 1, work.begin());
    WCHAR* position = nullptr;
    for (WCHAR* path = wcstok_s(work.data(), WLIT(";"), &position); path != nullptr;
         path = wcstok_s(nullptr, WLIT(";"), &position)) {
        const HRESULT fileResult = attachFile(session, message, path);
        // A silent message leaves unseen: one file short, it must not leave at
        // all, and the files after it need not be read.
        if (fileResult < 0 && session.silent() != 0) {
            return fileResult;
        }
    }
    return S_OK;
}
