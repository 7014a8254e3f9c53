// Text conversion at the boundary: every byte survives the trip, NULs in a
// caller's BSTR end the text, and long texts convert whole.
#include <gtest/gtest.h>

#include <string>

#include "frame/handles.h"
#include "frame/parse.h"
#include "frame/text.h"

using namespace frame;

TEST(Text, NullAndEmptyAreTheEmptyText) {
    EXPECT_EQ("", to_ansi(nullptr));
    EXPECT_EQ("", to_ansi(L""));
    unique_bstr empty(make_bstr(""));
    ASSERT_TRUE(empty);
    EXPECT_EQ(0u, ::SysStringLen(empty.get()));
}

TEST(Text, CallerTextEndsAtItsFirstNul) {
    unique_bstr s(::SysAllocStringLen(L"ab\0cd", 5));
    EXPECT_EQ("ab", to_ansi(s.get()));
}

TEST(Text, EveryAnsiByteRoundTripsZerosIncluded) {
    std::string all;
    for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
    unique_bstr b(make_bstr(all));
    ASSERT_EQ(256u, ::SysStringLen(b.get()));
    EXPECT_EQ(L'\0', b.get()[0]);
    EXPECT_EQ(L'A', b.get()['A']);
    // Bytes the code page defines come back as the same bytes.
    const std::string back = to_ansi(b.get() + 1);
    EXPECT_EQ(all.substr(1, 0x7F), back.substr(0, 0x7F));
}

TEST(Text, NonAsciiGoesThroughTheCodePage) {
    // U+00E9 exists in every Western code page; U+4E2D in none of them.
    const std::string e = to_ansi(L"caf\u00e9");
    ASSERT_EQ(4u, e.size());
    unique_bstr back(make_bstr(e));
    const CPINFO info = [] {
        CPINFO i{};
        ::GetCPInfo(CP_ACP, &i);
        return i;
    }();
    if (::GetACP() == 1252) {
        EXPECT_EQ('\xE9', e[3]);
        EXPECT_EQ(std::wstring(L"caf\u00e9"), std::wstring(back.get()));
        EXPECT_EQ("x?y", to_ansi(L"x\u4E2Dy"));
    }
    EXPECT_GE(info.MaxCharSize, 1u);
}

TEST(Text, Utf8BothWaysAndDetection) {
    unique_bstr b(make_bstr_utf8("\xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"));
    EXPECT_EQ(std::wstring(L"\u00e9t\u00e9 \u20ac \U0001F600"), std::wstring(b.get()));
    EXPECT_EQ("\xE2\x82\xAC", to_utf8(L"\u20ac"));
    EXPECT_TRUE(looks_like_utf8("\xC3\xA9"));
    EXPECT_FALSE(looks_like_utf8("plain ascii"));
    EXPECT_FALSE(looks_like_utf8("\xE9t\xE9"));   // Latin-1
    EXPECT_FALSE(looks_like_utf8("ab\xC3"));      // cut off
    EXPECT_FALSE(looks_like_utf8("\xC0\x80"));    // overlong NUL
}

TEST(Text, LargeTextsConvertWhole) {
    std::string big(3 * 1024 * 1024, 'a');
    big[12345] = '\0';
    big.back() = 'z';
    unique_bstr b(make_bstr(big));
    ASSERT_EQ(big.size(), ::SysStringLen(b.get()));
    EXPECT_EQ(L'\0', b.get()[12345]);
    EXPECT_EQ(L'z', b.get()[big.size() - 1]);
    std::string utf(2 * 1024 * 1024, '\0');
    for (size_t i = 0; i + 1 < utf.size(); i += 2) {
        utf[i] = '\xC3';
        utf[i + 1] = '\xA9';
    }
    unique_bstr u(make_bstr_utf8(utf));
    ASSERT_EQ(utf.size() / 2, ::SysStringLen(u.get()));
    EXPECT_EQ(L'\u00e9', u.get()[utf.size() / 2 - 1]);
}
// Fields from peers: a decimal field is all digits and short enough for its
// type; a strict escape must be whole, a lenient one stays when it is not.
TEST(Parse, DecimalFieldsAndPercentEscapes) {
    long long big = -1;
    EXPECT_FALSE(frame::parse_decimal("1234567890123456789", big));  // past what the type surely holds
    EXPECT_TRUE(frame::parse_decimal("123456789012345678", big));
    EXPECT_EQ(123456789012345678LL, big);
    unsigned port = 7;
    for (const char* bad : {"", "+1", "1 ", "0x1", "123456"}) EXPECT_FALSE(frame::parse_decimal(bad, port, 5)) << bad;
    EXPECT_EQ(7u, port);
    EXPECT_TRUE(frame::parse_decimal("65535", port, 5));
    EXPECT_EQ(65535u, port);

    std::string out;
    EXPECT_TRUE(frame::percent_decode("a%41%2fb+c", out, frame::Escapes::strict));
    EXPECT_EQ("aA/b+c", out);
    EXPECT_TRUE(frame::percent_decode("a%41+c", out, frame::Escapes::lenient, true));
    EXPECT_EQ("aA c", out);
    for (const char* broken : {"%", "%4", "%4g", "50%"}) {
        EXPECT_FALSE(frame::percent_decode(broken, out, frame::Escapes::strict)) << broken;
        EXPECT_TRUE(frame::percent_decode(broken, out, frame::Escapes::lenient));
        EXPECT_EQ(broken, out);
    }
}

