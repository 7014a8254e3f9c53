#include "quillnet/news/news_pool_watcher.h"

#include <windows.h>

#include <mutex>

#include "frame/module.h"
#include "quillnet/engine/news_pool.h"

namespace quillnet {
namespace {

// Runs while the pool holds connections, then ends. It holds the module
// meanwhile (a lock, so the DLL reports itself busy, and a reference, so
// the code it runs stays mapped until FreeLibraryAndExitThread is done).
DWORD WINAPI watch(void* module) {
    while (engine::news_connection_pool().reap()) ::Sleep(1000);
    frame::unlock_module();
    ::FreeLibraryAndExitThread(static_cast<HMODULE>(module), 0);
}

void start_watcher() {
    HMODULE self = nullptr;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&watch), &self))
        return;  // then the next park or take closes what is past its time
    frame::lock_module();
    const HANDLE thread = ::CreateThread(nullptr, 0, watch, self, 0, nullptr);
    if (!thread) {
        frame::unlock_module();
        ::FreeLibrary(self);
        return;
    }
    ::CloseHandle(thread);
}

}  // namespace

void InstallNewsPoolWatcher() {
    static std::once_flag once;
    std::call_once(once, [] { engine::set_news_pool_watcher(&start_watcher); });
}

}  // namespace quillnet
