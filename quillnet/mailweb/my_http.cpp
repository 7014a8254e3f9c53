// The web fetcher object: IMyHttp over WebFetcher and the WinHTTP client.
#include "frame/boundary.h"
#include "frame/object.h"
#include "frame/text.h"
#include "quillnet.h"
#include "quillnet/classes.h"
#include "quillnet/mailweb/web_fetcher.h"

namespace quillnet {
namespace {

BSTR page_bstr(const mailweb::PageResult& page) {
    return page.utf8 ? frame::make_bstr_utf8(page.text) : frame::make_bstr(page.text);
}

class MyHttpObject final : public frame::DualObject<IMyHttp> {
  public:
    MyHttpObject() : fetcher_([](engine::WebEvents& owner) { return engine::make_http_client(owner); }) {}

    HRESULT STDMETHODCALLTYPE GetURL(BSTR address, BSTR user, BSTR password, BSTR* text) override {
        return frame::text_result(text, [&] {
            return page_bstr(fetcher_.get_url(frame::to_ansi(address), frame::to_ansi(user), frame::to_ansi(password)));
        });
    }
    HRESULT STDMETHODCALLTYPE SetProxy(BSTR server, int port, int* result) override {
        return frame::value_result(result, [&] { return fetcher_.set_proxy(frame::to_ansi(server), port); });
    }
    // Goes through the object's own interface, as a caller would, with no
    // user: whatever user and password an earlier GetURL gave stay in force.
    HRESULT STDMETHODCALLTYPE GetRealTime(BSTR address, BSTR* text) override {
        return frame::text_result(text, [&] {
            BSTR page = nullptr;
            static_cast<IMyHttp*>(this)->GetURL(address, nullptr, nullptr, &page);
            return page;
        });
    }

  private:
    mailweb::WebFetcher fetcher_;
};

}  // namespace

HRESULT create_my_http(IUnknown* outer, REFIID riid, void** out) noexcept {
    return frame::create_object<MyHttpObject>(outer, riid, out);
}

}  // namespace quillnet
