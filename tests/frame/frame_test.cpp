// The component frame seen from outside, as COM and a script host see it:
// class objects, creation, aggregation, the interface map, reference counts,
// the module lock, late binding through the type library, and registration.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "kestle/kestle_idl.h"
#include "quillnet.h"
#include "support/com_test.h"

using frame::com_ptr;
using namespace qk_test;

namespace {

class FrameTest : public ::testing::Test {
  protected:
    ComScope com;
    ComponentDll quillnet{L"Quillnet.dll"};
    ComponentDll kestle{L"KestleDLL.dll"};
};

// A minimal outer object for aggregation tests.
class Outer final : public IUnknown {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (IsEqualIID(riid, IID_IUnknown)) {
            *out = this;
            AddRef();
            return S_OK;
        }
        return inner ? inner->QueryInterface(riid, out) : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    IUnknown* inner = nullptr;
    ULONG refs = 1;
};

TEST_F(FrameTest, UnknownClassesAreNotAvailable) {
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, quillnet.get_class_object(CLSID_ArticlesManager, IID_IClassFactory, &out));
    EXPECT_EQ(nullptr, out);
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, kestle.get_class_object(CLSID_KestleAlert, IID_IClassFactory, &out));
    EXPECT_EQ(nullptr, out);
    // Each DLL knows only its own classes.
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, quillnet.get_class_object(CLSID_Kestle, IID_IClassFactory, &out));
    EXPECT_EQ(E_POINTER, quillnet.get_class_object(CLSID_MyNntp, IID_IClassFactory, nullptr));
}

TEST_F(FrameTest, ClassFactoryIsCreatedOncePerRow) {
    com_ptr<IClassFactory> a, b;
    ASSERT_EQ(S_OK, quillnet.get_class_object(CLSID_MyNntp, IID_IClassFactory, a.put_void()));
    ASSERT_EQ(S_OK, quillnet.get_class_object(CLSID_MyNntp, IID_IClassFactory, b.put_void()));
    EXPECT_EQ(a.get(), b.get());
    com_ptr<IClassFactory> other;
    ASSERT_EQ(S_OK, quillnet.get_class_object(CLSID_MyHttp, IID_IClassFactory, other.put_void()));
    EXPECT_NE(a.get(), other.get());
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, quillnet.get_class_object(CLSID_MyNntp, IID_IDispatch, &out));
    EXPECT_EQ(nullptr, out);
}

TEST_F(FrameTest, InterfaceMapAnswersOwnInterfaceDispatchAndUnknownOnly) {
    auto list = quillnet.create<IArticlesManager>(CLSID_ArticleManager);
    ASSERT_TRUE(list);
    com_ptr<IDispatch> dispatch;
    com_ptr<IUnknown> unknown;
    EXPECT_EQ(S_OK, list->QueryInterface(IID_IDispatch, dispatch.put_void()));
    EXPECT_EQ(S_OK, list->QueryInterface(IID_IUnknown, unknown.put_void()));
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, list->QueryInterface(IID_IArticleManager, &out));
    EXPECT_EQ(nullptr, out);
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, list->QueryInterface(IID_IMyNntp, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(E_POINTER, list->QueryInterface(IID_IDispatch, nullptr));
    // IUnknown is the object's identity: the same pointer from every interface.
    com_ptr<IUnknown> again;
    dispatch->QueryInterface(IID_IUnknown, again.put_void());
    EXPECT_EQ(unknown.get(), again.get());
}

TEST_F(FrameTest, EveryClassOfBothTablesIsCreatableWithItsInterface) {
    EXPECT_TRUE(quillnet.create<IMyNntp>(CLSID_MyNntp));
    EXPECT_TRUE(quillnet.create<IArticlesManager>(CLSID_ArticleManager));
    EXPECT_TRUE(quillnet.create<IMySmtp>(CLSID_MySmtp));
    EXPECT_TRUE(quillnet.create<IMyHttp>(CLSID_MyHttp));
    EXPECT_TRUE(kestle.create<IKestle>(CLSID_Kestle));
    EXPECT_TRUE(kestle.create<IKestleImage>(CLSID_KestleImage));
    EXPECT_TRUE(kestle.create<IKestleCapture>(CLSID_KestleCapture));
    EXPECT_TRUE(kestle.create<IKestleChat>(CLSID_KestleChat));
}

