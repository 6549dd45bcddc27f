// SPDX-License-Identifier: MIT
// Pipe instances, the listening socket they share, and the client end.
//
// A name has one listening socket from its first instance until its last one
// closes. A client that connects while every instance is busy waits in the
// kernel's queue for the next ConnectNamedPipe; only a full queue refuses it,
// and the client sees ERROR_PIPE_BUSY and retries as WaitNamedPipe does. So a
// client whose CreateFileA succeeded is never dropped because instances came
// and went. When the last instance closes, the name goes (as on Windows), and
// the clients the kernel had queued by then are kept for the name's next
// instance in this process.
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <deque>
#include <map>
#include <new>
#include <vector>

#include "pal/pipe_internal.h"
#include "pal/security_internal.h"

class PipeListener final : public IoSource, public std::enable_shared_from_this<PipeListener> {
  public:
    explicit PipeListener(std::string path) : path_(std::move(path)) {
        check_ = [](pid_t, uid_t uid, gid_t) { return uid == ::geteuid(); };
    }
    ~PipeListener() override {
        closeSocket();
        for (int fd : backlog_) {
            ::close(fd);
        }
    }
    // Replaces the test every connecting peer must pass.
    void setPeerCheck(PipePeerCheck check) {
        std::lock_guard<std::mutex> lock(mutex_);
        check_ = std::move(check);
    }
    // Peers must pass the descriptor. Its verdict on the creator also sets the
    // socket file's owner bits, which CreateFileA reads so that a refused owner
    // fails at once, root included, rather than being dropped after connecting.
    void guard(std::shared_ptr<const std::vector<BYTE>> descriptor) {
        const uid_t owner = ::geteuid();
        const bool ownerAdmitted = palSecurityAdmits(*descriptor, owner, ::getegid(), owner);
        setPeerCheck([descriptor, owner](pid_t, uid_t uid, gid_t gid) {
            return palSecurityAdmits(*descriptor, uid, gid, owner);
        });
        std::lock_guard<std::mutex> lock(mutex_);
        socketMode_ = ownerAdmitted ? 0600 : 0;
    }

