// SPDX-License-Identifier: MIT
// mb_store_bench: what the provider's message store costs, measured from
// outside through dlopen as the Broker loads it. Not a test; it prints:
//
//  1. the request cycle LoadLibrary -> MAPIInitialize -> MAPILogonEx ->
//     Logoff -> MAPIUninitialize -> FreeLibrary: median and 90th percentile;
//  2. filing a message with a large attachment (SubmitMessage: rendered,
//     base64 and all, into the Maildir, with fsync) beside coreutils `base64`
//     of the same file into a file on the same disk, without and with a sync;
//  3. the peak resident size of a process that composes and files messages
//     with attachments of several sizes.
//
//   mb_store_bench [WORKDIR] [CYCLES] [MiB]   defaults: /var/tmp 2000 100
#include <dlfcn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "mapi/mapi.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Api {
    void* library = nullptr;
    LPMAPIINITIALIZE initialize = nullptr;
    LPMAPIUNINITIALIZE uninitialize = nullptr;
    LPMAPILOGONEX logon = nullptr;
    LPMAPIFREEBUFFER freeBuffer = nullptr;

    bool load() {
        library = dlopen(MB_MAPI32_PATH, RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            return false;
        }
        initialize = reinterpret_cast<LPMAPIINITIALIZE>(dlsym(library, "MAPIInitialize"));
        uninitialize = reinterpret_cast<LPMAPIUNINITIALIZE>(dlsym(library, "MAPIUninitialize"));
        logon = reinterpret_cast<LPMAPILOGONEX>(dlsym(library, "MAPILogonEx"));
        freeBuffer = reinterpret_cast<LPMAPIFREEBUFFER>(dlsym(library, "MAPIFreeBuffer"));
        return initialize && uninitialize && logon && freeBuffer;
    }
};

bool fail(const char* what) {
    std::fprintf(stderr, "mb_store_bench: %s failed\n", what);
    return false;
}

// One full cycle; false on any failure.
bool requestCycle() {
    Api api;
    if (!api.load() || api.initialize(nullptr) != S_OK) {
        return fail("load");
    }
    IMAPISession* session = nullptr;
    if (api.logon(0, nullptr, nullptr, 0x63, &session) != S_OK) {
        return fail("logon");
    }
    session->Logoff(0, 0, 0);
    session->Release();
    api.uninitialize();
    return dlclose(api.library) == 0;
}

// Opens the Outbox and creates a message there.
IMessage* newOutboxMessage(Api& api, IMAPISession* session, IMsgStore*& store) {
    IMAPITable* table = nullptr;
    SRowSet* rows = nullptr;
    SizedSPropTagArray(2, columns) = {2, {PR_DEFAULT_STORE, PR_ENTRYID}};
    if (session->GetMsgStoresTable(0, &table) != S_OK ||
        table->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), 0) != S_OK ||
        table->QueryRows(1, 0, &rows) != S_OK || rows->cRows != 1) {
        return nullptr;
    }
    const SBinary& id = rows->aRow[0].lpProps[1].Value.bin;
    HRESULT hr =
        session->OpenMsgStore(0, id.cb, reinterpret_cast<LPENTRYID>(id.lpb), nullptr, 4, &store);
    api.freeBuffer(rows->aRow[0].lpProps);
    api.freeBuffer(rows);
    table->Release();
    if (hr != S_OK) {
        return nullptr;
    }
    SizedSPropTagArray(1, tags) = {1, {PR_IPM_OUTBOX_ENTRYID}};
    ULONG count = 0;
    SPropValue* values = nullptr;
    if (store->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &values) != S_OK) {
        return nullptr;
    }
    IUnknown* unknown = nullptr;
    ULONG type = 0;
    hr = store->OpenEntry(values[0].Value.bin.cb, reinterpret_cast<LPENTRYID>(values[0].Value.bin.lpb),
                          nullptr, MAPI_BEST_ACCESS, &type, &unknown);
    api.freeBuffer(values);
    if (hr != S_OK) {
        return nullptr;
    }
    auto* outbox = static_cast<IMAPIFolder*>(unknown);
    IMessage* message = nullptr;
    hr = outbox->CreateMessage(nullptr, 0, &message);
    outbox->Release();
    return hr == S_OK ? message : nullptr;
}

// Attaches a file through the stream in the Broker's 4 KiB blocks.
bool attachFile(IMessage* message, const std::string& path) {
    ULONG number = 0;
    IAttach* attachment = nullptr;
    if (message->CreateAttach(nullptr, 0, &number, &attachment) != S_OK) {
        return false;
    }
    SPropValue name{};
    name.ulPropTag = PR_ATTACH_FILENAME_A;
    name.Value.lpszA = const_cast<char*>("data.bin");
    attachment->SetProps(1, &name, nullptr);
    IUnknown* unknown = nullptr;
    if (attachment->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IStream, STGM_WRITE,
                                 MAPI_CREATE | MAPI_MODIFY, &unknown) != S_OK) {
        return false;
    }
    auto* stream = static_cast<IStream*>(unknown);
    std::FILE* in = std::fopen(path.c_str(), "rb");
    char block[4096];
    std::size_t got = 0;
    bool ok = in != nullptr;
    while (ok && (got = std::fread(block, 1, sizeof block, in)) > 0) {
        ULONG written = 0;
        ok = stream->Write(block, static_cast<ULONG>(got), &written) == S_OK && written == got;
    }
    if (in != nullptr) {
        std::fclose(in);
    }
    stream->Commit(0);
    stream->Release();
    ok = ok && attachment->SaveChanges(0) == S_OK;
    attachment->Release();
    return ok;
}

