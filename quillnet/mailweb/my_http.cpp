// The web fetcher. Not built yet: methods answer E_NOTIMPL.
#include "frame/object.h"
#include "quillnet.h"
#include "quillnet/classes.h"

namespace quillnet {
namespace {

class MyHttpObject final : public frame::DualObject<IMyHttp> {
  public:
    HRESULT STDMETHODCALLTYPE GetURL(BSTR, BSTR, BSTR, BSTR* text) override { return none(text); }
    HRESULT STDMETHODCALLTYPE SetProxy(BSTR, int, int* r) override { return none(r); }
    HRESULT STDMETHODCALLTYPE GetRealTime(BSTR, BSTR* text) override { return none(text); }

  private:
    template <class T>
    static HRESULT none(T* out) {
        if (!out) return E_POINTER;
        *out = T{};
        return E_NOTIMPL;
    }
};

}  // namespace

HRESULT create_my_http(IUnknown* outer, REFIID riid, void** out) noexcept {
    return frame::create_object<MyHttpObject>(outer, riid, out);
}

}  // namespace quillnet
