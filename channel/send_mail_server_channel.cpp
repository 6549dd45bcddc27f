// SPDX-License-Identifier: MIT
#include "channel/send_mail_server_channel.h"

#include <cstring>

#include "channel/broker_context.h"
#include "codec/query_record.h"
#include "foundation/ks_exception.h"
#include "commands/mapi_session.h"

CSendMailServerChannel::CSendMailServerChannel(const char* name, HANDLE pipeHandle,
                                               CBrokerContext* context,
                                               CSendMailConnectionHandler* owner)
    : CRequestResponseHandler(name, pipeHandle, context), owner_(owner), connectionName_(name) {}

CSendMailServerChannel::~CSendMailServerChannel() = default;

const char* CSendMailServerChannel::name() {
    return connectionName_.utf8View();
}

void CSendMailServerChannel::run() {
    try {
        serveConnection();
    } catch (...) {
        // Nothing is logged; the thread ends quietly and the registry reaps
        // the channel once its pipe is closed or broken.
    }
    if (context() != nullptr && context()->channelEndedEvent != nullptr) {
        SetEvent(context()->channelEndedEvent);
    }
}

void CSendMailServerChannel::handleRequest(const CMessage& request, CMessage& response) {
    QueryRecord decoded;
    decoded.escapeOnEncode = 1;
    {
        // The text ends at its first NUL (receive appends one). Cutting there
        // rather than copying the whole count keeps a payload announced far
        // longer than what arrived from costing its announced size again.
        const char* bytes = reinterpret_cast<const char*>(request.data());
        const void* nul = bytes == nullptr ? nullptr : std::memchr(bytes, 0, request.length());
        const int64_t end = nul == nullptr ? static_cast<int64_t>(request.length())
                                           : static_cast<const char*>(nul) - bytes;
        const KsString text(bytes, end);
        decoded.decode(text);
    }
    const KsString commandName = decoded.commandName();
    ParamMap params = decoded.params;

    MapiSession session(params, mapiLibraryName());
    QueryRecord reply;
    reply.escapeOnEncode = 1;
    reply.name = KsString("SendMailResponse");
    ParamMap results;
    if (session.status() >= 0) {
        results = session.dispatch(commandName);
    }
    const KsString errorKey("error");
    if (results.find(errorKey) == results.end()) {
        KsString status;
        status.format(KsString("%ld"), static_cast<int32_t>(session.status()));
        results[errorKey] = status;
    }
    reply.params = results;

    KsString text = reply.encode();
    const char* bytes = text.utf8View();
    const uint64_t byteCount = text.unitCount();
    if (byteCount >= kReplyLimit) {
        throw KsException("Size overflow exception");
    }
    response.setForSend(request.messageId(), reinterpret_cast<const uint8_t*>(bytes),
                        static_cast<uint32_t>(byteCount));
}
