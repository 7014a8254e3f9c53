// The posted file saver: the walk over the body's bytes, name safety, the
// files it writes, and SavePostedFile through the vtable and IDispatch.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "frame/handles.h"
#include "kestle/kestle_idl.h"
#include "kestle/posted_file.h"
#include "posted_body.h"
#include "support/com_test.h"

using namespace kestle;
using kestle_test::BodyBuilder;
using kestle_test::bytes;
using namespace qk_test;

namespace {

const std::string binary_content("GIF89a\x00\x01\r\n--\r\n\x00\xff-----WebKit\r\n", 31);

std::string content_of(const std::vector<uint8_t>& body, const PostedFilePart& p) {
    return std::string(body.begin() + static_cast<std::ptrdiff_t>(p.content_begin),
                       body.begin() + static_cast<std::ptrdiff_t>(p.content_end));
}

PostedWalk walk(const std::vector<uint8_t>& body) { return walk_posted_body(body); }

}  // namespace

TEST(PostedWalk, BrowserFormWithFileAmongFields) {
    const auto body = bytes(BodyBuilder()
                                .field("title", "holiday")
                                .file("file", "C:\\Users\\Ann\\Pictures\\beach.gif", binary_content, "image/gif")
                                .field("submit", "Send")
                                .finish());
    const PostedWalk w = walk(body);
    ASSERT_EQ(1u, w.files.size());
    EXPECT_EQ("beach.gif", w.files[0].name);
    EXPECT_TRUE(w.files[0].complete);
    EXPECT_EQ(binary_content, content_of(body, w.files[0]));
    EXPECT_EQ(WalkEnd::closing_boundary, w.end);
}

TEST(PostedWalk, FilePartLastTwoFilePartsAndEmptyFile) {
    auto body = bytes(BodyBuilder().field("a", "1").file("file", "last.bin", binary_content).finish());
    PostedWalk w = walk(body);
    ASSERT_EQ(1u, w.files.size());
    EXPECT_EQ(binary_content, content_of(body, w.files[0]));
    EXPECT_EQ(WalkEnd::closing_boundary, w.end);

    body = bytes(BodyBuilder().file("file", "one.txt", "first").file("file", "", "").file("file", "two.txt", "").finish());
    w = walk(body);
    ASSERT_EQ(3u, w.files.size());
    EXPECT_EQ("first", content_of(body, w.files[0]));
    EXPECT_EQ("", w.files[1].name);  // no file chosen in the second input
    EXPECT_EQ("two.txt", w.files[2].name);
    EXPECT_EQ(w.files[2].content_begin, w.files[2].content_end);
}

TEST(PostedWalk, OnlyTheExactFieldNameFileQualifies) {
    const auto body = bytes(BodyBuilder()
                                .file("files", "a.txt", "A")
                                .file("myfile", "b.txt", "B")
                                .file("File", "c.txt", "C")
                                .file("file", "d.txt", "D")
                                .finish());
    const PostedWalk w = walk(body);
    ASSERT_EQ(1u, w.files.size());
    EXPECT_EQ("d.txt", w.files[0].name);
    EXPECT_EQ("D", content_of(body, w.files[0]));
}

TEST(PostedWalk, BoundaryWithoutCarriageReturnAndMalformedBodies) {
    // A body whose lines end in LF only: the boundary text is still the first line.
    std::string lf_only = "--xyz\nContent-Disposition: form-data; name=\"file\"; filename=\"a.txt\"\n"
                          "Content-Type: text/plain\n\n\nABC\r\n--xyz--";
    PostedWalk w = walk(bytes(lf_only));
    ASSERT_EQ(1u, w.files.size());
    EXPECT_TRUE(w.files[0].complete);

    EXPECT_EQ(WalkEnd::no_line_end, walk(bytes("--abc no line end")).end);
    EXPECT_EQ(WalkEnd::no_line_end, walk({}).end);
    EXPECT_EQ(WalkEnd::empty_boundary, walk(bytes("\r\nContent-Disposition: form-data; name=\"file\"")).end);
    EXPECT_EQ(WalkEnd::missing_marker, walk(bytes("--b\r\nX-Other: 1\r\n\r\n--b--")).end);
    EXPECT_EQ(WalkEnd::missing_marker, walk(bytes("--b\r\nContent-Disposition: form-data\r\n\r\n--b--")).end);
    // A file part whose name has no closing quote.
    w = walk(bytes("--b\r\nContent-Disposition: form-data; name=\"file\"; filename=\"abc"));
    EXPECT_EQ(WalkEnd::missing_marker, w.end);
    EXPECT_TRUE(w.files.empty());
    // "filename=" right at the end: the name would start past the data.
    EXPECT_EQ(WalkEnd::missing_marker, walk(bytes("--b\r\nContent-Disposition: x; name=\"file\" filename=")).end);

    // A file part without Content-Type, and one cut off before its boundary.
    w = walk(bytes("--b\r\nContent-Disposition: form-data; name=\"file\"; filename=\"n.txt\"\r\n\r\nabc\r\n--b--"));
    ASSERT_EQ(1u, w.files.size());
    EXPECT_FALSE(w.files[0].complete);
    EXPECT_EQ(WalkEnd::incomplete_file, w.end);
    BodyBuilder cut;
    cut.field("a", "1").file("file", "cut.bin", "partial content");
    w = walk(bytes(cut.unfinished()));
    ASSERT_EQ(1u, w.files.size());
    EXPECT_EQ("cut.bin", w.files[0].name);
    EXPECT_FALSE(w.files[0].complete);

    // A boundary right at the end with fewer than two bytes after it does not count.
    w = walk(bytes(cut.unfinished() + "\r\n" + cut.boundary_line() + "-"));
    EXPECT_FALSE(w.files.at(0).complete);
}

