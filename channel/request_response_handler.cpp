// SPDX-License-Identifier: MIT
#include "channel/request_response_handler.h"

#include "channel/broker_context.h"
#include "foundation/ks_exception.h"

void CRequestResponseHandler::serveConnection() {
    try {
        while (context()->stopRequested.load(std::memory_order_relaxed) == 0) {
            CMessage request;
            CMessage response;
            receive(request);
            handleRequest(request, response);
            send(response);
        }
    } catch (const CInterruptedExeception&) {
        close();
    } catch (const CMessageException& failure) {
        close();
        throw CMessageException(failure.getMessage());
    }
}
