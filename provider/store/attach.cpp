// SPDX-License-Identifier: MIT
#include "provider/store/attach.h"

#include <sys/stat.h>

#include <new>

#include "provider/com/abi_guard.h"
#include "provider/store/stream.h"

namespace mb::provider {

Attach* Attach::create(Message* message, ULONG number) {
    return new Attach(message, number);
}

Attach::Attach(Message* message, ULONG number)
    : PropObject(message->rejectUnicode()), message_(message), number_(number) {
    message_->AddRef();
}

Attach::~Attach() {
    message_->Release();
}

std::optional<Property> Attach::computed(ULONG propId) const {
    if (propId == PROP_ID(PR_ATTACH_NUM)) {
        return Property::ofLong(PR_ATTACH_NUM, static_cast<LONG>(number_));
    }
    if (propId == PROP_ID(PR_OBJECT_TYPE)) {
        return Property::ofLong(PR_OBJECT_TYPE, MAPI_ATTACH);
    }
    if (propId == PROP_ID(PR_ATTACH_SIZE) && data_) {
        struct stat info {};
        if (::fstat(data_->get(), &info) == 0) {
            // PR_ATTACH_SIZE is 32 bits; larger files report the largest value.
            const auto size = static_cast<std::uint64_t>(info.st_size);
            return Property::ofLong(PR_ATTACH_SIZE,
                                    static_cast<LONG>(size > 0x7FFFFFFF ? 0x7FFFFFFF : size));
        }
    }
    return std::nullopt;
}

SCODE Attach::check(const SPropValue& value) const {
    switch (PROP_ID(value.ulPropTag)) {
        case PROP_ID(PR_ATTACH_NUM):
        case PROP_ID(PR_OBJECT_TYPE):
        case PROP_ID(PR_ATTACH_SIZE):
            return MAPI_E_COMPUTED;
        default:
            return S_OK;
    }
}

void Attach::commitData(std::shared_ptr<ScopedFd> data) {
    std::lock_guard<std::mutex> guard(lock_);
    data_ = std::move(data);
    bag_.erase(PROP_ID(PR_ATTACH_DATA_BIN));  // the stream's data supersedes a value
}

HRESULT Attach::OpenProperty(ULONG ulPropTag, LPCIID lpiid, ULONG, ULONG ulFlags,
                             LPUNKNOWN* lppUnk) {
    if (lppUnk == nullptr) {
        return MAPI_E_INVALID_PARAMETER;
    }
    *lppUnk = nullptr;
    if (ulPropTag != PR_ATTACH_DATA_BIN) {
        return MAPI_E_NO_SUPPORT;
    }
    if (lpiid == nullptr ||
        !(IsEqualIID(*lpiid, IID_IStream) || IsEqualIID(*lpiid, IID_ISequentialStream))) {
        return MAPI_E_INTERFACE_NOT_SUPPORTED;
    }
    return abiGuard([&]() -> HRESULT {
        std::lock_guard<std::mutex> guard(lock_);
        const bool create = (ulFlags & MAPI_CREATE) != 0;
        const bool modify = (ulFlags & MAPI_MODIFY) != 0;
        std::shared_ptr<ScopedFd> file = data_;
        if (create || !file) {
            if (!create) {
                return MAPI_E_NOT_FOUND;
            }
            if (!modify) {
                return MAPI_E_INVALID_PARAMETER;  // MAPI_CREATE needs MAPI_MODIFY
            }
            ScopedFd scratch;
            HRESULT hr = message_->context()->folder(message_->folder()).openScratch(scratch);
            if (FAILED(hr)) {
                return hr;
            }
            file = std::make_shared<ScopedFd>(std::move(scratch));
        }
        *lppUnk = Stream::create(this, std::move(file), modify);
        return S_OK;
    });
}

HRESULT Attach::SaveChanges(ULONG) {
    return abiGuard([&]() -> HRESULT {
        AttachmentData saved;
        {
            std::lock_guard<std::mutex> guard(lock_);
            saved.props = bag_;
            saved.data = data_;
            const Property* value = bag_.find(PROP_ID(PR_ATTACH_DATA_BIN));
            if (!saved.data && value != nullptr && PROP_TYPE(value->tag) == PT_BINARY) {
                ScopedFd scratch;
                HRESULT hr = message_->context()->folder(message_->folder()).openScratch(scratch);
                if (FAILED(hr)) {
                    return hr;
                }
                if (!writeAll(scratch.get(), value->bytes.data(), value->bytes.size())) {
                    return mapiFromErrno(errno);
                }
                saved.data = std::make_shared<ScopedFd>(std::move(scratch));
            }
            saved.props.erase(PROP_ID(PR_ATTACH_DATA_BIN));
        }
        return message_->commitAttachment(number_, std::move(saved));
    });
}

}  // namespace mb::provider