TEST(PostedWalk, TextSearchPastAnotherPartStopsAtZeroByte) {
    // The search that skips a part which is not "file" treats the body as
    // text: a zero byte in that part ends the walk, and a later file part is
    // not reached.
    const auto body = bytes(BodyBuilder()
                                .file("photo", "p.bin", std::string("\x01\x00\x02", 3))
                                .file("file", "later.txt", "L")
                                .finish());
    const PostedWalk w = walk(body);
    EXPECT_TRUE(w.files.empty());
    EXPECT_EQ(WalkEnd::no_more_boundary, w.end);
}

TEST(PostedWalk, NoPrefixOrMutationReadsOutsideTheBytes) {
    const std::string full = BodyBuilder()
                                 .field("t", "x")
                                 .file("file", "C:\\a\\b.bin", binary_content)
                                 .file("file", "c.bin", "cc")
                                 .finish();
    // Every cut of the body, each in its own exactly sized allocation.
    for (size_t n = 0; n <= full.size(); ++n) {
        const std::vector<uint8_t> part(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
        const PostedWalk w = walk(part);
        for (const PostedFilePart& f : w.files) {
            EXPECT_LE(f.content_begin, f.content_end);
            EXPECT_LE(f.content_end, n);
        }
        for (size_t i = 0; i + 1 < w.files.size(); ++i) EXPECT_TRUE(w.files[i].complete);
    }
    std::mt19937 rng(7);
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> mutated(full.begin(), full.end());
        for (int k = 0; k < 4 && !mutated.empty(); ++k) {
            const size_t at = rng() % mutated.size();
            switch (rng() % 3) {
                case 0: mutated[at] = static_cast<uint8_t>(rng()); break;
                case 1: mutated.erase(mutated.begin() + static_cast<std::ptrdiff_t>(at)); break;
                default: mutated.resize(at + 1); break;
            }
        }
        const PostedWalk w = walk(mutated);
        for (const PostedFilePart& f : w.files) ASSERT_LE(f.content_end, mutated.size());
    }
}

TEST(PostedName, GoesThroughTheSharedRuleForPlainNames) {
    // The cases themselves are in the safe-name tests; here only that the
    // saver uses the rule for names already cut from their path.
    EXPECT_EQ("a_b.txt", safe_posted_name("a:b.txt"));
    EXPECT_EQ("_CON", safe_posted_name("CON"));
    EXPECT_EQ("evil.txt", safe_posted_name("../../evil.txt"));
}

