// SPDX-License-Identifier: MIT
#include "provider/store/forms.h"

#include <new>

#include "provider/store/message.h"

namespace mb::provider {

PendingForms::~PendingForms() {
    for (auto& [token, message] : pending_) {
        message->Release();
    }
}

HRESULT PendingForms::prepare(IMessage* message, ULONG* token) {
    if (message == nullptr || token == nullptr) {
        return MAPI_E_INVALID_PARAMETER;
    }
    *token = 0;
    void* ours = nullptr;
    if (FAILED(message->QueryInterface(kMessageImplId, &ours))) {
        return MAPI_E_INVALID_PARAMETER;
    }
    try {
        std::lock_guard<std::mutex> guard(lock_);
        const ULONG issued = next_++;
        pending_.emplace(issued, static_cast<Message*>(ours));
        *token = issued;
        return S_OK;
    } catch (const std::bad_alloc&) {
        static_cast<Message*>(ours)->Release();
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
}

HRESULT PendingForms::show(ULONG token, std::uint64_t parent, const std::string& profile,
                           Ui& ui) {
    Message* message = nullptr;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = pending_.find(token);
        if (it == pending_.end()) {
            return MAPI_E_INVALID_PARAMETER;
        }
        message = it->second;
        pending_.erase(it);
    }
    HRESULT hr = S_OK;
    try {
        ComposeForm form;
        hr = message->fileDraft(form);
        form.parent = parent;
        form.profile = profile;
        if (SUCCEEDED(hr)) {
            hr = ui.showForm(form);
        }
    } catch (const std::bad_alloc&) {
        hr = MAPI_E_NOT_ENOUGH_MEMORY;
    } catch (...) {
        hr = MAPI_E_CALL_FAILED;
    }
    message->Release();
    return hr;
}

}  // namespace mb::provider
