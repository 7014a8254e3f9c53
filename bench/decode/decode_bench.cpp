// DecodeAttachments on large in-memory bodies, timed inside one process.
//
//   decode_bench throughput DIR   20 MB bodies: one base64 MIME attachment,
//                                 one uuencoded block, one yEnc block; also
//                                 writes DIR\payload.b64 and DIR\payload.uue
//                                 for the outside tools to decode
//   decode_bench blocks           10 MB of 5,000 small uuencoded blocks
//                                 against 10 MB in one block
//
// Each figure is the best of several runs on a fresh copy of the body (the
// copy is not timed). "store" writes the files as the news reader does;
// "text" writes nothing, to show the cost of the text work alone.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "quillnet/engine/crc32.h"
#include "quillnet/news/store_files.h"
#include "quillnet/news/article_record.h"
#include "frame/atomic_file.h"
#include "frame/text.h"
#include "tests/support/uuencode.h"

using qk_test::uuencode;
using quillnet::ArticleRecord;

namespace {

double now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    ::QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::string random_bytes(size_t n, unsigned seed) {
    std::mt19937_64 r(seed);
    std::string s(n, '\0');
    for (size_t i = 0; i + 8 <= n; i += 8) {
        const uint64_t v = r();
        std::memcpy(&s[i], &v, 8);
    }
    return s;
}

std::string base64_lines(const std::string& data) {
    static const char* a = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve(data.size() / 3 * 4 + data.size() / 57 + 8);
    size_t column = 0;
    for (size_t i = 0; i < data.size(); i += 3) {
        const unsigned char b0 = data[i];
        const unsigned char b1 = i + 1 < data.size() ? data[i + 1] : 0;
        const unsigned char b2 = i + 2 < data.size() ? data[i + 2] : 0;
        out += a[b0 >> 2];
        out += a[((b0 & 3) << 4) | (b1 >> 4)];
        out += i + 1 < data.size() ? a[((b1 & 15) << 2) | (b2 >> 6)] : '=';
        out += i + 2 < data.size() ? a[b2 & 63] : '=';
        if ((column += 4) == 76) {
            out += '\n';
            column = 0;
        }
    }
    if (column) out += '\n';
    return out;
}

std::string yenc(const std::string& data, const std::string& name) {
    std::string out = "=ybegin line=128 size=" + std::to_string(data.size()) + " name=" + name + "\n";
    out.reserve(data.size() * 103 / 100 + 256);
    size_t column = 0;
    for (unsigned char b : data) {
        unsigned char v = static_cast<unsigned char>(b + 42);
        if (v == 0 || v == '\n' || v == '\r' || v == '=' || (column == 0 && (v == '.' || v == ' ' || v == '\t'))) {
            out += '=';
            v = static_cast<unsigned char>(v + 64);
            ++column;
        }
        out += static_cast<char>(v);
        if (++column >= 128) {
            out += '\n';
            column = 0;
        }
    }
    if (column) out += '\n';
    char crc[16];
    std::snprintf(crc, sizeof crc, "%08x", quillnet::engine::crc32(data.data(), data.size()));
    return out + "=yend size=" + std::to_string(data.size()) + " crc32=" + crc + "\n";
}

class NoFiles final : public quillnet::FileSink {
  public:
    class Nothing final : public quillnet::NewFile {
      public:
        bool write(const char*, size_t) override { return true; }
        bool commit() override { return true; }
    };
    std::unique_ptr<quillnet::NewFile> create(const std::string&) override { return std::make_unique<Nothing>(); }
};

struct Timing {
    double best = 1e30;
    int attachments = 0;
};

std::string temp_store() {
    char base[MAX_PATH];
    ::GetTempPathA(MAX_PATH, base);
    const std::string root = std::string(base) + "qn-decode-bench-" + std::to_string(::GetCurrentProcessId());
    ::CreateDirectoryA(root.c_str(), nullptr);
    ::CreateDirectoryA((root + "\\g").c_str(), nullptr);
    return root + "\\";
}

// Deletes the files of the group folder, so every run writes new files as
// the store does, rather than replacing (and first freeing) the last run's.
void empty_group(const std::string& web_root) {
    WIN32_FIND_DATAA found;
    HANDLE h = ::FindFirstFileA((web_root + "g\\*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        ::DeleteFileA((web_root + "g\\" + found.cFileName).c_str());
    } while (::FindNextFileA(h, &found));
    ::FindClose(h);
}

void clean_store(const std::string& web_root) {
    WIN32_FIND_DATAA found;
    HANDLE h = ::FindFirstFileA((web_root + "g\\*").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            ::DeleteFileA((web_root + "g\\" + found.cFileName).c_str());
        } while (::FindNextFileA(h, &found));
        ::FindClose(h);
    }
    ::RemoveDirectoryA((web_root + "g").c_str());
    ::RemoveDirectoryA(web_root.c_str());
}

// Best of `runs` DecodeAttachments on a fresh record holding `body`.
Timing time_decode(const std::string& body, const std::string& web_root, const std::string& folder, bool files,
                   int runs) {
    Timing t;
    for (int i = 0; i < runs; ++i) {
        ArticleRecord r;
        r.number = 1;
        r.size = static_cast<int32_t>(body.size());  // one buffer, sized as the news client sizes it
        for (size_t at = 0; at < body.size();) {
            const size_t nl = body.find('\n', at);
            r.AppendLine(std::string_view(body).substr(at, (nl == std::string::npos ? body.size() : nl) - at));
            at = nl == std::string::npos ? body.size() : nl + 1;
        }
        NoFiles none;
        quillnet::StoreFiles store;
        empty_group(web_root);
        const double start = now();
        quillnet::decode_attachments(r, web_root, folder, files ? static_cast<quillnet::FileSink&>(store)
                                                                : static_cast<quillnet::FileSink&>(none));
        t.best = std::min(t.best, now() - start);
        t.attachments = r.attachmentCount;
    }
    return t;
}

double mb(size_t bytes) { return static_cast<double>(bytes) / 1e6; }

bool write_file(const std::string& path, const std::string& bytes) {
    return !frame::write_file_atomically(frame::ansi_to_wide(path), bytes.data(), bytes.size());
}

// Best time to write `size` bytes as a new file the way attachments are
// written: the floor under "store".
double time_write(const std::string& web_root, size_t size, int runs) {
    const std::string bytes = random_bytes(size, 77);
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        empty_group(web_root);
        const double start = now();
        frame::AtomicFile file(frame::ansi_to_wide(web_root + "g\\written.bin"));
        for (size_t at = 0; at < size; at += 65536) file.write(bytes.data() + at, std::min<size_t>(65536, size - at));
        file.commit();
        best = std::min(best, now() - start);
    }
    return best;
}

