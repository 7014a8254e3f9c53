// Wine's script engines look up every identifier of a running page (each
// variable, function and object name, against every global of the page)
// with the C runtime's _wcsicmp. Wine's runtime takes the locale data on
// each call: a dozen interlocked increments and decrements of counters that
// all threads of the process share. With page threads on two processors
// those cache lines move between them on every compare; a page of pure
// script ran four times slower with eight threads than with one, and half
// a group page's time went there even with one.
//
// In the "C" locale, which this host never leaves, that compare folds A-Z
// and nothing else, which c_locale_wcsicmp does without the locale. The
// engine's import of it is pointed there once, after checking the locale.
#include "host/engine_names.h"

#include <cstring>
#include <cwchar>
#include <mutex>
#include <set>

#include "frame/ascii.h"

namespace host {

int __cdecl c_locale_wcsicmp(const wchar_t* a, const wchar_t* b) noexcept {
    if (!a || !b) return 0x7fffffff;  // _NLSCMPERROR
    for (;; ++a, ++b) {
        const wchar_t x = frame::ascii::lower(*a), y = frame::ascii::lower(*b);
        if (x != y || !x) return static_cast<int>(x) - static_cast<int>(y);
    }
}

namespace {

HMODULE module_of(const void* address) {
    HMODULE module = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         static_cast<LPCWSTR>(address), &module);
    return module;
}

// Whether the runtime that exports `compare` is in the "C" locale, where
// c_locale_wcsicmp answers as it does.
bool runtime_in_c_locale(const void* compare) {
    HMODULE runtime = module_of(compare);
    if (!runtime) return false;
    using SetLocale = wchar_t*(__cdecl*)(int, const wchar_t*);
    const auto query = reinterpret_cast<SetLocale>(reinterpret_cast<void*>(::GetProcAddress(runtime, "_wsetlocale")));
    if (!query) return false;
    const wchar_t* ctype = query(2 /* LC_CTYPE */, nullptr);
    return ctype && std::wcscmp(ctype, L"C") == 0;
}

// The import address slot of `function` in `module`'s import table, or null.
void** import_slot(HMODULE module, const char* function) {
    auto* base = reinterpret_cast<BYTE*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) return nullptr;
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE) return nullptr;
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!dir.VirtualAddress) return nullptr;
    for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name; ++d) {
        if (!d->OriginalFirstThunk) continue;  // bound by ordinal only: no names to read
        const auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const auto* by_name = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(by_name->Name), function) == 0)
                return reinterpret_cast<void**>(&slots->u1.Function);
        }
    }
    return nullptr;
}

bool redirect(void** slot, void* target) {
    DWORD old = 0;
    if (!::VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old)) return false;
    InterlockedExchangePointer(slot, target);
    ::VirtualProtect(slot, sizeof *slot, old, &old);
    return true;
}

}  // namespace

bool use_c_locale_names(IUnknown* engine) noexcept {
    if (!engine) return false;
    static std::mutex lock;
    static std::set<HMODULE> done;
    // The object's first word is its vtable, which lies in the engine's module.
    HMODULE module = module_of(*reinterpret_cast<void**>(engine));
    if (!module) return false;
    std::lock_guard<std::mutex> guard(lock);
    try {
        if (!done.insert(module).second) return true;
    } catch (...) {
        return false;
    }
    void** slot = import_slot(module, "_wcsicmp");
    if (!slot || *slot == reinterpret_cast<void*>(&c_locale_wcsicmp)) return slot != nullptr;
    if (!runtime_in_c_locale(*slot)) return false;
    return redirect(slot, reinterpret_cast<void*>(&c_locale_wcsicmp));
}

}  // namespace host
