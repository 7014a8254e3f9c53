// Quillnet's class table: rows in the order they are registered.
#include "Quillnet_scripts.h"
#include "frame/module.h"
#include "quillnet.h"
#include "quillnet/classes.h"

namespace frame {

const ModuleInfo& module_info() {
    static const ClassRow rows[] = {
        {&CLSID_MyNntp, kScriptMyNntp, &quillnet::create_my_nntp, &IID_IMyNntp},
        {&CLSID_ArticleManager, kScriptArticleManager, &quillnet::create_article_manager, &IID_IArticlesManager},
        {&CLSID_MySmtp, kScriptMySmtp, &quillnet::create_my_smtp, &IID_IMySmtp},
        {&CLSID_MyHttp, kScriptMyHttp, &quillnet::create_my_http, &IID_IMyHttp},
    };
    static const ModuleInfo info{&LIBID_QUILLNETLib, rows};
    return info;
}

}  // namespace frame
