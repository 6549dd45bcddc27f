// SPDX-License-Identifier: MIT
// CSendMailServerChannel: one connection's thread, turning each request into a
// reply through a MAPI session of its own.
#pragma once

#include "channel/request_response_handler.h"
#include "foundation/ks_string.h"
#include "foundation/ks_thread.h"

class CSendMailConnectionHandler;

class CSendMailServerChannel : public CRequestResponseHandler, public KsThread {
  public:
    // Replies of this size and more are refused.
    static constexpr uint64_t kReplyLimit = 0x10000000u;

    // Does not start the thread.
    CSendMailServerChannel(const char* name, HANDLE pipeHandle, CBrokerContext* context,
                           CSendMailConnectionHandler* owner);
    ~CSendMailServerChannel() override;

    const char* name() override;
    void handleRequest(const CMessage& request, CMessage& response) override;
    // Serves the connection; no exception leaves the thread.
    void run() override;

    CSendMailConnectionHandler* owner() const { return owner_; }

  protected:
    // The MAPI library a request loads: mapi32.dll, another file in tests.
    virtual const char* mapiLibraryName() const { return "mapi32.dll"; }

  private:
    CSendMailConnectionHandler* owner_;
    KsString connectionName_;
};
