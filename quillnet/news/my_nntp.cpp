// The news session object. Not built yet: every method tells the caller so
// with E_NOTIMPL rather than pretending to work.
#include "frame/object.h"
#include "quillnet.h"
#include "quillnet/classes.h"

namespace quillnet {
namespace {

class MyNntpObject final : public frame::DualObject<IMyNntp> {
  public:
    HRESULT STDMETHODCALLTYPE GetText(BSTR* text) override { return none(text); }
    HRESULT STDMETHODCALLTYPE SetServer(BSTR, int* r) override { return none(r); }
    HRESULT STDMETHODCALLTYPE SetGroup(BSTR, int* r) override { return none(r); }
    HRESULT STDMETHODCALLTYPE GetGroup(BSTR* text) override { return none(text); }
    HRESULT STDMETHODCALLTYPE SetArticle(int, long, int* r) override { return none(r); }
    HRESULT STDMETHODCALLTYPE GetTotalArticles(int* r) override { return none(r); }
    HRESULT STDMETHODCALLTYPE GetMoreInfo(int, int, BSTR* text) override { return none(text); }
    HRESULT STDMETHODCALLTYPE GetListing(int, long, int* r) override { return none(r); }
    HRESULT STDMETHODCALLTYPE GetSubject(int, BSTR* text) override { return none(text); }
    HRESULT STDMETHODCALLTYPE GetFirstArticle(int* r) override { return none(r); }
    HRESULT STDMETHODCALLTYPE GetLastArticle(int* r) override { return none(r); }
    HRESULT STDMETHODCALLTYPE GetArticleCount(int* r) override { return none(r); }
    HRESULT STDMETHODCALLTYPE GetFrom(int, BSTR* text) override { return none(text); }
    HRESULT STDMETHODCALLTYPE GetDate(int, BSTR* text) override { return none(text); }
    HRESULT STDMETHODCALLTYPE GetArticleID(int, BSTR* text) override { return none(text); }
    HRESULT STDMETHODCALLTYPE GetSize(int, int* r) override { return none(r); }
    HRESULT STDMETHODCALLTYPE GetLastError(BSTR* text) override { return none(text); }
    HRESULT STDMETHODCALLTYPE GetListLength(int* r) override { return none(r); }
    HRESULT STDMETHODCALLTYPE GetAllGroups(int* r) override { return none(r); }

  private:
    template <class T>
    static HRESULT none(T* out) {
        if (!out) return E_POINTER;
        *out = T{};
        return E_NOTIMPL;
    }
};

}  // namespace

HRESULT create_my_nntp(IUnknown* outer, REFIID riid, void** out) noexcept {
    return frame::create_object<MyNntpObject>(outer, riid, out);
}

}  // namespace quillnet
