#include "frame/module.h"

#include <memory>
#include <vector>

#include "frame/dispatch.h"
#include "frame/handles.h"
#include "frame/registrar.h"

namespace frame {
namespace {

// The class factory of one class-table row. The module keeps one reference
// from its first use until the module stops; caller references do not keep
// the module loaded (LockServer does).
class ClassFactory final : public IClassFactory {
  public:
    explicit ClassFactory(const ClassRow& row) noexcept : row_(row) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = ::InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        ModuleContext context;
        return row_.create(outer, riid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) lock_module();
        else unlock_module();
        return S_OK;
    }

  private:
    const ClassRow& row_;
    LONG refs_ = 1;
};

struct InterfaceEntry {
    IID iid;
    ITypeInfo* info;
    DirectCalls direct;
};

struct ModuleState {
    HINSTANCE instance = nullptr;
    LONG locks = 0;
    CRITICAL_SECTION lock;
    bool lock_ready = false;
    std::vector<ClassFactory*> factories;  // one slot per class-table row
    ITypeLib* type_lib = nullptr;
    // Entries never move once made: callers keep their DirectCalls pointer.
    std::vector<std::unique_ptr<InterfaceEntry>> interfaces;
};

ModuleState g_module;
thread_local HINSTANCE t_current_module = nullptr;

class Locked {
  public:
    Locked() noexcept { ::EnterCriticalSection(&g_module.lock); }
    ~Locked() { ::LeaveCriticalSection(&g_module.lock); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
};

std::wstring guid_text(const GUID& guid) {
    wchar_t buffer[64] = {};
    ::StringFromGUID2(guid, buffer, 64);
    return buffer;
}

registrar::Replacements replacements_for(const ClassRow* row) {
    registrar::Replacements r;
    r[L"MODULE"] = module_path();
    r[L"LIBID"] = guid_text(*module_info().libid);
    if (row) r[L"CLSID"] = guid_text(*row->clsid);
    return r;
}

}  // namespace

HINSTANCE module_instance() noexcept { return g_module.instance; }

std::wstring module_path() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(g_module.instance, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

void lock_module() noexcept { ::InterlockedIncrement(&g_module.locks); }
void unlock_module() noexcept { ::InterlockedDecrement(&g_module.locks); }
LONG module_lock_count() noexcept { return ::InterlockedCompareExchange(&g_module.locks, 0, 0); }

ModuleContext::ModuleContext() noexcept : saved_(t_current_module) { t_current_module = g_module.instance; }
ModuleContext::~ModuleContext() { t_current_module = saved_; }
HINSTANCE ModuleContext::current() noexcept { return t_current_module; }

HRESULT type_info_for(REFIID iid, ITypeInfo** out, const DirectCalls** direct) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (direct) *direct = nullptr;
    try {
        Locked guard;
        for (const auto& entry : g_module.interfaces) {
            if (IsEqualIID(entry->iid, iid)) {
                entry->info->AddRef();
                *out = entry->info;
                if (direct) *direct = &entry->direct;
                return S_OK;
            }
        }
        if (!g_module.type_lib) {
            // Loaded from our own file, so late binding works whether or not
            // (and wherever) the library was registered.
            const std::wstring path = module_path();
            const HRESULT hr = ::LoadTypeLibEx(path.c_str(), REGKIND_NONE, &g_module.type_lib);
            if (FAILED(hr)) return hr;
        }
        com_ptr<ITypeInfo> info;
        const HRESULT hr = g_module.type_lib->GetTypeInfoOfGuid(iid, info.put());
        if (FAILED(hr)) return hr;
        g_module.interfaces.push_back(
            std::make_unique<InterfaceEntry>(InterfaceEntry{iid, info.get(), direct_calls_of(info.get())}));
        InterfaceEntry& made = *g_module.interfaces.back();
        info.detach();  // now the entry's reference
        made.info->AddRef();
        *out = made.info;
        if (direct) *direct = &made.direct;
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

void module_start(HINSTANCE instance) noexcept {
    g_module.instance = instance;
    ::InitializeCriticalSection(&g_module.lock);
    g_module.lock_ready = true;
}

void module_stop(bool process_terminating) noexcept {
    if (!g_module.lock_ready) return;
    // At process exit other DLLs may already be gone: releasing into them
    // would crash, and the process is about to drop everything anyway.
    if (!process_terminating) {
        for (ClassFactory*& f : g_module.factories) {
            if (f) f->Release();
            f = nullptr;
        }
        for (auto& entry : g_module.interfaces) entry->info->Release();
        g_module.interfaces.clear();
        if (g_module.type_lib) g_module.type_lib->Release();
        g_module.type_lib = nullptr;
    }
    ::DeleteCriticalSection(&g_module.lock);
    g_module.lock_ready = false;
}

}  // namespace frame

using namespace frame;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        ::DisableThreadLibraryCalls(instance);
        module_start(instance);
    } else if (reason == DLL_PROCESS_DETACH) {
        module_stop(reserved != nullptr);
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    ModuleContext context;
    return module_lock_count() == 0 ? S_OK : S_FALSE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    ModuleContext context;
    const auto rows = module_info().rows;
    for (size_t i = 0; i < rows.size(); ++i) {
        if (!IsEqualCLSID(*rows[i].clsid, clsid)) continue;
        ClassFactory* factory = nullptr;
        {
            Locked guard;
            try {
                if (g_module.factories.size() < rows.size()) g_module.factories.resize(rows.size(), nullptr);
            } catch (...) {
                return E_OUTOFMEMORY;
            }
            if (!g_module.factories[i]) {
                g_module.factories[i] = new (std::nothrow) ClassFactory(rows[i]);
                if (!g_module.factories[i]) return E_OUTOFMEMORY;
            }
            factory = g_module.factories[i];
            factory->AddRef();
        }
        const HRESULT hr = factory->QueryInterface(riid, out);
        factory->Release();
        return hr;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
    ModuleContext context;
    try {
        for (const ClassRow& row : module_info().rows) {
            const HRESULT hr = registrar::run_resource(module_instance(), row.script, true, replacements_for(&row));
            if (FAILED(hr)) return hr;
        }
        std::wstring path = module_path();
        com_ptr<ITypeLib> lib;
        HRESULT hr = ::LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib.put());
        if (FAILED(hr)) return hr;
        return ::RegisterTypeLib(lib.get(), path.data(), nullptr);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
    ModuleContext context;
    try {
        for (const ClassRow& row : module_info().rows)
            registrar::run_resource(module_instance(), row.script, false, replacements_for(&row));
    } catch (...) {
    }
    // RegisterTypeLib filed the library under the platform of this DLL's own
    // build, and only that entry may go: the other build's stays registered.
#ifdef _WIN64
    constexpr SYSKIND kOwnPlatform = SYS_WIN64;
#else
    constexpr SYSKIND kOwnPlatform = SYS_WIN32;
#endif
    ::UnRegisterTypeLib(*module_info().libid, 1, 0, LOCALE_NEUTRAL, kOwnPlatform);
    return S_OK;
}
