// The run-as-user launcher: the order of the Windows calls and every failure
// path through a recording platform table, then Run as Wine really answers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kestle/kestle_idl.h"
#include "kestle/run_as_user.h"
#include "support/com_test.h"

using namespace kestle;
using namespace qk_test;

namespace {

// What the recording platform did and should answer; one test at a time.
struct Script {
    std::vector<std::string> calls;
    int revert_calls = 0;
    int fail_revert_at = 0;  // 1 or 2: that RevertToSelf fails
    bool fail_logon = false;
    bool fail_create = false;
    DWORD error = 0;
    std::string command_seen;
    bool command_writable = false;
};
Script* script = nullptr;

HANDLE const fake_token = reinterpret_cast<HANDLE>(0x7001);
HANDLE const fake_process = reinterpret_cast<HANDLE>(0x7002);
HANDLE const fake_thread = reinterpret_cast<HANDLE>(0x7003);

std::string handle_name(HANDLE h) {
    return h == fake_token ? "token" : h == fake_process ? "process" : h == fake_thread ? "thread" : "?";
}

BOOL WINAPI fake_revert() {
    const int n = ++script->revert_calls;
    script->calls.push_back("RevertToSelf");
    if (n == script->fail_revert_at) {
        script->error = 1000 + n;
        return FALSE;
    }
    return TRUE;
}
BOOL WINAPI fake_logon(LPCSTR user, LPCSTR domain, LPCSTR password, DWORD type, DWORD provider, PHANDLE token) {
    script->calls.push_back(std::string("LogonUserA ") + (user ? user : "<null>") + "|" + (domain ? domain : "<null>") +
                            "|" + (password ? password : "<null>") + "|" + std::to_string(type) + "|" +
                            std::to_string(provider));
    if (script->fail_logon) {
        script->error = ERROR_LOGON_FAILURE;
        return FALSE;
    }
    *token = fake_token;
    return TRUE;
}
void WINAPI fake_startup(LPSTARTUPINFOA info) {
    script->calls.push_back("GetStartupInfoA");
    info->cb = sizeof *info;
    info->lpTitle = const_cast<LPSTR>("inherited");
}
BOOL WINAPI fake_create(HANDLE token, LPCSTR app, LPSTR line, LPSECURITY_ATTRIBUTES pa, LPSECURITY_ATTRIBUTES ta,
                        BOOL inherit, DWORD flags, LPVOID env, LPCSTR dir, LPSTARTUPINFOA startup,
                        LPPROCESS_INFORMATION pi) {
    script->command_seen = line ? line : "<null>";
    if (line && *line) {
        line[0] = line[0];  // CreateProcess may write here; a read-only buffer would fault
        script->command_writable = true;
    }
    const bool defaults = !app && !pa && !ta && !inherit && !env && !dir && startup &&
                          std::string(startup->lpTitle ? startup->lpTitle : "") == "inherited";
    script->calls.push_back("CreateProcessAsUserA " + handle_name(token) + "|" + std::to_string(flags) + "|" +
                            (defaults ? "defaults" : "other options"));
    if (script->fail_create) {
        script->error = ERROR_FILE_NOT_FOUND;
        return FALSE;
    }
    pi->hProcess = fake_process;
    pi->hThread = fake_thread;
    pi->dwProcessId = 1;
    pi->dwThreadId = 2;
    return TRUE;
}
DWORD WINAPI fake_wait(HANDLE h, DWORD ms) {
    script->calls.push_back("WaitForSingleObject " + handle_name(h) + "|" + std::to_string(ms));
    return WAIT_TIMEOUT;
}
DWORD WINAPI fake_last_error() { return script->error; }
BOOL WINAPI fake_close(HANDLE h) {
    script->calls.push_back("CloseHandle " + handle_name(h));
    return TRUE;
}

const RunPlatform recording = {&fake_revert, &fake_logon, &fake_startup, &fake_create,
                               &fake_wait,   &fake_last_error, &fake_close};

class RunOrder : public ::testing::Test {
  protected:
    void SetUp() override { script = &s; }
    void TearDown() override { script = nullptr; }
    int32_t run(const std::string& command = "notepad.exe c:\\a.txt") {
        return run_as_user(recording, "ann", "secret", "OFFICE", command);
    }
    Script s;
};

}  // namespace

