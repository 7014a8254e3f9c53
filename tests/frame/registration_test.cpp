// Self-registration: the keys of every class-table row, registering twice,
// and unregistering. Runs alone (it rewrites the registrations the script
// tests use) and leaves both DLLs registered as it found them.
#include <gtest/gtest.h>

#include "frame/handles.h"
#include "kestle/kestle_idl.h"
#include "quillnet.h"
#include "support/com_test.h"

using namespace qk_test;

namespace {

std::wstring guid_text(const GUID& g) {
    wchar_t b[64] = {};
    ::StringFromGUID2(g, b, 64);
    return b;
}

bool key_exists(const std::wstring& path) {
    frame::unique_hkey k;
    return ::RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, k.put()) == ERROR_SUCCESS;
}

std::wstring value_of(const std::wstring& path, const wchar_t* name = nullptr) {
    wchar_t buffer[1024] = {};
    DWORD size = sizeof buffer;
    if (::RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
        return L"<missing>";
    return buffer;
}

DWORD subkey_count(const std::wstring& path) {
    frame::unique_hkey k;
    if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, k.put()) != ERROR_SUCCESS) return 0;
    DWORD n = 0;
    ::RegQueryInfoKeyW(k.get(), nullptr, nullptr, nullptr, &n, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr);
    return n;
}

void expect_class(const std::wstring& lib, const std::wstring& cls, const GUID& clsid, const GUID& libid,
                  const std::wstring& module) {
    const std::wstring desc = cls + L" Class";
    const std::wstring id = guid_text(clsid);
    const std::wstring key = L"CLSID\\" + id;
    EXPECT_EQ(desc, value_of(lib + L"." + cls + L".1"));
    EXPECT_EQ(id, value_of(lib + L"." + cls + L".1\\CLSID"));
    EXPECT_EQ(desc, value_of(lib + L"." + cls));
    EXPECT_EQ(id, value_of(lib + L"." + cls + L"\\CLSID"));
    EXPECT_EQ(lib + L"." + cls + L".1", value_of(lib + L"." + cls + L"\\CurVer"));
    EXPECT_EQ(desc, value_of(key));
    EXPECT_EQ(lib + L"." + cls + L".1", value_of(key + L"\\ProgID"));
    EXPECT_EQ(lib + L"." + cls, value_of(key + L"\\VersionIndependentProgID"));
    EXPECT_TRUE(key_exists(key + L"\\Programmable"));
    EXPECT_EQ(0u, _wcsicmp(module.c_str(), value_of(key + L"\\InprocServer32").c_str()));
    EXPECT_EQ(L"Apartment", value_of(key + L"\\InprocServer32", L"ThreadingModel"));
    EXPECT_EQ(guid_text(libid), value_of(key + L"\\TypeLib"));
    EXPECT_EQ(5u, subkey_count(key));
}

class RegistrationTest : public ::testing::Test {
  protected:
    void TearDown() override {
        // Leave both DLLs registered for the tests that follow.
        quillnet.register_server();
        kestle.register_server();
    }
    ComScope com;
    ComponentDll quillnet{L"Quillnet.dll"};
    ComponentDll kestle{L"KestleDLL.dll"};
};

TEST_F(RegistrationTest, RegisterWritesEveryRowAndTheTypeLibrary) {
    ASSERT_EQ(S_OK, quillnet.register_server());
    ASSERT_EQ(S_OK, kestle.register_server());
    expect_class(L"Quillnet", L"MyNntp", CLSID_MyNntp, LIBID_QUILLNETLib, quillnet.path());
    expect_class(L"Quillnet", L"ArticleManager", CLSID_ArticleManager, LIBID_QUILLNETLib, quillnet.path());
    expect_class(L"Quillnet", L"MySmtp", CLSID_MySmtp, LIBID_QUILLNETLib, quillnet.path());
    expect_class(L"Quillnet", L"MyHttp", CLSID_MyHttp, LIBID_QUILLNETLib, quillnet.path());
    expect_class(L"KestleDLL", L"Kestle", CLSID_Kestle, LIBID_KestleDLLLib, kestle.path());
    expect_class(L"KestleDLL", L"KestleImage", CLSID_KestleImage, LIBID_KestleDLLLib, kestle.path());
    expect_class(L"KestleDLL", L"KestleCapture", CLSID_KestleCapture, LIBID_KestleDLLLib, kestle.path());
    expect_class(L"KestleDLL", L"KestleChat", CLSID_KestleChat, LIBID_KestleDLLLib, kestle.path());
    // Classes without a row are never registered.
    EXPECT_FALSE(key_exists(L"CLSID\\" + guid_text(CLSID_ArticlesManager)));
    EXPECT_FALSE(key_exists(L"CLSID\\" + guid_text(CLSID_KestleAlert)));
    EXPECT_FALSE(key_exists(L"KestleDLL.KestleAlert"));
    EXPECT_FALSE(key_exists(L"Quillnet.ArticlesManager"));
    // The type libraries are registered and load by their identifiers.
    frame::com_ptr<ITypeLib> lib;
    EXPECT_EQ(S_OK, ::LoadRegTypeLib(LIBID_QUILLNETLib, 1, 0, 0, lib.put()));
    EXPECT_EQ(S_OK, ::LoadRegTypeLib(LIBID_KestleDLLLib, 1, 0, 0, lib.put()));
    BSTR doc = nullptr;
    ASSERT_EQ(S_OK, lib->GetDocumentation(-1, nullptr, &doc, nullptr, nullptr));
    EXPECT_EQ(L"KestleDLL 1.0 Type Library", text_of(doc));
    ::SysFreeString(doc);
}