// `write` below 0: not measured.
void report(const char* what, size_t body, const Timing& store, const Timing& text, double write) {
    std::printf("%-8s body %5.1f MB  store %7.1f MB/s (%6.1f ms)  text only %7.1f MB/s (%5.1f ms)", what, mb(body),
                mb(body) / store.best, store.best * 1e3, mb(body) / text.best, text.best * 1e3);
    if (write >= 0) std::printf("  file write alone %5.1f ms", write * 1e3);
    std::printf("  attachments %d\n", store.attachments);
}

int throughput(const std::string& dir) {
    const std::string web_root = temp_store();
    const size_t target = 20000000;
    const int runs = 15;

    // memcpy in this process, as a ceiling.
    {
        const std::string src = random_bytes(target, 9);
        std::string dst(target, '\0');
        double best = 1e30;
        for (int i = 0; i < runs; ++i) {
            const double start = now();
            std::memcpy(&dst[0], src.data(), src.size());
            best = std::min(best, now() - start);
        }
        std::printf("memcpy   %6.1f MB  %7.1f MB/s\n", mb(target), mb(target) / best);
    }

    const size_t b64_bytes = target / 4 * 3 - 3000;
    const size_t uu_bytes = target / 62 * 45;
    const size_t y_bytes = target * 100 / 102;
    const std::string b64 = base64_lines(random_bytes(b64_bytes, 1));
    const std::string mime = "This is a multi-part message in MIME format.\n\n--=_bench\n"
                             "Content-Type: text/plain\n\nSee the attachment.\n\n--=_bench\n"
                             "Content-Type: application/octet-stream; name=\"bench.bin\"\n"
                             "Content-Transfer-Encoding: base64\n"
                             "Content-Disposition: attachment; filename=\"bench.bin\"\n\n" +
                             b64 + "\n--=_bench--\n";
    const std::string uu = uuencode(random_bytes(uu_bytes, 2), "bench.bin");
    const std::string uu_body = "Here it is.\n\n" + uu + "\nbye\n";
    const std::string y_body = "Here it is.\n\n" + yenc(random_bytes(y_bytes, 3), "bench.bin") + "\nbye\n";
    if (!write_file(dir + "\\payload.b64", b64) || !write_file(dir + "\\payload.uue", uu)) {
        std::printf("cannot write the tool inputs to %s\n", dir.c_str());
        return 1;
    }
    report("base64", mime.size(), time_decode(mime, web_root, "g\\", true, runs),
           time_decode(mime, web_root, "g\\", false, runs), time_write(web_root, b64_bytes, runs));
    report("uuencode", uu_body.size(), time_decode(uu_body, web_root, "g\\", true, runs),
           time_decode(uu_body, web_root, "g\\", false, runs), time_write(web_root, uu_bytes, runs));
    report("yEnc", y_body.size(), time_decode(y_body, web_root, "g\\", true, runs),
           time_decode(y_body, web_root, "g\\", false, runs), time_write(web_root, y_bytes, runs));
    clean_store(web_root);
    return 0;
}

