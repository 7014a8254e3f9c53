// Quillnet's class table: rows in the order they are registered.
#include "frame/module.h"
#include "quillnet.h"
#include "quillnet/classes.h"

namespace frame {

const ModuleInfo& module_info() {
    static const ClassRow rows[] = {
        {&CLSID_MyNntp, 102, &quillnet::create_my_nntp, &IID_IMyNntp},
        {&CLSID_ArticleManager, 104, &quillnet::create_article_manager, &IID_IArticlesManager},
        {&CLSID_MySmtp, 105, &quillnet::create_my_smtp, &IID_IMySmtp},
        {&CLSID_MyHttp, 106, &quillnet::create_my_http, &IID_IMyHttp},
    };
    static const ModuleInfo info{&LIBID_QUILLNETLib, rows};
    return info;
}

}  // namespace frame
