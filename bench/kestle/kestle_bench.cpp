// Benchmark driver for the page helpers, run under Wine by bench/kestle_*.sh.
//
//   kestle_bench posted MEGABYTES FOLDER
//       SavePostedFile on a body with one file part of that size, beside
//       memcpy of the same number of bytes; prints MB/s and the ratio. Then
//       SavePostedFile by name through IDispatch::Invoke, the body by value
//       and by reference, beside a plain WriteFile of the file's bytes under
//       a temporary name and its rename; prints each and the two ratios.
//   kestle_bench thumb IN OUT WIDTH HEIGHT QUALITY
//       LoadImage, Iconize and SaveImage once, as a page making a thumbnail;
//       prints each step's time. The scripts time the whole process.
//   kestle_bench smilies
//       Where Smilies' time goes on the page benchmark's 1 MB message, in
//       ASCII and with letters beyond it: the result string alone, the
//       measuring pass, the call through the interface table, and the call
//       by name (IDispatch::Invoke).
//   kestle_bench noop
//       Starts and ends: the cost of starting a Windows process under Wine.
#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "frame/handles.h"
#include "kestle/kestle_idl.h"
#include "kestle/page_text.h"
#include "kestle/posted_file.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRounds = 7;
double seconds_since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

template <class T>
frame::com_ptr<T> create(const CLSID& clsid) {
    wchar_t exe[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring dll = exe;
    dll = dll.substr(0, dll.find_last_of(L"\\/")) + L"\\KestleDLL.dll";
    static frame::unique_module module(::LoadLibraryW(dll.c_str()));
    frame::com_ptr<T> object;
    if (!module) return object;
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto get =
        reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(::GetProcAddress(module.get(), "DllGetClassObject")));
    frame::com_ptr<IClassFactory> factory;
    if (get && SUCCEEDED(get(clsid, IID_IClassFactory, factory.put_void())))
        factory->CreateInstance(nullptr, __uuidof(T), object.put_void());
    return object;
}

// Best and worst of the timed runs of one way of saving.
struct Timing {
    double best = 1e9, worst = 0;
    void add(double took) {
        best = std::min(best, took);
        worst = std::max(worst, took);
    }
};

// What a page gets from a plain Windows program: the bytes written once under
// a temporary name in the target folder, then renamed over the final name.
bool plain_write(const std::wstring& folder, const std::wstring& target, const uint8_t* data, size_t size) {
    const std::wstring temp = folder + L"\\plain.tmp";
    frame::unique_file file(
        ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    const bool ok = ::WriteFile(file.get(), data, static_cast<DWORD>(size), &written, nullptr) && written == size;
    file.reset();
    return ok && ::MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
}

// SavePostedFile by name, the body as the script engine hands it over;
// with `library`, through the type library's own Invoke instead of ours.
std::wstring invoke_save(IDispatch* d, DISPID id, VARIANT body, BSTR folder, ITypeInfo* library = nullptr) {
    VARIANT args[2];
    args[1] = body;
    ::VariantInit(&args[0]);
    V_VT(&args[0]) = VT_BSTR;
    V_BSTR(&args[0]) = folder;
    DISPPARAMS params = {args, nullptr, 2, 0};
    frame::unique_variant result;
    const HRESULT hr =
        library ? ::DispInvoke(d, library, id, DISPATCH_METHOD, &params, result.get(), nullptr, nullptr)
                : d->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, result.get(), nullptr, nullptr);
    if (FAILED(hr) || V_VT(result.get()) != VT_BSTR) return L"<failed>";
    return V_BSTR(result.get()) ? V_BSTR(result.get()) : L"";
}

std::wstring wide(const char* s) {
    std::wstring w(s, s + strlen(s));
    return w;
}

