#include "frame/registrar.h"

#include <stdexcept>

#include "frame/handles.h"
#include "frame/text.h"

namespace frame::registrar {
namespace {

// As Windows defines the predefined keys: the 32-bit value, sign-extended.
HKEY hive_key(Hive hive) {
    return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(static_cast<uint32_t>(hive))));
}

HRESULT from_win32(LSTATUS status) { return HRESULT_FROM_WIN32(static_cast<DWORD>(status)); }

LSTATUS set_value(HKEY key, const Value& v) {
    if (v.is_number)
        return ::RegSetValueExW(key, v.name.empty() ? nullptr : v.name.c_str(), 0, REG_DWORD,
                                reinterpret_cast<const BYTE*>(&v.number), sizeof v.number);
    return ::RegSetValueExW(key, v.name.empty() ? nullptr : v.name.c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(v.text.c_str()),
                            static_cast<DWORD>((v.text.size() + 1) * sizeof(wchar_t)));
}

HRESULT register_key(HKEY parent, const Key& key) {
    if (key.flag == KeyFlag::remove) {
        const LSTATUS st = ::RegDeleteTreeW(parent, key.name.c_str());
        if (st == ERROR_SUCCESS) ::RegDeleteKeyW(parent, key.name.c_str());
        return S_OK;
    }
    if (key.flag == KeyFlag::force_remove) {
        if (::RegDeleteTreeW(parent, key.name.c_str()) == ERROR_SUCCESS)
            ::RegDeleteKeyW(parent, key.name.c_str());
    }
    unique_hkey handle;
    LSTATUS st = ::RegCreateKeyExW(parent, key.name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_READ | KEY_WRITE, nullptr, handle.put(), nullptr);
    if (st != ERROR_SUCCESS) return from_win32(st);
    if (key.has_default && (st = set_value(handle.get(), key.default_value)) != ERROR_SUCCESS)
        return from_win32(st);
    for (const Value& v : key.values)
        if ((st = set_value(handle.get(), v)) != ERROR_SUCCESS) return from_win32(st);
    for (const Key& child : key.children) {
        const HRESULT hr = register_key(handle.get(), child);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

void unregister_key(HKEY parent, const Key& key) {
    if (key.flag == KeyFlag::remove) return;
    if (key.flag == KeyFlag::force_remove) {
        if (::RegDeleteTreeW(parent, key.name.c_str()) == ERROR_SUCCESS)
            ::RegDeleteKeyW(parent, key.name.c_str());
        return;
    }
    unique_hkey handle;
    if (::RegOpenKeyExW(parent, key.name.c_str(), 0, KEY_READ | KEY_WRITE, handle.put()) != ERROR_SUCCESS)
        return;
    for (const Key& child : key.children) unregister_key(handle.get(), child);
    if (key.flag == KeyFlag::no_remove) return;
    for (const Value& v : key.values) ::RegDeleteValueW(handle.get(), v.name.c_str());
    if (key.has_default) ::RegDeleteValueW(handle.get(), nullptr);
    // Anything left behind was put there by someone else: keep the key then.
    DWORD subkeys = 0, values = 0;
    if (::RegQueryInfoKeyW(handle.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                           nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
        subkeys == 0 && values == 0) {
        handle.reset();
        ::RegDeleteKeyW(parent, key.name.c_str());
    }
}

}  // namespace

HRESULT apply_register(const Script& script) noexcept {
    try {
        for (const Root& root : script.roots)
            for (const Key& key : root.keys) {
                const HRESULT hr = register_key(hive_key(root.hive), key);
                if (FAILED(hr)) return hr;
            }
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT apply_unregister(const Script& script) noexcept {
    try {
        for (const Root& root : script.roots)
            for (const Key& key : root.keys) unregister_key(hive_key(root.hive), key);
    } catch (...) {
    }
    return S_OK;
}

HRESULT run_resource(HINSTANCE module, int script_id, bool register_mode,
                     const Replacements& replacements) noexcept {
    try {
        HRSRC res = ::FindResourceW(module, MAKEINTRESOURCEW(script_id), L"REGISTRY");
        if (!res) return HRESULT_FROM_WIN32(::GetLastError());
        HGLOBAL loaded = ::LoadResource(module, res);
        const DWORD size = ::SizeofResource(module, res);
        const char* data = loaded ? static_cast<const char*>(::LockResource(loaded)) : nullptr;
        if (!data) return HRESULT_FROM_WIN32(::GetLastError());
        // Scripts are stored as plain ASCII text.
        const std::wstring text = ansi_to_wide(std::string_view(data, size));
        const Script script = parse(text, replacements);
        return register_mode ? apply_register(script) : apply_unregister(script);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return register_mode ? E_FAIL : S_OK;
    }
}

}  // namespace frame::registrar
