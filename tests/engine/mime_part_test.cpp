// The MIME part decoder: parts of a stretch of multipart body, their
// encodings, and file names in every form mail programs write them.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <utility>

#include "golden.h"
#include "quillnet/engine/charset.h"
#include "quillnet/engine/mime_part.h"

using namespace quillnet::engine;
using qk_golden::crlf_lines;

namespace {

// The ANSI form of a wide text, as the components hand names on.
std::string ansi(const std::wstring& wide) {
    const int n = ::WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                        nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::string decoded(const MimeMessage& m, size_t part, Verdict* verdict = nullptr) {
    ByteBuffer out;
    const Verdict v = m.decode_part(part, out);
    if (verdict) *verdict = v;
    return std::string(out.view());
}

}  // namespace

TEST(MimePart, AStretchFromOneDelimiterToTheNext) {
    // As the attachment extraction hands it over: the delimiter line, the
    // part, and the next delimiter line without its line end.
    const std::string text =
        "--XYZ\n"
        "Content-Type: image/gif;\n"
        "\tname=\"fallback.gif\"\n"
        "Content-Transfer-Encoding: BASE64\n"
        "Content-Disposition: attachment; filename=\"pic.gif\"\n"
        "\n"
        "R0lG\n"
        "ODlh\n"
        "\n"
        "--XYZ";
    MimeMessage m;
    EXPECT_EQ(Verdict::finished, m.parse(text));
    ASSERT_EQ(1u, m.part_count());
    EXPECT_EQ("pic.gif", m.part_filename(0));
    EXPECT_EQ("fallback.gif", m.part_name(0));
    EXPECT_EQ("image/gif;\tname=\"fallback.gif\"", m.header(0, "content-type"));
    Verdict v;
    EXPECT_EQ("GIF89a", decoded(m, 0, &v));
    EXPECT_EQ(Verdict::finished, v);
}

TEST(MimePart, SeveralPartsTheClosingDelimiterAndTheLineEndBeforeADelimiter) {
    const std::string text =
        "--b\r\n"
        "\r\n"
        "plain text, no headers\r\n"
        "--b\r\n"
        "Content-Type: text/plain\r\n"
        "Content-Transfer-Encoding: 8bit\r\n"
        "\r\n"
        "two lines\r\n"
        "of \xe9t\xe9\r\n"
        "\r\n"
        "--b--\r\n"
        "epilogue\r\n";
    MimeMessage m;
    EXPECT_EQ(Verdict::finished, m.parse(text));
    ASSERT_EQ(2u, m.part_count());
    EXPECT_EQ("plain text, no headers", decoded(m, 0));
    // Only the line end just before the delimiter belongs to it.
    EXPECT_EQ("two lines\r\nof \xe9t\xe9\r\n", decoded(m, 1));
    EXPECT_EQ("", m.part_filename(1));
    EXPECT_EQ("", m.part_name(1));
}

TEST(MimePart, APartNeverClosedOrNoPartAtAll) {
    MimeMessage m;
    EXPECT_EQ(Verdict::incomplete, m.parse("--b\nContent-Type: text/plain; name=a.txt\n\nabc\nnot --b at a line start"));
    ASSERT_EQ(1u, m.part_count());
    Verdict v;
    decoded(m, 0, &v);
    EXPECT_EQ(Verdict::incomplete, v);
    EXPECT_EQ(Verdict::bad_data, m.parse("--b"));
    EXPECT_EQ(0u, m.part_count());
    // Text that is not a stretch of multipart body is one entity.
    EXPECT_EQ(Verdict::finished, m.parse("Content-Type: text/plain; name=x.txt\n\nhello"));
    ASSERT_EQ(1u, m.part_count());
    EXPECT_EQ("x.txt", m.part_name(0));
    EXPECT_EQ("hello", decoded(m, 0));
}

TEST(MimePart, TransferEncodings) {
    MimeMessage m;
    m.parse(
        "--b\nContent-Transfer-Encoding: quoted-printable\n\nna=EFve=\n "
        "caf=C3=A9\n--b");
    EXPECT_EQ("na\xefve caf\xc3\xa9", decoded(m, 0));
    m.parse(
        "--b\nContent-Transfer-Encoding: x-uuencode\n\nbegin 644 "
        "abc.txt\n#86)C\n`\nend\n--b");
    EXPECT_EQ("abc", decoded(m, 0));
    m.parse("--b\nContent-Transfer-Encoding: binary\n\n\x01\x02\n--b");
    EXPECT_EQ("\x01\x02", decoded(m, 0));
    Verdict v;
    m.parse("--b\nContent-Transfer-Encoding: x-gzip64\n\nH4sI\n--b");
    decoded(m, 0, &v);
    EXPECT_EQ(Verdict::bad_data, v);
    m.parse("--b\nContent-Transfer-Encoding: base64\n\nQUJDQ\n--b");
    EXPECT_EQ("ABC", decoded(m, 0, &v));
    EXPECT_EQ(Verdict::incomplete, v);
}

TEST(MimePart, Rfc2231NamesWithCharsetsAndContinuations) {
    EXPECT_EQ("my report.pdf", header_parameter("attachment; filename*=us-ascii'en-us'my%20report.pdf", "filename"));
    EXPECT_EQ(ansi(L"\u00e9t\u00e9.txt"), header_parameter("attachment; filename*=UTF-8''%C3%A9t%C3%A9.txt", "filename"));
    EXPECT_EQ(ansi(L"\u00e9t\u00e9.txt"), header_parameter("attachment; filename*=iso-8859-1''%E9t%E9.txt", "filename"));
    // Continuations in any order, mixed plain and encoded sections.
    EXPECT_EQ(ansi(L"long \u00e9 name.txt"),
              header_parameter("attachment; filename*1*=%20%C3%A9; filename*0*=utf-8''long;\r\n"
                               "\tfilename*2=\" name.txt\"",
                               "filename"));
    // The extended form wins over the plain one; a gap ends continuations.
    EXPECT_EQ("new.txt", header_parameter("attachment; filename=\"old.txt\"; filename*=''new.txt", "filename"));
    EXPECT_EQ("ab", header_parameter("attachment; filename*0=a; filename*1=b; filename*3=d", "filename"));
    // Names of parameters are compared without regard to case.
    EXPECT_EQ("x.gif", header_parameter("image/gif; NAME=\"x.gif\"", "name"));
    EXPECT_EQ("", header_parameter("image/gif; filename=x.gif", "name"));
}

TEST(MimePart, QuotedValuesAndCarelessOnes) {
    EXPECT_EQ("a \"b\".txt", header_parameter("attachment; filename=\"a \\\"b\\\".txt\"", "filename"));
    EXPECT_EQ("semi;colon.txt", header_parameter("attachment; filename=\"semi;colon.txt\"; size=3", "filename"));
    EXPECT_EQ("no quotes here.txt", header_parameter("attachment; filename=no quotes here.txt", "filename"));
    EXPECT_EQ("unclosed.txt", header_parameter("attachment; filename=\"unclosed.txt", "filename"));
}

TEST(MimePart, Rfc2047EncodedWords) {
    EXPECT_EQ("summary.pdf", decode_encoded_words("=?UTF-8?B?c3VtbWFyeS5wZGY=?="));
    EXPECT_EQ("plan B.txt", decode_encoded_words("=?us-ascii?q?plan_B.txt?="));
    // Blanks between adjacent words vanish; other text stays.
    EXPECT_EQ("ab", decode_encoded_words("=?utf-8?q?a?= \r\n =?utf-8?q?b?="));
    EXPECT_EQ("x a - b y", decode_encoded_words("x =?utf-8?q?a?= - =?utf-8?q?b?= y"));
    // A character split across two words in one charset is put together.
    EXPECT_EQ(ansi(L"\u00e9"), decode_encoded_words("=?utf-8?q?=C3?= =?utf-8?q?=A9?="));
    EXPECT_EQ(ansi(L"caf\u00e9.doc"), decode_encoded_words("=?ISO-8859-1*fr?Q?caf=E9.doc?="));
    // Malformed words are kept as written.
    EXPECT_EQ("=?utf-8?x?abc?=", decode_encoded_words("=?utf-8?x?abc?="));
    EXPECT_EQ("=?utf-8?q?open", decode_encoded_words("=?utf-8?q?open"));
    // As a quoted parameter value, the way mail programs write it.
    MimeMessage m;
    m.parse(
        "--b\nContent-Type: application/octet-stream;\n "
        "name=\"=?UTF-8?B?w6l0w6kudHh0?=\"\n\nx\n--b");
    EXPECT_EQ(ansi(L"\u00e9t\u00e9.txt"), m.part_name(0));
}

TEST(MimePart, HostileSizes) {
    // A 10 MB header line and a 10 MB body line.
    const std::string big(10 << 20, 'a');
    const std::string text =
        "--b\nContent-Type: text/plain; name=\"" + big + "\"\nContent-Transfer-Encoding: base64\n\n" + big + "\n--b";
    MimeMessage m;  // keeps views of the text
    EXPECT_EQ(Verdict::finished, m.parse(text));
    EXPECT_EQ(big.size(), m.part_name(0).size());
    Verdict v;
    EXPECT_EQ(big.size() / 4 * 3, decoded(m, 0, &v).size());
    EXPECT_EQ(Verdict::finished, v);
}

TEST(EncodedWords, KeepHeaderLinesShortAndCharactersWhole) {
    EXPECT_EQ("=?windows-1252?B?Q2Fm6Q==?=", encode_words("Caf\xe9", "windows-1252", 1252, 9));
    const std::string words = encode_words(std::string(120, '\xe9'), "windows-1252", 1252, 9);
    const auto lines = crlf_lines(words);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_LE(lines[0].size() + 9, 76u);
    for (size_t i = 1; i < lines.size(); ++i) {
        EXPECT_EQ(' ', lines[i][0]);
        EXPECT_LE(lines[i].size(), 76u);
    }
    // Shift_JIS: no word may end in the middle of a two-byte character. After
    // a one-byte "x" the first word holds an odd number of bytes, every
    // later one an even number.
    std::string kana;
    for (int i = 0; i < 50; ++i) kana += "\x82\xa0";
    const auto sjis = crlf_lines(encode_words("x" + kana, "Shift_JIS", 932, 9));
    ASSERT_GE(sjis.size(), 2u);
    for (size_t i = 0; i < sjis.size(); ++i) {
        const std::string& line = sjis[i];
        const size_t start = line.find("?B?") + 3;
        const std::string b64 = line.substr(start, line.rfind("?=") - start);
        const size_t bytes = b64.size() / 4 * 3 - std::count(b64.begin(), b64.end(), '=');
        EXPECT_EQ(i == 0 ? 1u : 0u, bytes % 2) << line;
    }
}

// Names we write are names we read, and the other way round.
TEST(Charset, NamesAndCodePagesAgreeBothWays) {
    const std::pair<unsigned, const char*> written[] = {
        {1252, "windows-1252"}, {932, "Shift_JIS"}, {65001, "UTF-8"}, {20932, "EUC-JP"}, {51932, "EUC-JP"}};
    for (const auto& [cp, name] : written) EXPECT_EQ(name, charset_of_code_page(cp)) << cp;
    EXPECT_EQ(20932u, code_page_of("euc-jp"));
    for (unsigned cp : {874u, 932u, 936u, 949u, 950u, 1250u, 1251u, 1252u, 1253u, 1254u, 1255u, 1256u, 1257u, 1258u,
                        20866u, 20932u, 28591u, 28605u, 65001u}) {
        EXPECT_EQ(cp, code_page_of(charset_of_code_page(cp))) << cp;
    }
}