    // An instance starts or stops waiting for a client. The socket listens
    // from the first instance on, whether or not one is free.
    bool addFree(DWORD& error) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (socket_ < 0 && !openSocket(error)) {
            return false;
        }
        ++free_;
        return true;
    }
    void removeFree() {
        std::lock_guard<std::mutex> lock(mutex_);
        --free_;
    }

    // Instances whose connect waits, in the order they began waiting.
    bool enqueue(const std::shared_ptr<PipeEndState>& state) {
        std::lock_guard<std::mutex> lock(mutex_);
        try {
            waiting_.push_back(state);
            return true;
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    void forget(const PipeEndState* state) {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = waiting_.begin(); it != waiting_.end(); ++it) {
            std::shared_ptr<PipeEndState> held = it->lock();
            if (!held || held.get() == state) {
                waiting_.erase(it);
                return;
            }
        }
    }

    // Hands waiting clients to waiting connects, oldest first.
    void onReady(uint32_t events) override;

    // One admitted connection, or -1 when none is waiting. A refused peer is
    // closed before anything is read from it.
    int acceptOne() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!backlog_.empty()) {
            int fd = backlog_.front();
            backlog_.pop_front();
            return fd;
        }
        return acceptLocked();
    }

    // `descriptor` (may be null) guards a name that has no instance yet; later
    // instances' descriptors are ignored, as Windows keeps the first one.
    static std::shared_ptr<PipeListener> acquire(
        const std::string& path, DWORD& error,
        std::shared_ptr<const std::vector<BYTE>> descriptor = nullptr);
    static void release(const std::shared_ptr<PipeListener>& listener);

  private:
    int acceptLocked() {
        if (socket_ < 0) {
            return -1;
        }
        for (;;) {
            int fd = ::accept4(socket_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd < 0) {
                if (errno == EINTR || errno == ECONNABORTED) {
                    continue;
                }
                return -1;
            }
            ucred peer{};
            socklen_t length = sizeof peer;
            if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 &&
                check_(peer.pid, peer.uid, peer.gid)) {
                return fd;
            }
            ::close(fd);
        }
    }
    // The last instance has closed: the name goes. Shutting the socket's
    // receiving side first makes the kernel refuse new connects atomically, so
    // that draining the queue cannot miss a client that joins meanwhile.
    // Returns whether clients are kept waiting for a next instance.
    bool stopListening() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (socket_ >= 0) {
            ::shutdown(socket_, SHUT_RD);
            ::unlink(path_.c_str());
            keepBacklog();
            closeSocket();
        }
        return !backlog_.empty();
    }
    // Clients the kernel queued before the last instance closed have already
    // seen their CreateFileA succeed; closing the socket would drop them, so
    // they wait here for the next instance's ConnectNamedPipe.
    void keepBacklog() {
        for (int fd; (fd = acceptLocked()) >= 0;) {
            try {
                backlog_.push_back(fd);
            } catch (const std::bad_alloc&) {
                ::close(fd);
            }
        }
    }
    bool openSocket(DWORD& error) {
        // Bound under a side name, then renamed over the pipe's file in one step,
        // so that a client never finds the file missing.
        std::string temporary = palPipeBindName(path_);
        ::unlink(temporary.c_str());
        sockaddr_un address;
        if (!palPipeAddress(path_, address) || !palPipeAddress(temporary, address)) {
            error = ERROR_INVALID_NAME;
            return false;
        }
        IoReactor* reactor = IoReactor::get();
        if (reactor == nullptr) {
            error = GetLastError();
            return false;
        }
        int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            error = palErrorFromErrno(errno);
            if (fd >= 0) {
                ::close(fd);
            }
            return false;
        }
        if ((socketMode_ >= 0 && ::chmod(temporary.c_str(), static_cast<mode_t>(socketMode_)) != 0) ||
            ::listen(fd, SOMAXCONN) != 0 || ::rename(temporary.c_str(), path_.c_str()) != 0) {
            error = palErrorFromErrno(errno);
            ::unlink(temporary.c_str());
            ::close(fd);
            return false;
        }
        key_ = reactor->add(fd, EPOLLIN | EPOLLET, weak_from_this());
        if (key_ == 0) {
            error = GetLastError();
            ::close(fd);
            return false;
        }
        socket_ = fd;
        return true;
    }
    void closeSocket() {
        if (socket_ >= 0) {
            IoReactor::get()->remove(key_, socket_);
            ::close(socket_);
            socket_ = -1;
            key_ = 0;
        }
    }

    const std::string path_;
    std::mutex mutex_;  // taken after an instance's own mutex, never before
    int free_ = 0;
    int instances_ = 0;
    int socket_ = -1;
    uint64_t key_ = 0;
    PipePeerCheck check_;
    int socketMode_ = -1;  // left as bind made it until a descriptor guards the name
    std::deque<std::weak_ptr<PipeEndState>> waiting_;
    std::deque<int> backlog_;  // admitted clients kept while the name has no instance

    // Never destroyed: instances may be released during exit.
    static std::mutex& registryMutex() {
        static auto* mutex = new std::mutex;
        return *mutex;
    }
    static std::map<std::string, std::shared_ptr<PipeListener>>& registry() {
        static auto* names = new std::map<std::string, std::shared_ptr<PipeListener>>;
        return *names;
    }
};

