// KestleImage as pages use it: through the vtable and by name.
#include "image_test_support.h"

using namespace kestle::image;
using namespace kestle_image_test;
using namespace qk_test;
using frame::com_ptr;

// ---- KestleImage as pages use it -----------------------------------------

class KestleImageCom : public ::testing::Test {
  protected:
    ComScope com;
    ComponentDll dll{L"KestleDLL.dll"};
    frame::com_ptr<IKestleImage> image = dll.create<IKestleImage>(CLSID_KestleImage);
};

TEST_F(KestleImageCom, NewObjectAndThePageCaseByVtable) {
    ASSERT_TRUE(image);
    BSTR type = nullptr;
    EXPECT_EQ(S_OK, image->get_FileType(&type));
    ASSERT_NE(nullptr, type);  // an empty text, not a missing one
    EXPECT_EQ(0u, ::SysStringLen(type));
    ::SysFreeString(type);
    long size = -1;
    int value = -1;
    EXPECT_EQ(S_OK, image->get_FileSize(&size));
    EXPECT_EQ(0, size);
    EXPECT_EQ(S_OK, image->Iconize(10, 10, &value));
    EXPECT_EQ(32768, value);
    const std::wstring out = test_folder() + L"\\com_thumb.jpg";
    ::DeleteFileW(out.c_str());
    frame::unique_bstr out_path(::SysAllocString(out.c_str()));
    EXPECT_EQ(S_OK, image->SaveImage(out_path.get(), 75, &value));
    EXPECT_EQ(32768, value);
    EXPECT_FALSE(exists(out));

    const Rgb rgb = random_picture(400, 200, 2);
    const Bytes png = encode(GUID_ContainerFormatPng, GUID_WICPixelFormat24bppBGR, 400, 200, 3, rgb.px);
    frame::unique_bstr in_path(::SysAllocString(write_file(L"page.png", png).c_str()));
    EXPECT_EQ(S_OK, image->LoadImage(in_path.get(), &value));
    EXPECT_EQ(0, value);
    EXPECT_EQ(S_OK, image->Iconize(100, 100, &value));
    EXPECT_EQ(0, value);
    image->get_Width(&value);
    EXPECT_EQ(100, value);
    image->get_Height(&value);
    EXPECT_EQ(100, value);
    image->get_BPP(&value);
    EXPECT_EQ(24, value);
    image->get_FileSize(&size);
    EXPECT_EQ(static_cast<long>(png.size()), size);
    EXPECT_EQ(S_OK, image->SaveImage(out_path.get(), 75, &value));
    EXPECT_EQ(0, value);
    image->get_FileSize(&size);
    EXPECT_EQ(static_cast<long>(read_file(out).size()), size);
    EXPECT_GT(size, 0);

    EXPECT_EQ(E_POINTER, image->get_Width(nullptr));
    EXPECT_EQ(E_POINTER, image->get_FileType(nullptr));
    EXPECT_EQ(E_POINTER, image->LoadImage(in_path.get(), nullptr));
    EXPECT_EQ(1u, ref_count(image.get()));
}

TEST_F(KestleImageCom, ByNameAsAScriptCallsIt) {
    ASSERT_TRUE(image);
    frame::com_ptr<IDispatch> d;
    ASSERT_EQ(S_OK, image->QueryInterface(IID_IDispatch, d.put_void()));
    EXPECT_EQ(L"", text_of(get(d.get(), L"FileType").value.get()));

    const Rgb rgb = random_picture(64, 48, 6);
    const std::wstring gif_path = write_file(
        L"page.bmp", encode(GUID_ContainerFormatBmp, GUID_WICPixelFormat24bppBGR, 64, 48, 3, rgb.px));
    EXPECT_EQ(0, V_I4(call(d.get(), L"LoadImage", {Arg(gif_path.c_str())}).value.get()));
    EXPECT_EQ(L"BMP", text_of(get(d.get(), L"FileType").value.get()));
    EXPECT_EQ(64, V_I4(get(d.get(), L"Width").value.get()));
    EXPECT_EQ(0, V_I4(call(d.get(), L"Iconize", {Arg(32), Arg(24)}).value.get()));
    EXPECT_EQ(32768, V_I4(call(d.get(), L"Iconize", {Arg(0), Arg(24)}).value.get()));
    EXPECT_EQ(24, V_I4(get(d.get(), L"Height").value.get()));
    EXPECT_EQ(24, V_I4(get(d.get(), L"BPP").value.get()));
    // A failed load keeps the picture usable.
    EXPECT_EQ(32769, V_I4(call(d.get(), L"LoadImage", {Arg(L"Z:\\no\\such\\picture.png")}).value.get()));
    EXPECT_EQ(32, V_I4(get(d.get(), L"Width").value.get()));
    const std::wstring out = test_folder() + L"\\by_name.jpg";
    EXPECT_EQ(0, V_I4(call(d.get(), L"SaveImage", {Arg(out.c_str()), Arg(60)}).value.get()));
    EXPECT_EQ(static_cast<int>(read_file(out).size()), V_I4(get(d.get(), L"FileSize").value.get()));
    EXPECT_EQ(DISP_E_TYPEMISMATCH, call(d.get(), L"Iconize", {Arg(L"wide"), Arg(3)}).hr);
    d.reset();
    EXPECT_EQ(1u, ref_count(image.get()));
}