int posted(size_t megabytes, const char* folder) {
    const size_t content_size = megabytes * 1000 * 1000;
    const std::string boundary = "------WebKitFormBoundaryx8Kq3ZpT0mRwA2cB";
    const std::string head =
        boundary + "\r\nContent-Disposition: form-data; name=\"title\"\r\n\r\nbench\r\n" + boundary +
        "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"C:\\Users\\bench\\big.bin\"\r\n"
        "Content-Type: application/octet-stream\r\n\r\n";
    const std::string tail = "\r\n" + boundary + "--\r\n";
    const size_t total = head.size() + content_size + tail.size();

    SAFEARRAY* array = ::SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(total));
    if (!array) return std::puts("cannot allocate the body"), 1;
    frame::unique_variant body;
    V_VT(body.get()) = VT_ARRAY | VT_UI1;
    V_ARRAY(body.get()) = array;
    uint8_t* bytes = nullptr;
    ::SafeArrayAccessData(array, reinterpret_cast<void**>(&bytes));
    std::memcpy(bytes, head.data(), head.size());
    uint32_t x = 2463534242u;  // xorshift: content a compressor or a search cannot shortcut
    for (size_t i = 0; i < content_size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[head.size() + i] = static_cast<uint8_t>(x);
    }
    std::memcpy(bytes + head.size() + content_size, tail.data(), tail.size());

    std::vector<uint8_t> copy(total);
    double best_copy = 1e9;
    for (int i = 0; i < 5; ++i) {
        const auto t = Clock::now();
        std::memcpy(copy.data(), bytes, total);
        best_copy = std::min(best_copy, seconds_since(t));
    }
    // The walk alone (finding the parts and the boundary after 100 MB of
    // content), to tell search from disk in the end-to-end figure.
    double best_walk = 1e9;
    for (int i = 0; i < 5; ++i) {
        const auto t = Clock::now();
        const kestle::PostedWalk walk = kestle::walk_posted_body({bytes, total});
        best_walk = std::min(best_walk, seconds_since(t));
        if (walk.files.size() != 1) return std::puts("the walk did not find the file part"), 1;
    }
    ::SafeArrayUnaccessData(array);
    if (copy[total / 2] == 0x5A && copy[total / 3] == 0xA5) std::puts("");  // keeps the copies

    auto kestle = create<IKestle>(CLSID_Kestle);
    if (!kestle) return std::puts("cannot create Kestle"), 1;
    frame::unique_bstr target(::SysAllocString(wide(folder).c_str()));
    const std::wstring saved = wide(folder) + L"\\big.bin";
    auto saved_size = [&] {
        WIN32_FILE_ATTRIBUTE_DATA info = {};
        if (!::GetFileAttributesExW(saved.c_str(), GetFileExInfoStandard, &info)) return uint64_t(0);
        return (uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    };

    // The same call by name, as a script engine makes it: a JScript variable
    // or Request.BinaryRead(...) written into the call comes by value, a
    // VBScript variable as a reference to the VARIANT holding it.
    frame::com_ptr<IDispatch> dispatch;
    kestle->QueryInterface(IID_IDispatch, dispatch.put_void());
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR method = const_cast<LPOLESTR>(L"SavePostedFile");
    frame::com_ptr<ITypeInfo> type_info;
    if (!dispatch || FAILED(dispatch->GetIDsOfNames(IID_NULL, &method, 1, 0, &id)) ||
        FAILED(dispatch->GetTypeInfo(0, 0, type_info.put())))
        return std::puts("cannot call SavePostedFile by name"), 1;
    VARIANT by_ref;
    ::VariantInit(&by_ref);
    V_VT(&by_ref) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&by_ref) = body.get();
    ::SafeArrayAccessData(array, reinterpret_cast<void**>(&bytes));

    // Round by round, each round in a turned order, so that the load of a
    // shared machine and the disk's write-back of the previous run fall on
    // every way alike. Each run saves a new upload.
    enum { kVtable, kValue, kRef, kTypeLib, kPlain, kWays };
    Timing timing[kWays];
    std::wstring names[kWays];
    bool complete = true;
    std::wstring name;
    for (int round = 0; round < kRounds; ++round) {
        for (int turn = 0; turn < kWays; ++turn) {
            const int way = (round + turn) % kWays;
            ::DeleteFileW(saved.c_str());
            const auto start = Clock::now();
            switch (way) {
            case kVtable: {
                BSTR result = nullptr;
                kestle->SavePostedFile(body.get(), target.get(), &result);
                names[way] = result ? result : L"<null>";
                ::SysFreeString(result);
                break;
            }
            case kValue: names[way] = invoke_save(dispatch.get(), id, *body.get(), target.get()); break;
            case kRef: names[way] = invoke_save(dispatch.get(), id, by_ref, target.get()); break;
            case kTypeLib:
                names[way] = invoke_save(dispatch.get(), id, *body.get(), target.get(), type_info.get());
                break;
            case kPlain:
                names[way] = plain_write(wide(folder), saved, bytes + head.size(), content_size) ? L"big.bin" : L"";
                break;
            }
            timing[way].add(seconds_since(start));
            complete &= saved_size() == content_size && names[way] == L"big.bin";
        }
    }
    ::SafeArrayUnaccessData(array);
    ::DeleteFileW(saved.c_str());
    name = names[kVtable];

    const double mb = total / 1e6;
    auto line = [&](const char* what, const Timing& t) {
        std::printf("%-38s %8.1f MB/s (best of %d: %.3f s, worst %.3f s)\n", what, mb / t.best, kRounds, t.best,
                    t.worst);
    };
    std::printf("body: %.1f MB, one file part of %zu MB, result \"%ls\", files %s\n", mb, megabytes, name.c_str(),
                complete ? "complete" : "WRONG");
    std::printf("%-38s %8.1f MB/s (%.3f s)\n", "memcpy of the body:", mb / best_copy, best_copy);
    std::printf("%-38s %8.1f MB/s (%.3f s)\n", "walk of the body alone:", mb / best_walk, best_walk);
    line("SavePostedFile end to end:", timing[kVtable]);
    std::printf("ratio SavePostedFile/memcpy: %.3f\n", best_copy / timing[kVtable].best);
    std::printf("target 1000 MB/s: %s\n", mb / timing[kVtable].best >= 1000 ? "met" : "NOT met");
    line("plain WriteFile + rename:", timing[kPlain]);
    line("Invoke, body by value:", timing[kValue]);
    line("Invoke, body by reference:", timing[kRef]);
    line("type library's Invoke, by value:", timing[kTypeLib]);
    const double value_ratio = timing[kPlain].best / timing[kValue].best;
    const double ref_ratio = timing[kPlain].best / timing[kRef].best;
    std::printf("ratio by value/plain write: %.3f, by reference/plain write: %.3f\n", value_ratio, ref_ratio);
    std::printf("ratio by value/SavePostedFile: %.3f, by reference/SavePostedFile: %.3f\n",
                timing[kVtable].best / timing[kValue].best, timing[kVtable].best / timing[kRef].best);
    std::printf("target 0.8 of the plain write: %s\n", value_ratio >= 0.8 && ref_ratio >= 0.8 ? "met" : "NOT met");
    return complete ? 0 : 1;
}