std::shared_ptr<PipeListener> PipeListener::acquire(
    const std::string& path, DWORD& error, std::shared_ptr<const std::vector<BYTE>> descriptor) {
    std::lock_guard<std::mutex> lock(registryMutex());
    auto& names = registry();
    auto found = names.find(path);
    if (found != names.end()) {
        ++found->second->instances_;
        return found->second;
    }
    // A name another process serves cannot gain instances here. A socket file
    // nobody listens on is left over from a process that has ended.
    if (palPipeIsListening(path)) {
        error = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    auto listener = std::make_shared<PipeListener>(path);
    if (descriptor) {
        listener->guard(std::move(descriptor));
    }
    listener->instances_ = 1;
    names.emplace(path, listener);
    return listener;
}

void PipeListener::release(const std::shared_ptr<PipeListener>& listener) {
    std::lock_guard<std::mutex> lock(registryMutex());
    if (--listener->instances_ == 0 && !listener->stopListening()) {
        registry().erase(listener->path_);
    }
}

namespace {

bool peerHasGone(int fd) {
    pollfd p{fd, POLLRDHUP, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP)) != 0;
}

// Takes a waiting client for a listening instance; call with the state locked.
// Returns false when no client waits.
bool takeClient(PipeEndState& state) {
    int fd = state.listener->acceptOne();
    if (fd < 0) {
        return false;
    }
    state.listener->removeFree();
    // A client that has come and gone leaves the instance closing, as on Windows.
    if (!peerHasGone(fd)) {
        state.channel = PipeChannel::create(fd);
        if (state.channel) {
            state.phase = PipeEndState::Phase::Connected;
            return true;
        }
    } else {
        ::close(fd);
    }
    state.phase = PipeEndState::Phase::Closing;
    return true;
}

}  // namespace

void palEndConnect(PipeEndState& state, uint32_t status) {
    PipeOpPtr op = std::move(state.connectOp);
    state.listener->forget(&state);
    op->status = status;
    op->finished = true;
    if (op->overlapped != nullptr) {
        palCompleteOverlapped(op->overlapped, status, 0, op->event.get());
    }
    state.connected.notify_all();
}

void PipeListener::onReady(uint32_t /*events*/) {
    for (;;) {
        std::shared_ptr<PipeEndState> state;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            while (!waiting_.empty() && !(state = waiting_.front().lock())) {
                waiting_.pop_front();
            }
        }
        if (!state) {
            return;  // clients wait in the backlog for the next ConnectNamedPipe
        }
        std::lock_guard<std::mutex> lock(state->mutex);
        if (!state->connectOp) {
            forget(state.get());
        } else if (takeClient(*state)) {
            palEndConnect(*state, kStatusSuccess);
        } else {
            return;
        }
    }
}

PipeEnd::~PipeEnd() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (state_->connectOp) {
        palEndConnect(*state_, kStatusHandlesClosed);
    }
    if (state_->channel) {
        state_->channel->shut(kStatusPipeBroken);
        state_->channel.reset();
    }
    if (state_->server) {
        if (state_->phase == PipeEndState::Phase::Listening) {
            state_->listener->removeFree();
        }
        PipeListener::release(state_->listener);
    }
    state_->phase = PipeEndState::Phase::Disconnected;
}

