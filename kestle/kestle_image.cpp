// The picture object. Not built yet: methods answer E_NOTIMPL.
#include "frame/object.h"
#include "kestle/kestle_idl.h"
#include "kestle/classes.h"


namespace kestle {
namespace {

class KestleImageObject final : public frame::DualObject<IKestleImage> {
  public:
    HRESULT STDMETHODCALLTYPE LoadImage(BSTR, int* r) override { return none(r); }
    HRESULT STDMETHODCALLTYPE get_Width(int* r) override { return none(r); }
    HRESULT STDMETHODCALLTYPE get_Height(int* r) override { return none(r); }
    HRESULT STDMETHODCALLTYPE Iconize(int, int, int* r) override { return none(r); }
    HRESULT STDMETHODCALLTYPE SaveImage(BSTR, int, int* r) override { return none(r); }
    HRESULT STDMETHODCALLTYPE get_FileSize(long* r) override { return none(r); }
    HRESULT STDMETHODCALLTYPE get_BPP(int* r) override { return none(r); }
    HRESULT STDMETHODCALLTYPE get_FileType(BSTR* r) override { return none(r); }

  private:
    template <class T>
    static HRESULT none(T* out) {
        if (!out) return E_POINTER;
        *out = T{};
        return E_NOTIMPL;
    }
};

}  // namespace

HRESULT create_kestle_image(IUnknown* outer, REFIID riid, void** out) noexcept {
    return frame::create_object<KestleImageObject>(outer, riid, out);
}

}  // namespace kestle
