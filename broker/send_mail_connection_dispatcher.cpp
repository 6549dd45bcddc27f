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

class HandleGuard {
  public:
    explicit HandleGuard(HANDLE handle) : handle_(handle) {}
    ~HandleGuard() { CloseHandle(handle_); }
    HandleGuard(const HandleGuard&) = delete;
    HandleGuard& operator=(const HandleGuard&) = delete;

  private:
    HANDLE handle_;
};

}  // namespace

CSendMailConnectionDispatcher::CSendMailConnectionDispatcher(CBrokerContext* context,
                                                             const KsString& pipeName,
                                                             const KsString& hostProcessIdText,
                                                             PipeSecurity security)
    : context_(context),
      pipeName_(pipeName),
      hostProcessIdText_(hostProcessIdText),
      security_(security) {}

CSendMailConnectionDispatcher::~CSendMailConnectionDispatcher() {
    dropRetiredInstance();
    if (hostProcess_ != nullptr) {
        CloseHandle(hostProcess_);
        hostProcess_ = nullptr;
    }
    if (pipeInstance_ != nullptr) {
        DisconnectNamedPipe(pipeInstance_);
        CloseHandle(pipeInstance_);
        pipeInstance_ = nullptr;
    }
}

void CSendMailConnectionDispatcher::listen() {
    HANDLE connectEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (connectEvent == nullptr) {
        throw CMessageException("Failed to create connection");
    }
    HandleGuard eventGuard(connectEvent);

    SECURITY_ATTRIBUTES attributes;
    std::memset(&attributes, 0, sizeof attributes);
    DescriptorGuard descriptor(security_.release, security_.create(attributes));

    OVERLAPPED overlapped;
    std::memset(&overlapped, 0, sizeof overlapped);
    overlapped.hEvent = connectEvent;

    for (;;) {
        KsString name(pipeName_);
        HANDLE instance = CreateNamedPipeA(name.ansiView(), kOpenMode, kPipeMode,
                                           PIPE_UNLIMITED_INSTANCES, kBufferSize, kBufferSize, 0,
                                           &attributes);
        if (instance == INVALID_HANDLE_VALUE) {
            throw CMessageException("Failed to create connection");
        }
        pipeInstance_ = instance;
        dropRetiredInstance();

        int32_t hostProcessId = 0;
        KsString idText(hostProcessIdText_);
        idText.scan(KsString("%d"), &hostProcessId);

        const BOOL connected = ConnectNamedPipe(pipeInstance_, &overlapped);
        const DWORD error = connected ? ERROR_PIPE_CONNECTED : GetLastError();

        if (hostProcess_ != nullptr) {
            CloseHandle(hostProcess_);
        }
        hostProcess_ = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(hostProcessId));

        if (error == ERROR_PIPE_CONNECTED) {
            handOver(connectEvent);
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
        HANDLE waits[2] = {connectEvent, hostProcess_};
        const DWORD which = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        if (which == WAIT_OBJECT_0) {
            handOver(connectEvent);
            continue;
        }
        // The host has ended, or there is no host to watch (WAIT_FAILED): a
        // Broker never lingers without one. The connect must be over before
        // its record and event go away with this frame.
        CancelIoEx(pipeInstance_, &overlapped);
        DWORD ignored = 0;
        GetOverlappedResult(pipeInstance_, &overlapped, &ignored, TRUE);
        return;
    }
}

void CSendMailConnectionDispatcher::handOver(HANDLE connectEvent) {
    HANDLE instance = pipeInstance_;
    // From here the instance is the callee's, even if onConnect throws.
    pipeInstance_ = nullptr;
    onConnect(instance, context_);
    ResetEvent(connectEvent);
}

void CSendMailConnectionDispatcher::dropInstance() {
    dropRetiredInstance();
    retiredInstance_ = pipeInstance_;
    pipeInstance_ = nullptr;
}

void CSendMailConnectionDispatcher::dropRetiredInstance() {
    if (retiredInstance_ != nullptr) {
        DisconnectNamedPipe(retiredInstance_);
        CloseHandle(retiredInstance_);
        retiredInstance_ = nullptr;
    }
}
