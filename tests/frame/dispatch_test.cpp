// Late binding of methods that take a VARIANT: the method must get the
// caller's own VARIANT (a posted body can be hundreds of megabytes), and the
// arguments are still checked as the type library's Invoke checks them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kestle/kestle_idl.h"
#include "support/com_test.h"

using frame::com_ptr;
using frame::unique_variant;
using namespace qk_test;

namespace {

constexpr DISPID kSavePostedFile = 3;

class VariantDispatchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(k);
        ASSERT_EQ(S_OK, k->QueryInterface(IID_IDispatch, d.put_void()));
        folder_ = program_folder() + L"\\frame_dispatch";
        ::CreateDirectoryW(folder_.c_str(), nullptr);
        remove_saved();
        const std::string body =
            "--b\r\nContent-Disposition: form-data; name=\"file\"; "
            "filename=\"up.bin\"\r\n"
            "Content-Type: application/octet-stream\r\n\r\n0123456789\r\n--b--\r\n";
        V_VT(body_.get()) = VT_ARRAY | VT_UI1;
        V_ARRAY(body_.get()) = ::SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(body.size()));
        void* data = nullptr;
        ::SafeArrayAccessData(V_ARRAY(body_.get()), &data);
        memcpy(data, body.data(), body.size());
        ::SafeArrayUnaccessData(V_ARRAY(body_.get()));
    }
    void TearDown() override {
        remove_saved();
        ::RemoveDirectoryW(folder_.c_str());
    }

    // Size of the saved upload, or -1 when the method wrote nothing.
    long long saved_size() const {
        WIN32_FILE_ATTRIBUTE_DATA info = {};
        if (!::GetFileAttributesExW(saved_path().c_str(), GetFileExInfoStandard, &info)) return -1;
        return (static_cast<long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    }
    void remove_saved() const { ::DeleteFileW(saved_path().c_str()); }
    std::wstring saved_path() const { return folder_ + L"\\up.bin"; }

    // The body argument by value (a shallow copy of the caller's VARIANT, as
    // a script engine passes a temporary) or as a reference to it.
    VARIANT body_by_value() { return *body_.get(); }
    VARIANT body_by_ref() {
        VARIANT ref;
        ::VariantInit(&ref);
        V_VT(&ref) = VT_BYREF | VT_VARIANT;
        V_VARIANTREF(&ref) = body_.get();
        return ref;
    }
    VARIANT folder() { return Arg(folder_.c_str()).v; }

    // Arguments in Invoke's order (last first); named ones lead.
    CallResult invoke(std::vector<VARIANT> args, std::vector<DISPID> named = {}) {
        CallResult r;
        DISPPARAMS params = {args.empty() ? nullptr : args.data(), named.empty() ? nullptr : named.data(),
                             static_cast<UINT>(args.size()), static_cast<UINT>(named.size())};
        r.arg_error = 77;
        EXCEPINFO excep = {};
        r.hr = d->Invoke(kSavePostedFile, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params, r.value.put(),
                         &excep, &r.arg_error);
        for (VARIANT& v : args)
            if (V_VT(&v) == VT_BSTR) ::VariantClear(&v);  // the body belongs to the fixture
        return r;
    }

    ComScope com;
    ComponentDll dll{L"KestleDLL.dll"};
    com_ptr<IKestle> k = dll.create<IKestle>(CLSID_Kestle);
    com_ptr<IDispatch> d;
    unique_variant body_;
    std::wstring folder_;
};