// Saving into a fresh folder below the test program's folder.
class PostedSave : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        folder_ = program_folder() + L"\\kestle_posted_" + std::wstring(test.begin(), test.end());
        clear();
        ::CreateDirectoryW(folder_.c_str(), nullptr);
    }
    void TearDown() override { clear(); }

    std::set<std::wstring> files() const {
        std::set<std::wstring> names;
        WIN32_FIND_DATAW data;
        frame::unique_find find(::FindFirstFileW((folder_ + L"\\*").c_str(), &data));
        if (!find) return names;
        do {
            const std::wstring n = data.cFileName;
            if (n != L"." && n != L"..") names.insert(n);
        } while (::FindNextFileW(find.get(), &data));
        return names;
    }
    std::string read(const std::wstring& name) const {
        frame::unique_file f(::CreateFileW((folder_ + L"\\" + name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                           OPEN_EXISTING, 0, nullptr));
        if (!f) return "<missing>";
        std::string data(1 << 16, '\0');
        DWORD got = 0;
        ::ReadFile(f.get(), data.data(), static_cast<DWORD>(data.size()), &got, nullptr);
        data.resize(got);
        return data;
    }
    void write(const std::wstring& name, const std::string& data) const {
        frame::unique_file f(::CreateFileW((folder_ + L"\\" + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                           0, nullptr));
        DWORD done = 0;
        ::WriteFile(f.get(), data.data(), static_cast<DWORD>(data.size()), &done, nullptr);
    }
    void clear() const {
        for (const std::wstring& n : files()) ::DeleteFileW((folder_ + L"\\" + n).c_str());
        ::RemoveDirectoryW(folder_.c_str());
    }
    PostedSaveResult save(const std::string& body, const std::wstring& folder) const {
        const auto b = bytes(body);
        return save_posted_files(b, folder);
    }

    std::wstring folder_;
};

TEST_F(PostedSave, WritesExactBytesWithOrWithoutTrailingBackslash) {
    const std::string body = BodyBuilder()
                                 .field("title", "t")
                                 .file("file", "C:\\Documents and Settings\\x\\data.bin", binary_content)
                                 .finish();
    PostedSaveResult r = save(body, folder_);
    EXPECT_EQ("data.bin", r.text);
    EXPECT_FALSE(r.utf8);
    EXPECT_EQ(binary_content, read(L"data.bin"));

    // The same again with a trailing backslash replaces the file.
    write(L"data.bin", "older and longer content than the upload");
    r = save(body, folder_ + L"\\");
    EXPECT_EQ("data.bin", r.text);
    EXPECT_EQ(binary_content, read(L"data.bin"));
    EXPECT_EQ(std::set<std::wstring>{L"data.bin"}, files());  // no temporary file left behind
}

TEST_F(PostedSave, TwoFilePartsEmptyFileAndNoFilePart) {
    PostedSaveResult r = save(BodyBuilder().file("file", "a.txt", "AAA").file("file", "empty.txt", "").finish(), folder_);
    EXPECT_EQ("empty.txt", r.text);  // the last file part
    EXPECT_EQ("AAA", read(L"a.txt"));
    EXPECT_EQ("", read(L"empty.txt"));

    r = save(BodyBuilder().field("file_name", "x").file("myfile", "m.txt", "m").finish(), folder_);
    EXPECT_EQ("", r.text);
    EXPECT_EQ(2u, files().size());
}

TEST_F(PostedSave, HostileNamesStayInTheFolder) {
    const std::string body = BodyBuilder()
                                 .file("file", "..\\..\\escape1.txt", "1")
                                 .file("file", "../../escape2.txt", "2")
                                 .file("file", "CON", "3")
                                 .file("file", "a:stream", "4")
                                 .finish();
    const PostedSaveResult r = save(body, folder_);
    EXPECT_EQ("a_stream", r.text);
    EXPECT_EQ((std::set<std::wstring>{L"escape1.txt", L"escape2.txt", L"_CON", L"a_stream"}), files());
    EXPECT_EQ("3", read(L"_CON"));

    // A name that cannot be made usable is refused, and later parts still count.
    EXPECT_EQ("Error: Bad file name", save(BodyBuilder().file("file", "..", "x").finish(), folder_).text);
    EXPECT_EQ("ok.txt", save(BodyBuilder().file("file", "/", "x").file("file", "ok.txt", "y").finish(), folder_).text);
    EXPECT_EQ(5u, files().size());
}

TEST_F(PostedSave, FailuresAreReportedNotPassedOffAsSaved) {
    const std::string body = BodyBuilder().file("file", "a.txt", "data").finish();
    const std::wstring missing = folder_ + L"\\no\\such\\folder";
    const PostedSaveResult r = save(body, missing);
    EXPECT_EQ(0u, r.text.rfind("Error: Cannot create file (", 0)) << r.text;
    EXPECT_TRUE(files().empty());

    // A target that is a folder cannot be replaced: the old folder stays and
    // the temporary file is gone.
    ::CreateDirectoryW((folder_ + L"\\taken").c_str(), nullptr);
    const PostedSaveResult taken = save(BodyBuilder().file("file", "taken", "x").finish(), folder_);
    EXPECT_EQ(0u, taken.text.rfind("Error: Cannot replace file (", 0)) << taken.text;
    EXPECT_EQ(std::set<std::wstring>{L"taken"}, files());
    ::RemoveDirectoryW((folder_ + L"\\taken").c_str());

    // A cut upload saves nothing under its name.
    BodyBuilder cut;
    cut.file("file", "cut.bin", "partial");
    EXPECT_EQ("Error: Incomplete file part", save(cut.unfinished(), folder_).text);
    EXPECT_TRUE(files().empty());
}

TEST_F(PostedSave, Utf8NamesUseTheWideFileApi) {
    const std::string utf8_name = "Gr\xC3\xBC\xC3\x9F" "e \xE6\x97\xA5\xE6\x9C\xAC.txt";  // Grüße 日本.txt
    const PostedSaveResult r = save(BodyBuilder().file("file", utf8_name, "hello").finish(), folder_);
    EXPECT_TRUE(r.utf8);
    EXPECT_EQ(utf8_name, r.text);
    EXPECT_EQ("hello", read(L"Gr\u00fc\u00dfe \u65e5\u672c.txt"));
}

// SavePostedFile as pages call it.
class SavePostedFileCom : public PostedSave {
  protected:
    static VARIANT byte_array(const std::string& data) {
        VARIANT v;
        ::VariantInit(&v);
        SAFEARRAY* sa = ::SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(data.size()));
        void* p = nullptr;
        ::SafeArrayAccessData(sa, &p);
        if (!data.empty()) memcpy(p, data.data(), data.size());
        ::SafeArrayUnaccessData(sa);
        V_VT(&v) = VT_ARRAY | VT_UI1;
        V_ARRAY(&v) = sa;
        return v;
    }
    std::wstring by_vtable(VARIANT* body, const wchar_t* folder) {
        frame::unique_bstr f(folder ? ::SysAllocString(folder) : nullptr);
        BSTR out = reinterpret_cast<BSTR>(1);
        EXPECT_EQ(S_OK, k->SavePostedFile(body, f.get(), &out));
        frame::unique_bstr owned(out);
        return text_of(out);
    }

    ComScope com;
    ComponentDll dll{L"KestleDLL.dll"};
    frame::com_ptr<IKestle> k = dll.create<IKestle>(CLSID_Kestle);
};

