#include "frame/dispatch.h"

#include <algorithm>
#include <iterator>
#include <new>

#include "frame/ascii.h"
#include "frame/handles.h"

namespace frame {
namespace {

// Types that fit in one VARIANT and that VariantChangeType produces.
bool plain_type(VARTYPE vt) noexcept {
    constexpr VARTYPE kPlain[] = {VT_I1,   VT_UI1, VT_I2, VT_UI2,  VT_I4,   VT_UI4, VT_I8,   VT_UI8,  VT_INT,
                                  VT_UINT, VT_R4,  VT_R8, VT_BOOL, VT_BSTR, VT_CY,  VT_DATE, VT_ERROR};
    return std::find(std::begin(kPlain), std::end(kPlain), vt) != std::end(kPlain);
}

bool is_variant_pointer(const TYPEDESC& t) noexcept {
    return t.vt == VT_PTR && t.lptdesc && t.lptdesc->vt == VT_VARIANT;
}

// Fills `call` when the function is one this file can call: a plain HRESULT
// method or property get, inputs of plain types or VARIANTs, an optional
// retval last, and at least one VARIANT or string (a page's megabyte text
// would be copied on the way in otherwise; the others gain nothing here).
void describe(const FUNCDESC& f, DirectCall& call) {
    call.id = f.memid;
    call.kinds = static_cast<WORD>(f.invkind);
    if (f.funckind != FUNC_PUREVIRTUAL && f.funckind != FUNC_VIRTUAL) return;
    if (f.callconv != CC_STDCALL || f.elemdescFunc.tdesc.vt != VT_HRESULT || f.cParamsOpt != 0) return;
    if (f.invkind != INVOKE_FUNC && f.invkind != INVOKE_PROPERTYGET) return;
    if (f.wFuncFlags & FUNCFLAG_FRESTRICTED) return;
    bool takes_variant = false;
    for (SHORT i = 0; i < f.cParams; ++i) {
        const ELEMDESC& e = f.lprgelemdescParam[i];
        const USHORT flags = e.paramdesc.wParamFlags;
        if (flags & PARAMFLAG_FRETVAL) {
            const TYPEDESC* target = e.tdesc.vt == VT_PTR ? e.tdesc.lptdesc : nullptr;
            if (i != f.cParams - 1 || !target || !(plain_type(target->vt) || target->vt == VT_VARIANT)) return;
            call.retval = target->vt;
            continue;
        }
        if (flags & (PARAMFLAG_FOUT | PARAMFLAG_FLCID | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT)) return;
        if (e.tdesc.vt == VT_VARIANT) {
            call.inputs.push_back(VT_VARIANT);
            takes_variant = true;
        } else if (is_variant_pointer(e.tdesc)) {
            call.inputs.push_back(VT_BYREF | VT_VARIANT);
            takes_variant = true;
        } else if (plain_type(e.tdesc.vt)) {
            call.inputs.push_back(e.tdesc.vt);
            takes_variant |= e.tdesc.vt == VT_BSTR;
        } else {
            return;
        }
    }
    call.slot = static_cast<ULONG_PTR>(f.oVft);
    call.direct = takes_variant;
}

// What a script means by a VARIANT argument: a variable arrives as a
// reference to the VARIANT that holds its value.
VARIANT* value_of(VARIANT* arg) noexcept { return V_VT(arg) == (VT_BYREF | VT_VARIANT) ? V_VARIANTREF(arg) : arg; }

void fill_exception(EXCEPINFO* excep, HRESULT failure) noexcept {
    if (!excep) return;
    *excep = EXCEPINFO{};
    excep->scode = failure;
    com_ptr<IErrorInfo> info;
    if (::GetErrorInfo(0, info.put()) != S_OK || !info) return;
    info->GetSource(&excep->bstrSource);
    info->GetDescription(&excep->bstrDescription);
    info->GetHelpFile(&excep->bstrHelpFile);
    info->GetHelpContext(&excep->dwHelpContext);
}

// One call's argument slots: at most a handful of parameters.
struct Frame {
    std::vector<VARTYPE> types;
    std::vector<VARIANT> slots;      // converted inputs, references, the retval pointer
    std::vector<VARIANT*> pointers;  // what DispCallFunc passes, one per parameter
    std::vector<bool> converted;     // slots this call owns and must clear
    VARIANT retval;

