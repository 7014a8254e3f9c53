// Emoticons and size texts: plain logic, then through IKestle by vtable and
// by name.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "frame/text.h"
#include "kestle/kestle_idl.h"
#include "kestle/page_text.h"
#include "support/com_test.h"

using kestle::convert_file_size;
using kestle::smilies;
using namespace qk_test;

namespace {
const std::string s1 = "<IMG SRC='/images/smile1.gif'>";
const std::string s2 = "<IMG SRC='/images/smile2.gif'>";
const std::string s3 = "<IMG SRC='/images/smile3.gif'>";
const std::string s4 = "<IMG SRC='/images/smile4.gif'>";
const std::string s5 = "<IMG SRC='/images/smile5.gif'>";
const std::string s6 = "<IMG SRC='/images/smile6.gif'>";
const std::string s7 = "<IMG SRC='/images/smile7.gif'>";
const std::string s8 = "<IMG SRC='/images/smile8.gif'>";
}  // namespace

TEST(Smilies, EveryTokenAndItsTag) {
    EXPECT_EQ(s7 + s8 + s5 + s1 + s2 + s4 + s6 + s3, smilies(":)):((:-/:):(:D:x;)"));
}

TEST(Smilies, GreedyLeftToRightThreeBytesFirst) {
    EXPECT_EQ("", smilies(""));
    EXPECT_EQ("a " + s1 + " b " + s3 + " c", smilies("a :) b ;) c"));
    EXPECT_EQ(s7 + ")", smilies(":)))"));
    EXPECT_EQ(s8 + "(", smilies(":((("));
    EXPECT_EQ(":-)", smilies(":-)"));
    EXPECT_EQ(":X :d ;( ;D", smilies(":X :d ;( ;D"));
    EXPECT_EQ("end:", smilies("end:"));
    EXPECT_EQ("end" + s1, smilies("end:)"));
    EXPECT_EQ(";", smilies(";"));
    EXPECT_EQ("::" + s1, smilies(":::)"));
    EXPECT_EQ(";" + s1, smilies(";:)"));
    EXPECT_EQ(s1 + s1, smilies(":):)"));
    // Nothing else is escaped.
    EXPECT_EQ("<b>&amp;</b>", smilies("<b>&amp;</b>"));
}

TEST(Smilies, BytesAboveAsciiAndZerosPassThrough) {
    const std::string in("\xE9:)\x00:D", 6);
    EXPECT_EQ(std::string("\xE9") + s1 + std::string("\x00", 1) + s4, smilies(in));
}

TEST(ConvertFileSize, UnitBorders) {
    EXPECT_EQ("0 Bytes", convert_file_size(0));
    EXPECT_EQ("1 Bytes", convert_file_size(1));
    EXPECT_EQ("1023 Bytes", convert_file_size(1023));
    EXPECT_EQ("1 KB", convert_file_size(1024));
    EXPECT_EQ("1 KB", convert_file_size(1535));
    EXPECT_EQ("1023 KB", convert_file_size(1048575));
    EXPECT_EQ("1 MB", convert_file_size(1048576));
    EXPECT_EQ("1023 MB", convert_file_size(1073741823));
    EXPECT_EQ("1 GB", convert_file_size(1073741824));
    EXPECT_EQ("1 GB", convert_file_size(2147483647));
    EXPECT_EQ("-5 Bytes", convert_file_size(-5));
    EXPECT_EQ("-2147483648 Bytes", convert_file_size(INT_MIN));
}

class KestleCom : public ::testing::Test {
  protected:
    ComScope com;
    ComponentDll dll{L"KestleDLL.dll"};
};

