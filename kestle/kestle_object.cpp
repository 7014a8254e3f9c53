// The Kestle page helper object.
#include "frame/boundary.h"
#include "frame/object.h"
#include "frame/text.h"
#include "kestle/kestle_idl.h"
#include "kestle/classes.h"
#include "kestle/page_text.h"

namespace kestle {
namespace {

class KestleObject final : public frame::DualObject<IKestle> {
  public:
    HRESULT STDMETHODCALLTYPE Smilies(BSTR text, BSTR* result) override {
        return frame::text_result(result, [&] { return frame::make_bstr(smilies(frame::to_ansi(text))); });
    }
    HRESULT STDMETHODCALLTYPE ConvertFileSize(long size, BSTR* result) override {
        return frame::text_result(result,
                                  [&] { return frame::make_bstr(convert_file_size(static_cast<int32_t>(size))); });
    }
    HRESULT STDMETHODCALLTYPE SavePostedFile(VARIANT*, BSTR, BSTR* name) override {
        if (!name) return E_POINTER;
        *name = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Run(BSTR, BSTR, BSTR, BSTR, BSTR, int* result) override {
        if (!result) return E_POINTER;
        return E_NOTIMPL;
    }
};

}  // namespace

HRESULT create_kestle(IUnknown* outer, REFIID riid, void** out) noexcept {
    return frame::create_object<KestleObject>(outer, riid, out);
}

}  // namespace kestle
