// Test helpers: load a component DLL the way COM does, create its objects
// through its own DllGetClassObject, and call methods by name through
// IDispatch the way a script engine does.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "frame/handles.h"

namespace qk_test {

// Initialises COM (apartment threaded) for the life of the object.
class ComScope {
  public:
    ComScope();
    ~ComScope();
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
};

// A loaded component DLL with its four entry points.
class ComponentDll {
  public:
    explicit ComponentDll(const wchar_t* file);
    HRESULT get_class_object(REFCLSID clsid, REFIID iid, void** out) const;
    HRESULT can_unload_now() const;
    HRESULT register_server() const;
    HRESULT unregister_server() const;
    template <class T>
    frame::com_ptr<T> create(REFCLSID clsid) const {
        frame::com_ptr<IClassFactory> factory;
        frame::com_ptr<T> object;
        if (SUCCEEDED(get_class_object(clsid, IID_IClassFactory, factory.put_void())))
            factory->CreateInstance(nullptr, __uuidof(T), object.put_void());
        return object;
    }
    HMODULE handle() const { return module_.get(); }
    std::wstring path() const;

  private:
    frame::unique_module module_;
    using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    using PlainFn = HRESULT(STDAPICALLTYPE*)();
    GetClassObjectFn get_class_object_ = nullptr;
    PlainFn can_unload_ = nullptr;
    PlainFn register_ = nullptr;
    PlainFn unregister_ = nullptr;
};

// A variant argument list in natural order (Invoke wants them reversed).
struct Arg {
    VARIANT v;
    Arg(int i);
    Arg(long i);
    Arg(const wchar_t* s);  // a new BSTR; nullptr gives a null BSTR
    Arg(double d);
    explicit Arg(const VARIANT& copy);
};

struct CallResult {
    HRESULT hr = E_FAIL;
    frame::unique_variant value;
    UINT arg_error = 0;
    SCODE scode = S_OK;  // the method's own failure when hr is DISP_E_EXCEPTION
};

// Calls a member by name with the given flags (method by default).
CallResult call(IDispatch* object, const wchar_t* name, std::vector<Arg> args = {},
                WORD flags = DISPATCH_METHOD);
CallResult get(IDispatch* object, const wchar_t* name, std::vector<Arg> args = {});
// Sets a property by name, as a script's assignment does.
HRESULT put(IDispatch* object, const wchar_t* name, Arg value);

// Wide text of a BSTR result, or "<null>" for a null string.
std::wstring text_of(const VARIANT* v);
std::wstring text_of(BSTR s);

// Reference count of an object: AddRef then Release and report.
ULONG ref_count(IUnknown* object);

// Folder of the running test program (build/bin).
std::wstring program_folder();

}  // namespace qk_test