TEST_F(KestleCom, TextMethodsByVtableAndByName) {
    auto k = dll.create<IKestle>(CLSID_Kestle);
    ASSERT_TRUE(k);
    frame::com_ptr<IDispatch> d;
    k->QueryInterface(IID_IDispatch, d.put_void());

    BSTR in = ::SysAllocString(L"hi :) there");
    BSTR out = nullptr;
    EXPECT_EQ(S_OK, k->Smilies(in, &out));
    EXPECT_EQ(L"hi <IMG SRC='/images/smile1.gif'> there", text_of(out));
    ::SysFreeString(out);
    ::SysFreeString(in);
    out = reinterpret_cast<BSTR>(1);
    EXPECT_EQ(S_OK, k->Smilies(nullptr, &out));  // null is the empty text
    EXPECT_EQ(L"", text_of(out));
    ::SysFreeString(out);
    EXPECT_EQ(E_POINTER, k->Smilies(nullptr, nullptr));

    // Text after an embedded NUL is not part of the text.
    BSTR with_nul = ::SysAllocStringLen(L":)\0:)", 5);
    EXPECT_EQ(S_OK, k->Smilies(with_nul, &out));
    EXPECT_EQ(L"<IMG SRC='/images/smile1.gif'>", text_of(out));
    ::SysFreeString(out);
    ::SysFreeString(with_nul);

    EXPECT_EQ(L"<IMG SRC='/images/smile3.gif'>", text_of(call(d.get(), L"Smilies", {Arg(L";)")}).value.get()));
    EXPECT_EQ(L"", text_of(call(d.get(), L"Smilies", {Arg(static_cast<const wchar_t*>(nullptr))}).value.get()));
    // Letters the ANSI code page lacks are kept, not turned into "?".
    EXPECT_EQ(L"\u03ba\u03b1\u03bb\u03ac <IMG SRC='/images/smile1.gif'> \u2615",
              text_of(call(d.get(), L"Smilies", {Arg(L"\u03ba\u03b1\u03bb\u03ac :) \u2615")}).value.get()));

    EXPECT_EQ(S_OK, k->ConvertFileSize(1073741824, &out));
    EXPECT_EQ(L"1 GB", text_of(out));
    ::SysFreeString(out);
    EXPECT_EQ(L"5 KB", text_of(call(d.get(), L"ConvertFileSize", {Arg(5 * 1024)}).value.get()));
    EXPECT_EQ(L"3 Bytes", text_of(call(d.get(), L"ConvertFileSize", {Arg(3.4)}).value.get()));
    EXPECT_EQ(DISP_E_TYPEMISMATCH, call(d.get(), L"ConvertFileSize", {Arg(L"lots")}).hr);
    EXPECT_EQ(DISP_E_OVERFLOW, call(d.get(), L"ConvertFileSize", {Arg(1e12)}).hr);
}

TEST_F(KestleCom, CaptureAndChatPlaceholders) {
    auto c = dll.create<IKestleCapture>(CLSID_KestleCapture);
    ASSERT_TRUE(c);
    int r = 9;
    EXPECT_EQ(S_OK, c->Connect(12345, &r));
    EXPECT_EQ(0, r);
    r = 9;
    EXPECT_EQ(S_OK, c->Disconnect(&r));
    EXPECT_EQ(0, r);
    long count = 77;
    EXPECT_EQ(S_OK, c->get_DeviceCount(&count));
    EXPECT_EQ(77, count);  // written by no one: the caller's value stays
    r = 55;
    EXPECT_EQ(S_OK, c->SnapShot(nullptr, &r));
    EXPECT_EQ(55, r);
    BSTR text = nullptr;
    EXPECT_EQ(S_OK, c->get_DeviceProperty(-1, 99, &text));
    ASSERT_NE(nullptr, text);  // an empty string, not a missing one
    EXPECT_EQ(0u, ::SysStringLen(text));
    ::SysFreeString(text);

    frame::com_ptr<IDispatch> d;
    c->QueryInterface(IID_IDispatch, d.put_void());
    EXPECT_EQ(0, V_I4(call(d.get(), L"Connect", {Arg(-7)}).value.get()));
    EXPECT_EQ(0, V_I4(call(d.get(), L"Disconnect").value.get()));
    CallResult prop = get(d.get(), L"DeviceProperty", {Arg(1), Arg(2)});
    EXPECT_EQ(S_OK, prop.hr);
    EXPECT_EQ(L"", text_of(prop.value.get()));
    EXPECT_EQ(S_OK, get(d.get(), L"DeviceCount").hr);
    EXPECT_EQ(S_OK, call(d.get(), L"SnapShot", {Arg(L"c:\\x.jpg")}).hr);

    auto chat = dll.create<IKestleChat>(CLSID_KestleChat);
    ASSERT_TRUE(chat);
    frame::com_ptr<IDispatch> cd;
    EXPECT_EQ(S_OK, chat->QueryInterface(IID_IDispatch, cd.put_void()));
    UINT n = 0;
    EXPECT_EQ(S_OK, cd->GetTypeInfoCount(&n));
    EXPECT_EQ(DISP_E_UNKNOWNNAME, call(cd.get(), L"Connect").hr);
}

TEST(Smilies, WideTextTaggedAsTheAnsiWay) {
    using kestle::size_wide_smilies;
    for (const std::string& text :
         {std::string(":)):((:-/:):(:D:x;) a :) b"), std::string(":))):-):X;;:"), std::string("end:"), std::string(),
          std::string("\x01\x7F;)"), std::string("caf\xE9 :) cr\xE8me:D\xFF;)")}) {
        const std::wstring wide = frame::ansi_to_wide(text);
        const auto sized = size_wide_smilies(wide);
        std::wstring out(sized.result_length, L'#');
        kestle::wide_smilies(std::wstring_view(wide).substr(0, sized.text_length), out.data());
        EXPECT_EQ(frame::ansi_to_wide(smilies(text)), out) << text;
    }
    // The text ends at its first NUL.
    const auto cut = size_wide_smilies(std::wstring(L":)\0:)\x00E9", 6));
    EXPECT_EQ(2u, cut.text_length);
    EXPECT_EQ(s1.size(), cut.result_length);
}