TEST_F(FrameTest, RefcountsReturnToZeroAndModuleUnloads) {
    EXPECT_EQ(S_OK, quillnet.can_unload_now());
    {
        auto list = quillnet.create<IArticlesManager>(CLSID_ArticleManager);
        ASSERT_TRUE(list);
        EXPECT_EQ(1u, ref_count(list.get()));
        EXPECT_EQ(S_FALSE, quillnet.can_unload_now());
        com_ptr<IDispatch> d;
        list->QueryInterface(IID_IDispatch, d.put_void());
        EXPECT_EQ(2u, ref_count(list.get()));
        d.reset();
        IArticlesManager* raw = list.detach();
        EXPECT_EQ(0u, raw->Release());
    }
    EXPECT_EQ(S_OK, quillnet.can_unload_now());
}

TEST_F(FrameTest, LockServerKeepsModuleLoaded) {
    com_ptr<IClassFactory> factory;
    ASSERT_EQ(S_OK, kestle.get_class_object(CLSID_Kestle, IID_IClassFactory, factory.put_void()));
    EXPECT_EQ(S_OK, kestle.can_unload_now());  // a factory reference alone does not lock
    factory->LockServer(TRUE);
    EXPECT_EQ(S_FALSE, kestle.can_unload_now());
    factory->LockServer(TRUE);
    factory->LockServer(FALSE);
    EXPECT_EQ(S_FALSE, kestle.can_unload_now());
    factory->LockServer(FALSE);
    EXPECT_EQ(S_OK, kestle.can_unload_now());
}

TEST_F(FrameTest, AggregationHandsOutTheInnerUnknownOnly) {
    com_ptr<IClassFactory> factory;
    ASSERT_EQ(S_OK, kestle.get_class_object(CLSID_Kestle, IID_IClassFactory, factory.put_void()));
    Outer outer;
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(&outer, IID_IKestle, &out));
    EXPECT_EQ(nullptr, out);
    ASSERT_EQ(S_OK, factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)));
    EXPECT_EQ(S_FALSE, kestle.can_unload_now());
    // Queries through the inner object's interfaces reach the outer object.
    IKestle* helper = nullptr;
    ASSERT_EQ(S_OK, outer.inner->QueryInterface(IID_IKestle, reinterpret_cast<void**>(&helper)));
    EXPECT_EQ(2u, outer.refs);  // the AddRef went to the outer object
    IUnknown* identity = nullptr;
    ASSERT_EQ(S_OK, helper->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)));
    EXPECT_EQ(static_cast<IUnknown*>(&outer), identity);
    identity->Release();
    helper->Release();
    EXPECT_EQ(1u, outer.refs);
    BSTR text = nullptr;
    outer.inner->QueryInterface(IID_IKestle, reinterpret_cast<void**>(&helper));
    EXPECT_EQ(S_OK, helper->ConvertFileSize(2048, &text));
    EXPECT_EQ(L"2 KB", text_of(text));
    ::SysFreeString(text);
    helper->Release();
    EXPECT_EQ(0u, outer.inner->Release());
    EXPECT_EQ(S_OK, kestle.can_unload_now());
}

