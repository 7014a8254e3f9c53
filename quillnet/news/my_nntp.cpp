// The news session object: IMyNntp over NewsSession. Each method converts
// its arguments, calls the session and turns the outcome into the result.
#include "frame/boundary.h"
#include "frame/object.h"
#include "frame/text.h"
#include "quillnet.h"
#include "quillnet/classes.h"
#include "quillnet/news/news_pool_watcher.h"
#include "quillnet/news/news_session.h"

namespace quillnet {
namespace {

class MyNntpObject final : public frame::DualObject<IMyNntp> {
  public:
    HRESULT STDMETHODCALLTYPE GetText(BSTR* text) override {
        // Without a group the page gets a null text, not an empty one.
        return frame::text_result(text, [&]() -> BSTR {
            const std::optional<std::string_view> body = session_.GetText();
            return body ? frame::make_bstr(*body) : nullptr;
        });
    }
    HRESULT STDMETHODCALLTYPE SetServer(BSTR server, int* result) override {
        return frame::value_result(result, [&] { return session_.SetServer(frame::to_ansi(server)); });
    }
    HRESULT STDMETHODCALLTYPE SetGroup(BSTR group, int* result) override {
        return frame::value_result(result, [&] { return session_.SetGroup(frame::to_ansi(group)); });
    }
    HRESULT STDMETHODCALLTYPE GetGroup(BSTR* text) override {
        return frame::text_result(text, [&] { return frame::make_bstr(session_.GetGroup()); });
    }
    HRESULT STDMETHODCALLTYPE SetArticle(int value, long byIndex, int* result) override {
        return frame::value_result(result, [&] { return session_.SetArticle(value, byIndex != 0 ? 1 : 0); });
    }
    HRESULT STDMETHODCALLTYPE GetTotalArticles(int* result) override {
        return frame::value_result(result, [&] { return session_.GetTotalArticles(); });
    }
    HRESULT STDMETHODCALLTYPE GetMoreInfo(int index, int item, BSTR* text) override {
        return frame::text_result(text, [&] { return frame::make_bstr(session_.GetMoreInfo(index, item)); });
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
        return frame::text_result(text, [&] { return frame::make_bstr(session_.GetSubject(index)); });
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
        return frame::text_result(text, [&] { return frame::make_bstr(session_.GetFrom(index)); });
    }
    HRESULT STDMETHODCALLTYPE GetDate(int index, BSTR* text) override {
        return frame::text_result(text, [&] { return frame::make_bstr(session_.GetDate(index)); });
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
            const std::string f = frame::to_ansi(from), g = frame::to_ansi(newsgroups), s = frame::to_ansi(subject),
                              b = frame::to_ansi(body), r = frame::to_ansi(references);
            return session_.PostArticle({f, g, s, b, r});
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

  private:
    NewsSession session_;
};

}  // namespace

HRESULT create_my_nntp(IUnknown* outer, REFIID riid, void** out) noexcept {
    // Pooled connections (NewsConnectionReuse) are closed on time by a
    // thread of the DLL's own.
    InstallNewsPoolWatcher();
    return frame::create_object<MyNntpObject>(outer, riid, out);
}

}  // namespace quillnet
