// Late-bound calls of the methods that take a VARIANT. The type library's
// Invoke deep-copies every VARIANT that does not arrive as a VARIANT
// reference before the method sees it: for a posted body of 100 MB that copy
// costs more than saving the file. Such methods are called here instead, with
// the caller's own VARIANT; every other member goes to DispInvoke.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <utility>
#include <vector>

namespace frame {

// How one interface method is called directly: its vtable slot and the
// VARIANT type DispCallFunc gets for each parameter.
struct DirectCall {
    MEMBERID id = DISPID_UNKNOWN;
    WORD kinds = 0;               // INVOKE_FUNC, INVOKE_PROPERTYGET, ...
    bool direct = false;          // false: the type library's Invoke serves it
    ULONG_PTR slot = 0;           // byte offset in the vtable
    std::vector<VARTYPE> inputs;  // VT_VARIANT, VT_BYREF|VT_VARIANT or a plain type
    VARTYPE retval = VT_EMPTY;    // the [out, retval] type, VT_BYREF left off
};

// The methods of one dual interface, in type-library order, and its member
// names folded to ASCII lower case and sorted, each with its id.
struct DirectCalls {
    std::vector<DirectCall> calls;
    std::vector<std::pair<std::wstring, MEMBERID>> names;
};

// Reads the interface description behind a dual interface's dispatch type
// information. Members it cannot describe are left to DispInvoke.
DirectCalls direct_calls_of(ITypeInfo* dispatch_info);

// IDispatch::GetIDsOfNames for one member name. A script engine asks it
// before every call, and the type library's own search compares the name
// with every member through the C runtime's locale-aware compare, whose
// shared locale counters every page thread then writes. Answers only plain
// ASCII names it knows; false leaves the name to DispGetIDsOfNames.
bool member_id(const DirectCalls& direct, const wchar_t* name, DISPID* id) noexcept;

// IDispatch::Invoke for an object whose interface pointer is `self`.
HRESULT invoke_member(void* self, ITypeInfo* info, const DirectCalls* direct, DISPID id, WORD flags, DISPPARAMS* params,
                      VARIANT* result, EXCEPINFO* excep, UINT* arg_err) noexcept;

}  // namespace frame
