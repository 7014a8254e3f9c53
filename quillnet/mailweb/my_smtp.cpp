// The mail sender. Not built yet: methods answer E_NOTIMPL.
#include "frame/object.h"
#include "quillnet.h"
#include "quillnet/classes.h"

namespace quillnet {
namespace {

class MySmtpObject final : public frame::DualObject<IMySmtp> {
  public:
    HRESULT STDMETHODCALLTYPE SetServer(BSTR, int* r) override { return none(r); }
    HRESULT STDMETHODCALLTYPE SendMail(BSTR, BSTR, BSTR, BSTR, BSTR, int* r) override { return none(r); }

  private:
    static HRESULT none(int* out) {
        if (!out) return E_POINTER;
        *out = 0;
        return E_NOTIMPL;
    }
};

}  // namespace

HRESULT create_my_smtp(IUnknown* outer, REFIID riid, void** out) noexcept {
    return frame::create_object<MySmtpObject>(outer, riid, out);
}

}  // namespace quillnet
