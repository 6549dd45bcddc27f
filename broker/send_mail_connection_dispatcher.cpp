// SPDX-License-Identifier: MIT
#include "broker/send_mail_connection_dispatcher.h"

#include <cstring>
#include <memory>
#include <utility>

#include "broker/pipe_name.h"
#include "foundation/ks_exception.h"

CSendMailConnectionDispatcher::CSendMailConnectionDispatcher(CBrokerContext* context,
                                                             const KsString& pipeName,
                                                             const KsString& hostProcessIdText,
                                                             PipeSecurity security)
    : context_(context),
      pipeName_(pipeName),
      hostProcessIdText_(hostProcessIdText),
      security_(security) {}

void CSendMailConnectionDispatcher::PipeInstanceTraits::free(HANDLE instance) noexcept {
    DisconnectNamedPipe(instance);
    CloseHandle(instance);
}

CSendMailConnectionDispatcher::~CSendMailConnectionDispatcher() {
    // In this order, not the members' reverse one.
    dropRetiredInstance();
    hostProcess_.reset();
    pipeInstance_.reset();
}

void CSendMailConnectionDispatcher::listen() {
    const mb::ScopedHandle connectEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!connectEvent) {
        throw CMessageException("Failed to create connection");
    }

    SECURITY_ATTRIBUTES attributes;
    std::memset(&attributes, 0, sizeof attributes);
    // Goes back through security_.release, a function chosen at run time that
    // ScopedGeneric's stateless traits cannot hold: unique_ptr keeps it as its
    // deleter, and calls it for a non-null descriptor only.
    const std::unique_ptr<void, void (*)(void*)> descriptor(security_.create(attributes),
                                                            security_.release);

    OVERLAPPED overlapped;
    std::memset(&overlapped, 0, sizeof overlapped);
    overlapped.hEvent = connectEvent.get();

    // The instance that waits for the next client: made before the connected
    // one is handed over (see handOver), or here at the top of the loop.
    PipeInstance next;
    for (;;) {
        if (next.get() == INVALID_HANDLE_VALUE) {
            next.reset(createInstance(attributes));
            if (next.get() == INVALID_HANDLE_VALUE) {
                throw CMessageException("Failed to create connection");
            }
        }
        pipeInstance_ = std::move(next);
        dropRetiredInstance();

        int32_t hostProcessId = 0;
        KsString idText(hostProcessIdText_);
        idText.scan(KsString("%d"), &hostProcessId);

        const BOOL connected = ConnectNamedPipe(pipeInstance_.get(), &overlapped);
        const DWORD error = connected ? ERROR_PIPE_CONNECTED : GetLastError();

        // The previous host's handle goes before the next one is opened.
        hostProcess_.reset();
        hostProcess_.reset(OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(hostProcessId)));

        if (error == ERROR_PIPE_CONNECTED) {
            handOver(connectEvent.get(), attributes, next);
            continue;
        }
        if (error == ERROR_NO_DATA) {
            // A client came and went before this instance took it: not a
            // reason to end the Broker.
            dropInstance();
            continue;
        }
        if (error != ERROR_IO_PENDING) {
            throw CMessageException("Failed to create connection");
        }
        HANDLE waits[3] = {connectEvent.get(), hostProcess_.get(), reapEvent()};
        const DWORD count = waits[2] != nullptr ? 3 : 2;
        DWORD which;
        while ((which = WaitForMultipleObjects(count, waits, FALSE,
                                               reapDue() ? kReapRetryMs : INFINITE)) ==
                   WAIT_TIMEOUT ||
               which == WAIT_OBJECT_0 + 2) {
            reapFinished();
        }
        if (which == WAIT_OBJECT_0) {
            handOver(connectEvent.get(), attributes, next);
            continue;
        }
        // The host has ended, or there is no host to watch (WAIT_FAILED): a
        // Broker never lingers without one. The connect must be over before
        // its record and event go away with this frame.
        CancelIoEx(pipeInstance_.get(), &overlapped);
        DWORD ignored = 0;
        GetOverlappedResult(pipeInstance_.get(), &overlapped, &ignored, TRUE);
        return;
    }
}

HANDLE CSendMailConnectionDispatcher::createInstance(SECURITY_ATTRIBUTES& attributes) {
    KsString name(pipeName_);
    return CreateNamedPipeA(pipeNameBytes(name), kOpenMode, kPipeMode, PIPE_UNLIMITED_INSTANCES,
                            kBufferSize, kBufferSize, 0, &attributes);
}

void CSendMailConnectionDispatcher::handOver(HANDLE connectEvent, SECURITY_ATTRIBUTES& attributes,
                                             PipeInstance& next) {
    // The next instance exists before the connected one goes to its channel. A
    // short-lived channel may close its instance at once; were it the name's
    // only one, the name would lapse, and the clients already queued for it
    // would be lost with it.
    next.reset(createInstance(attributes));
    // From here the instance is the callee's, even if onConnect throws.
    HANDLE instance = pipeInstance_.release();
    ResetEvent(connectEvent);
    onConnect(instance, context_);
    if (next.get() == INVALID_HANDLE_VALUE) {
        // Handed over first, so that its client is still served; then the
        // listener ends as for any instance that cannot be made.
        throw CMessageException("Failed to create connection");
    }
}

void CSendMailConnectionDispatcher::dropInstance() {
    // Closes the instance retired before, then retires this one.
    retiredInstance_ = std::move(pipeInstance_);
}

void CSendMailConnectionDispatcher::dropRetiredInstance() {
    retiredInstance_.reset();
}