TEST_F(SavePostedFileCom, ByVtableAndByNameWithAByteArray) {
    ASSERT_TRUE(k);
    const std::string body = BodyBuilder().field("x", "y").file("file", "C:\\tmp\\v.bin", binary_content).finish();
    frame::unique_variant v;
    *v.get() = byte_array(body);
    EXPECT_EQ(L"v.bin", by_vtable(v.get(), folder_.c_str()));
    EXPECT_EQ(binary_content, read(L"v.bin"));

    // By name with the array by value, then by reference as VBScript passes a variable.
    frame::com_ptr<IDispatch> d;
    ASSERT_EQ(S_OK, k->QueryInterface(IID_IDispatch, d.put_void()));
    const std::string body2 = BodyBuilder().file("file", "w.bin", "second").finish();
    frame::unique_variant v2;
    *v2.get() = byte_array(body2);
    CallResult r = call(d.get(), L"SavePostedFile", {Arg(*v2.get()), Arg(folder_.c_str())});
    EXPECT_EQ(S_OK, r.hr);
    EXPECT_EQ(L"w.bin", text_of(r.value.get()));
    EXPECT_EQ("second", read(L"w.bin"));

    VARIANT ref;
    ::VariantInit(&ref);
    V_VT(&ref) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&ref) = v.get();
    write(L"v.bin", "replaced below");
    DISPPARAMS params;
    VARIANT args[2];
    args[1] = ref;
    ::VariantInit(&args[0]);
    V_VT(&args[0]) = VT_BSTR;
    V_BSTR(&args[0]) = ::SysAllocString(folder_.c_str());
    params = {args, nullptr, 2, 0};
    frame::unique_variant result;
    DISPID id = 3;
    EXPECT_EQ(S_OK, d->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, result.get(), nullptr, nullptr));
    EXPECT_EQ(L"v.bin", text_of(result.get()));
    EXPECT_EQ(binary_content, read(L"v.bin"));
    ::VariantClear(&args[0]);

    d.reset();
    EXPECT_EQ(1u, ref_count(k.get()));
}

