// SPDX-License-Identifier: MIT
#include "broker/command_line.h"

bool parseBrokerCommandLine(const KsString& commandLine, BrokerCommandLine& out) {
    static const KsString kIpc(" --ipc=");
    static const KsString kProc(" --proc=");
    constexpr uint64_t kIpcLength = 7;
    constexpr uint64_t kProcLength = 8;

    KsString line(commandLine);
    const uint64_t ipc = line.find(kIpc, 0);
    if (ipc == KsString::npos) {
        return false;
    }
    const uint64_t proc = line.find(kProc, ipc + kIpcLength);
    if (proc == KsString::npos) {
        return false;
    }
    out.pipeName = line.substring(ipc + kIpcLength, proc - ipc - kIpcLength);
    out.hostProcessIdText = line.substring(proc + kProcLength, KsString::npos);
    return true;
}
