// SPDX-License-Identifier: MIT
// Messages handed to PrepareForm, waiting for ShowForm: the token is the
// session's name for the message, which the caller releases in between.
#pragma once

#include <map>
#include <mutex>

#include "provider/ui/driver.h"

namespace mb::provider {

class Message;

class PendingForms {
  public:
    PendingForms() = default;
    PendingForms(const PendingForms&) = delete;
    PendingForms& operator=(const PendingForms&) = delete;
    ~PendingForms();  // releases messages never shown

    // PrepareForm: only the provider's own messages can be shown.
    HRESULT prepare(IMessage* message, ULONG* token);
    // ShowForm: files the message in Drafts and opens it in ui's compose
    // window, owned by the host's window `parent`, for sending from
    // `profile`. A token is good for one ShowForm.
    HRESULT show(ULONG token, std::uint64_t parent, const std::string& profile, Ui& ui);

  private:
    std::mutex lock_;
    std::map<ULONG, Message*> pending_;
    ULONG next_ = 1;
};

}  // namespace mb::provider