TEST_F(VariantDispatchTest, BodyByValueAndByReferenceSaveTheSame) {
    CallResult by_value = invoke({folder(), body_by_value()});
    ASSERT_EQ(S_OK, by_value.hr);
    EXPECT_EQ(L"up.bin", text_of(by_value.value.get()));
    EXPECT_EQ(10, saved_size());
    remove_saved();
    CallResult by_ref = invoke({folder(), body_by_ref()});
    ASSERT_EQ(S_OK, by_ref.hr);
    EXPECT_EQ(L"up.bin", text_of(by_ref.value.get()));
    EXPECT_EQ(10, saved_size());
    remove_saved();
    // The folder by name, the body in its place.
    CallResult named = invoke({folder(), body_by_value()}, {1});
    EXPECT_EQ(S_OK, named.hr);
    EXPECT_EQ(L"up.bin", text_of(named.value.get()));
    EXPECT_EQ(0u, V_ARRAY(body_.get())->cLocks);
    d.reset();
    EXPECT_EQ(1u, ref_count(k.get()));
}

TEST_F(VariantDispatchTest, TheMethodSeesTheCallersOwnArray) {
    // Locked as often as the system allows, the caller's array cannot be
    // opened again, so the method finds no bytes and saves nothing; a copy
    // made on the way would be a fresh array and be saved.
    SAFEARRAY* array = V_ARRAY(body_.get());
    ULONG locks = 0;
    while (locks < 0x10000 && SUCCEEDED(::SafeArrayLock(array))) ++locks;
    CallResult by_value = invoke({folder(), body_by_value()});
    CallResult by_ref = invoke({folder(), body_by_ref()});
    while (locks--) ::SafeArrayUnlock(array);
    EXPECT_EQ(S_OK, by_value.hr);
    EXPECT_EQ(L"", text_of(by_value.value.get()));
    EXPECT_EQ(S_OK, by_ref.hr);
    EXPECT_EQ(L"", text_of(by_ref.value.get()));
    EXPECT_EQ(-1, saved_size());
}

TEST_F(VariantDispatchTest, BadArgumentsGiveStandardErrorsAndNoCall) {
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, invoke({}).hr);
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, invoke({body_by_value()}).hr);
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, invoke({folder(), folder(), body_by_value()}).hr);

    // A folder that cannot become a text: the error names its slot.
    SAFEARRAY* numbers = ::SafeArrayCreateVector(VT_I4, 0, 2);
    VARIANT not_text;
    V_VT(&not_text) = VT_ARRAY | VT_I4;
    V_ARRAY(&not_text) = numbers;
    CallResult mismatch = invoke({not_text, body_by_value()});
    EXPECT_EQ(DISP_E_TYPEMISMATCH, mismatch.hr);
    EXPECT_EQ(0u, mismatch.arg_error);
    CallResult named_mismatch = invoke({not_text, body_by_value()}, {1});
    EXPECT_EQ(DISP_E_TYPEMISMATCH, named_mismatch.hr);
    EXPECT_EQ(0u, named_mismatch.arg_error);
    // The count is checked before any type.
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, invoke({folder(), not_text, body_by_value()}).hr);
    ::SafeArrayDestroy(numbers);

    // A name that is no parameter, or a parameter given twice.
    CallResult unknown = invoke({folder(), body_by_value()}, {7});
    EXPECT_EQ(DISP_E_PARAMNOTFOUND, unknown.hr);
    EXPECT_EQ(0u, unknown.arg_error);
    EXPECT_EQ(DISP_E_PARAMNOTFOUND, invoke({folder(), body_by_value()}, {0}).hr);

    DISPPARAMS too_many_named = {nullptr, nullptr, 0, 1};
    VARIANT result;
    ::VariantInit(&result);
    EXPECT_EQ(E_INVALIDARG,
              d->Invoke(kSavePostedFile, IID_NULL, 0, DISPATCH_METHOD, &too_many_named, &result, nullptr, nullptr));
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND,
              d->Invoke(kSavePostedFile, IID_NULL, 0, DISPATCH_PROPERTYPUT, &none, &result, nullptr, nullptr));
    EXPECT_EQ(-1, saved_size());
    EXPECT_EQ(0u, V_ARRAY(body_.get())->cLocks);
}

}  // namespace
