// The .asp translation: what the script engine is given, and where its
// error lines point back to.
#include <gtest/gtest.h>

#include <map>

#include "host/asp_page.h"

namespace {

using host::compile_page;
using host::CompiledPage;
using host::PageError;

struct Files {
    std::map<std::string, std::string> files;
    host::SourceReader reader() const {
        return [this](const std::string& path) -> std::optional<std::string> {
            auto it = files.find(path);
            if (it == files.end()) return std::nullopt;
            return it->second;
        };
    }
};

CompiledPage compiled(const Files& f, const std::string& page) {
    auto result = compile_page(page, f.reader());
    if (auto* error = std::get_if<PageError>(&result)) {
        ADD_FAILURE() << error->message;
        return {};
    }
    return std::get<CompiledPage>(result);
}

PageError refused(const Files& f, const std::string& page) {
    auto result = compile_page(page, f.reader());
    EXPECT_TRUE(std::holds_alternative<PageError>(result));
    return std::holds_alternative<PageError>(result) ? std::get<PageError>(result) : PageError{};
}

// The script line holding `needle`, 0-based, as the engine counts.
long line_of(const CompiledPage& page, const std::string& needle) {
    const size_t at = page.script.find(needle);
    EXPECT_NE(at, std::string::npos) << needle << " in\n" << page.script;
    long line = 0;
    for (size_t i = 0; i < at && at != std::string::npos; ++i) line += page.script[i] == '\n';
    return line;
}

TEST(AspPage, LiteralTextBlocksAndExpressionsKeepSourceLines) {
    Files f;
    f.files["/a.asp"] = "<p>\n<% x = 1\r\ny = 2 %>\n<b><%= x + y %></b>\n<%\n\nboom %>";
    const CompiledPage page = compiled(f, "/a.asp");
    EXPECT_EQ(page.language, host::Language::vbscript);
    ASSERT_EQ(page.blocks.size(), 3u);
    EXPECT_EQ(page.blocks[0], "<p>\n");
    EXPECT_EQ(page.blocks[1], "\n<b>");
    EXPECT_NE(page.script.find("Response.WriteBlock 0"), std::string::npos);
    EXPECT_NE(page.script.find("Response.Write( x + y )"), std::string::npos);
    EXPECT_EQ(page.script.find('\r'), std::string::npos);
    EXPECT_EQ(page.place_of(line_of(page, "y = 2")).line, 3);
    EXPECT_EQ(page.place_of(line_of(page, "x + y")).line, 4);
    EXPECT_EQ(page.place_of(line_of(page, "boom")).line, 7);
    EXPECT_EQ(page.place_of(line_of(page, "boom")).file, "/a.asp");
}

TEST(AspPage, LanguageDirectiveChoosesTheEngineAndItsCallSyntax) {
    Files f;
    f.files["/j.asp"] = "<%@ LANGUAGE = \"JScript\" CODEPAGE=65001 %>\n<p><%= a %>";
    const CompiledPage page = compiled(f, "/j.asp");
    EXPECT_EQ(page.language, host::Language::jscript);
    EXPECT_NE(page.script.find("Response.WriteBlock(0);"), std::string::npos);
    EXPECT_NE(page.script.find("Response.Write( a );"), std::string::npos);

    f.files["/bad.asp"] = "<%@ Language=Perl %>";
    EXPECT_NE(refused(f, "/bad.asp").message.find("Perl"), std::string::npos);
    f.files["/late.asp"] = "<% x = 1 %><%@ Language=JScript %>";
    EXPECT_NE(refused(f, "/late.asp").message.find("first"), std::string::npos);
}

TEST(AspPage, IncludesAreExpandedWithTheirOwnFileAndLines) {
    Files f;
    f.files["/site/page.asp"] = "<!-- #include file=\"inc/a.inc\" -->\n<%\nafter %>\n<!--#INCLUDE VIRTUAL='/lib/b.inc'-->";
    f.files["/site/inc/a.inc"] = "<%\ninside_a %>";
    f.files["/lib/b.inc"] = "<!-- plain comment -->\n<% inside_b %>";
    const CompiledPage page = compiled(f, "/site/page.asp");
    EXPECT_EQ(page.place_of(line_of(page, "inside_a")).file, "/site/inc/a.inc");
    EXPECT_EQ(page.place_of(line_of(page, "inside_a")).line, 2);
    EXPECT_EQ(page.place_of(line_of(page, "after")).file, "/site/page.asp");
    EXPECT_EQ(page.place_of(line_of(page, "after")).line, 3);
    EXPECT_EQ(page.place_of(line_of(page, "inside_b")).file, "/lib/b.inc");
    EXPECT_EQ(page.place_of(line_of(page, "inside_b")).line, 2);
    EXPECT_EQ(page.blocks.front().find("#include"), std::string::npos);
    EXPECT_NE(page.blocks.back().find("plain comment"), std::string::npos);
}

TEST(AspPage, BadIncludesAndBlocksNameTheFileAndLine) {
    Files f;
    f.files["/p.asp"] = "line one\n<!-- #include file=\"missing.inc\" -->";
    PageError e = refused(f, "/p.asp");
    EXPECT_EQ(e.place.file, "/p.asp");
    EXPECT_EQ(e.place.line, 2);
    EXPECT_NE(e.message.find("/missing.inc"), std::string::npos);

    f.files["/up.asp"] = "<!-- #include file=\"../../etc/passwd\" -->";
    EXPECT_NE(refused(f, "/up.asp").message.find("leaves the web root"), std::string::npos);
    f.files["/odd.asp"] = "<!-- #include fil=\"x\" -->";
    EXPECT_NE(refused(f, "/odd.asp").message.find("Bad include"), std::string::npos);
    f.files["/self.asp"] = "<!-- #include file=\"self.asp\" -->";
    EXPECT_NE(refused(f, "/self.asp").message.find("nesting"), std::string::npos);
    f.files["/open.asp"] = "a\nb <% x = 1";
    e = refused(f, "/open.asp");
    EXPECT_EQ(e.place.line, 2);
    EXPECT_NE(e.message.find("%>"), std::string::npos);
    EXPECT_EQ(refused(f, "/none.asp").message, "Page not found");
}

TEST(AspPage, VirtualPathsStayBelowTheRoot) {
    using host::resolve_virtual;
    EXPECT_EQ(resolve_virtual("/site/page.asp", "inc/a.inc"), "/site/inc/a.inc");
    EXPECT_EQ(resolve_virtual("/site/page.asp", "../top.inc"), "/top.inc");
    EXPECT_EQ(resolve_virtual("/site/page.asp", "/x\\y.inc"), "/x/y.inc");
    EXPECT_EQ(resolve_virtual("/site/page.asp", "./"), "/site/");
    EXPECT_EQ(resolve_virtual("/page.asp", "/"), "/");
    EXPECT_EQ(resolve_virtual("/site/page.asp", "../../x"), "");
    EXPECT_EQ(resolve_virtual("/page.asp", "C:\\windows\\win.ini"), "");
    EXPECT_EQ(resolve_virtual("/page.asp", "a.asp::$DATA"), "");
    EXPECT_EQ(resolve_virtual("/page.asp", std::string("a\0b", 3)), "");
    EXPECT_EQ(resolve_virtual("/page.asp", ""), "");
}

}  // namespace