int blocks() {
    const std::string web_root = temp_store();
    const size_t target = 10000000;
    const int count = 5000;
    std::string many;
    many.reserve(target + 100000);
    const size_t each = (target / count - 40) / 62 * 45 + 20;
    for (int i = 0; i < count; ++i) {
        many += uuencode(random_bytes(each, 100 + i), std::string("b").append(std::to_string(i)).append(".bin"));
        many.append("line ").append(std::to_string(i)).append("\n");
    }
    const std::string one = uuencode(random_bytes(many.size() / 62 * 45, 4), "one.bin") + "end of body\n";
    const int runs = 5;
    const Timing many_store = time_decode(many, web_root, "g\\", true, 2);  // seconds a run under Wine
    const Timing many_text = time_decode(many, web_root, "g\\", false, runs);
    const Timing one_store = time_decode(one, web_root, "g\\", true, runs);
    const Timing one_text = time_decode(one, web_root, "g\\", false, runs);
    report("5000", many.size(), many_store, many_text, -1);
    report("1", one.size(), one_store, one_text, -1);
    std::printf("ratio 5000 blocks / 1 block: store %.2f, text only %.2f (target at most 3)\n",
                many_store.best / one_store.best, many_text.best / one_text.best);
    std::printf("per file written: %.1f us\n",
                (many_store.best - many_text.best) / static_cast<double>(count) * 1e6);
    // The floor for the same files: 5,000 bare creations in one folder, no
    // decoding and no rename.
    empty_group(web_root);
    const double start = now();
    for (int i = 0; i < count; ++i) {
        const std::string path = web_root + "g\\bare" + std::to_string(i) + ".bin";
        HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        if (h != INVALID_HANDLE_VALUE) {
            ::WriteFile(h, many.data(), static_cast<DWORD>(each), &written, nullptr);
            ::CloseHandle(h);
        }
    }
    std::printf("5000 bare CreateFile/WriteFile/CloseHandle in one folder: %.1f ms (%.1f us each)\n",
                (now() - start) * 1e3, (now() - start) / count * 1e6);
    clean_store(web_root);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "throughput" && argc > 2) return throughput(argv[2]);
    if (mode == "blocks") return blocks();
    std::printf("usage: decode_bench throughput DIR | blocks\n");
    return 2;
}
