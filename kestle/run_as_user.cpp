#include "kestle/run_as_user.h"

#include <utility>
#include <vector>

namespace kestle {
namespace {

// Owns a token, process or thread handle and closes it through the platform
// table, so tests see exactly which handles are given back and when.
class PlatformHandle {
  public:
    explicit PlatformHandle(const RunPlatform& platform) noexcept : platform_(platform) {}
    PlatformHandle(const PlatformHandle&) = delete;
    PlatformHandle& operator=(const PlatformHandle&) = delete;
    ~PlatformHandle() { reset(); }
    HANDLE get() const noexcept { return handle_; }
    HANDLE* put() noexcept {
        reset();
        return &handle_;
    }
    void reset() noexcept {
        if (HANDLE h = std::exchange(handle_, nullptr)) platform_.close_handle(h);
    }

  private:
    const RunPlatform& platform_;
    HANDLE handle_ = nullptr;
};

}  // namespace

const RunPlatform& windows_run_platform() {
    static const RunPlatform platform = {
        &::RevertToSelf,          &::LogonUserA, &::GetStartupInfoA, &::CreateProcessAsUserA,
        &::WaitForSingleObject,   &::GetLastError, &::CloseHandle,
    };
    return platform;
}

int32_t run_as_user(const RunPlatform& p, const std::string& user, const std::string& password,
                    const std::string& domain, const std::string& command_line) {
    // The logon and the start are done with the process's own rights, not
    // those of whoever the page's thread impersonates.
    if (!p.revert_to_self()) return static_cast<int32_t>(p.get_last_error());

    PlatformHandle token(p);
    if (!p.logon_user(user.c_str(), domain.c_str(), password.c_str(), LOGON32_LOGON_INTERACTIVE,
                      LOGON32_PROVIDER_DEFAULT, token.put()))
        return static_cast<int32_t>(p.get_last_error());

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    p.get_startup_info(&startup);

    // CreateProcess may write into the command line, so it gets its own copy.
    std::vector<char> line(command_line.begin(), command_line.end());
    line.push_back('\0');
    PROCESS_INFORMATION started = {};
    if (!p.create_process_as_user(token.get(), nullptr, line.data(), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS,
                                  nullptr, nullptr, &startup, &started))
        return static_cast<int32_t>(p.get_last_error());
    PlatformHandle process(p);
    *process.put() = started.hProcess;
    PlatformHandle thread(p);
    *thread.put() = started.hThread;

    // Whether the program ended or is still running makes no difference.
    p.wait_for_single_object(process.get(), run_wait_milliseconds);
    thread.reset();
    process.reset();
    token.reset();

    if (!p.revert_to_self()) return static_cast<int32_t>(p.get_last_error());
    return 0;
}

}  // namespace kestle
