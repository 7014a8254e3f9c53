// The article list object: IArticlesManager over ArticleEntryList.
#include "frame/boundary.h"
#include "frame/object.h"
#include "frame/text.h"
#include "quillnet.h"
#include "quillnet/classes.h"
#include "quillnet/news/article_list.h"

namespace quillnet {
namespace {

class ArticlesManagerObject final : public frame::DualObject<IArticlesManager> {
  public:
    HRESULT STDMETHODCALLTYPE Add(int id, int size, BSTR subject) override {
        return frame::boundary([&] {
            list_.add(id, size, frame::to_ansi(subject));
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE Sort(int key, int* result) override {
        return frame::value_result(result, [&] {
            list_.sort(key);
            return 0;
        });
    }
    HRESULT STDMETHODCALLTYPE get_Size(long* count) override {
        return frame::value_result(count, [&] { return list_.size(); });
    }
    HRESULT STDMETHODCALLTYPE get_ArticleID(int position, long* id) override {
        return frame::value_result(id, [&] { return list_.id_at(position); });
    }
    HRESULT STDMETHODCALLTYPE get_ArticleSize(int position, long* size) override {
        return frame::value_result(size, [&] { return list_.size_at(position); });
    }
    HRESULT STDMETHODCALLTYPE get_ArticleSubject(int position, BSTR* subject) override {
        return frame::text_result(subject, [&] { return frame::make_bstr(list_.subject_at(position)); });
    }
    HRESULT STDMETHODCALLTYPE get_FirstArticle(long* id) override {
        return frame::value_result(id, [&] { return list_.lowest_id(); });
    }
    HRESULT STDMETHODCALLTYPE get_LastArticle(long* id) override {
        return frame::value_result(id, [&] { return list_.highest_id(); });
    }
    HRESULT STDMETHODCALLTYPE get_ArticleSizeStr(int position, BSTR* text) override {
        return frame::text_result(text, [&] { return frame::make_bstr(list_.size_text_at(position)); });
    }

    HRESULT STDMETHODCALLTYPE AddArticle(int id, int size, BSTR subject, BSTR messageId, BSTR references,
                                         BSTR date) override {
        return frame::boundary([&] {
            list_.add_article(id, size, frame::to_ansi(subject), frame::to_ansi(messageId), frame::to_ansi(references),
                              frame::to_ansi(date));
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE get_ArticleDepth(int position, long* depth) override {
        return frame::value_result(depth, [&] { return list_.depth_at(position); });
    }

  private:
    ArticleEntryList list_;
};

}  // namespace

HRESULT create_article_manager(IUnknown* outer, REFIID riid, void** out) noexcept {
    return frame::create_object<ArticlesManagerObject>(outer, riid, out);
}

}  // namespace quillnet
