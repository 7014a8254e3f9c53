// The script engines' identifier compare, taken off the shared locale: the
// same answers as the C runtime's in the "C" locale, and in place in both
// engines.
#include "host/engine_names.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <cwchar>

namespace {

int sign(int v) { return (v > 0) - (v < 0); }

TEST(EngineNames, CompareAnswersAsTheRuntimeDoesInTheCLocale) {
    const wchar_t* words[] = {L"",       L"a", L"A",      L"Server", L"SERVER",  L"server ", L"servers",     L"[",
                              L"_",      L"`", L"z",      L"Z",      L"\u00e9",  L"\u00c9",  L"Stra\u00dfe", L"STRASSE",
                              L"\u0130", L"i", L"\uff21", L"\uff41", L"a\u00e9b"};
    for (const wchar_t* a : words)
        for (const wchar_t* b : words)
            EXPECT_EQ(sign(host::c_locale_wcsicmp(a, b)), sign(_wcsicmp(a, b))) << '"' << a << "\" \"" << b << '"';
    EXPECT_EQ(host::c_locale_wcsicmp(nullptr, L"a"), 0x7fffffff);
}

TEST(EngineNames, BothEnginesTakeTheCompare) {
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    for (const wchar_t* language : {L"VBScript", L"JScript"}) {
        CLSID clsid;
        ASSERT_EQ(::CLSIDFromProgID(language, &clsid), S_OK) << language;
        IUnknown* engine = nullptr;
        ASSERT_EQ(
            ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&engine)),
            S_OK);
        EXPECT_TRUE(host::use_c_locale_names(engine)) << language;
        EXPECT_TRUE(host::use_c_locale_names(engine)) << language << ", again";
        engine->Release();
    }
    ::CoUninitialize();
}

}  // namespace
