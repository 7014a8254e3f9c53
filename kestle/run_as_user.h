// Starting a program under another Windows account: drop the thread's
// impersonation, log the user on, start the command line with the logon
// token, give it up to ten seconds, and drop impersonation again.
//
// The Windows calls go through a table of function pointers so that the
// order of the calls and every failure path can be exercised by tests on a
// machine where another account cannot really be used.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace kestle {

struct RunPlatform {
    BOOL(WINAPI* revert_to_self)();
    BOOL(WINAPI* logon_user)(LPCSTR user, LPCSTR domain, LPCSTR password, DWORD type, DWORD provider,
                             PHANDLE token);
    void(WINAPI* get_startup_info)(LPSTARTUPINFOA info);
    BOOL(WINAPI* create_process_as_user)(HANDLE token, LPCSTR application, LPSTR command_line,
                                         LPSECURITY_ATTRIBUTES process_attributes,
                                         LPSECURITY_ATTRIBUTES thread_attributes, BOOL inherit, DWORD flags,
                                         LPVOID environment, LPCSTR directory, LPSTARTUPINFOA startup,
                                         LPPROCESS_INFORMATION process);
    DWORD(WINAPI* wait_for_single_object)(HANDLE handle, DWORD milliseconds);
    DWORD(WINAPI* get_last_error)();
    BOOL(WINAPI* close_handle)(HANDLE handle);
};

// The real Windows functions.
const RunPlatform& windows_run_platform();

// How long the new process is given before the call returns; it keeps
// running if it needs longer.
constexpr DWORD run_wait_milliseconds = 10000;

// 0 when every step succeeded, otherwise the Windows error code of the step
// that failed (the later steps are skipped). The token and the process and
// thread handles are closed once the wait is over.
int32_t run_as_user(const RunPlatform& platform, const std::string& user, const std::string& password,
                    const std::string& domain, const std::string& command_line);

}  // namespace kestle
