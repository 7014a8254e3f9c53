// The news session object: IMyNntp over NewsSession. Each method converts
// its arguments, calls the session and turns the outcome into the result.
// The session and its store work on the bytes as they came; only what the
// page sees changes with CodePage, so pages of either code page share one
// store.
#include "frame/boundary.h"
#include "frame/object.h"
#include "frame/text.h"
#include "quillnet.h"
#include "quillnet/classes.h"
#include "quillnet/news/news_pool_watcher.h"
#include "quillnet/engine/utf8_text.h"
#include "quillnet/news/article_text.h"
#include "quillnet/news/news_session.h"

namespace quillnet {
namespace {

class MyNntpObject final : public frame::DualObject<IMyNntp> {
  public:
    HRESULT STDMETHODCALLTYPE GetText(BSTR* text) override {
        // Without a group the page gets a null text, not an empty one.
        return frame::text_result(text, [&]() -> BSTR {
            const std::optional<std::string_view> body = session_.GetText();
            if (!body) return nullptr;
            if (!codePage_.utf8()) return frame::make_bstr(*body);
            return frame::make_bstr_utf8(article_text_to_utf8(*body, session_.currentArticle().contentType));
        });
    }
    HRESULT STDMETHODCALLTYPE SetServer(BSTR server, int* result) override {
        return frame::value_result(result, [&] { return session_.SetServer(codePage_.in(server)); });
    }
    HRESULT STDMETHODCALLTYPE SetGroup(BSTR group, int* result) override {
        return frame::value_result(result, [&] { return session_.SetGroup(codePage_.in(group)); });
    }
    HRESULT STDMETHODCALLTYPE GetGroup(BSTR* text) override {
        return frame::text_result(text, [&] { return codePage_.out(session_.GetGroup()); });
    }
    HRESULT STDMETHODCALLTYPE SetArticle(int value, long byIndex, int* result) override {
        return frame::value_result(result, [&] { return session_.SetArticle(value, byIndex != 0 ? 1 : 0); });
    }
    HRESULT STDMETHODCALLTYPE GetTotalArticles(int* result) override {
        return frame::value_result(result, [&] { return session_.GetTotalArticles(); });
    }
    HRESULT STDMETHODCALLTYPE GetMoreInfo(int index, int item, BSTR* text) override {
        // Item 0 lists files of the store by their ANSI names; the others
        // are header texts or numbers.
        return frame::text_result(text, [&] {
            return item == 0 ? frame::make_bstr(session_.GetMoreInfo(index, item))
                             : header_bstr(session_.GetMoreInfo(index, item));
        });
    }
    HRESULT STDMETHODCALLTYPE GetListing(int start, long forward, int* result) override {
        if (!result) return E_POINTER;
        *result = 0;
        return frame::boundary([&]() -> HRESULT {
            const NewsSession::ListingOutcome outcome = session_.GetListing(start, static_cast<int>(forward));
            // -1 (no group) and -3 (no memory) are the call's own failure.
            if (outcome.status != 0) return static_cast<HRESULT>(outcome.status);
            *result = outcome.result;
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE GetSubject(int index, BSTR* text) override {
        return frame::text_result(text, [&] { return header_bstr(session_.GetSubject(index)); });
    }
    HRESULT STDMETHODCALLTYPE GetFirstArticle(int* result) override {
        return frame::value_result(result, [&] { return session_.GetFirstArticle(); });
    }
    HRESULT STDMETHODCALLTYPE GetLastArticle(int* result) override {
        return frame::value_result(result, [&] { return session_.GetLastArticle(); });
    }
    HRESULT STDMETHODCALLTYPE GetArticleCount(int* result) override {
        return frame::value_result(result, [&] { return session_.GetArticleCount(); });
    }
    HRESULT STDMETHODCALLTYPE GetFrom(int index, BSTR* text) override {
        return frame::text_result(text, [&] { return header_bstr(session_.GetFrom(index)); });
    }
    HRESULT STDMETHODCALLTYPE GetDate(int index, BSTR* text) override {
        return frame::text_result(text, [&] { return header_bstr(session_.GetDate(index)); });
    }
    HRESULT STDMETHODCALLTYPE GetArticleID(int index, BSTR* text) override {
        return frame::text_result(text, [&] { return frame::make_bstr(session_.GetArticleID(index)); });
    }
    HRESULT STDMETHODCALLTYPE GetSize(int index, int* result) override {
        return frame::value_result(result, [&] { return session_.GetSize(index); });
    }
    HRESULT STDMETHODCALLTYPE GetLastError(BSTR* text) override {
        return frame::text_result(text, [&] { return frame::make_bstr(session_.GetLastError()); });
    }
    HRESULT STDMETHODCALLTYPE GetListLength(int* result) override {
        return frame::value_result(result, [&] { return session_.GetListLength(); });
    }
    HRESULT STDMETHODCALLTYPE GetAllGroups(int* result) override {
        return frame::value_result(result, [&] { return session_.GetAllGroups(); });
    }
    HRESULT STDMETHODCALLTYPE PostArticle(BSTR from, BSTR newsgroups, BSTR subject, BSTR body, BSTR references,
                                          int* result) override {
        return frame::value_result(result, [&] {
            // With CodePage 65001 the article goes out in UTF-8 and says so.
            const std::string f = codePage_.in(from), g = codePage_.in(newsgroups), s = codePage_.in(subject),
                              b = codePage_.in(body), r = codePage_.in(references);
            return session_.PostArticle({f, g, s, b, r}, codePage_.utf8());
        });
    }
    HRESULT STDMETHODCALLTYPE GetMessageID(int index, BSTR* text) override {
        return frame::text_result(text, [&] { return frame::make_bstr(session_.GetMessageID(index)); });
    }
    HRESULT STDMETHODCALLTYPE GetReferences(int index, BSTR* text) override {
        return frame::text_result(text, [&] { return frame::make_bstr(session_.GetReferences(index)); });
    }
    HRESULT STDMETHODCALLTYPE GetPostedID(BSTR* text) override {
        return frame::text_result(text, [&] { return frame::make_bstr(session_.GetPostedID()); });
    }
    HRESULT STDMETHODCALLTYPE get_CodePage(long* value) override { return codePage_.get(value); }
    HRESULT STDMETHODCALLTYPE put_CodePage(long value) override { return codePage_.put(value); }

  private:
    // A header text as the page gets it: as it came, or decoded into UTF-8.
    BSTR header_bstr(std::string_view value) const {
        return codePage_.utf8() ? frame::make_bstr_utf8(engine::header_to_utf8(value)) : frame::make_bstr(value);
    }

    NewsSession session_;
    frame::BoundaryCodePage codePage_;
};

}  // namespace

HRESULT create_my_nntp(IUnknown* outer, REFIID riid, void** out) noexcept {
    // Pooled connections (NewsConnectionReuse) are closed on time by a
    // thread of the DLL's own.
    InstallNewsPoolWatcher();
    return frame::create_object<MyNntpObject>(outer, riid, out);
}

}  // namespace quillnet
