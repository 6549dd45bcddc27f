#include "broker/send_mail_connection_dispatcher.h"

#include <cstring>

#include "foundation/ks_exception.h"

namespace {

class DescriptorGuard {
  public:
    DescriptorGuard(void (*release)(void*), void* descriptor)
        : release_(release), descriptor_(descriptor) {}
    ~DescriptorGuard() {
        if (descriptor_ != nullptr) {
            release_(descriptor_);
        }
    }
    DescriptorGuard(const DescriptorGuard&) = delete;
    DescriptorGuard& operator=(const DescriptorGuard&) = delete;

  private:
    void (*release_)(void*);
    void* descriptor_;
};

}  // namespace

CSendMailConnectionDispatcher::CSendMailConnectionDispatcher(CBrokerContext* context,
                                                             const KsString& pipeName,
                                                             const KsString& hostProcessIdText,
                                                             PipeSecurity security)
    : context_(context),
      pipeName_(pipeName),
      hostProcessIdText_(hostProcessIdText),
      security_(security) {
    std::memset(&connectOverlapped_, 0, sizeof connectOverlapped_);
}

CSendMailConnectionDispatcher::~CSendMailConnectionDispatcher() {
    if (hostProcess_ != nullptr) {
        CloseHandle(hostProcess_);
        hostProcess_ = nullptr;
    }
    HANDLE instance = pipeInstance_;
    if (instance != nullptr) {
        DisconnectNamedPipe(instance);
        CloseHandle(instance);
        pipeInstance_ = nullptr;
    }
    if (connectPending_) {
        // Closing the instance ended the connect; wait until it has let go of
        // the record and signalled the event for the last time.
        DWORD ignored = 0;
        GetOverlappedResult(instance, &connectOverlapped_, &ignored, TRUE);
        connectPending_ = false;
    }
    releaseConnectEvent();
}

void CSendMailConnectionDispatcher::releaseConnectEvent() {
    if (connectEvent_ != nullptr && !connectPending_) {
        CloseHandle(connectEvent_);
        connectEvent_ = nullptr;
    }
}

void CSendMailConnectionDispatcher::listen() {
    connectEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (connectEvent_ == nullptr) {
        throw CMessageException("Failed to create connection");
    }
    struct EventRelease {
        CSendMailConnectionDispatcher* self;
        ~EventRelease() { self->releaseConnectEvent(); }
    } eventRelease{this};

    SECURITY_ATTRIBUTES attributes;
    std::memset(&attributes, 0, sizeof attributes);
    DescriptorGuard descriptor(security_.release, security_.create(attributes));

    std::memset(&connectOverlapped_, 0, sizeof connectOverlapped_);
    connectOverlapped_.hEvent = connectEvent_;

    for (;;) {
        KsString name(pipeName_);
        HANDLE instance = CreateNamedPipeA(name.ansiView(), kOpenMode, kPipeMode,
                                           PIPE_UNLIMITED_INSTANCES, kBufferSize, kBufferSize, 0,
                                           &attributes);
        if (instance == INVALID_HANDLE_VALUE) {
            throw CMessageException("Failed to create connection");
        }
        pipeInstance_ = instance;

        int32_t hostProcessId = 0;
        KsString idText(hostProcessIdText_);
        idText.scan(KsString("%d"), &hostProcessId);

        const BOOL connected = ConnectNamedPipe(pipeInstance_, &connectOverlapped_);
        const DWORD error = connected ? ERROR_PIPE_CONNECTED : GetLastError();

        if (hostProcess_ != nullptr) {
            CloseHandle(hostProcess_);
        }
        hostProcess_ = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(hostProcessId));

        if (error == ERROR_PIPE_CONNECTED) {
            handOver();
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
        connectPending_ = true;
        HANDLE waits[2] = {connectEvent_, hostProcess_};
        const DWORD which = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        if (which == WAIT_OBJECT_0) {
            connectPending_ = false;
            handOver();
            continue;
        }
        // The host has ended, or there is no host to watch (WAIT_FAILED): a
        // Broker never lingers without one.
#ifdef _WIN32
        CancelIoEx(pipeInstance_, &connectOverlapped_);
        DWORD ignored = 0;
        GetOverlappedResult(pipeInstance_, &connectOverlapped_, &ignored, TRUE);
        connectPending_ = false;
#endif
        return;
    }
}

void CSendMailConnectionDispatcher::handOver() {
    HANDLE instance = pipeInstance_;
    // From here the instance is the callee's, even if onConnect throws.
    pipeInstance_ = nullptr;
    onConnect(instance, context_);
    ResetEvent(connectEvent_);
}

void CSendMailConnectionDispatcher::dropInstance() {
    DisconnectNamedPipe(pipeInstance_);
    CloseHandle(pipeInstance_);
    pipeInstance_ = nullptr;
}