TEST_F(FrameTest, DispatchServesTheTypeLibrary) {
    auto list = quillnet.create<IArticlesManager>(CLSID_ArticleManager);
    com_ptr<IDispatch> d;
    ASSERT_EQ(S_OK, list->QueryInterface(IID_IDispatch, d.put_void()));
    UINT count = 0;
    EXPECT_EQ(S_OK, d->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);
    EXPECT_EQ(E_POINTER, d->GetTypeInfoCount(nullptr));
    com_ptr<ITypeInfo> info;
    ASSERT_EQ(S_OK, d->GetTypeInfo(0, 0, info.put()));
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
    EXPECT_TRUE(IsEqualIID(attr->guid, IID_IArticlesManager));
    info->ReleaseTypeAttr(attr);
    ITypeInfo* none = reinterpret_cast<ITypeInfo*>(1);
    EXPECT_EQ(DISP_E_BADINDEX, d->GetTypeInfo(1, 0, &none));
    EXPECT_EQ(nullptr, none);
    EXPECT_EQ(E_POINTER, d->GetTypeInfo(0, 0, nullptr));

    // Dispatch identifiers are those of the interface description.
    const wchar_t* names[] = {L"Add", L"Sort", L"Size", L"ArticleID", L"ArticleSize", L"ArticleSubject",
                              L"FirstArticle", L"LastArticle", L"ArticleSizeStr"};
    for (int i = 0; i < 9; ++i) {
        DISPID id = 0;
        LPOLESTR name = const_cast<LPOLESTR>(names[i]);
        ASSERT_EQ(S_OK, d->GetIDsOfNames(IID_NULL, &name, 1, 0, &id)) << i;
        EXPECT_EQ(i + 1, id);
    }
    // Script engines ask in the case the page author wrote.
    DISPID id = 0;
    LPOLESTR mixed = const_cast<LPOLESTR>(L"aRTICLEsIZEsTR");
    ASSERT_EQ(S_OK, d->GetIDsOfNames(IID_NULL, &mixed, 1, 0, &id));
    EXPECT_EQ(9, id);
    LPOLESTR bogus = const_cast<LPOLESTR>(L"NoSuchMember");
    EXPECT_EQ(DISP_E_UNKNOWNNAME, d->GetIDsOfNames(IID_NULL, &bogus, 1, 0, &id));
    EXPECT_EQ(DISP_E_UNKNOWNINTERFACE, d->GetIDsOfNames(IID_IDispatch, &bogus, 1, 0, &id));
}

TEST_F(FrameTest, DispatchErrorsDoNotCallTheMethod) {
    auto list = quillnet.create<IArticlesManager>(CLSID_ArticleManager);
    com_ptr<IDispatch> d;
    list->QueryInterface(IID_IDispatch, d.put_void());
    // Too few arguments, then an argument that cannot become an int.
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, call(d.get(), L"Add", {Arg(1)}).hr);
    CallResult bad = call(d.get(), L"Add", {Arg(L"not a number"), Arg(5), Arg(L"s")});
    EXPECT_EQ(DISP_E_TYPEMISMATCH, bad.hr);
    long size = -5;
    list->get_Size(&size);
    EXPECT_EQ(0, size);  // neither call added an entry
    // An unknown dispatch identifier.
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    VARIANT result;
    ::VariantInit(&result);
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, d->Invoke(77, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr));
    EXPECT_EQ(DISP_E_UNKNOWNINTERFACE, d->Invoke(1, IID_IDispatch, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr));
    // Numbers given as text convert, as a script expects.
    EXPECT_EQ(S_OK, call(d.get(), L"Add", {Arg(L"12"), Arg(3.0), Arg(L"s")}).hr);
    CallResult first = get(d.get(), L"FirstArticle");
    ASSERT_EQ(S_OK, first.hr);
    EXPECT_EQ(VT_I4, V_VT(first.value.get()));
    EXPECT_EQ(12, V_I4(first.value.get()));
}

TEST_F(FrameTest, FactoriesAndTypeInfoAreSafeAcrossThreads) {
    // Each thread is its own apartment: the first calls race to create the
    // factory and load the type library; every call must still succeed.
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            ComScope apartment;
            for (int i = 0; i < 50; ++i) {
                auto list = kestle.create<IKestle>(CLSID_Kestle);
                frame::com_ptr<IDispatch> d;
                if (!list || FAILED(list->QueryInterface(IID_IDispatch, d.put_void()))) {
                    ++failures;
                    continue;
                }
                CallResult r = call(d.get(), L"ConvertFileSize", {Arg(4096)});
                if (r.hr != S_OK || text_of(r.value.get()) != L"4 KB") ++failures;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(0, failures.load());
    EXPECT_EQ(S_OK, kestle.can_unload_now());
}

}  // namespace
