// The one guard every interface method goes through: it enters the module
// context and turns anything thrown by plain C++ code into an HRESULT, so no
// exception ever crosses into the caller (a script host would crash).
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <new>
#include <utility>

#include "frame/module.h"

namespace frame {

template <class F>
HRESULT boundary(F&& body) noexcept {
    ModuleContext context;
    try {
        return std::forward<F>(body)();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

// For methods whose result is a text: checks the out pointer, nulls it, and
// stores the BSTR the body produces only when the body succeeds.
template <class F>
HRESULT text_result(BSTR* out, F&& body) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    return boundary([&]() -> HRESULT {
        *out = std::forward<F>(body)();
        return S_OK;
    });
}

// For methods whose result is a number the body always writes.
template <class T, class F>
HRESULT value_result(T* out, F&& body) noexcept {
    if (!out) return E_POINTER;
    const HRESULT hr = boundary([&]() -> HRESULT {
        *out = static_cast<T>(std::forward<F>(body)());
        return S_OK;
    });
    if (FAILED(hr)) *out = T{};
    return hr;
}

}  // namespace frame
