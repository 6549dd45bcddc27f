// SPDX-License-Identifier: MIT
// An attachment being composed, as an IAttach: properties through SetProps,
// its data through OpenProperty(PR_ATTACH_DATA_BIN, IID_IStream) into an
// unnamed scratch file in the message folder's tmp/, and SaveChanges to hand
// both to the message. Data set as a PR_ATTACH_DATA_BIN value goes to a
// scratch file too. Only attachments saved this way are part of the message.
#pragma once

#include <memory>

#include "provider/store/message.h"

namespace mb::provider {

class Attach final : public PropObject<IAttach, IID_IAttachment> {
  public:
    // Holds a reference to message until released.
    static Attach* create(Message* message, ULONG number);

    HRESULT STDMETHODCALLTYPE SaveChanges(ULONG ulFlags) override;
    HRESULT STDMETHODCALLTYPE OpenProperty(ULONG ulPropTag, LPCIID lpiid, ULONG ulInterfaceOptions,
                                           ULONG ulFlags, LPUNKNOWN* lppUnk) override;

    // A stream's Commit: its file becomes the attachment's data.
    void commitData(std::shared_ptr<ScopedFd> data);

  private:
    Attach(Message* message, ULONG number);
    ~Attach() override;

    std::optional<Property> computed(ULONG propId) const override;
    SCODE check(const SPropValue& value) const override;

    Message* const message_;
    const ULONG number_;
    std::shared_ptr<ScopedFd> data_;
};

}  // namespace mb::provider
