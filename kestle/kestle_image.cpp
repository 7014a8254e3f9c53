// The picture object: IKestleImage over image::Picture.
#include "frame/boundary.h"
#include "frame/object.h"
#include "frame/text.h"
#include "kestle/classes.h"
#include "kestle/image/picture.h"
#include "kestle/kestle_idl.h"

namespace kestle {
namespace {

// Paths are used as the page gave them (wide), so a name outside the ANSI
// code page still reaches its file.
std::wstring path_of(BSTR path) { return path ? std::wstring(path) : std::wstring(); }

class KestleImageObject final : public frame::DualObject<IKestleImage> {
  public:
    HRESULT STDMETHODCALLTYPE LoadImage(BSTR path, int* status) override {
        return frame::value_result(status, [&] { return picture_.load(path_of(path)); });
    }
    HRESULT STDMETHODCALLTYPE get_Width(int* width) override {
        return frame::value_result(width, [&] { return picture_.width(); });
    }
    HRESULT STDMETHODCALLTYPE get_Height(int* height) override {
        return frame::value_result(height, [&] { return picture_.height(); });
    }
    HRESULT STDMETHODCALLTYPE Iconize(int width, int height, int* status) override {
        return frame::value_result(status, [&] { return picture_.iconize(width, height); });
    }
    HRESULT STDMETHODCALLTYPE SaveImage(BSTR path, int quality, int* status) override {
        return frame::value_result(status, [&] { return picture_.save_jpeg(path_of(path), quality); });
    }
    HRESULT STDMETHODCALLTYPE get_FileSize(long* size) override {
        return frame::value_result(size, [&] { return picture_.file_size(); });
    }
    HRESULT STDMETHODCALLTYPE get_BPP(int* bits) override {
        return frame::value_result(bits, [&] { return picture_.bit_count(); });
    }
    HRESULT STDMETHODCALLTYPE get_FileType(BSTR* name) override {
        return frame::text_result(name, [&] { return frame::make_bstr(picture_.file_type()); });
    }

  private:
    image::Picture picture_;
};

}  // namespace

HRESULT create_kestle_image(IUnknown* outer, REFIID riid, void** out) noexcept {
    return frame::create_object<KestleImageObject>(outer, riid, out);
}

}  // namespace kestle
