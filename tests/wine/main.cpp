// SPDX-License-Identifier: MIT
// Test entry point for the Windows build: GoogleTest's own main, plus a crash
// report. Without it Wine hands a fault to its debugger and the process can end
// with exit code 0, which would read as a pass.
#include <gtest/gtest.h>

#include <cstdio>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace {

LONG WINAPI ReportCrash(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    void* address = record->ExceptionAddress;
    char module[MAX_PATH] = "?";
    HMODULE owner = nullptr;
    if (GetModuleHandleExA(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            static_cast<LPCSTR>(address), &owner)) {
        GetModuleFileNameA(owner, module, MAX_PATH);
    }
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::fprintf(stderr, "\n[  CRASHED ] %s.%s: exception 0x%08lX at %p in %s\n",
                 test ? test->test_suite_name() : "(no test)", test ? test->name() : "",
                 static_cast<unsigned long>(record->ExceptionCode), address, module);
    std::fflush(stdout);
    std::fflush(stderr);
    // Ends the process now, with the exception code as its exit code.
    TerminateProcess(GetCurrentProcess(), record->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

int main(int argc, char** argv) {
    // No error dialogs: the run is unattended.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(ReportCrash);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