int thumb(const char* in, const char* out, int w, int h, int quality) {
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int status = 0;
    {
        auto image = create<IKestleImage>(CLSID_KestleImage);
        if (!image) return std::puts("cannot create KestleImage"), 1;
        frame::unique_bstr in_path(::SysAllocString(wide(in).c_str()));
        frame::unique_bstr out_path(::SysAllocString(wide(out).c_str()));
        int result = 0;
        auto t = Clock::now();
        image->LoadImage(in_path.get(), &result);
        const double load = seconds_since(t);
        status |= result;
        t = Clock::now();
        image->Iconize(w, h, &result);
        const double scale = seconds_since(t);
        status |= result;
        t = Clock::now();
        image->SaveImage(out_path.get(), quality, &result);
        const double save = seconds_since(t);
        status |= result;
        std::printf("load %.3f s, iconize %.3f s, save %.3f s, status %d\n", load, scale, save, status);
    }
    ::CoUninitialize();
    return status == 0 ? 0 : 1;
}

// Best of `n` runs of f, in milliseconds.
template <class F>
double best_ms(int n, F&& f) {
    double best = 1e9;
    for (int i = 0; i < n; ++i) {
        const auto t = Clock::now();
        f();
        best = std::min(best, seconds_since(t) * 1e3);
    }
    return best;
}