    explicit Frame(size_t n) : types(n), slots(n), pointers(n, nullptr), converted(n, false) {
        ::VariantInit(&retval);
        for (VARIANT& v : slots) ::VariantInit(&v);
    }
    ~Frame() {
        for (size_t i = 0; i < slots.size(); ++i)
            if (converted[i]) ::VariantClear(&slots[i]);
    }
    Frame(const Frame&) = delete;
    Frame& operator=(const Frame&) = delete;
};

// The argument checks of the type library's Invoke, in the order Windows
// makes them: the DISPPARAMS themselves, the count, the names, then each
// argument's type from the first parameter to the last. Nothing is called
// unless all pass; puArgErr names the offending rgvarg slot.
HRESULT call_direct(void* self, const DirectCall& call, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                    UINT* arg_err) {
    const UINT count = params->cArgs;
    const UINT named = params->cNamedArgs;
    if ((count && !params->rgvarg) || named > count || (named && !params->rgdispidNamedArgs)) return E_INVALIDARG;
    const size_t inputs = call.inputs.size();
    if (count != inputs) return DISP_E_BADPARAMCOUNT;

    // Positional arguments fill the first parameters (rgvarg holds them last
    // first, after the named ones); named ones must each name a later one.
    std::vector<UINT> source(inputs, UINT(-1));
    const UINT positional = count - named;
    for (UINT i = 0; i < positional; ++i) source[i] = count - 1 - i;
    for (UINT j = 0; j < named; ++j) {
        const DISPID p = params->rgdispidNamedArgs[j];
        if (p < static_cast<DISPID>(positional) || p >= static_cast<DISPID>(inputs) || source[p] != UINT(-1)) {
            if (arg_err) *arg_err = j;
            return DISP_E_PARAMNOTFOUND;
        }
        source[p] = j;
    }

    const size_t total = inputs + (call.retval != VT_EMPTY ? 1 : 0);
    Frame frame(total);
    for (size_t i = 0; i < inputs; ++i) {
        VARIANT* arg = &params->rgvarg[source[i]];
        const VARTYPE vt = call.inputs[i];
        frame.types[i] = vt;
        VARIANT& slot = frame.slots[i];
        if (vt == (VT_BYREF | VT_VARIANT)) {
            V_VT(&slot) = VT_BYREF | VT_VARIANT;
            V_VARIANTREF(&slot) = value_of(arg);
            frame.pointers[i] = &slot;
        } else if (vt == VT_VARIANT) {
            // By value means a bitwise copy, as a C++ caller makes: the
            // method reads the caller's data and owns nothing of it.
            const VARIANT* value = value_of(arg);
            if (!value) {
                if (arg_err) *arg_err = source[i];
                return DISP_E_TYPEMISMATCH;
            }
            slot = *value;
            frame.pointers[i] = &slot;
        } else if (V_VT(arg) == vt) {
            frame.pointers[i] = arg;
        } else if (const VARIANT* value = value_of(arg); value && V_VT(value) == vt) {
            // A script variable of the right type: its own value, not a
            // converted copy (for a string, no copy of the text).
            frame.pointers[i] = const_cast<VARIANT*>(value);
        } else if (V_VT(arg) == (VT_BYREF | VT_BSTR) && vt == VT_BSTR && V_BSTRREF(arg)) {
            V_VT(&slot) = VT_BSTR;
            V_BSTR(&slot) = *V_BSTRREF(arg);  // borrowed, never freed here
            frame.pointers[i] = &slot;
        } else {
            const HRESULT hr = ::VariantChangeType(&slot, arg, 0, vt);
            if (FAILED(hr)) {
                if (arg_err) *arg_err = source[i];
                return hr;
            }
            frame.converted[i] = true;
            frame.pointers[i] = &slot;
        }
    }
    if (call.retval != VT_EMPTY) {
        VARIANT& slot = frame.slots[inputs];
        frame.types[inputs] = VT_BYREF | call.retval;
        V_VT(&slot) = VT_BYREF | call.retval;
        V_BYREF(&slot) =
            call.retval == VT_VARIANT ? static_cast<void*>(&frame.retval) : static_cast<void*>(&V_UI1(&frame.retval));
        frame.pointers[inputs] = &slot;
    }

    VARIANT returned;
    ::VariantInit(&returned);
    HRESULT hr = ::DispCallFunc(self, call.slot, CC_STDCALL, VT_ERROR, static_cast<UINT>(total), frame.types.data(),
                                frame.pointers.data(), &returned);
    if (FAILED(hr)) return hr;
    if (call.retval != VT_EMPTY && call.retval != VT_VARIANT) V_VT(&frame.retval) = call.retval;
    if (FAILED(V_ERROR(&returned))) {
        ::VariantClear(&frame.retval);
        fill_exception(excep, V_ERROR(&returned));
        return DISP_E_EXCEPTION;
    }
    if (result) {
        ::VariantInit(result);
        *result = frame.retval;  // handed over, not copied
    } else {
        ::VariantClear(&frame.retval);
    }
    return S_OK;
}

const DirectCall* find(const DirectCalls* direct, DISPID id, WORD flags) noexcept {
    if (!direct) return nullptr;
    // The first member with this id that answers one of the flags, as the
    // type library's Invoke picks it.
    for (const DirectCall& call : direct->calls)
        if (call.id == id && (call.kinds & flags)) return &call;
    return nullptr;
}

// A member name as the name table keeps it; false for a name with letters
// beyond ASCII, whose case rules are the type library's to apply.
bool fold_name(const wchar_t* name, std::wstring& folded) {
    for (const wchar_t* c = name; *c; ++c) {
        if (*c > 0x7F) return false;
        folded.push_back(ascii::lower(*c));
    }
    return true;
}

}  // namespace

DirectCalls direct_calls_of(ITypeInfo* dispatch_info) {
    DirectCalls result;
    if (!dispatch_info) return result;
    // A dual interface's dispatch view hides the vtable layout; the
    // interface view behind it carries the slots and the real signatures.
    com_ptr<ITypeInfo> info;
    HREFTYPE ref = 0;
    TYPEATTR* attr = nullptr;
    if (FAILED(dispatch_info->GetTypeAttr(&attr))) return result;
    const TYPEKIND kind = attr->typekind;
    dispatch_info->ReleaseTypeAttr(attr);
    if (kind == TKIND_INTERFACE) {
        info = com_ptr<ITypeInfo>(dispatch_info);
    } else if (kind != TKIND_DISPATCH || FAILED(dispatch_info->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref)) ||
               FAILED(dispatch_info->GetRefTypeInfo(ref, info.put()))) {
        return result;
    }
    if (FAILED(info->GetTypeAttr(&attr))) return result;
    const WORD functions = attr->cFuncs;
    info->ReleaseTypeAttr(attr);
    for (WORD i = 0; i < functions; ++i) {
        FUNCDESC* f = nullptr;
        if (FAILED(info->GetFuncDesc(i, &f))) return DirectCalls{};
        DirectCall call;
        describe(*f, call);
        const MEMBERID id = f->memid;
        info->ReleaseFuncDesc(f);
        result.calls.push_back(std::move(call));
        BSTR name = nullptr;
        UINT got = 0;
        if (SUCCEEDED(info->GetNames(id, &name, 1, &got)) && got == 1 && name) {
            std::wstring folded;
            if (fold_name(name, folded)) result.names.emplace_back(std::move(folded), id);
            ::SysFreeString(name);
        }
    }
    // A property's get and put share one name and id.
    std::sort(result.names.begin(), result.names.end());
    result.names.erase(std::unique(result.names.begin(), result.names.end()), result.names.end());
    return result;
}

bool member_id(const DirectCalls& direct, const wchar_t* name, DISPID* id) noexcept {
    if (!name || !id) return false;
    wchar_t buffer[64];
    size_t length = 0;
    for (; name[length]; ++length) {
        const wchar_t c = name[length];
        if (length + 1 == std::size(buffer) || c > 0x7F) return false;
        buffer[length] = ascii::lower(c);
    }
    const std::wstring_view key(buffer, length);
    const auto found = std::lower_bound(direct.names.begin(), direct.names.end(), key,
                                        [](const auto& entry, std::wstring_view k) { return entry.first < k; });
    if (found == direct.names.end() || found->first != key) return false;
    *id = found->second;
    return true;
}

HRESULT invoke_member(void* self, ITypeInfo* info, const DirectCalls* direct, DISPID id, WORD flags, DISPPARAMS* params,
                      VARIANT* result, EXCEPINFO* excep, UINT* arg_err) noexcept {
    const DirectCall* call = find(direct, id, flags);
    if (!call || !call->direct) return ::DispInvoke(self, info, id, flags, params, result, excep, arg_err);
    try {
        return call_direct(self, *call, params, result, excep, arg_err);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace frame
