// The registrar's script language, applied below a scratch key of
// HKEY_CURRENT_USER so nothing real is touched.
#include <gtest/gtest.h>

#include <stdexcept>

#include "frame/handles.h"
#include "frame/registrar.h"

using namespace frame::registrar;

namespace {

const wchar_t kBase[] = L"Software\\QuillnetKestleTests\\Registrar";

std::wstring value_at(const std::wstring& sub, const wchar_t* name = nullptr) {
    wchar_t buffer[512] = {};
    DWORD size = sizeof buffer;
    const std::wstring path = std::wstring(kBase) + L"\\" + sub;
    if (::RegGetValueW(HKEY_CURRENT_USER, path.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
        return L"<missing>";
    return buffer;
}

bool exists(const std::wstring& sub) {
    frame::unique_hkey k;
    const std::wstring path = std::wstring(kBase) + L"\\" + sub;
    return ::RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, k.put()) == ERROR_SUCCESS;
}

class RegistrarTest : public ::testing::Test {
  protected:
    void SetUp() override { ::RegDeleteTreeW(HKEY_CURRENT_USER, kBase); }
    void TearDown() override { ::RegDeleteTreeW(HKEY_CURRENT_USER, kBase); }
    Script make(const std::wstring& body) {
        return parse(L"HKCU { NoRemove Software { NoRemove QuillnetKestleTests { Registrar { " + body + L" } } } }",
                     {{L"MODULE", L"C:\\it's here\\x.dll"}, {L"NAME", L"Named"}});
    }
};

TEST_F(RegistrarTest, WritesKeysValuesAndReplacements) {
    const Script s = make(L"A = s 'alpha' { val Threading = s 'Apartment' B = s '%MODULE%' 'C D' { } "
                          L"N = s '%NAME%-%%' val Count = d '42' }");
    ASSERT_EQ(S_OK, apply_register(s));
    EXPECT_EQ(L"alpha", value_at(L"A"));
    EXPECT_EQ(L"Apartment", value_at(L"A", L"Threading"));
    EXPECT_EQ(L"C:\\it's here\\x.dll", value_at(L"A\\B"));  // a quote in a path stays data
    EXPECT_TRUE(exists(L"A\\C D"));
    EXPECT_EQ(L"Named-%", value_at(L"A\\N"));
    DWORD count = 0, size = sizeof count;
    const std::wstring path = std::wstring(kBase) + L"\\A";
    EXPECT_EQ(ERROR_SUCCESS, ::RegGetValueW(HKEY_CURRENT_USER, path.c_str(), L"Count", RRF_RT_REG_DWORD, nullptr,
                                            &count, &size));
    EXPECT_EQ(42u, count);
}

TEST_F(RegistrarTest, ForceRemoveRecreatesAndDeleteRemoves) {
    ASSERT_EQ(S_OK, apply_register(make(L"F { Old { } } G { }")));
    ASSERT_EQ(S_OK, apply_register(make(L"ForceRemove F { New { } } Delete G")));
    EXPECT_TRUE(exists(L"F\\New"));
    EXPECT_FALSE(exists(L"F\\Old"));
    EXPECT_FALSE(exists(L"G"));
}

TEST_F(RegistrarTest, UnregisterKeepsNoRemoveAndForeignContent) {
    const Script s = make(L"NoRemove Keep { Mine = s 'x' } Plain = s 'p' { Sub { } } Shared { }");
    ASSERT_EQ(S_OK, apply_register(s));
    {
        frame::unique_hkey k;
        const std::wstring path = std::wstring(kBase) + L"\\Shared\\Foreign";
        ::RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, k.put(), nullptr);
    }
    EXPECT_EQ(S_OK, apply_unregister(s));
    EXPECT_TRUE(exists(L"Keep"));
    EXPECT_FALSE(exists(L"Keep\\Mine"));
    EXPECT_FALSE(exists(L"Plain"));
    EXPECT_TRUE(exists(L"Shared\\Foreign"));  // not ours: kept, and so is its parent
}

TEST_F(RegistrarTest, RegisterStopsAtFirstFailure) {
    // A key below HKEY_CLASSES_ROOT\CLSID named with an embedded NUL cannot be
    // made; an unopenable parent is simulated with a predefined bad hive instead.
    Script s;
    Root root;
    root.hive = static_cast<frame::registrar::Hive>(0x80000099);
    Key k;
    k.name = L"X";
    root.keys.push_back(k);
    s.roots.push_back(root);
    EXPECT_TRUE(FAILED(apply_register(s)));
    EXPECT_EQ(S_OK, apply_unregister(s));
}

TEST_F(RegistrarTest, BadScriptsAreRejected) {
    const Replacements r{{L"MODULE", L"m"}};
    EXPECT_THROW(parse(L"HKXX { A }", r), std::runtime_error);
    EXPECT_THROW(parse(L"HKCR { A = s 'open }", r), std::runtime_error);
    EXPECT_THROW(parse(L"HKCR { A = s '%UNKNOWN%' }", r), std::runtime_error);
    EXPECT_THROW(parse(L"HKCR { A = q 'x' }", r), std::runtime_error);
    EXPECT_THROW(parse(L"HKCR { A { }", r), std::runtime_error);
    EXPECT_THROW(parse(L"HKCR { 'a\\b' }", r), std::runtime_error);
    EXPECT_NO_THROW(parse(L"HKCR { 'NoRemove' { } }", r));  // quoted: a key name, not a flag
    const Script quoted = parse(L"HKCR { 'NoRemove' }", r);
    ASSERT_EQ(1u, quoted.roots[0].keys.size());
    EXPECT_EQ(KeyFlag::none, quoted.roots[0].keys[0].flag);
    EXPECT_EQ(L"NoRemove", quoted.roots[0].keys[0].name);
}

}  // namespace
