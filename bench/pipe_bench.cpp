// SPDX-License-Identifier: MIT
// Round-trip latency of one request and its reply as a Broker channel moves
// them: five 4-byte header messages and a payload each way. The pipe case
// echoes through our named pipes with overlapped I/O done as the channel does
// it (a fresh event per transfer, waited on beside an interrupt event); the raw
// case moves the same framed bytes over a connected Unix stream socket pair
// with plain read and write. Each case reports the median of its round trips;
// the program ends with both medians and their ratio.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "codec/frame.h"
#include "pal/win32.h"

namespace {

constexpr DWORD kPayload = 46;  // the length of broker_bench's request
constexpr DWORD kWord = codec::kFrameWordBytes;

using Clock = std::chrono::steady_clock;

// The value below which `fraction` of the samples lie.
double quantile(std::vector<double> samples, double fraction) {
    if (samples.empty()) {
        return 0;
    }
    size_t at = std::min(samples.size() - 1, static_cast<size_t>(fraction * samples.size()));
    std::nth_element(samples.begin(), samples.begin() + static_cast<ptrdiff_t>(at), samples.end());
    return samples[at];
}

void report(benchmark::State& state, const std::vector<double>& samples, double& median) {
    median = quantile(samples, 0.5);
    state.counters["median_us"] = median;
    state.counters["p90_us"] = quantile(samples, 0.9);
    state.counters["p99_us"] = quantile(samples, 0.99);
}

double gPipeMedianUs = 0;
double gRawMedianUs = 0;

// ---- Our pipe layer --------------------------------------------------------

// One transfer the way the channel does it; false when the pipe has ended.
bool channelTransfer(HANDLE pipe, HANDLE interrupt, bool write, void* data, DWORD size) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) {
        return false;
    }
    OVERLAPPED ov{};
    ov.hEvent = event;
    DWORD n = 0;
    BOOL ok = write ? WriteFile(pipe, data, size, &n, &ov) : ReadFile(pipe, data, size, &n, &ov);
    if (!ok && GetLastError() == ERROR_IO_PENDING) {
        HANDLE waits[2] = {event, interrupt};
        if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0) {
            ok = GetOverlappedResult(pipe, &ov, &n, TRUE);
        } else {
            CancelIoEx(pipe, &ov);
            GetOverlappedResult(pipe, &ov, &n, TRUE);
        }
    }
    CloseHandle(event);
    return ok != FALSE;
}

void echoServer(HANDLE pipe, HANDLE interrupt) {
    for (;;) {
        codec::FrameBytes header{};
        BYTE payload[4096];
        for (size_t at = 0; at < header.size(); at += kWord) {
            if (!channelTransfer(pipe, interrupt, false, header.data() + at, kWord)) {
                return;
            }
        }
        const codec::FrameHeader fields =
            codec::decodeFrameHeader(header.data(), header.size()).header;
        DWORD length = std::min<DWORD>(fields.length, sizeof payload);
        if (!channelTransfer(pipe, interrupt, false, payload, length)) {
            return;
        }
        for (size_t at = 0; at < header.size(); at += kWord) {
            if (!channelTransfer(pipe, interrupt, true, header.data() + at, kWord)) {
                return;
            }
        }
        if (!channelTransfer(pipe, interrupt, true, payload, length)) {
            return;
        }
    }
}

