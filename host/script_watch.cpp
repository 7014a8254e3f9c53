#include "host/script_watch.h"

#include <windows.h>
#include <winternl.h>

#include <cstdint>
#include <mutex>
#include <vector>

namespace host {

struct Slot {
    std::mutex lock;
    HANDLE thread = nullptr;  // the pool thread, for suspending and resuming it
    IActiveScript* engine = nullptr;  // while a page runs
    uintptr_t engine_begin = 0, engine_end = 0;  // the engine module's image
    const std::atomic<long>* timeout = nullptr;
    ULONGLONG started = 0, interrupted_at = 0;
    bool timed_out = false, interrupted = false, stopped_by_host = false;
    bool armed = false;    // the resume point is set
    void* resume[5] = {};  // __builtin_setjmp's buffer
};

namespace {

std::vector<Slot>* g_slots = nullptr;
// An engine whose interrupt said yes gets this long to stop before the
// host stops it itself.
constexpr ULONGLONG kInterruptGraceMillis = 3000;

// Where the thread lands when the host stops its page: back in run_page.
[[noreturn]] __attribute__((noinline)) void resume_host(void** buffer) { __builtin_longjmp(buffer, 1); }

// Sends a suspended thread to resume_host(buffer) as if the code it was
// running had called it; below its stack pointer (no red zone on Windows)
// with room to spare.
bool redirect(HANDLE thread, uintptr_t begin, uintptr_t end, void** buffer) {
    CONTEXT c{};
    c.ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER;
    if (!::GetThreadContext(thread, &c)) return false;
#if defined(__x86_64__)
    if (c.Rip < begin || c.Rip >= end) return false;
    uintptr_t sp = (static_cast<uintptr_t>(c.Rsp) - 512) & ~uintptr_t{15};
    sp -= 8;
    *reinterpret_cast<DWORD64*>(sp) = c.Rip;  // the "return address", for anything walking the stack
    c.Rsp = sp;
    c.Rcx = reinterpret_cast<DWORD64>(buffer);
    c.Rip = reinterpret_cast<DWORD64>(&resume_host);
#elif defined(__i386__)
    if (c.Eip < begin || c.Eip >= end) return false;
    uintptr_t sp = (static_cast<uintptr_t>(c.Esp) - 512) & ~uintptr_t{15};
    sp -= 4;
    *reinterpret_cast<DWORD*>(sp) = reinterpret_cast<DWORD>(buffer);
    sp -= 4;
    *reinterpret_cast<DWORD*>(sp) = c.Eip;
    c.Esp = sp;
    c.Eip = reinterpret_cast<DWORD>(&resume_host);
#else
    return false;
#endif
    return ::SetThreadContext(thread, &c) != 0;
}

// Under the slot's lock: tries to move a page past its time to its end.
void stop_page(Slot& s, ULONGLONG now) {
    if (!s.timed_out) {
        s.timed_out = true;
        EXCEPINFO info{};
        info.scode = static_cast<SCODE>(0x80004004);  // E_ABORT
        if (SUCCEEDED(s.engine->InterruptScriptThread(SCRIPTTHREADID_ALL, &info, 0))) {
            s.interrupted = true;
            s.interrupted_at = now;
            return;
        }
    }
    if (s.interrupted && now - s.interrupted_at < kInterruptGraceMillis) return;
    if (!s.thread || !s.armed || s.stopped_by_host) return;
    // Nothing between suspending and resuming allocates or locks: the
    // thread may hold the heap's lock.
    if (::SuspendThread(s.thread) == static_cast<DWORD>(-1)) return;
    s.stopped_by_host = redirect(s.thread, s.engine_begin, s.engine_end, s.resume);
    ::ResumeThread(s.thread);
}

DWORD WINAPI watch(void*) {
    for (;;) {
        ::Sleep(100);
        for (Slot& s : *g_slots) {
            const std::lock_guard<std::mutex> hold(s.lock);
            if (!s.engine || s.stopped_by_host) continue;
            // Read under the lock: a page that started after an earlier
            // reading would seem to have run for ever.
            const ULONGLONG now = ::GetTickCount64();
            const long seconds = s.timeout->load();
            if (now - s.started >= static_cast<ULONGLONG>(seconds) * 1000) stop_page(s, now);
        }
    }
}

void module_range(const void* address, uintptr_t& begin, uintptr_t& end) {
    HMODULE module = nullptr;
    begin = end = 0;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              static_cast<LPCWSTR>(address), &module))
        return;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(reinterpret_cast<const char*>(module) + dos->e_lfanew);
    begin = reinterpret_cast<uintptr_t>(module);
    end = begin + nt->OptionalHeader.SizeOfImage;
    // Never the host's own code: the resume point must not be inside it.
    if (module == ::GetModuleHandleW(nullptr)) begin = end = 0;
}

}  // namespace

void start_script_watch(int threads) {
    g_slots = new std::vector<Slot>(static_cast<size_t>(threads));
    HANDLE t = ::CreateThread(nullptr, 0, watch, nullptr, 0, nullptr);
    if (t) ::CloseHandle(t);
}

WatchedRun::WatchedRun(int thread, IActiveScript* engine, const std::atomic<long>& timeout) : slot_(nullptr) {
    if (!g_slots || thread < 1 || static_cast<size_t>(thread) > g_slots->size()) return;
    slot_ = &(*g_slots)[static_cast<size_t>(thread) - 1];
    const std::lock_guard<std::mutex> hold(slot_->lock);
    if (!slot_->thread)
        ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &slot_->thread,
                          THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_SET_CONTEXT, FALSE, 0);
    // The engine's vtable lies in the engine's module.
    module_range(*reinterpret_cast<void* const*>(engine), slot_->engine_begin, slot_->engine_end);
    slot_->engine = engine;
    slot_->timeout = &timeout;
    slot_->started = ::GetTickCount64();
    slot_->timed_out = slot_->interrupted = slot_->stopped_by_host = slot_->armed = false;
}

WatchedRun::~WatchedRun() {
    if (!slot_) return;
    const std::lock_guard<std::mutex> hold(slot_->lock);
    slot_->engine = nullptr;
    slot_->timeout = nullptr;
    slot_->armed = false;
}

void** WatchedRun::resume_point() { return slot_ ? slot_->resume : nullptr; }

void WatchedRun::arm() {
    if (!slot_) return;
    const std::lock_guard<std::mutex> hold(slot_->lock);
    slot_->armed = true;
}

bool WatchedRun::timed_out() const {
    if (!slot_) return false;
    const std::lock_guard<std::mutex> hold(slot_->lock);
    return slot_->timed_out;
}

bool WatchedRun::stopped_by_host() const {
    if (!slot_) return false;
    const std::lock_guard<std::mutex> hold(slot_->lock);
    return slot_->stopped_by_host;
}

}  // namespace host
