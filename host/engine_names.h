// Identifier compares of the script engines, kept off the C runtime's
// shared locale (see engine_names.cpp for why).
#pragma once

#include <unknwn.h>
#include <windows.h>

namespace host {

// _wcsicmp as the C runtime answers it in the "C" locale: only A-Z fold,
// every other character compares by its value; null arguments give the
// runtime's error result.
int __cdecl c_locale_wcsicmp(const wchar_t* a, const wchar_t* b) noexcept;

// Points the _wcsicmp import of the module that holds `engine` (a script
// engine object) at c_locale_wcsicmp, once per module, when that runtime is
// in the "C" locale. False when it left the engine as it was.
bool use_c_locale_names(IUnknown* engine) noexcept;

}  // namespace host
