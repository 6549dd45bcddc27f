// SPDX-License-Identifier: MIT
// Internal to the POSIX layer: the objects behind pipe handles.
#pragma once

#include <sys/types.h>
#include <sys/un.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "pal/kernel_object.h"
#include "pal/pipe_reactor.h"
#include "pal/win32.h"

// Completion states kept in OVERLAPPED::Internal, with Windows' values.
constexpr uint32_t kStatusSuccess = 0;
constexpr uint32_t kStatusBufferOverflow = 0x80000005u;   // ERROR_MORE_DATA
constexpr uint32_t kStatusHandlesClosed = 0xC0000206u;    // ERROR_HANDLES_CLOSED
constexpr uint32_t kStatusPipeBroken = 0xC000014Bu;       // ERROR_BROKEN_PIPE
constexpr uint32_t kStatusPipeDisconnected = 0xC00000B0u; // ERROR_PIPE_NOT_CONNECTED
constexpr uint32_t kStatusPipeClosing = 0xC00000B1u;      // ERROR_NO_DATA
constexpr uint32_t kStatusPipeListening = 0xC00000B3u;    // ERROR_PIPE_LISTENING
constexpr uint32_t kStatusInvalidPipeState = 0xC00000ADu; // ERROR_BAD_PIPE
constexpr uint32_t kStatusNoMemory = 0xC0000017u;         // ERROR_NOT_ENOUGH_MEMORY
constexpr uint32_t kStatusCancelled = 0xC0000120u;        // ERROR_OPERATION_ABORTED

// The largest message the wire carries; a longer length prefix is garbage.
constexpr uint32_t kMaxMessage = 0x80000000u;

DWORD palPipeStatusToError(uint32_t status);

