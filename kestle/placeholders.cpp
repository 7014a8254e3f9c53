// Placeholder classes kept for pages written against them: the capture object
// answers its members without doing any work, the chat object has none.
#include <list>
#include <string>

#include "frame/boundary.h"
#include "frame/object.h"
#include "frame/text.h"
#include "kestle/kestle_idl.h"
#include "kestle/classes.h"

namespace kestle {
namespace {

class KestleCaptureObject final : public frame::DualObject<IKestleCapture> {
  public:
    HRESULT STDMETHODCALLTYPE Connect(int, int* result) override {
        return frame::value_result(result, [] { return 0; });
    }
    // Writes no result: the caller keeps what its variable held.
    HRESULT STDMETHODCALLTYPE get_DeviceCount(long*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE get_DeviceProperty(int, int, BSTR* text) override {
        return frame::text_result(text, [] { return frame::make_bstr(""); });
    }
    HRESULT STDMETHODCALLTYPE Disconnect(int* result) override {
        return frame::value_result(result, [] { return 0; });
    }
    // Writes no result, like DeviceCount.
    HRESULT STDMETHODCALLTYPE SnapShot(BSTR, int*) override { return S_OK; }
};

class KestleChatObject final : public frame::DualObject<IKestleChat> {
  private:
    std::list<std::string> lines_;  // kept empty: the chat was never built
};

}  // namespace

HRESULT create_kestle_capture(IUnknown* outer, REFIID riid, void** out) noexcept {
    return frame::create_object<KestleCaptureObject>(outer, riid, out);
}

HRESULT create_kestle_chat(IUnknown* outer, REFIID riid, void** out) noexcept {
    return frame::create_object<KestleChatObject>(outer, riid, out);
}

}  // namespace kestle