// One message of about 1 MB made of 128-character lines like `line`.
std::wstring smilies_message(std::wstring chunk) {
    while (chunk.size() < 128) chunk += L'.';
    std::wstring message = chunk;
    for (int i = 0; i < 13; ++i) message += message;
    return message;
}

int smilies_on(const wchar_t* what, const std::wstring& message) {
    frame::unique_bstr text(::SysAllocStringLen(message.data(), static_cast<UINT>(message.size())));
    auto k = create<IKestle>(CLSID_Kestle);
    if (!k) return std::puts("cannot create Kestle"), 1;
    BSTR sample = nullptr;
    k->Smilies(text.get(), &sample);
    const UINT result_length = ::SysStringLen(sample);
    ::SysFreeString(sample);
    const double floor = best_ms(9, [&] {
        BSTR s = ::SysAllocStringLen(nullptr, result_length);
        std::fill(s, s + result_length, L'x');
        ::SysFreeString(s);
    });
    const double measure = best_ms(9, [&] { kestle::size_wide_smilies(message); });
    const double argument_copy =
        best_ms(9, [&] { ::SysFreeString(::SysAllocStringLen(text.get(), ::SysStringLen(text.get()))); });
    const double vtable = best_ms(9, [&] {
        BSTR out = nullptr;
        k->Smilies(text.get(), &out);
        ::SysFreeString(out);
    });
    frame::com_ptr<IDispatch> d;
    k->QueryInterface(IID_IDispatch, d.put_void());
    DISPID id = 0;
    LPOLESTR name = const_cast<LPOLESTR>(L"Smilies");
    d->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
    const double by_name = best_ms(9, [&] {
        VARIANT arg, result;
        V_VT(&arg) = VT_BSTR;
        V_BSTR(&arg) = text.get();
        ::VariantInit(&result);
        DISPPARAMS params = {&arg, nullptr, 1, 0};
        d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
        ::VariantClear(&result);
    });
    std::printf("Smilies on %zu characters of %ls, result %u characters (best of 9, in-process):\n", message.size(),
                what, result_length);
    std::printf("  a new string of the result's length, filled: %6.2f ms (the floor)\n", floor);
    std::printf("  measuring pass alone:                         %6.2f ms\n", measure);
    std::printf("  a copy of the argument string:                %6.2f ms\n", argument_copy);
    std::printf("  Smilies through the interface table:          %6.2f ms (%.2f x the floor)\n", vtable,
                vtable / floor);
    std::printf("  Smilies by name (IDispatch::Invoke):          %6.2f ms (%.2f x the floor)\n", by_name,
                by_name / floor);
    return 0;
}

int smilies_breakdown() {
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int r = smilies_on(L"ASCII", smilies_message(L"Hello there :) how are things ;) all good :D here, and you? "
                                                 L":)) fine :x thanks, see you soon at the "));
    // The same with a few letters beyond ASCII in every line, as in any
    // German, French or Greek group.
    if (r == 0)
        r = smilies_on(L"text beyond ASCII",
                       smilies_message(L"Gr\u00fc\u00dfe :) wie geht's ;) alles gut :D caf\u00e9 cr\u00e8me? :)) "
                                       L"\u03ba\u03b1\u03bb\u03ac :x \u2615 bis bald im "));
    ::CoUninitialize();
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "noop") return 0;
    if (mode == "smilies") return smilies_breakdown();
    if (mode == "posted" && argc == 4) return posted(std::strtoul(argv[2], nullptr, 10), argv[3]);
    if (mode == "thumb" && argc == 7) return thumb(argv[2], argv[3], atoi(argv[4]), atoi(argv[5]), atoi(argv[6]));
    std::puts("usage: kestle_bench posted MB FOLDER | thumb IN OUT W H QUALITY | smilies | noop");
    return 2;
}