inline uint32_t palLoadLe32(const BYTE* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// Marks an OVERLAPPED pending and resets its event; returns that event.
std::shared_ptr<KernelObject> palStartOverlapped(LPOVERLAPPED overlapped);
// Records an operation's outcome in its OVERLAPPED, then sets `event`.
void palCompleteOverlapped(LPOVERLAPPED overlapped, uint32_t status, DWORD bytes,
                           KernelObject* event);

// The socket path for a pipe path "\\.\pipe\NAME"; creates the directory.
// ERROR_INVALID_NAME, ERROR_INVALID_PARAMETER or ERROR_ACCESS_DENIED on failure.
bool palPipeSocketPath(const char* pipePath, std::string& socketPath, DWORD& error);
// The socket file name for NAME (no directory).
std::string palPipeFileName(const std::string& name);
bool palIsPipePath(const char* path);
// Fills a socket address; false when the path does not fit.
bool palPipeAddress(const std::string& path, struct sockaddr_un& address);
// The side name a listening socket is bound to before it is renamed into place.
std::string palPipeBindName(const std::string& path);
// True when some socket listens on the pipe's socket path.
bool palPipeIsListening(const std::string& path);

// One read, write or connect. Started on the caller's thread, and finished
// there when it can be; otherwise it waits in a queue for the I/O thread.
struct PipeOp final : IoHelper {
    LPOVERLAPPED overlapped = nullptr;  // null: a synchronous caller waits for it
    std::shared_ptr<KernelObject> event;  // the record's event when it started
    std::thread::id issuer;
    bool write = false;
    bool messageMode = true;
    BYTE* buffer = nullptr;  // read target, or write source
    DWORD size = 0;
    DWORD done = 0;     // the count the operation reports
    size_t offset = 0;  // bytes of a write sent so far, length prefix included
    std::vector<BYTE> own;  // a copy of a started write whose caller cancelled it
    bool detached = false;  // its caller has been answered already
    bool finished = false;
    uint32_t status = 0;
    // Set once queued; guarded by that channel's mutex.
    std::weak_ptr<class PipeChannel> channel;
    int helpers = 0;  // waiting threads driving it themselves

    // Whether a cancel request matches; a null record means every operation.
    bool matches(LPOVERLAPPED record, bool anyThread) const;
    bool helpFd(int& fd, short& events) override;
    void help() override;
    void beginHelp() override;
    void endHelp() override;
};
using PipeOpPtr = std::shared_ptr<PipeOp>;

// One connected stream carrying framed messages, driven by the I/O thread.
// Every field is guarded by mutex_; nothing here blocks while holding it.
class PipeChannel final : public IoSource, public std::enable_shared_from_this<PipeChannel> {
  public:
    // Takes the descriptor (closed on failure); null with the last error set.
    static std::shared_ptr<PipeChannel> create(int fd);
    explicit PipeChannel(int fd) : fd_(fd) {}
    PipeChannel(const PipeChannel&) = delete;
    PipeChannel& operator=(const PipeChannel&) = delete;
    ~PipeChannel() override;

    void onReady(uint32_t events) override;
    int fd() const { return fd_; }
    // A waiter starts or stops driving `op` itself (see IoHelper).
    void helping(PipeOp& op, bool begin);

    // Finishes `op` at once when it can and returns its status. Otherwise an
    // overlapped operation is queued (STATUS_PENDING) and a synchronous one is
    // waited for.
    uint32_t read(PipeOp& op);
    uint32_t write(PipeOp& op);
    // Ends matching queued operations with kStatusCancelled; returns how many.
    size_t cancel(LPOVERLAPPED record, bool anyThread);
    // Ends the stream: queued and later operations fail with `status`.
    void shut(uint32_t status);
    uint32_t peek(BYTE* buffer, DWORD size, DWORD& copied, DWORD& total, DWORD& left);
    // Waits until the peer has taken everything written.
    uint32_t flush();

  private:
    uint32_t progressRead(PipeOp& op);
    ssize_t recvAhead();
    uint32_t progressWrite(PipeOp& op);
    void pumpReads();
    void pumpWrites();
    void finish(PipeOp& op, uint32_t status);
    uint32_t queue(std::deque<PipeOpPtr>& ops, PipeOp& op, std::unique_lock<std::mutex>& lock);
    bool peerGone() const;
    void arm(bool disarm = false);

    const int fd_;
    uint64_t key_ = 0;
    std::mutex mutex_;
    uint32_t armed_ = 0;  // what the I/O thread watches for; it fires once
    std::condition_variable finished_;  // synchronous callers wait on it
    uint32_t shut_ = 0;
    bool readBroken_ = false;
    // Stream bytes taken off the socket ahead of the reader, so that a burst of
    // small messages costs one recv; a cancelled read gives its bytes back here.
    std::vector<BYTE> ahead_;
    size_t aheadAt_ = 0;
    size_t aheadEnd_ = 0;
    bool inMessage_ = false;
    uint32_t remaining_ = 0;  // of the message being read, bytes in ahead_ included
    std::deque<PipeOpPtr> reads_;
    std::deque<PipeOpPtr> writes_;
};

// Decides whether a connecting peer may use the pipe; the default admits only
// the current user.
using PipePeerCheck = std::function<bool(pid_t pid, uid_t uid, gid_t gid)>;

class PipeListener;

// The state shared by a pipe handle and its pending operations.
struct PipeEndState {
    std::mutex mutex;
    std::condition_variable connected;  // a synchronous connect waits on it
    bool overlapped = false;
    bool messageRead = false;
    bool server = false;
    enum class Phase { Listening, Connected, Closing, Disconnected } phase = Phase::Listening;
    std::shared_ptr<PipeChannel> channel;
    std::shared_ptr<PipeListener> listener;
    PipeOpPtr connectOp;  // a connect waiting for a client
};

// A pipe handle: closing its last handle cancels what is pending on it.
class PipeEnd final : public KernelObject {
  public:
    explicit PipeEnd(std::shared_ptr<PipeEndState> state) : state_(std::move(state)) {}
    ~PipeEnd() override;
    const std::shared_ptr<PipeEndState>& state() const { return state_; }

  private:
    std::shared_ptr<PipeEndState> state_;
};

// Ends a server instance's pending connect with `status`; call with its state locked.
void palEndConnect(PipeEndState& state, uint32_t status);