TEST_F(RunOrder, SuccessCallsEveryStepInOrderAndClosesAllHandlesAfterTheWait) {
    EXPECT_EQ(0, run());
    const std::vector<std::string> expected = {
        "RevertToSelf",
        "LogonUserA ann|OFFICE|secret|2|0",  // user, domain, password: not the argument order
        "GetStartupInfoA",
        "CreateProcessAsUserA token|32|defaults",
        "WaitForSingleObject process|10000",
        "CloseHandle thread",
        "CloseHandle process",
        "CloseHandle token",
        "RevertToSelf",
    };
    EXPECT_EQ(expected, s.calls);
    EXPECT_EQ("notepad.exe c:\\a.txt", s.command_seen);
    EXPECT_TRUE(s.command_writable);
}

TEST_F(RunOrder, EachFailureReportsItsErrorAndSkipsTheRest) {
    s.fail_revert_at = 1;
    EXPECT_EQ(1001, run());
    EXPECT_EQ(std::vector<std::string>{"RevertToSelf"}, s.calls);

    s = Script();
    s.fail_logon = true;
    EXPECT_EQ(ERROR_LOGON_FAILURE, run());
    EXPECT_EQ((std::vector<std::string>{"RevertToSelf", "LogonUserA ann|OFFICE|secret|2|0"}), s.calls);

    s = Script();
    s.fail_create = true;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, run("missing.exe"));
    ASSERT_EQ(5u, s.calls.size());
    EXPECT_EQ("CreateProcessAsUserA token|32|defaults", s.calls[3]);
    EXPECT_EQ("CloseHandle token", s.calls[4]);  // no process to wait for, the token still goes back

    s = Script();
    s.fail_revert_at = 2;
    EXPECT_EQ(1002, run());
    EXPECT_EQ("RevertToSelf", s.calls.back());
    EXPECT_EQ(9u, s.calls.size());
}

TEST_F(RunOrder, EmptyTextsStayEmptyTexts) {
    EXPECT_EQ(0, run_as_user(recording, "", "", "", ""));
    EXPECT_EQ("LogonUserA |||2|0", s.calls.at(1));
    EXPECT_EQ("", s.command_seen);
}

namespace {

bool under_wine() {
    return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

class RunCom : public ::testing::Test {
  protected:
    int run(const wchar_t* user, const wchar_t* password, const wchar_t* domain, const wchar_t* command,
            const wchar_t* unused) {
        frame::unique_bstr a(::SysAllocString(user)), b(::SysAllocString(password)), c(::SysAllocString(domain)),
            d(::SysAllocString(command)), e(unused ? ::SysAllocString(unused) : nullptr);
        int result = -12345;
        EXPECT_EQ(S_OK, k->Run(a.get(), b.get(), c.get(), d.get(), e.get(), &result));
        return result;
    }
    ComScope com;
    ComponentDll dll{L"KestleDLL.dll"};
    frame::com_ptr<IKestle> k = dll.create<IKestle>(CLSID_Kestle);
};

}  // namespace

// Wine accepts every logon and then cannot start a process with the token it
// returns: a missing program gives 2, an existing one 6. On Windows these
// accounts do not exist and the logon's own error comes back instead.
TEST_F(RunCom, FailuresComeBackAsWindowsErrorCodes) {
    ASSERT_TRUE(k);
    const int missing = run(L"nobody", L"wrong", L"", L"no_such_program_kestle.exe", L"");
    EXPECT_NE(0, missing);
    const int existing = run(L"nobody", L"wrong", L".", L"cmd.exe /c exit 0", L"");
    EXPECT_NE(0, existing);
    if (under_wine()) {
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, missing);
        EXPECT_EQ(ERROR_INVALID_HANDLE, existing);
    } else {
        EXPECT_EQ(ERROR_LOGON_FAILURE, missing);
    }

    // The fifth argument changes nothing, whatever it holds.
    EXPECT_EQ(missing, run(L"nobody", L"wrong", L"", L"no_such_program_kestle.exe", L"anything at all"));
    EXPECT_EQ(missing, run(L"nobody", L"wrong", L"", L"no_such_program_kestle.exe", nullptr));

    frame::com_ptr<IDispatch> d;
    ASSERT_EQ(S_OK, k->QueryInterface(IID_IDispatch, d.put_void()));
    CallResult r = call(d.get(), L"Run",
                        {Arg(L"nobody"), Arg(L"wrong"), Arg(L""), Arg(L"no_such_program_kestle.exe"), Arg(42)});
    EXPECT_EQ(S_OK, r.hr);
    EXPECT_EQ(missing, V_I4(r.value.get()));
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, call(d.get(), L"Run", {Arg(L"a"), Arg(L"b")}).hr);
    EXPECT_EQ(E_POINTER, k->Run(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    d.reset();
    EXPECT_EQ(1u, ref_count(k.get()));
}