TEST_F(SavePostedFileCom, EveryOtherVariantTypeIsABadParameter) {
    ASSERT_TRUE(k);
    EXPECT_EQ(L"Bad Parameter", by_vtable(nullptr, folder_.c_str()));

    std::vector<frame::unique_variant> others(10);
    V_VT(others[1].get()) = VT_NULL;
    V_VT(others[2].get()) = VT_I4;
    V_I4(others[2].get()) = 42;
    V_VT(others[3].get()) = VT_BSTR;
    V_BSTR(others[3].get()) = ::SysAllocString(L"--b\r\nContent-Disposition: form-data; name=\"file\"");
    V_VT(others[4].get()) = VT_UI1;
    V_UI1(others[4].get()) = 7;
    V_VT(others[5].get()) = VT_ARRAY | VT_I1;
    V_ARRAY(others[5].get()) = ::SafeArrayCreateVector(VT_I1, 0, 4);
    V_VT(others[6].get()) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(others[6].get()) = ::SafeArrayCreateVector(VT_VARIANT, 0, 2);
    V_VT(others[7].get()) = VT_ARRAY | VT_I4;
    V_ARRAY(others[7].get()) = ::SafeArrayCreateVector(VT_I4, 0, 4);
    V_VT(others[8].get()) = VT_DISPATCH;
    V_DISPATCH(others[8].get()) = nullptr;
    // A byte array by reference is not the plain array either.
    static SAFEARRAY* referenced = ::SafeArrayCreateVector(VT_UI1, 0, 4);
    V_VT(others[9].get()) = VT_BYREF | VT_ARRAY | VT_UI1;
    V_ARRAYREF(others[9].get()) = &referenced;

    frame::com_ptr<IDispatch> d;
    k->QueryInterface(IID_IDispatch, d.put_void());
    for (size_t i = 0; i < others.size(); ++i) {
        EXPECT_EQ(L"Bad Parameter", by_vtable(others[i].get(), folder_.c_str())) << i;
        CallResult r = call(d.get(), L"SavePostedFile", {Arg(*others[i].get()), Arg(folder_.c_str())});
        EXPECT_EQ(S_OK, r.hr) << i;
        EXPECT_EQ(L"Bad Parameter", text_of(r.value.get())) << i;
    }
    V_VT(others[9].get()) = VT_EMPTY;
    ::SafeArrayDestroy(referenced);

    SAFEARRAYBOUND two_d[2] = {{2, 0}, {2, 0}};
    frame::unique_variant matrix;
    V_VT(matrix.get()) = VT_ARRAY | VT_UI1;
    V_ARRAY(matrix.get()) = ::SafeArrayCreate(VT_UI1, 2, two_d);
    EXPECT_EQ(L"Bad Parameter", by_vtable(matrix.get(), folder_.c_str()));
    // A variant that calls an array of 4-byte elements a byte array.
    frame::unique_variant liar;
    V_VT(liar.get()) = VT_ARRAY | VT_UI1;
    V_ARRAY(liar.get()) = ::SafeArrayCreateVector(VT_I4, 0, 8);
    EXPECT_EQ(L"Bad Parameter", by_vtable(liar.get(), folder_.c_str()));

    EXPECT_EQ(E_POINTER, k->SavePostedFile(others[0].get(), nullptr, nullptr));
    EXPECT_TRUE(files().empty());
}

TEST_F(SavePostedFileCom, EmptyArraysAndBodiesWithoutFilesGiveAnEmptyText) {
    ASSERT_TRUE(k);
    frame::unique_variant empty;
    *empty.get() = byte_array("");
    EXPECT_EQ(L"", by_vtable(empty.get(), folder_.c_str()));
    frame::unique_variant no_array;
    V_VT(no_array.get()) = VT_ARRAY | VT_UI1;  // the type without an array
    EXPECT_EQ(L"", by_vtable(no_array.get(), folder_.c_str()));
    frame::unique_variant fields;
    *fields.get() = byte_array(BodyBuilder().field("a", "b").finish());
    EXPECT_EQ(L"", by_vtable(fields.get(), nullptr));

    // A non-zero lower bound: the posted bytes are all the elements.
    const std::string body = BodyBuilder().file("file", "lb.txt", "bounds").finish();
    SAFEARRAYBOUND bound = {static_cast<ULONG>(body.size()), 5};
    frame::unique_variant shifted;
    V_VT(shifted.get()) = VT_ARRAY | VT_UI1;
    V_ARRAY(shifted.get()) = ::SafeArrayCreate(VT_UI1, 1, &bound);
    void* p = nullptr;
    ::SafeArrayAccessData(V_ARRAY(shifted.get()), &p);
    memcpy(p, body.data(), body.size());
    ::SafeArrayUnaccessData(V_ARRAY(shifted.get()));
    EXPECT_EQ(L"lb.txt", by_vtable(shifted.get(), folder_.c_str()));
    EXPECT_EQ("bounds", read(L"lb.txt"));
    // The array is unlocked again after the call.
    EXPECT_EQ(S_OK, ::SafeArrayLock(V_ARRAY(shifted.get())));
    EXPECT_EQ(S_OK, ::SafeArrayUnlock(V_ARRAY(shifted.get())));
    EXPECT_EQ(0u, V_ARRAY(shifted.get())->cLocks);
}