TEST_F(RegistrationTest, RegisteringTwiceRecreatesTheClassKey) {
    ASSERT_EQ(S_OK, quillnet.register_server());
    const std::wstring key = L"CLSID\\" + guid_text(CLSID_MyNntp);
    // A stray key below a ForceRemove key is gone after the next registration.
    {
        frame::unique_hkey stray;
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CLASSES_ROOT, (key + L"\\Stray").c_str(), 0, nullptr, 0,
                                                   KEY_WRITE, nullptr, stray.put(), nullptr));
    }
    ASSERT_EQ(S_OK, quillnet.register_server());
    EXPECT_FALSE(key_exists(key + L"\\Stray"));
    expect_class(L"Quillnet", L"MyNntp", CLSID_MyNntp, LIBID_QUILLNETLib, quillnet.path());
}

TEST_F(RegistrationTest, UnregisterRemovesWhatRegistrationMadeButKeepsClsid) {
    ASSERT_EQ(S_OK, kestle.register_server());
    ASSERT_EQ(S_OK, kestle.unregister_server());
    EXPECT_FALSE(key_exists(L"CLSID\\" + guid_text(CLSID_Kestle)));
    EXPECT_FALSE(key_exists(L"KestleDLL.Kestle"));
    EXPECT_FALSE(key_exists(L"KestleDLL.Kestle.1"));
    EXPECT_FALSE(key_exists(L"KestleDLL.KestleChat"));
    EXPECT_TRUE(key_exists(L"CLSID"));
    frame::com_ptr<ITypeLib> lib;
    EXPECT_NE(S_OK, ::LoadRegTypeLib(LIBID_KestleDLLLib, 1, 0, 0, lib.put()));
    // Quillnet's registration is untouched by KestleDLL's removal.
    EXPECT_TRUE(key_exists(L"CLSID\\" + guid_text(CLSID_MyNntp)));
    // Unregistering what is not registered is not an error.
    EXPECT_EQ(S_OK, kestle.unregister_server());
}

TEST_F(RegistrationTest, ProgIdKeyWithForeignValuesSurvivesUnregistration) {
    ASSERT_EQ(S_OK, kestle.register_server());
    {
        frame::unique_hkey k;
        ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExW(HKEY_CLASSES_ROOT, L"KestleDLL.KestleImage", 0, KEY_WRITE, k.put()));
        const wchar_t v[] = L"x";
        ::RegSetValueExW(k.get(), L"Foreign", 0, REG_SZ, reinterpret_cast<const BYTE*>(v), sizeof v);
    }
    kestle.unregister_server();
    EXPECT_TRUE(key_exists(L"KestleDLL.KestleImage"));
    EXPECT_FALSE(key_exists(L"KestleDLL.KestleImage\\CLSID"));
    ::RegDeleteTreeW(HKEY_CLASSES_ROOT, L"KestleDLL.KestleImage");
    ::RegDeleteKeyW(HKEY_CLASSES_ROOT, L"KestleDLL.KestleImage");
}

TEST_F(RegistrationTest, RegisteredClassesAreCreatableByName) {
    ASSERT_EQ(S_OK, quillnet.register_server());
    CLSID clsid;
    ASSERT_EQ(S_OK, ::CLSIDFromProgID(L"Quillnet.ArticleManager", &clsid));
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_ArticleManager));
    ASSERT_EQ(S_OK, ::CLSIDFromProgID(L"Quillnet.MyNntp.1", &clsid));
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_MyNntp));
    frame::com_ptr<IDispatch> d;
    EXPECT_EQ(S_OK, ::CoCreateInstance(CLSID_ArticleManager, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, d.put_void()));
}

}  // namespace
