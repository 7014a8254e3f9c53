// Texts for pages that asked for UTF-8: header values with encoded words and
// raw 8-bit bytes, and article bodies in their declared charsets. Results
// are compared as wide text, so the cases read as the page would see them;
// bytes that fall back to the ANSI code page are compared with what that
// code page makes of them, whichever it is.
#include <gtest/gtest.h>

#include <string>

#include "frame/text.h"
#include "frame/utf8.h"
#include "quillnet/engine/utf8_text.h"
#include "quillnet/news/article_text.h"

using quillnet::article_text_to_utf8;
using quillnet::engine::document_to_utf8;
using quillnet::engine::header_to_utf8;

namespace {

std::wstring wide(const std::string& utf8) {
    EXPECT_TRUE(frame::valid_utf8(utf8)) << utf8;
    return frame::utf8_to_wide(utf8);
}

TEST(Utf8Text, HeaderValues) {
    const struct {
        const char* value;
        const wchar_t* shown;
    } cases[] = {
        {"plain ascii", L"plain ascii"},
        // Raw UTF-8, as today's news readers post it.
        {"Gr\xC3\xBC\xC3\x9F"
         "e aus K\xC3\xB6ln \xE2\x80\x94 caf\xC3\xA9 \xE2\x98\x95",
         L"Gr\u00fc\u00dfe aus K\u00f6ln \u2014 caf\u00e9 \u2615"},
        {"=?UTF-8?B?zpXOu867zrfOvc65zrrOrA==?= und =?utf-8?q?=D1=80=D1=83=D1=81=D1=81=D0=BA=D0=B8=D0=B9?=",
         L"\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac und \u0440\u0443\u0441\u0441\u043a\u0438\u0439"},
        {"=?ISO-8859-1?Q?Caf=E9_cr=E8me?=", L"Caf\u00e9 cr\u00e8me"},
        {"=?ISO-8859-1?Q?Andr=E9?= <andre@example.invalid>", L"Andr\u00e9 <andre@example.invalid>"},
        {"=?koi8-r?b?8NLJ18XU?=", L"\u041f\u0440\u0438\u0432\u0435\u0442"},
        // A character split between two words of one charset; the folding
        // blanks between adjacent words vanish.
        {"=?utf-8?q?caf=C3?=\r\n =?utf-8?q?=A9?=", L"caf\u00e9"},
        // Words of a charset we do not know stay as written, and so does
        // what is not a word at all.
        {"=?x-klingon?Q?tlhIngan_Hol?= ok", L"=?x-klingon?Q?tlhIngan_Hol?= ok"},
        {"=?utf-8?x?abc?= =?utf-8?q?open", L"=?utf-8?x?abc?= =?utf-8?q?open"},
        // A UTF-8 word holding bytes that are not UTF-8: replacement marks,
        // never the raw bytes.
        {"=?utf-8?q?a=FFb?=", L"a\ufffdb"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.shown, wide(header_to_utf8(c.value))) << c.value;

    // 8-bit bytes that are not UTF-8 (Latin-1 here, overlong or surrogate
    // forms, a cut-off sequence) are read in the ANSI code page, words and all.
    for (const char* raw : {"D\xE9j\xE0 vu", "\xC0\xAF overlong", "\xED\xA0\x80 half", "cut \xE2\x82"})
        EXPECT_EQ(frame::ansi_to_wide(raw), wide(header_to_utf8(raw))) << raw;
    EXPECT_EQ(frame::ansi_to_wide("\xE9 ") + L"\u00e9", wide(header_to_utf8("\xE9 =?utf-8?q?=C3=A9?=")));

    // A 1 MB line of words and near-words comes back whole and readable.
    std::string big;
    size_t units = 0;
    for (; big.size() < (1u << 20); ++units) big += "=?utf-8?q?=C3=A9?= =?x?q?=?= =?utf-8?b?!!!?= \xFF=?";
    const std::string out = header_to_utf8(big);
    EXPECT_TRUE(frame::valid_utf8(out));
    size_t found = 0;
    for (size_t at = out.find("\xC3\xA9"); at != std::string::npos; at = out.find("\xC3\xA9", at + 2)) ++found;
    EXPECT_GE(found, units);
}

TEST(Utf8Text, ArticleBodies) {
    // A single-part body in its declared charset; undeclared text by the
    // UTF-8-or-ANSI rule.
    EXPECT_EQ(L"Voil\u00e0, \u00e7a marche.\n", wide(article_text_to_utf8("Voil\xE0, \xE7"
                                                                          "a marche.\n",
                                                                          "text/plain; charset=ISO-8859-1")));
    EXPECT_EQ(L"\u041f\u0440\u0438\u0432\u0435\u0442\n",
              wide(article_text_to_utf8("\xF0\xD2\xC9\xD7\xC5\xD4\n", "text/plain; charset=\"KOI8-R\"")));
    EXPECT_EQ(L"\u2615 caf\u00e9\n", wide(article_text_to_utf8("\xE2\x98\x95 caf\xC3\xA9\n", "")));
    EXPECT_EQ(frame::ansi_to_wide("caf\xE9\n"), wide(article_text_to_utf8("caf\xE9\n", "text/plain")));
    EXPECT_EQ(frame::ansi_to_wide("caf\xE9\n"),
              wide(article_text_to_utf8("caf\xE9\n", "text/plain; charset=x-unknown")));
    EXPECT_EQ(frame::ansi_to_wide("caf\xE9\n"),
              wide(article_text_to_utf8("caf\xE9\n", "text/plain; charset=us-ascii")));

    // Multipart: each part in its own charset (a folded Content-Type
    // included), the preamble and headers undeclared, and marker lines
    // naming store files in the ANSI code page.
    const std::string body =
        "This is a multi-part message in MIME format.\n"
        "--b1\n"
        "Content-Type: text/plain;\n"
        "\tcharset=ISO-8859-1\n"
        "\n"
        "Gr\xFC\xDF"
        "e\n"
        "--b1\n"
        "Content-Type: text/plain; charset=utf-8\n"
        "\n"
        "K\xC3\xB6ln\n"
        "--Attachment--: \\news\\demo\\caf\xE9.png\n"
        "--b1--\n"
        "\xE2\x98\x95\n";
    const std::wstring shown = wide(article_text_to_utf8(body, "multipart/mixed; boundary=\"b1\""));
    EXPECT_EQ(
        L"This is a multi-part message in MIME format.\n--b1\nContent-Type: text/plain;\n\tcharset=ISO-8859-1\n\n"
        L"Gr\u00fc\u00dfe\n--b1\nContent-Type: text/plain; charset=utf-8\n\nK\u00f6ln\n" +
            frame::ansi_to_wide("--Attachment--: \\news\\demo\\caf\xE9.png\n") + L"--b1--\n\u2615\n",
        shown);

    // Hostile: a part header that never ends, a boundary that never comes,
    // a body cut in the middle of a character.
    EXPECT_TRUE(frame::valid_utf8(
        article_text_to_utf8("--b\nContent-Type: text/plain; charset=utf-8", "multipart/x; boundary=b")));
    EXPECT_TRUE(frame::valid_utf8(article_text_to_utf8("abc\xC3", "text/plain; charset=utf-8")));
    EXPECT_EQ(L"", wide(article_text_to_utf8("", "multipart/mixed; boundary=b")));
}

TEST(Utf8Text, FetchedDocuments) {
    const struct {
        std::string bytes;
        const char* type;
        const wchar_t* shown;
    } cases[] = {
        {"caf\xE9", "text/plain; charset=ISO-8859-1", L"caf\u00e9"},
        {"<META CHARSET = 'KOI8-R'>\xF0", "text/html", L"<META CHARSET = 'KOI8-R'>\u041f"},
        {std::string("\xFE\xFF\0c\xD8\x3D\xDE\x00", 8), "", L"c\U0001F600"},
        // A lone surrogate, an odd last byte: replacement marks.
        {std::string("\xFF\xFE\x00\xD8x", 5), "", L"\ufffd\ufffd"},
        // Unknown charsets, a meta tag never closed.
        {"caf\xC3\xA9", "text/plain; charset=x-none", L"caf\u00e9"},
        {"<meta charset=x-none>caf\xC3\xA9", "", L"<meta charset=x-none>caf\u00e9"},
        {"<meta charset=", "", L"<meta charset="},
    };
    for (const auto& c : cases) EXPECT_EQ(c.shown, wide(document_to_utf8(c.bytes, c.type))) << c.bytes;
    EXPECT_EQ(
        L"<meta http-equiv=content-type content=\"text/html;charset=windows-1251\">\u041f",
        wide(document_to_utf8("<meta http-equiv=content-type content=\"text/html;charset=windows-1251\">\xCF", "")));
    // A meta tag past the first 1024 bytes is not looked at.
    EXPECT_NE(std::wstring::npos,
              wide(document_to_utf8(std::string(1100, ' ') + "<meta charset=koi8-r>\xC3\xA9", "")).find(L"\u00e9"));
}

}  // namespace
