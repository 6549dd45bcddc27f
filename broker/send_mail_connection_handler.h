// SPDX-License-Identifier: MIT
// CSendMailConnectionHandler: gives each connected instance a server channel
// on a thread of its own, keeps the registry of channels, and reaps those
// whose connection has ended.
#pragma once

#include <cstddef>
#include <set>

#include "broker/send_mail_connection_dispatcher.h"

class CSendMailServerChannel;

class CSendMailConnectionHandler : public CSendMailConnectionDispatcher {
  public:
    CSendMailConnectionHandler(CBrokerContext* context, const KsString& pipeName,
                               const KsString& hostProcessIdText, PipeSecurity security);
    // Closes every channel; a failed join there ends the process quietly
    // rather than throwing out of a destructor.
    ~CSendMailConnectionHandler() override;

    int32_t onConnect(HANDLE pipeInstance, CBrokerContext* context) override;
    // Joins and destroys every channel whose pipe is closed or broken and whose
    // thread has ended; one still running is left for a later pass, so this
    // never waits. Throws KsException "unable to join thread"; the channel
    // then stays registered.
    void reapClosedChannels();
    // Stops, joins and destroys every channel.
    void closeAllChannels();

    size_t channelCount() const { return channels_.size(); }

  protected:
    HANDLE reapEvent() const override;
    bool reapDue() const override { return reapDue_; }
    void reapFinished() override { reapClosedChannels(); }
    virtual CSendMailServerChannel* createChannel(const char* name, HANDLE pipeInstance,
                                                  CBrokerContext* context);

  private:
    CBrokerContext* context_;
    std::set<CSendMailServerChannel*> channels_;
    // The channel onConnect has registered but not yet started: never reaped.
    CSendMailServerChannel* unstarted_ = nullptr;
    // The last pass left a channel whose client has gone but whose thread ran.
    bool reapDue_ = false;
};
