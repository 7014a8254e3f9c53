// Nothing below the folders of stored files runs, however the path spells them.
#include <gtest/gtest.h>

#include "host/asp_page.h"
#include "host/run_policy.h"

namespace {

using host::may_run_page;

TEST(RunPolicy, StoredFilesNeverRunHoweverTheFolderIsSpelt) {
    for (const char* path : {"/uploads/probe.asp", "/news/demo/talk/probe2.asp", "/UPLOADS/probe.asp",
                             "/News/demo/x.ASP", "/uploads./probe.asp", "/uploads . ./probe.asp",
                             "\\uploads\\probe.asp", "//uploads/deeper/probe.asp", "/uploads/default.asp"})
        EXPECT_FALSE(may_run_page(path)) << path;
    // As the host gets them: decoded and normalised first.
    for (const char* path : {"/site/../uploads/probe.asp", "/./news/x.asp", "/uploads\\probe.asp"})
        EXPECT_FALSE(may_run_page(host::resolve_virtual("/", path))) << path;
}

TEST(RunPolicy, PagesOfTheSiteRun) {
    for (const char* path : {"/default.asp", "/upload.asp", "/news.asp", "/uploads.asp", "/site/uploads/x.asp",
                             "/newsroom/x.asp", "/uploadsx/x.asp"})
        EXPECT_TRUE(may_run_page(path)) << path;
    const std::string_view only[] = {"store"};
    EXPECT_FALSE(may_run_page("/Store/x.asp", only));
    EXPECT_TRUE(may_run_page("/uploads/x.asp", only));
}

}  // namespace
