#include "support/com_test.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

namespace qk_test {

ComScope::ComScope() { ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
ComScope::~ComScope() { ::CoUninitialize(); }

ComponentDll::ComponentDll(const wchar_t* file) {
    const std::wstring path = program_folder() + L"\\" + file;
    module_.reset(::LoadLibraryW(path.c_str()));
    if (!module_) throw std::runtime_error("cannot load component DLL");
    // Through void* so the compiler accepts the change of function type.
    auto entry = [this](const char* name) { return reinterpret_cast<void*>(::GetProcAddress(module_.get(), name)); };
    get_class_object_ = reinterpret_cast<GetClassObjectFn>(entry("DllGetClassObject"));
    can_unload_ = reinterpret_cast<PlainFn>(entry("DllCanUnloadNow"));
    register_ = reinterpret_cast<PlainFn>(entry("DllRegisterServer"));
    unregister_ = reinterpret_cast<PlainFn>(entry("DllUnregisterServer"));
    if (!get_class_object_ || !can_unload_ || !register_ || !unregister_)
        throw std::runtime_error("component DLL lacks an entry point");
}

HRESULT ComponentDll::get_class_object(REFCLSID clsid, REFIID iid, void** out) const {
    return get_class_object_(clsid, iid, out);
}
HRESULT ComponentDll::can_unload_now() const { return can_unload_(); }
HRESULT ComponentDll::register_server() const { return register_(); }
HRESULT ComponentDll::unregister_server() const { return unregister_(); }

std::wstring ComponentDll::path() const {
    wchar_t buffer[MAX_PATH] = {};
    ::GetModuleFileNameW(module_.get(), buffer, MAX_PATH);
    return buffer;
}

Arg::Arg(int i) {
    ::VariantInit(&v);
    V_VT(&v) = VT_I4;
    V_I4(&v) = i;
}
Arg::Arg(long i) : Arg(static_cast<int>(i)) {}
Arg::Arg(const wchar_t* s) {
    ::VariantInit(&v);
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = s ? ::SysAllocString(s) : nullptr;
}
Arg::Arg(double d) {
    ::VariantInit(&v);
    V_VT(&v) = VT_R8;
    V_R8(&v) = d;
}
Arg::Arg(const VARIANT& copy) {
    ::VariantInit(&v);
    ::VariantCopy(&v, const_cast<VARIANT*>(&copy));
}

CallResult call(IDispatch* object, const wchar_t* name, std::vector<Arg> args, WORD flags) {
    CallResult r;
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    r.hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(r.hr)) {
        for (Arg& a : args) ::VariantClear(&a.v);
        return r;
    }
    std::vector<VARIANT> reversed;
    for (auto it = args.rbegin(); it != args.rend(); ++it) reversed.push_back(it->v);
    DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), nullptr,
                         static_cast<UINT>(reversed.size()), 0};
    EXCEPINFO excep = {};
    r.hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, r.value.put(), &excep, &r.arg_error);
    r.scode = excep.scode;
    ::SysFreeString(excep.bstrSource);
    ::SysFreeString(excep.bstrDescription);
    ::SysFreeString(excep.bstrHelpFile);
    for (VARIANT& v : reversed) ::VariantClear(&v);
    return r;
}

CallResult get(IDispatch* object, const wchar_t* name, std::vector<Arg> args) {
    return call(object, name, std::move(args), DISPATCH_PROPERTYGET);
}

HRESULT put(IDispatch* object, const wchar_t* name, Arg value) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (SUCCEEDED(hr)) {
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS params = {&value.v, &named, 1, 1};
        hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr,
                            nullptr);
    }
    ::VariantClear(&value.v);
    return hr;
}

std::wstring text_of(const VARIANT* v) {
    if (V_VT(v) != VT_BSTR) return L"<not a string>";
    return text_of(V_BSTR(v));
}

std::wstring text_of(BSTR s) { return s ? std::wstring(s, ::SysStringLen(s)) : L"<null>"; }

ULONG ref_count(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

std::wstring program_folder() {
    wchar_t buffer[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    std::wstring path = buffer;
    return path.substr(0, path.find_last_of(L"\\/"));
}

}  // namespace qk_test