// Composes and submits one message with path attached (or none when empty);
// seconds spent in SubmitMessage, or a negative value on failure.
double fileMessage(const std::string& path) {
    Api api;
    IMAPISession* session = nullptr;
    if (!api.load() || api.initialize(nullptr) != S_OK ||
        api.logon(0, nullptr, nullptr, 0x63, &session) != S_OK) {
        return -1;
    }
    IMsgStore* store = nullptr;
    IMessage* message = newOutboxMessage(api, session, store);
    double seconds = -1;
    if (message != nullptr && (path.empty() || attachFile(message, path))) {
        const auto start = Clock::now();
        if (message->SubmitMessage(FORCE_SUBMIT) == S_OK) {
            seconds = secondsSince(start);
        }
    }
    if (message != nullptr) {
        message->Release();
    }
    if (store != nullptr) {
        store->Release();
    }
    session->Logoff(0, 0, 0);
    session->Release();
    api.uninitialize();
    dlclose(api.library);
    return seconds;
}

double runShell(const std::string& command) {
    const auto start = Clock::now();
    if (std::system(command.c_str()) != 0) {
        return -1;
    }
    return secondsSince(start);
}

std::string makeFile(const std::string& dir, std::size_t mib) {
    const std::string path = dir + "/input-" + std::to_string(mib) + ".bin";
    std::ofstream out(path, std::ios::binary);
    std::vector<char> block(1 << 20);
    unsigned state = 12345;
    for (std::size_t m = 0; m < mib; ++m) {
        for (char& c : block) {
            state = state * 1103515245u + 12345u;
            c = static_cast<char>(state >> 24);
        }
        out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
    return path;
}

// Peak resident size (KiB) of a child process that files one message.
long peakRssOfChild(const std::string& path) {
    const pid_t child = fork();
    if (child == 0) {
        _exit(fileMessage(path) >= 0 ? 0 : 1);
    }
    int status = 0;
    struct rusage usage {};
    if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        return -1;
    }
    return usage.ru_maxrss;
}

void clearOutbox(const std::string& data) {
    std::error_code ignored;
    std::filesystem::remove_all(data + "/mailbroker/Default/Outbox/new", ignored);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string base = argc > 1 ? argv[1] : "/var/tmp";
    const int cycles = argc > 2 ? std::atoi(argv[2]) : 2000;
    const std::size_t mib = argc > 3 ? static_cast<std::size_t>(std::atoi(argv[3])) : 100;
    std::string work = base + "/mb_store_bench_XXXXXX";
    if (mkdtemp(work.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    setenv("XDG_CONFIG_HOME", (work + "/config").c_str(), 1);
    setenv("XDG_DATA_HOME", (work + "/data").c_str(), 1);

    std::vector<double> times;
    for (int i = 0; i < cycles; ++i) {
        const auto start = Clock::now();
        if (!requestCycle()) {
            return 1;
        }
        times.push_back(secondsSince(start) * 1e6);
    }
    const double first = times.front();
    std::sort(times.begin(), times.end());
    std::printf("request cycle (load, initialise, logon, logoff, uninitialise, unload), %d runs:\n"
                "  median %.0f us, 90th percentile %.0f us, first %.0f us\n",
                cycles, times[times.size() / 2], times[times.size() * 9 / 10], first);

    const std::string input = makeFile(work, mib);
    const double warm = fileMessage("");  // loads the renderer once, as any first message does
    const double render = fileMessage(input);
    clearOutbox(work + "/data");
    const std::string out = work + "/base64.out";
    const double plain = runShell("base64 '" + input + "' > '" + out + "'");
    const double synced = runShell("base64 '" + input + "' > '" + out + "' && sync '" + out + "'");
    std::printf("filing a message with a %zu MiB attachment (SubmitMessage, fsync included): "
                "%.3f s\n  base64 of the same file: %.3f s, with sync: %.3f s "
                "(ratio to the synced run: %.2f)\n  first message without attachment: %.3f s\n",
                mib, render, plain, synced, render / synced, warm);

    const long empty = peakRssOfChild("");
    std::printf("peak resident size of a process filing one message:\n"
                "  no attachment: %ld KiB\n", empty);
    for (std::size_t size : {std::size_t{10}, mib}) {
        const std::string file = size == mib ? input : makeFile(work, size);
        std::printf("  %zu MiB attachment: %ld KiB\n", size, peakRssOfChild(file));
        clearOutbox(work + "/data");
    }
    std::error_code ignored;
    std::filesystem::remove_all(work, ignored);
    return 0;
}
