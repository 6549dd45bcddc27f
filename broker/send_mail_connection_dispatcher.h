// SPDX-License-Identifier: MIT
// CSendMailConnectionDispatcher: the listener of the Broker's named pipe. One
// instance at a time waits for a client; once it is connected, the next one is
// created and then the connected one is handed to onConnect. listen returns
// once the host process has ended.
#pragma once

#include <cstdint>

#include "broker/pipe_security.h"
#include "foundation/ks_string.h"
#include "pal/scoped_handle.h"
#include "pal/win32.h"

class CBrokerContext;

class CSendMailConnectionDispatcher {
  public:
    static constexpr DWORD kOpenMode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED;
    static constexpr DWORD kPipeMode = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT;
    static constexpr DWORD kBufferSize = 4096;

    CSendMailConnectionDispatcher(CBrokerContext* context, const KsString& pipeName,
                                  const KsString& hostProcessIdText, PipeSecurity security);
    CSendMailConnectionDispatcher(const CSendMailConnectionDispatcher&) = delete;
    CSendMailConnectionDispatcher& operator=(const CSendMailConnectionDispatcher&) = delete;
    virtual ~CSendMailConnectionDispatcher();

    // Called with a connected instance, which from then on belongs to the callee.
    virtual int32_t onConnect(HANDLE pipeInstance, CBrokerContext* context) = 0;

    // Serves until the host process has ended or cannot be watched. Throws
    // CMessageException "Failed to create connection" when no instance can be
    // made or a connect fails other than by a client that already left.
    void listen();

  protected:
    const KsString& pipeName() const { return pipeName_; }
    // While it waits for a client, the listener calls reapFinished() when
    // reapEvent() (if any) is signalled, and every kReapRetryMs while reapDue()
    // says a channel whose client has gone is still finishing.
    virtual HANDLE reapEvent() const { return nullptr; }
    virtual bool reapDue() const { return false; }
    virtual void reapFinished() {}
    static constexpr DWORD kReapRetryMs = 50;

  private:
    // A server instance of the pipe (INVALID_HANDLE_VALUE for none, as
    // CreateNamedPipe fails), disconnected from its client and closed when it goes.
    struct PipeInstanceTraits {
        static HANDLE invalidValue() noexcept { return INVALID_HANDLE_VALUE; }
        static void free(HANDLE instance) noexcept;
    };
    using PipeInstance = mb::ScopedGeneric<HANDLE, PipeInstanceTraits>;

    HANDLE createInstance(SECURITY_ATTRIBUTES& attributes);
    // Makes the next instance into `next`, then hands the connected one to
    // onConnect. Throws CMessageException when the next one cannot be made.
    void handOver(HANDLE connectEvent, SECURITY_ATTRIBUTES& attributes, PipeInstance& next);
    void dropInstance();
    void dropRetiredInstance();

    CBrokerContext* context_;
    KsString pipeName_;
    KsString hostProcessIdText_;
    PipeSecurity security_;
    mb::ScopedHandle hostProcess_;
    PipeInstance pipeInstance_;
    // An instance whose client came and went, closed once the next instance
    // exists so that the pipe's name never lapses in between.
    PipeInstance retiredInstance_;
};
