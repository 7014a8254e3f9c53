// The Kestle page helper object.
#include "frame/boundary.h"
#include "frame/object.h"
#include "frame/text.h"
#include "kestle/kestle_idl.h"
#include "kestle/classes.h"
#include "kestle/page_text.h"
#include "kestle/posted_file.h"
#include "kestle/run_as_user.h"

namespace kestle {
namespace {

// Holds a safe array's data locked for the life of the object: the posted
// bytes are read in place, never copied.
class ArrayAccess {
  public:
    explicit ArrayAccess(SAFEARRAY* array) noexcept {
        if (!array || FAILED(::SafeArrayAccessData(array, &data_))) {
            data_ = nullptr;
            return;
        }
        array_ = array;
        LONG lower = 0, upper = -1;
        ::SafeArrayGetLBound(array, 1, &lower);
        ::SafeArrayGetUBound(array, 1, &upper);
        const LONGLONG count = static_cast<LONGLONG>(upper) - lower + 1;
        count_ = count > 0 ? static_cast<size_t>(count) : 0;
    }
    ArrayAccess(const ArrayAccess&) = delete;
    ArrayAccess& operator=(const ArrayAccess&) = delete;
    ~ArrayAccess() {
        if (array_) ::SafeArrayUnaccessData(array_);
    }
    const void* data() const noexcept { return data_; }
    std::span<const uint8_t> bytes() const noexcept { return {static_cast<const uint8_t*>(data_), count_}; }

  private:
    SAFEARRAY* array_ = nullptr;
    void* data_ = nullptr;
    size_t count_ = 0;
};

class KestleObject final : public frame::DualObject<IKestle> {
  public:
    HRESULT STDMETHODCALLTYPE Smilies(BSTR text, BSTR* result) override {
        return frame::text_result(result, [&] {
            // Tagged in one pass straight into the result: the result string
            // is then the only fresh memory the call touches, whatever the
            // language of the text.
            const std::wstring_view wide = text ? std::wstring_view(text, ::SysStringLen(text)) : std::wstring_view();
            const WideTagging sized = size_wide_smilies(wide);
            if (sized.result_length > 0x7FFFFFF0u) throw std::bad_alloc();
            BSTR tagged = ::SysAllocStringLen(nullptr, static_cast<UINT>(sized.result_length));
            if (!tagged) throw std::bad_alloc();
            wide_smilies(wide.substr(0, sized.text_length), tagged);
            return tagged;
        });
    }
    HRESULT STDMETHODCALLTYPE ConvertFileSize(long size, BSTR* result) override {
        return frame::text_result(result,
                                  [&] { return frame::make_bstr(convert_file_size(static_cast<int32_t>(size))); });
    }
    HRESULT STDMETHODCALLTYPE SavePostedFile(VARIANT* body, BSTR folder, BSTR* name) override {
        return frame::text_result(name, [&] { return save_posted_body(body, folder); });
    }
    HRESULT STDMETHODCALLTYPE Run(BSTR user, BSTR password, BSTR domain, BSTR command_line, BSTR unused,
                                  int* result) override {
        return frame::value_result(result, [&] {
            frame::to_ansi(unused);  // converted like the others, then of no use
            return run_as_user(windows_run_platform(), frame::to_ansi(user), frame::to_ansi(password),
                               frame::to_ansi(domain), frame::to_ansi(command_line));
        });
    }

  private:
    static BSTR save_posted_body(VARIANT* body, BSTR folder) {
        // Only a plain one-dimensional byte array is a posted body.
        if (!body || V_VT(body) != (VT_ARRAY | VT_UI1)) return frame::make_bstr("Bad Parameter");
        SAFEARRAY* array = V_ARRAY(body);
        // The elements are read as bytes, so an array whose descriptor says
        // otherwise is not trusted for its length.
        if (array && (::SafeArrayGetDim(array) != 1 || ::SafeArrayGetElemsize(array) != 1))
            return frame::make_bstr("Bad Parameter");
        const ArrayAccess access(array);
        if (!access.data()) return frame::make_bstr("");  // no bytes to look at: nothing saved
        const PostedSaveResult saved =
            save_posted_files(access.bytes(), folder ? std::wstring_view(folder) : std::wstring_view());
        return saved.utf8 ? frame::make_bstr_utf8(saved.text) : frame::make_bstr(saved.text);
    }
};

}  // namespace

HRESULT create_kestle(IUnknown* outer, REFIID riid, void** out) noexcept {
    return frame::create_object<KestleObject>(outer, riid, out);
}

}  // namespace kestle