HANDLE CreateNamedPipeA(LPCSTR name, DWORD openMode, DWORD pipeMode, DWORD maxInstances,
                        DWORD /*outBufferSize*/, DWORD /*inBufferSize*/, DWORD /*defaultTimeOut*/,
                        LPSECURITY_ATTRIBUTES securityAttributes) {
    DWORD access = openMode & PIPE_ACCESS_DUPLEX;
    if (access == 0 || (openMode & ~(PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED)) != 0 ||
        (pipeMode & ~(PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_REJECT_REMOTE_CLIENTS)) !=
            0 ||
        ((pipeMode & PIPE_READMODE_MESSAGE) != 0 && (pipeMode & PIPE_TYPE_MESSAGE) == 0) ||
        maxInstances == 0 || maxInstances > PIPE_UNLIMITED_INSTANCES) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string path;
    DWORD error = ERROR_SUCCESS;
    if (!palPipeSocketPath(name, path, error)) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    PSECURITY_DESCRIPTOR given =
        securityAttributes != nullptr ? securityAttributes->lpSecurityDescriptor : nullptr;
    const size_t descriptorLength = given != nullptr ? palSecurityDescriptorLength(given) : 0;
    if (given != nullptr && descriptorLength == 0) {
        SetLastError(ERROR_INVALID_SECURITY_DESCR);
        return INVALID_HANDLE_VALUE;
    }
    try {
        // A copy: the caller may free its descriptor once the call returns.
        std::shared_ptr<const std::vector<BYTE>> descriptor;
        if (given != nullptr) {
            const BYTE* bytes = static_cast<const BYTE*>(given);
            descriptor = std::make_shared<const std::vector<BYTE>>(bytes, bytes + descriptorLength);
        }
        auto state = std::make_shared<PipeEndState>();
        state->server = true;
        state->overlapped = (openMode & FILE_FLAG_OVERLAPPED) != 0;
        state->messageRead = (pipeMode & PIPE_READMODE_MESSAGE) != 0;
        state->listener = PipeListener::acquire(path, error, std::move(descriptor));
        if (!state->listener) {
            SetLastError(error);
            return INVALID_HANDLE_VALUE;
        }
        if (!state->listener->addFree(error)) {
            PipeListener::release(state->listener);
            SetLastError(error);
            return INVALID_HANDLE_VALUE;
        }
        // From here the handle's destructor undoes the registration.
        auto end = std::make_shared<PipeEnd>(std::move(state));
        HANDLE handle = palInsertHandle(std::move(end));
        return handle != nullptr ? handle : INVALID_HANDLE_VALUE;
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
}

BOOL ConnectNamedPipe(HANDLE pipe, LPOVERLAPPED overlapped) {
    std::shared_ptr<PipeEnd> end = palLookupHandleAs<PipeEnd>(pipe);
    if (!end) {
        return FALSE;
    }
    std::shared_ptr<PipeEndState> state = end->state();
    end.reset();
    std::unique_lock<std::mutex> lock(state->mutex);
    if (!state->server) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    if (state->connectOp) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    switch (state->phase) {
        case PipeEndState::Phase::Connected:
            SetLastError(ERROR_PIPE_CONNECTED);
            return FALSE;
        case PipeEndState::Phase::Closing:
            SetLastError(ERROR_NO_DATA);
            return FALSE;
        case PipeEndState::Phase::Disconnected: {
            DWORD error = ERROR_SUCCESS;
            if (!state->listener->addFree(error)) {
                SetLastError(error);
                return FALSE;
            }
            state->phase = PipeEndState::Phase::Listening;
            break;
        }
        case PipeEndState::Phase::Listening:
            break;
    }
    // In the queue before the look at the backlog: a client that arrives in
    // between wakes the I/O thread, which then finds this instance waiting.
    if (!state->listener->enqueue(state)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    if (takeClient(*state)) {
        state->listener->forget(state.get());
        bool connected = state->phase == PipeEndState::Phase::Connected;
        SetLastError(connected ? ERROR_PIPE_CONNECTED : ERROR_NO_DATA);
        return FALSE;
    }
    PipeOpPtr op;
    try {
        op = std::make_shared<PipeOp>();
    } catch (const std::bad_alloc&) {
        state->listener->forget(state.get());
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    op->issuer = std::this_thread::get_id();
    state->connectOp = op;
    if (overlapped == nullptr || !state->overlapped) {
        state->connected.wait(lock, [&] { return op->finished; });
        if (overlapped != nullptr) {
            palCompleteOverlapped(overlapped, op->status, 0, palStartOverlapped(overlapped).get());
        }
        if (op->status != kStatusSuccess) {
            SetLastError(palPipeStatusToError(op->status));
            return FALSE;
        }
        return TRUE;
    }
    op->event = palStartOverlapped(overlapped);
    op->overlapped = overlapped;
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}

BOOL DisconnectNamedPipe(HANDLE pipe) {
    std::shared_ptr<PipeEnd> end = palLookupHandleAs<PipeEnd>(pipe);
    if (!end) {
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(end->state()->mutex);
    PipeEndState& state = *end->state();
    if (!state.server) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    if (state.connectOp) {
        palEndConnect(state, kStatusPipeDisconnected);
    }
    if (state.channel) {
        state.channel->shut(kStatusPipeDisconnected);
        state.channel.reset();
    }
    if (state.phase == PipeEndState::Phase::Listening) {
        state.listener->removeFree();
    }
    state.phase = PipeEndState::Phase::Disconnected;
    return TRUE;
}
