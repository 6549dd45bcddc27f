// SPDX-License-Identifier: MIT
#include "broker/send_mail_connection_handler.h"

#include <cstdlib>
#include <memory>

#include "channel/broker_context.h"
#include "channel/send_mail_server_channel.h"
#include "foundation/ks_exception.h"

CSendMailConnectionHandler::CSendMailConnectionHandler(CBrokerContext* context,
                                                       const KsString& pipeName,
                                                       const KsString& hostProcessIdText,
                                                       PipeSecurity security)
    : CSendMailConnectionDispatcher(context, pipeName, hostProcessIdText, security),
      context_(context) {}

CSendMailConnectionHandler::~CSendMailConnectionHandler() {
    try {
        closeAllChannels();
    } catch (...) {
        // A thread that cannot be joined may still use its channel: freeing
        // it would be worse than ending here.
        std::_Exit(0);
    }
}

CSendMailServerChannel* CSendMailConnectionHandler::createChannel(const char* name,
                                                                  HANDLE pipeInstance,
                                                                  CBrokerContext* context) {
    return new CSendMailServerChannel(name, pipeInstance, context, this);
}

int32_t CSendMailConnectionHandler::onConnect(HANDLE pipeInstance, CBrokerContext* context) {
    KsString name(pipeName());
    CSendMailServerChannel* channel = nullptr;
    {
        std::unique_ptr<CSendMailServerChannel> owned(
            createChannel(name.utf8View(), pipeInstance, context));
        channels_.insert(owned.get());
        channel = owned.release();
    }
    unstarted_ = channel;
    try {
        reapClosedChannels();
    } catch (...) {
        unstarted_ = nullptr;
        channel->start();
        throw;
    }
    unstarted_ = nullptr;
    channel->start();
    return 0;
}

HANDLE CSendMailConnectionHandler::reapEvent() const {
    return context_->channelEndedEvent;
}

void CSendMailConnectionHandler::reapClosedChannels() {
    KsMonitorLock lock(context_->registryLock);
    const std::set<CSendMailServerChannel*> snapshot(channels_);
    reapDue_ = false;
    for (CSendMailServerChannel* channel : snapshot) {
        if (channel == unstarted_ || channel->isConnected()) {
            continue;
        }
        // A channel whose client has gone may still be carrying out its
        // request (a slow server, a dialog): joining it here would stop the
        // listener for as long. It is reaped at a later pass, once it has ended.
        if (!channel->hasEnded()) {
            reapDue_ = true;
            continue;
        }
        channel->requestStop();
        channel->join();
        channels_.erase(channel);
        delete channel;
    }
}

void CSendMailConnectionHandler::closeAllChannels() {
    KsMonitorLock lock(context_->registryLock);
    while (!channels_.empty()) {
        CSendMailServerChannel* channel = *channels_.begin();
        channel->requestStop();
        channel->join();
        channels_.erase(channels_.begin());
        delete channel;
    }
}
