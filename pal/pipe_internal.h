// Internal to the POSIX layer: the objects behind pipe handles.
#pragma once

#include <sys/types.h>
#include <sys/un.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "pal/kernel_object.h"
#include "pal/win32.h"

// Completion states kept in OVERLAPPED::Internal, with Windows' values.
constexpr uint32_t kStatusSuccess = 0;
constexpr uint32_t kStatusBufferOverflow = 0x80000005u;   // ERROR_MORE_DATA
constexpr uint32_t kStatusHandlesClosed = 0xC0000206u;    // ERROR_HANDLES_CLOSED
constexpr uint32_t kStatusPipeBroken = 0xC000014Bu;       // ERROR_BROKEN_PIPE
constexpr uint32_t kStatusPipeDisconnected = 0xC00000B0u; // ERROR_PIPE_NOT_CONNECTED
constexpr uint32_t kStatusPipeClosing = 0xC00000B1u;      // ERROR_NO_DATA
constexpr uint32_t kStatusPipeListening = 0xC00000B3u;    // ERROR_PIPE_LISTENING
constexpr uint32_t kStatusNoMemory = 0xC0000017u;         // ERROR_NOT_ENOUGH_MEMORY

DWORD palPipeStatusToError(uint32_t status);

// Records an operation's outcome in its OVERLAPPED, then sets its event.
void palCompleteOverlapped(LPOVERLAPPED overlapped, uint32_t status, DWORD bytes);

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

// One connected stream carrying framed messages. Shared by the handle and by any
// completion thread, so that the descriptor outlives every operation using it.
class PipeChannel {
  public:
    explicit PipeChannel(int fd) : fd_(fd) {}
    PipeChannel(const PipeChannel&) = delete;
    PipeChannel& operator=(const PipeChannel&) = delete;
    ~PipeChannel();

    bool open() { return cancel_.open(0, false); }
    int fd() const { return fd_; }
    int cancelFd() const { return cancel_.fd(); }

    // Ends the stream: pending and later operations fail with `status`.
    void shut(uint32_t status);
    uint32_t shutStatus() const { return shut_.load(std::memory_order_acquire); }

    // Blocking read; returns the completion status.
    uint32_t read(BYTE* buffer, DWORD size, bool messageMode, DWORD& done);
    // True when a read of `size` bytes can finish from what has already arrived.
    bool readReady(DWORD size, bool messageMode);

    // Writers take turns, so that messages never interleave. A turn may pass
    // from the calling thread to a completion thread.
    bool tryBeginWrite();
    void beginWrite();
    void endWrite();
    // Sends one message from `offset` (header bytes included) on; with `dontWait`
    // it stops with STATUS_PENDING where the stream is full.
    uint32_t send(const BYTE* data, DWORD size, size_t& offset, bool dontWait);
    uint32_t peek(BYTE* buffer, DWORD size, DWORD& copied, DWORD& total, DWORD& left);

  private:
    uint32_t fill(BYTE* to, size_t n);  // exactly n bytes of the stream
    bool nextHeader(uint32_t& status);  // starts the next message

    const int fd_;
    EventFd cancel_;
    std::atomic<uint32_t> shut_{0};
    std::mutex readMutex_;
    std::mutex writeMutex_;
    std::condition_variable writeTurn_;
    bool writing_ = false;
    bool inMessage_ = false;
    uint32_t remaining_ = 0;
};

// Decides whether a connecting peer may use the pipe; the default admits only
// the current user.
using PipePeerCheck = std::function<bool(pid_t pid, uid_t uid, gid_t gid)>;

class PipeListener;

// The state shared by a pipe handle and its pending operations.
struct PipeEndState {
    std::mutex mutex;
    bool overlapped = false;
    bool messageRead = false;
    bool server = false;
    enum class Phase { Listening, Connected, Closing, Disconnected } phase = Phase::Listening;
    std::shared_ptr<PipeChannel> channel;
    std::shared_ptr<PipeListener> listener;
    EventFd connectCancel;  // wakes a pending connect when the handle closes
    bool connectPending = false;
    bool closed = false;
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

// Starts a detached thread running `work`; false with the last error set.
bool palStartCompletionThread(std::function<void()> work);
