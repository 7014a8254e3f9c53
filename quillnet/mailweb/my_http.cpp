// The web fetcher object: IMyHttp over WebFetcher and the WinHTTP client.
#include <climits>

#include "frame/boundary.h"
#include "frame/object.h"
#include "frame/text.h"
#include "quillnet.h"
#include "quillnet/classes.h"
#include "quillnet/engine/utf8_text.h"
#include "quillnet/mailweb/web_fetcher.h"

namespace quillnet {
namespace {

// The page as the ANSI code page (or, when the server says so, UTF-8) reads
// it; with CodePage 65001, decoded by the charset the document declares.
BSTR page_bstr(const mailweb::PageResult& page, bool utf8) {
    if (!utf8) return page.utf8 ? frame::make_bstr_utf8(page.text) : frame::make_bstr(page.text);
    if (page.fetched) return frame::make_bstr_utf8(engine::document_to_utf8(page.text, page.contentType));
    std::string text;
    engine::undeclared_to_utf8(page.text, text);  // an error text, naming the page's own address
    return frame::make_bstr_utf8(text);
}

// A limit out of range is the caller's mistake, as for CodePage: the script
// sees "Invalid procedure call or argument", and the limit stays.
template <class Set>
HRESULT limit_result(Set&& set) noexcept {
    return frame::boundary([&]() -> HRESULT { return set() ? S_OK : E_INVALIDARG; });
}

class MyHttpObject final : public frame::DualObject<IMyHttp> {
  public:
    MyHttpObject() : fetcher_([](engine::WebEvents& owner) { return engine::make_http_client(owner); }) {}

    HRESULT STDMETHODCALLTYPE GetURL(BSTR address, BSTR user, BSTR password, BSTR* text) override {
        return frame::text_result(text, [&] {
            return page_bstr(fetcher_.get_url(codePage_.in(address), codePage_.in(user), codePage_.in(password)),
                             codePage_.utf8());
        });
    }
    HRESULT STDMETHODCALLTYPE SetProxy(BSTR server, int port, int* result) override {
        return frame::value_result(result, [&] { return fetcher_.set_proxy(codePage_.in(server), port); });
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

    HRESULT STDMETHODCALLTYPE get_CodePage(long* value) override { return codePage_.get(value); }
    HRESULT STDMETHODCALLTYPE put_CodePage(long value) override { return codePage_.put(value); }
    HRESULT STDMETHODCALLTYPE get_TimeLimit(long* seconds) override {
        return frame::value_result(seconds, [&] { return static_cast<long>(fetcher_.time_limit()); });
    }
    HRESULT STDMETHODCALLTYPE put_TimeLimit(long seconds) override {
        return limit_result([&] { return seconds >= 0 && seconds <= INT_MAX && fetcher_.set_time_limit(int(seconds)); });
    }
    HRESULT STDMETHODCALLTYPE get_Redirects(long* count) override {
        return frame::value_result(count, [&] { return static_cast<long>(fetcher_.redirect_limit()); });
    }
    HRESULT STDMETHODCALLTYPE put_Redirects(long count) override {
        return limit_result([&] { return count >= 0 && count <= INT_MAX && fetcher_.set_redirect_limit(int(count)); });
    }

  private:
    mailweb::WebFetcher fetcher_;
    frame::BoundaryCodePage codePage_;
};

}  // namespace

HRESULT create_my_http(IUnknown* outer, REFIID riid, void** out) noexcept {
    return frame::create_object<MyHttpObject>(outer, riid, out);
}

}  // namespace quillnet
