// SPDX-License-Identifier: MIT
// CRequestResponseHandler: the request/reply loop over a message channel.
#pragma once

#include "channel/shared_memory_channel.h"

class CRequestResponseHandler : public CSharedMemoryChannel {
  public:
    using CSharedMemoryChannel::CSharedMemoryChannel;

    // Fills `response` from `request`; returns when the reply is ready to send.
    virtual void handleRequest(const CMessage& request, CMessage& response) = 0;

    // Receives, handles and answers requests one after another until the
    // client goes, the channel fails, or the Broker asks to stop. Returns
    // normally on the ordinary end of a connection; a channel failure closes
    // the channel and is thrown again; any other failure passes through with
    // the pipe left open.
    void serveConnection();
};