void BM_PipeEcho(benchmark::State& state) {
    std::string path = "\\\\.\\pipe\\mbbench-echo-" + std::to_string(GetCurrentProcessId());
    HANDLE server = CreateNamedPipeA(path.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                     PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                     PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
    HANDLE interrupt = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE client = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    DWORD mode = PIPE_READMODE_MESSAGE;
    if (server == INVALID_HANDLE_VALUE || client == INVALID_HANDLE_VALUE || interrupt == nullptr ||
        !SetNamedPipeHandleState(client, &mode, nullptr, nullptr) ||
        ConnectNamedPipe(server, nullptr) || GetLastError() != ERROR_PIPE_CONNECTED) {
        state.SkipWithError("pipe set-up failed");
        return;
    }
    std::thread echo(echoServer, server, interrupt);

    codec::FrameHeader header;
    header.processId = GetCurrentProcessId();
    header.length = kPayload;
    std::vector<BYTE> payload(kPayload, 'q');
    std::vector<BYTE> back(kPayload);
    std::vector<double> samples;
    bool failed = false;
    for (auto _ : state) {
        auto start = Clock::now();
        DWORD n = 0;
        ++header.messageId;
        const codec::FrameBytes sent = codec::encodeFrameHeader(header);
        for (size_t at = 0; at < sent.size(); at += kWord) {
            failed |= !WriteFile(client, sent.data() + at, kWord, &n, nullptr);
        }
        failed |= !WriteFile(client, payload.data(), kPayload, &n, nullptr);
        codec::FrameBytes reply{};
        for (size_t at = 0; at < reply.size(); at += kWord) {
            failed |= !ReadFile(client, reply.data() + at, kWord, &n, nullptr) || n != kWord;
        }
        failed |= !ReadFile(client, back.data(), kPayload, &n, nullptr) || n != kPayload;
        samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        failed |= reply != sent || back != payload;
        if (failed) {
            break;
        }
    }
    CloseHandle(client);
    echo.join();
    CloseHandle(server);
    CloseHandle(interrupt);
    if (failed) {
        state.SkipWithError("echo did not come back intact");
        return;
    }
    report(state, samples, gPipeMedianUs);
}

// ---- Raw socket ------------------------------------------------------------

bool readAll(int fd, void* to, size_t n) {
    auto* p = static_cast<BYTE*>(to);
    while (n > 0) {
        ssize_t got = ::read(fd, p, n);
        if (got <= 0) {
            return false;
        }
        p += got;
        n -= static_cast<size_t>(got);
    }
    return true;
}

// One framed message: its 4-byte length and its bytes, in one write.
bool writeFrame(int fd, const void* data, uint32_t size) {
    BYTE frame[4 + 4096];
    std::memcpy(frame, &size, 4);
    std::memcpy(frame + 4, data, size);
    return ::write(fd, frame, 4 + size) == static_cast<ssize_t>(4 + size);
}

bool readFrame(int fd, void* data, uint32_t capacity, uint32_t& size) {
    return readAll(fd, &size, 4) && size <= capacity && readAll(fd, data, size);
}

void rawEchoServer(int fd) {
    for (;;) {
        codec::FrameBytes header{};
        BYTE payload[4096];
        uint32_t n = 0, length = 0;
        for (size_t at = 0; at < header.size(); at += kWord) {
            if (!readFrame(fd, header.data() + at, kWord, n)) {
                return;
            }
        }
        if (!readFrame(fd, payload, sizeof payload, length)) {
            return;
        }
        for (size_t at = 0; at < header.size(); at += kWord) {
            if (!writeFrame(fd, header.data() + at, kWord)) {
                return;
            }
        }
        if (!writeFrame(fd, payload, length)) {
            return;
        }
    }
}

void BM_RawSocketEcho(benchmark::State& state) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        state.SkipWithError("socketpair failed");
        return;
    }
    std::thread echo(rawEchoServer, fds[1]);
    codec::FrameHeader header;
    header.processId = GetCurrentProcessId();
    header.length = kPayload;
    std::vector<BYTE> payload(kPayload, 'q');
    std::vector<BYTE> back(kPayload);
    std::vector<double> samples;
    bool failed = false;
    for (auto _ : state) {
        auto start = Clock::now();
        ++header.messageId;
        const codec::FrameBytes sent = codec::encodeFrameHeader(header);
        for (size_t at = 0; at < sent.size(); at += kWord) {
            failed |= !writeFrame(fds[0], sent.data() + at, kWord);
        }
        failed |= !writeFrame(fds[0], payload.data(), kPayload);
        codec::FrameBytes reply{};
        uint32_t n = 0;
        for (size_t at = 0; at < reply.size(); at += kWord) {
            failed |= !readFrame(fds[0], reply.data() + at, kWord, n);
        }
        failed |= !readFrame(fds[0], back.data(), kPayload, n) || n != kPayload;
        samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        failed |= reply != sent || back != payload;
        if (failed) {
            break;
        }
    }
    ::shutdown(fds[0], SHUT_RDWR);
    echo.join();
    ::close(fds[0]);
    ::close(fds[1]);
    if (failed) {
        state.SkipWithError("echo did not come back intact");
        return;
    }
    report(state, samples, gRawMedianUs);
}

BENCHMARK(BM_PipeEcho)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_RawSocketEcho)->UseRealTime()->MinTime(1.0);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (gPipeMedianUs > 0 && gRawMedianUs > 0) {
        std::printf("median round trip: pipe layer %.2f us, raw socket %.2f us, ratio %.2f\n",
                    gPipeMedianUs, gRawMedianUs, gPipeMedianUs / gRawMedianUs);
    }
    return 0;
}
