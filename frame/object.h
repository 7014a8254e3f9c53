// Base of every component object: reference counting with support for
// aggregation, the interface map (own dual interface, IDispatch, IUnknown)
// and IDispatch served from the module's type library (methods that take a
// VARIANT are called with the caller's own VARIANT, see frame/dispatch.h).
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <new>

#include "frame/dispatch.h"
#include "frame/module.h"

namespace frame {

// Rewrites results a script engine may not know (VT_INT, VT_UINT) into the
// 32-bit types every engine handles; the value is unchanged.
void normalise_result(VARIANT* result) noexcept;

template <class Itf>
class DualObject : public Itf {
  public:
    DualObject(const DualObject&) = delete;
    DualObject& operator=(const DualObject&) = delete;

    // IUnknown: delegated to the controlling unknown (the outer object when
    // aggregated, our own inner unknown otherwise).
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        return outer_->QueryInterface(riid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return outer_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return outer_->Release(); }

    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        ModuleContext context;
        return type_info_for(__uuidof(Itf), out);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) override {
        if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        ModuleContext context;
        Tables t;
        if (const HRESULT hr = tables(t); FAILED(hr)) return hr;
        // Named arguments (count > 1) and unknown names keep the type
        // library's rules and its DISP_E_UNKNOWNNAME.
        if (count == 1 && names && ids && member_id(*t.direct, names[0], ids)) return S_OK;
        return ::DispGetIDsOfNames(t.info, names, count, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* excep, UINT* arg_err) override {
        if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        ModuleContext context;
        Tables t;
        HRESULT hr = tables(t);
        if (FAILED(hr)) return hr;
        DISPPARAMS none = {nullptr, nullptr, 0, 0};
        hr = invoke_member(static_cast<Itf*>(this), t.info, t.direct, id, flags, params ? params : &none, result,
                           excep, arg_err);
        if (SUCCEEDED(hr)) normalise_result(result);
        return hr;
    }

    IUnknown* inner_unknown() noexcept { return &inner_; }
    void set_outer(IUnknown* outer) noexcept { outer_ = outer ? outer : &inner_; }

  protected:
    DualObject() noexcept : inner_(this), outer_(&inner_) { lock_module(); }
    virtual ~DualObject() { unlock_module(); }

  private:
    struct Tables {
        ITypeInfo* info = nullptr;
        const DirectCalls* direct = nullptr;
    };
    // The interface's type description and call table, asked of the module
    // once. The module keeps both unchanged for its life, so every later call
    // reads them here without the module lock and without a reference count
    // that all page threads would write to on every call.
    static HRESULT tables(Tables& out) noexcept {
        static std::atomic<ITypeInfo*> known_info{nullptr};
        static std::atomic<const DirectCalls*> known_direct{nullptr};
        out.info = known_info.load(std::memory_order_acquire);
        if (out.info) {
            out.direct = known_direct.load(std::memory_order_relaxed);
            return S_OK;
        }
        ITypeInfo* info = nullptr;
        const HRESULT hr = type_info_for(__uuidof(Itf), &info, &out.direct);
        if (FAILED(hr)) return hr;
        info->Release();  // the module's own reference stays
        out.info = info;
        known_direct.store(out.direct, std::memory_order_relaxed);
        known_info.store(info, std::memory_order_release);
        return S_OK;
    }

    // The non-delegating unknown: owns the reference count and the map.
    class Inner final : public IUnknown {
      public:
        explicit Inner(DualObject* self) noexcept : self_(self) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
            if (!out) return E_POINTER;
            *out = nullptr;
            if (IsEqualIID(riid, IID_IUnknown)) {
                *out = static_cast<IUnknown*>(this);
                AddRef();
                return S_OK;
            }
            if (IsEqualIID(riid, __uuidof(Itf)) || IsEqualIID(riid, IID_IDispatch)) {
                *out = static_cast<Itf*>(self_);
                self_->AddRef();
                return S_OK;
            }
            return E_NOINTERFACE;
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&refs_)); }
        ULONG STDMETHODCALLTYPE Release() override {
            const LONG left = ::InterlockedDecrement(&refs_);
            if (left == 0) delete self_;
            return static_cast<ULONG>(left);
        }

      private:
        DualObject* self_;
        LONG refs_ = 1;  // the creation reference, dropped by create_object
    };

    Inner inner_;
    IUnknown* outer_;
};

// Class factory entry: creates a T standalone or as the inner part of an
// aggregate. Only IUnknown may be asked for while aggregating.
template <class T>
HRESULT create_object(IUnknown* outer, REFIID riid, void** out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer && !IsEqualIID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    T* object = nullptr;
    try {
        object = new T();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
    object->set_outer(outer);
    IUnknown* inner = object->inner_unknown();
    const HRESULT hr = inner->QueryInterface(riid, out);
    inner->Release();  // the object now lives on the caller's reference, or dies here
    return hr;
}

}  // namespace frame
