// The picture object's image layer: format guess and header sizes, our
// scaler against a straightforward reference, decoding every format from
// pictures made here, JPEG saving, hostile files, and KestleImage itself.
#include <gtest/gtest.h>

#include <windows.h>
#include <wincodec.h>
#include <zlib.h>

#include <climits>
#include <cstring>
#include <cmath>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "frame/handles.h"
#include "kestle/image/image_errors.h"
#include "kestle/image/jpeg_encoder.h"
#include "kestle/image/jpeg_preview.h"
#include "kestle/image/picture.h"
#include "kestle/image/orientation.h"
#include "kestle/image/picture_format.h"
#include "kestle/image/png_reader.h"
#include "kestle/image/scaler.h"
#include "kestle/kestle_idl.h"
#include "support/com_test.h"

using namespace kestle::image;
using namespace qk_test;
using frame::com_ptr;
using Bytes = std::vector<uint8_t>;

namespace {

// ---- pictures made by the tests ---------------------------------------

struct Rgb {
    int w = 0, h = 0;
    Bytes px;  // blue, green, red; rows without padding
    uint8_t* at(int x, int y) { return &px[(size_t(y) * w + x) * 3]; }
};

Rgb random_picture(int w, int h, unsigned seed) {
    Rgb p{w, h, Bytes(size_t(w) * h * 3)};
    std::mt19937 rng(seed);
    // Smooth gradients with noise: like a photo, not like white noise.
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                p.at(x, y)[c] = static_cast<uint8_t>(x * 160 / std::max(1, w - 1) + y * 60 / std::max(1, h - 1) +
                                                     c * 5 + rng() % 20);
    return p;
}

void put_le16(Bytes& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void put_le32(Bytes& b, uint32_t v) {
    put_le16(b, static_cast<uint16_t>(v));
    put_le16(b, static_cast<uint16_t>(v >> 16));
}
void put_be32(Bytes& b, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(v >> s));
}

// A bottom-up 8-bit BMP with a 256-colour palette, written by hand.
Bytes bmp8(int w, int h, const std::vector<uint32_t>& palette, const Bytes& index) {
    const uint32_t stride = (uint32_t(w) + 3) & ~3u;
    Bytes b = {'B', 'M'};
    put_le32(b, 14 + 40 + 1024 + stride * h);
    put_le32(b, 0);
    put_le32(b, 14 + 40 + 1024);
    put_le32(b, 40);
    put_le32(b, static_cast<uint32_t>(w));
    put_le32(b, static_cast<uint32_t>(h));
    put_le16(b, 1);
    put_le16(b, 8);
    for (int i = 0; i < 6; ++i) put_le32(b, i == 4 ? 256 : 0);
    for (uint32_t c : palette) put_le32(b, c & 0xFFFFFF);
    for (int y = h - 1; y >= 0; --y) {
        for (int x = 0; x < w; ++x) b.push_back(index[size_t(y) * w + x]);
        for (uint32_t x = w; x < stride; ++x) b.push_back(0);
    }
    return b;
}

uint32_t crc32(const uint8_t* p, size_t n) {
    uint32_t c = 0xFFFFFFFF;
    for (size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320 & (0u - (c & 1)));
    }
    return ~c;
}

// A PNG signature and IHDR claiming this size, then a few bytes of IDAT.
Bytes png_header(uint32_t w, uint32_t h) {
    Bytes b = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    Bytes chunk = {'I', 'H', 'D', 'R'};
    put_be32(chunk, w);
    put_be32(chunk, h);
    chunk.insert(chunk.end(), {8, 2, 0, 0, 0});
    put_be32(b, 13);
    b.insert(b.end(), chunk.begin(), chunk.end());
    put_be32(b, crc32(chunk.data(), chunk.size()));
    Bytes idat = {'I', 'D', 'A', 'T', 0x78, 0x9C, 0x63, 0x00};
    put_be32(b, 4);
    b.insert(b.end(), idat.begin(), idat.end());
    put_be32(b, crc32(idat.data(), idat.size()));
    return b;
}

com_ptr<IWICImagingFactory> factory() {
    com_ptr<IWICImagingFactory> f;
    ::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory, f.put_void());
    return f;
}

// Encodes pixels with the platform's encoder for `container`. `bpp` is the
// bytes per pixel of `pixels` in `format`; indexed formats take `palette`.
Bytes encode(const GUID& container, const GUID& format, int w, int h, int bpp, const Bytes& pixels,
             const std::vector<uint32_t>& palette = {}) {
    auto f = factory();
    com_ptr<IStream> stream;
    ::CreateStreamOnHGlobal(nullptr, TRUE, stream.put());
    com_ptr<IWICBitmapEncoder> enc;
    com_ptr<IWICBitmapFrameEncode> frame;
    com_ptr<IPropertyBag2> bag;
    if (FAILED(f->CreateEncoder(container, nullptr, enc.put())) || FAILED(enc->Initialize(stream.get(), WICBitmapEncoderNoCache)) ||
        FAILED(enc->CreateNewFrame(frame.put(), bag.put())) || FAILED(frame->Initialize(bag.get())))
        return {};
    WICPixelFormatGUID fmt = format;
    if (FAILED(frame->SetSize(w, h)) || FAILED(frame->SetPixelFormat(&fmt)) || !IsEqualGUID(fmt, format)) return {};
    if (!palette.empty()) {
        com_ptr<IWICPalette> pal;
        f->CreatePalette(pal.put());
        std::vector<WICColor> colours;
        for (uint32_t c : palette) colours.push_back(0xFF000000 | c);
        pal->InitializeCustom(colours.data(), static_cast<UINT>(colours.size()));
        if (FAILED(frame->SetPalette(pal.get()))) return {};
    }
    const UINT stride = static_cast<UINT>(w * bpp);
    if (FAILED(frame->WritePixels(h, stride, stride * h, const_cast<BYTE*>(pixels.data()))) || FAILED(frame->Commit()) ||
        FAILED(enc->Commit()))
        return {};
    HGLOBAL mem = nullptr;
    ::GetHGlobalFromStream(stream.get(), &mem);
    STATSTG st = {};
    stream->Stat(&st, STATFLAG_NONAME);
    const auto* p = static_cast<const uint8_t*>(::GlobalLock(mem));
    Bytes out(p, p + st.cbSize.QuadPart);
    ::GlobalUnlock(mem);
    return out;
}

std::wstring test_folder() {
    const std::wstring folder = program_folder() + L"\\kestle_image";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

std::wstring write_file(const std::wstring& name, const Bytes& data) {
    const std::wstring path = test_folder() + L"\\" + name;
    frame::unique_file f(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD done = 0;
    ::WriteFile(f.get(), data.data(), static_cast<DWORD>(data.size()), &done, nullptr);
    return path;
}

Bytes read_file(const std::wstring& path) {
    frame::unique_file f(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!f) return {};
    Bytes data(1 << 22);
    DWORD got = 0;
    ::ReadFile(f.get(), data.data(), static_cast<DWORD>(data.size()), &got, nullptr);
    data.resize(got);
    return data;
}

bool exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// ---- the reference scaler: each target pixel straight from the definitions

double coverage(int j, int i, int src, int dst) {
    const double s = double(src) / dst;
    return std::max(0.0, std::min((j + 1) * s, i + 1.0) - std::max(j * s, double(i))) / s;
}

std::vector<std::vector<double>> axis_weights(int src, int dst) {
    std::vector<std::vector<double>> w(dst, std::vector<double>(src, 0.0));
    for (int j = 0; j < dst; ++j) {
        if (dst <= src) {
            for (int i = 0; i < src; ++i) w[j][i] = coverage(j, i, src, dst);
        } else {
            double pos = (j + 0.5) * src / dst - 0.5;
            pos = std::min(std::max(pos, 0.0), src - 1.0);
            const int i0 = int(std::floor(pos));
            const int i1 = std::min(i0 + 1, src - 1);
            w[j][i0] += 1 - (pos - i0);
            w[j][i1] += pos - i0;
        }
    }
    return w;
}

Rgb reference_scale(const Rgb& in, int dw, int dh) {
    const auto wx = axis_weights(in.w, dw), wy = axis_weights(in.h, dh);
    Rgb out{dw, dh, Bytes(size_t(dw) * dh * 3)};
    for (int y = 0; y < dh; ++y)
        for (int x = 0; x < dw; ++x)
            for (int c = 0; c < 3; ++c) {
                double v = 0;
                for (int sy = 0; sy < in.h; ++sy) {
                    if (wy[y][sy] == 0) continue;
                    for (int sx = 0; sx < in.w; ++sx)
                        v += wy[y][sy] * wx[x][sx] * in.px[(size_t(sy) * in.w + sx) * 3 + c];
                }
                out.at(x, y)[c] = static_cast<uint8_t>(std::lround(std::min(255.0, std::max(0.0, v))));
            }
    return out;
}

Rgb ours(const Rgb& in, int dw, int dh) {
    Rgb out{dw, dh, Bytes(size_t(dw) * dh * 3)};
    scale_rgb24(in.px.data(), in.w, in.h, out.px.data(), dw, dh);
    return out;
}

double psnr(const Bytes& a, const Bytes& b) {
    if (a.size() != b.size() || a.empty()) return 0;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) sum += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
    return sum == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * a.size() / sum);
}

int max_difference(const Bytes& a, const Bytes& b) {
    if (a.size() != b.size()) return 256;
    int worst = 0;
    for (size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::abs(int(a[i]) - int(b[i])));
    return worst;
}

Rgb pixels_of(const Picture& p) {
    const PixelBlock& b = p.pixels();
    return Rgb{b.width(), b.height(), Bytes(b.data(), b.data() + b.size())};
}

}  // namespace

// ---- format guess and header sizes ------------------------------------

TEST(PictureFormat, NamesOfTheTable) {
    EXPECT_EQ("BMP", format_name(1));
    EXPECT_EQ("JPG", format_name(3));
    EXPECT_EQ("TLA (ENCRYPTED)", format_name(11));
    EXPECT_EQ("TLA (UNENCRYPTED)", format_name(12));
    EXPECT_EQ("TGA", format_name(14));
    for (int n : {0, 15, -1, 1000}) EXPECT_EQ("Unknown", format_name(n)) << n;
}

TEST(PictureFormat, GuessedFromSignatures) {
    auto guess = [](Bytes head, Bytes tail = {}, uint64_t size = 0) {
        head.resize(std::max<size_t>(head.size(), 128), 0);
        return guess_format(head, tail, size ? size : head.size());
    };
    EXPECT_EQ(format_png, guess(png_header(1, 1)));
    EXPECT_EQ(format_jpg, guess({0xFF, 0xD8, 0xFF, 0xE0}));
    EXPECT_EQ(format_gif, guess({'G', 'I', 'F', '8', '7', 'a'}));
    EXPECT_EQ(format_gif, guess({'G', 'I', 'F', '8', '9', 'a'}));
    EXPECT_EQ(format_tiff, guess({'I', 'I', 42, 0}));
    EXPECT_EQ(format_tiff, guess({'M', 'M', 0, 42}));
    EXPECT_EQ(format_bmp, guess(bmp8(2, 2, std::vector<uint32_t>(256), Bytes(4))));
    EXPECT_EQ(format_psd, guess({'8', 'B', 'P', 'S', 0, 1}));
    EXPECT_EQ(format_wmf, guess({0xD7, 0xCD, 0xC6, 0x9A}));
    EXPECT_EQ(format_wmf, guess({1, 0, 9, 0, 0, 3}));
    Bytes emf = {1, 0, 0, 0};
    emf.resize(40);
    emf.insert(emf.end(), {' ', 'E', 'M', 'F'});
    EXPECT_EQ(format_emf, guess(emf));
    Bytes pcx = {0x0A, 5, 1, 8, 0, 0, 0, 0, 9, 0, 9, 0};
    EXPECT_EQ(format_pcx, guess(pcx));
    // WBMP: type 0, header 0, width 10, height 2, two bytes a row.
    EXPECT_EQ(format_wbmp, guess_format(Bytes{0, 0, 10, 2, 1, 2, 3, 4}, {}, 8));
    EXPECT_EQ(format_unknown, guess_format(Bytes{0, 0, 10, 2, 1, 2, 3}, {}, 7));  // a byte short
    // TGA 2.0 by its footer; TGA 1.0 by a header that holds together.
    Bytes footer(8, 0);
    const std::string sig = "TRUEVISION-XFILE.";
    footer.insert(footer.end(), sig.begin(), sig.end());
    footer.push_back(0);
    EXPECT_EQ(format_tga, guess({0, 0, 2}, footer, 1000));
    Bytes tga = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 2, 0, 24, 0};
    EXPECT_EQ(format_tga, guess_format(tga, {}, 18 + 4 * 2 * 3));
    EXPECT_EQ(format_unknown, guess_format(tga, {}, 18 + 10));  // too short for its pixels
    // Nothing public identifies PAX or TLA; other files are unknown.
    EXPECT_EQ(format_unknown, guess({0, 0, 1, 0, 1, 0}));  // an icon
    EXPECT_EQ(format_unknown, guess({'h', 'e', 'l', 'l', 'o'}));
    EXPECT_EQ(format_unknown, guess_format({}, {}, 0));
}

TEST(PictureFormat, SizesReadFromHeaders) {
    auto size = [](const Bytes& b) {
        const auto s = probe_size(b);
        return s ? std::to_string(s->width) + "x" + std::to_string(s->height) : std::string("none");
    };
    EXPECT_EQ("30000x30000", size(png_header(30000, 30000)));
    // JPEG: the frame header after an APP segment and fill bytes.
    Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0, 4, 'J', 'F', 0xFF, 0xFF, 0xC2, 0, 11, 8, 0x0B, 0xB8, 0x0F, 0xA0, 3, 0, 0};
    EXPECT_EQ("4000x3000", size(jpeg));
    jpeg.resize(14);
    EXPECT_EQ("none", size(jpeg));  // cut inside the frame header
    // GIF: the first frame may reach past the logical screen.
    Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 10, 0, 10, 0, 0, 0, 0,
                 0x21, 0xF9, 4, 0, 0, 0, 0, 0, 0x2C, 5, 0, 0, 0, 0x30, 0x75, 2, 0, 0};
    EXPECT_EQ("30005x10", size(gif));
    // BMP stored top-down (negative height).
    Bytes bmp = {'B', 'M'};
    bmp.resize(14);
    put_le32(bmp, 40);
    put_le32(bmp, 70000);
    put_le32(bmp, static_cast<uint32_t>(-20));
    EXPECT_EQ("70000x20", size(bmp));
    // TIFF in both byte orders, SHORT and LONG values.
    Bytes tiff = {'I', 'I', 42, 0, 8, 0, 0, 0, 2, 0};
    tiff.insert(tiff.end(), {0, 1, 3, 0, 1, 0, 0, 0, 0x20, 0, 0, 0});
    tiff.insert(tiff.end(), {1, 1, 4, 0, 1, 0, 0, 0, 0x40, 0x42, 0x0F, 0});
    EXPECT_EQ("32x1000000", size(tiff));
    Bytes mm = {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 2};
    mm.insert(mm.end(), {1, 0, 0, 3, 0, 0, 0, 1, 0, 7, 0, 0});
    mm.insert(mm.end(), {1, 1, 0, 3, 0, 0, 0, 1, 0, 9, 0, 0});
    EXPECT_EQ("7x9", size(mm));
    tiff.resize(20);
    EXPECT_EQ("none", size(tiff));
    EXPECT_EQ("none", size({'B', 'M', 0}));
    EXPECT_FALSE(size_allowed(30000, 30000));
    EXPECT_FALSE(size_allowed(65536, 1));
    EXPECT_TRUE(size_allowed(10000, 10000));
    EXPECT_FALSE(size_allowed(10001, 10000));
    EXPECT_FALSE(size_allowed(0, 5));
}

TEST(PictureFormat, HostileHeadersAreReadWithinTheirBytes) {
    // Every signature followed by random bytes, cut at every length: each
    // header reader must stay inside the bytes it is given.
    const std::vector<Bytes> starts = {
        png_header(1, 1), {0xFF, 0xD8, 0xFF, 0xC0}, {'G', 'I', 'F', '8', '9', 'a'}, {'B', 'M'},
        {'I', 'I', 42, 0},  {'M', 'M', 0, 42},        {0x0A, 5, 1, 8},              {0, 0},
        {1, 0, 0, 0},       {0xD7, 0xCD, 0xC6, 0x9A}, {'8', 'B', 'P', 'S', 0, 1},   {0, 0, 2}};
    std::mt19937 rng(17);
    for (const Bytes& start : starts) {
        for (int round = 0; round < 200; ++round) {
            Bytes b = start;
            const size_t extra = rng() % 300;
            for (size_t i = 0; i < extra; ++i) b.push_back(static_cast<uint8_t>(rng() % 4 == 0 ? 0xFF : rng()));
            for (size_t n = 0; n <= b.size(); n += 1 + n / 16) {
                const Bytes cut(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(n));
                const int format = guess_format(cut, cut, rng());
                ASSERT_TRUE(format >= 0 && format <= 14);
                if (const auto size = probe_size(cut); size && n < 8) ADD_FAILURE() << "a size from " << n << " bytes";
            }
        }
    }
}

// ---- the scaler ---------------------------------------------------------

TEST(Scaler, ValuesWorkedOutByHand) {
    Rgb four{4, 1, {0, 0, 0, 100, 100, 100, 200, 200, 200, 50, 50, 50}};
    EXPECT_EQ((Bytes{50, 50, 50, 125, 125, 125}), ours(four, 2, 1).px);
    // 3 to 2: each target pixel is one whole source pixel and half of the middle one.
    Rgb three{3, 1, {0, 0, 0, 90, 90, 90, 180, 180, 180}};
    EXPECT_EQ((Bytes{30, 30, 30, 150, 150, 150}), ours(three, 2, 1).px);
    // 2 to 4: centres at -0.25 (edge), 0.25, 0.75, 1.25 (edge).
    Rgb two{2, 1, {0, 10, 20, 100, 110, 120}};
    EXPECT_EQ((Bytes{0, 10, 20, 25, 35, 45, 75, 85, 95, 100, 110, 120}), ours(two, 4, 1).px);
    // A flat picture stays flat at every size.
    Rgb flat{9, 7, Bytes(9 * 7 * 3, 77)};
    for (auto [w, h] : {std::pair{4, 3}, {20, 11}, {1, 1}, {9, 2}, {3, 30}})
        EXPECT_EQ(Bytes(size_t(w) * h * 3, 77), ours(flat, w, h).px) << w << "x" << h;
}

TEST(Scaler, MatchesTheReferenceEveryWay) {
    const struct { int sw, sh, dw, dh; } cases[] = {
        {400, 200, 100, 100}, {7, 5, 3, 2}, {13, 11, 5, 4}, {3, 3, 8, 5}, {10, 4, 4, 9},
        {1, 1, 5, 5},         {5, 5, 1, 1}, {6, 6, 6, 6},   {1, 7, 1, 3}, {97, 61, 200, 20},
    };
    unsigned seed = 1;
    for (const auto& c : cases) {
        const Rgb in = random_picture(c.sw, c.sh, seed++);
        EXPECT_LE(max_difference(reference_scale(in, c.dw, c.dh).px, ours(in, c.dw, c.dh).px), 1)
            << c.sw << "x" << c.sh << " to " << c.dw << "x" << c.dh;
    }
    const Rgb same = random_picture(6, 6, 99);
    EXPECT_EQ(same.px, ours(same, 6, 6).px);
}

// ---- decoding, scaling and saving real files -----------------------------

class PictureFiles : public ::testing::Test {
  protected:
    ComScope com;
};

TEST_F(PictureFiles, EveryDecodableFormatPixelByPixel) {
    const int w = 45, h = 31;
    const Rgb rgb = random_picture(w, h, 5);
    std::vector<uint32_t> palette(256);
    Bytes index(size_t(w) * h);
    std::mt19937 rng(11);
    for (auto& c : palette) c = rng() & 0xFFFFFF;
    for (auto& i : index) i = static_cast<uint8_t>(rng());
    Rgb from_palette{w, h, Bytes(size_t(w) * h * 3)};
    for (size_t i = 0; i < index.size(); ++i)
        for (int c = 0; c < 3; ++c) from_palette.px[i * 3 + c] = static_cast<uint8_t>(palette[index[i]] >> (8 * c));
    // Alpha: opaque, transparent (white comes through) and half.
    Bytes bgra(size_t(w) * h * 4);
    Rgb over_white{w, h, Bytes(size_t(w) * h * 3)};
    for (size_t i = 0; i < size_t(w) * h; ++i) {
        const uint8_t a = i % 3 == 0 ? 255 : i % 3 == 1 ? 0 : 128;
        bgra[i * 4 + 3] = a;
        for (int c = 0; c < 3; ++c) {
            bgra[i * 4 + c] = rgb.px[i * 3 + c];
            over_white.px[i * 3 + c] = static_cast<uint8_t>((rgb.px[i * 3 + c] * a + 255 * (255 - a) + 127) / 255);
        }
    }

    const struct {
        const wchar_t* name;
        Bytes file;
        const char* type;
        int bpp;
        const Rgb* expect;
        int tolerance;
    } cases[] = {
        {L"rgb.bmp", encode(GUID_ContainerFormatBmp, GUID_WICPixelFormat24bppBGR, w, h, 3, rgb.px), "BMP", 24, &rgb, 0},
        {L"indexed.bmp", bmp8(w, h, palette, index), "BMP", 8, &from_palette, 0},
        {L"indexed.gif", encode(GUID_ContainerFormatGif, GUID_WICPixelFormat8bppIndexed, w, h, 1, index, palette), "GIF", 8,
         &from_palette, 0},
        {L"rgb.png", encode(GUID_ContainerFormatPng, GUID_WICPixelFormat24bppBGR, w, h, 3, rgb.px), "PNG", 24, &rgb, 0},
        {L"alpha.png", encode(GUID_ContainerFormatPng, GUID_WICPixelFormat32bppBGRA, w, h, 4, bgra), "PNG", 32,
         &over_white, 0},
        {L"rgb.tif", encode(GUID_ContainerFormatTiff, GUID_WICPixelFormat24bppBGR, w, h, 3, rgb.px), "TIFF", 24, &rgb, 0},
        {L"rgb.jpg", encode(GUID_ContainerFormatJpeg, GUID_WICPixelFormat24bppBGR, w, h, 3, rgb.px), "JPG", 24, &rgb, 28},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.type) + " " + std::to_string(c.bpp));
        ASSERT_FALSE(c.file.empty()) << "the test could not make its picture";
        const std::wstring path = write_file(c.name, c.file);
        Picture p;
        ASSERT_EQ(image_ok, p.load(path));
        EXPECT_EQ(w, p.width());
        EXPECT_EQ(h, p.height());
        EXPECT_EQ(c.type, p.file_type());
        EXPECT_EQ(c.bpp, p.bit_count());
        EXPECT_EQ(static_cast<int32_t>(c.file.size()), p.file_size());
        ASSERT_EQ(image_ok, p.ensure_pixels());
        const Rgb decoded = pixels_of(p);
        if (c.tolerance == 0) {
            EXPECT_EQ(c.expect->px, decoded.px);
        } else {
            EXPECT_GE(psnr(c.expect->px, decoded.px), c.tolerance);  // decibels for a lossy file
        }

        // Shrinking one way and growing the other, against the reference.
        ASSERT_EQ(image_ok, p.iconize(17, 40));
        EXPECT_EQ(17, p.width());
        EXPECT_EQ(40, p.height());
        EXPECT_LE(max_difference(reference_scale(decoded, 17, 40).px, pixels_of(p).px), 1);
        EXPECT_EQ(c.bpp, p.bit_count());  // the file's, not the block's
        EXPECT_EQ(static_cast<int32_t>(c.file.size()), p.file_size());
    }
}

TEST_F(PictureFiles, DamagedAndHostileFilesLeaveThePreviousPicture) {
    const Rgb rgb = random_picture(40, 20, 3);
    const Bytes png = encode(GUID_ContainerFormatPng, GUID_WICPixelFormat24bppBGR, 40, 20, 3, rgb.px);
    ASSERT_FALSE(png.empty());
    Picture p;
    ASSERT_EQ(image_ok, p.load(write_file(L"good.png", png)));

    auto still_good = [&] {
        EXPECT_EQ(40, p.width());
        EXPECT_EQ(20, p.height());
        EXPECT_EQ("PNG", p.file_type());
        EXPECT_EQ(static_cast<int32_t>(png.size()), p.file_size());
        ASSERT_EQ(image_ok, p.ensure_pixels());
        EXPECT_EQ(rgb.px, pixels_of(p).px);
    };
    EXPECT_EQ(image_cannot_open, p.load(test_folder() + L"\\does_not_exist.png"));
    still_good();
    EXPECT_EQ(image_cannot_open, p.load(test_folder()));  // a folder
    EXPECT_EQ(image_cannot_open, p.load(L""));
    still_good();

    Bytes noise(3000);
    std::mt19937 rng(1);
    for (auto& b : noise) b = static_cast<uint8_t>(rng());
    noise[0] = 'x';
    EXPECT_EQ(image_unknown_format, p.load(write_file(L"noise.bin", noise)));
    EXPECT_EQ(image_unknown_format, p.load(write_file(L"empty.png", {})));
    still_good();

    const Bytes cut(png.begin(), png.begin() + static_cast<std::ptrdiff_t>(png.size() / 2));
    EXPECT_NE(image_ok, p.load(write_file(L"cut.png", cut)));
    Bytes broken = png;
    for (size_t i = 60; i < broken.size() - 20; ++i) broken[i] ^= 0x5A;  // IDAT garbled
    EXPECT_NE(image_ok, p.load(write_file(L"garbled.png", broken)));
    const Bytes jpeg_head = {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0};
    EXPECT_NE(image_ok, p.load(write_file(L"header_only.jpg", jpeg_head)));
    still_good();

    // Decompression bombs are refused on their header's word.
    EXPECT_EQ(image_too_large, p.load(write_file(L"bomb.png", png_header(30000, 30000))));
    EXPECT_EQ(image_too_large, p.load(write_file(L"wide.png", png_header(70000, 1))));
    Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0x3B};
    EXPECT_EQ(image_too_large, p.load(write_file(L"bomb.gif", gif)));
    still_good();
    EXPECT_EQ(image_ok, p.iconize(10, 10));
}

TEST_F(PictureFiles, IconizeStraightFromTheDecoderEqualsIconizeFromABlock) {
    const Rgb rgb = random_picture(301, 203, 12);
    Bytes bgra(size_t(301) * 203 * 4, 255);
    for (size_t i = 0; i < size_t(301) * 203; ++i)
        for (int c = 0; c < 3; ++c) bgra[i * 4 + c] = rgb.px[i * 3 + c];
    for (const auto& [name, file] :
         {std::pair{L"band.png", encode(GUID_ContainerFormatPng, GUID_WICPixelFormat24bppBGR, 301, 203, 3, rgb.px)},
          std::pair{L"band_alpha.png", encode(GUID_ContainerFormatPng, GUID_WICPixelFormat32bppBGRA, 301, 203, 4, bgra)}}) {
        const std::wstring path = write_file(name, file);
        for (auto [w, h] : {std::pair{40, 30}, {301, 100}, {500, 71}}) {
            Picture banded, whole;
            ASSERT_EQ(image_ok, banded.load(path));
            ASSERT_EQ(image_ok, whole.load(path));
            ASSERT_EQ(image_ok, whole.ensure_pixels());
            EXPECT_EQ(rgb.px, pixels_of(whole).px);
            EXPECT_FALSE(banded.pixels());  // still with its decoder
            ASSERT_EQ(image_ok, banded.iconize(w, h));
            ASSERT_EQ(image_ok, whole.iconize(w, h));
            EXPECT_EQ(pixels_of(whole).px, pixels_of(banded).px) << w << "x" << h;
        }
    }
}

TEST_F(PictureFiles, TheFileIsFreeOnceLoaded) {
    const Rgb rgb = random_picture(64, 40, 13);
    for (const auto& [name, file] :
         {std::pair{L"gone.png", encode(GUID_ContainerFormatPng, GUID_WICPixelFormat24bppBGR, 64, 40, 3, rgb.px)},
          std::pair{L"gone.jpg", encode_baseline_jpeg(rgb.px.data(), 64, 40, 90)},
          std::pair{L"gone.tif", encode(GUID_ContainerFormatTiff, GUID_WICPixelFormat24bppBGR, 64, 40, 3, rgb.px)}}) {
        const std::wstring path = write_file(name, file);
        Picture p;
        ASSERT_EQ(image_ok, p.load(path));
        // A page may delete or replace its upload right after loading it.
        EXPECT_TRUE(::DeleteFileW(path.c_str()));
        ASSERT_EQ(image_ok, p.iconize(32, 20));
        ASSERT_EQ(image_ok, p.ensure_pixels());
        EXPECT_EQ(32, p.pixels().width());
    }
}

// Another page putting a new copy in place holds the file open for
// deleting while it renames; a page making the thumbnail at that moment
// must still read it.
TEST_F(PictureFiles, LoadsAFileBeingReplaced) {
    const Rgb rgb = random_picture(32, 24, 5);
    const std::wstring path =
        write_file(L"renamed.png", encode(GUID_ContainerFormatPng, GUID_WICPixelFormat24bppBGR, 32, 24, 3, rgb.px));
    HANDLE renamer = ::CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, renamer);
    Picture p;
    EXPECT_EQ(image_ok, p.load(path));
    ::CloseHandle(renamer);
    EXPECT_EQ(32, p.width());
}

TEST_F(PictureFiles, IconizeRefusesUnusableSizes) {
    Picture p;
    EXPECT_EQ(image_no_picture, p.iconize(10, 10));
    const Rgb rgb = random_picture(8, 6, 4);
    ASSERT_EQ(image_ok, p.load(write_file(L"small.bmp", encode(GUID_ContainerFormatBmp, GUID_WICPixelFormat24bppBGR, 8, 6, 3, rgb.px))));
    for (auto [w, h] : {std::pair{0, 5}, {5, 0}, {-1, 10}, {10, -3}, {50000, 50000}, {INT_MAX, INT_MAX}, {70000, 1}}) {
        EXPECT_EQ(image_no_picture, p.iconize(w, h)) << w << "x" << h;
        EXPECT_EQ(8, p.width());
        EXPECT_EQ(6, p.height());
    }
    ASSERT_EQ(image_ok, p.ensure_pixels());
    EXPECT_EQ(rgb.px, pixels_of(p).px);
}

TEST_F(PictureFiles, SavesJpegAtTheGivenQuality) {
    Picture p;
    const std::wstring out = test_folder() + L"\\saved.jpg";
    ::DeleteFileW(out.c_str());
    EXPECT_EQ(image_no_picture, p.save_jpeg(out, 75));  // nothing loaded: nothing written
    EXPECT_FALSE(exists(out));

    const Rgb rgb = random_picture(120, 80, 8);
    ASSERT_EQ(image_ok, p.load(write_file(L"q.png", encode(GUID_ContainerFormatPng, GUID_WICPixelFormat24bppBGR, 120, 80, 3, rgb.px))));
    std::map<int, Bytes> saved;
    for (int q : {-5, 0, 1, 10, 90, 100, 1000}) {
        const std::wstring path = test_folder() + L"\\q" + std::to_wstring(q) + L".jpg";
        ASSERT_EQ(image_ok, p.save_jpeg(path, q));
        saved[q] = read_file(path);
        EXPECT_EQ(static_cast<int32_t>(saved[q].size()), p.file_size());
    }
    EXPECT_NE(saved[10], saved[90]);
    EXPECT_LT(saved[10].size(), saved[90].size());
    EXPECT_EQ(saved[1], saved[0]);  // clamped to 1
    EXPECT_EQ(saved[1], saved[-5]);
    EXPECT_EQ(saved[100], saved[1000]);  // clamped to 100

    // The saved file reads back as the same picture.
    Picture back;
    ASSERT_EQ(image_ok, back.load(test_folder() + L"\\q100.jpg"));
    EXPECT_EQ("JPG", back.file_type());
    ASSERT_EQ(image_ok, back.ensure_pixels());
    EXPECT_EQ(120, back.width());
    EXPECT_EQ(80, back.height());
    EXPECT_EQ(24, back.bit_count());
    EXPECT_GE(psnr(rgb.px, pixels_of(back).px), 30);
    // Higher quality, closer to the picture.
    Picture low;
    ASSERT_EQ(image_ok, low.load(test_folder() + L"\\q10.jpg"));
    ASSERT_EQ(image_ok, low.ensure_pixels());
    EXPECT_LT(psnr(rgb.px, pixels_of(low).px), psnr(rgb.px, pixels_of(back).px));

    // A destination that cannot be created changes nothing.
    const int32_t size_before = p.file_size();
    EXPECT_EQ(image_cannot_create, p.save_jpeg(test_folder() + L"\\no\\such\\folder\\x.jpg", 75));
    EXPECT_EQ(size_before, p.file_size());
    EXPECT_EQ(120, p.width());
}

TEST_F(PictureFiles, OurJpegReadsBackAtEverySize) {
    for (auto [w, h] : {std::pair{1, 1}, {7, 3}, {16, 16}, {17, 9}, {33, 31}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        const Rgb rgb = random_picture(w, h, 21);
        const Bytes jpeg = encode_baseline_jpeg(rgb.px.data(), w, h, 95);
        Picture p;
        ASSERT_EQ(image_ok, p.load(write_file(L"odd.jpg", jpeg)));
        EXPECT_EQ(w, p.width());
        EXPECT_EQ(h, p.height());
        EXPECT_EQ("JPG", p.file_type());
        ASSERT_EQ(image_ok, p.ensure_pixels());
        EXPECT_GE(psnr(rgb.px, pixels_of(p).px), 30);
    }
    // Quality 50 writes the luminance table as printed, in zigzag order.
    const Rgb grey{8, 8, Bytes(8 * 8 * 3, 128)};
    const Bytes jpeg = encode_baseline_jpeg(grey.px.data(), 8, 8, 50);
    ASSERT_GT(jpeg.size(), 30u);
    EXPECT_EQ((Bytes{0xFF, 0xDB, 0, 132, 0, 16, 11, 12, 14, 12, 10}), Bytes(jpeg.begin() + 20, jpeg.begin() + 31));
    Picture p;
    ASSERT_EQ(image_ok, p.load(write_file(L"grey.jpg", jpeg)));
    ASSERT_EQ(image_ok, p.ensure_pixels());
    EXPECT_EQ(grey.px, pixels_of(p).px);  // a flat grey survives exactly
}

// The mean of each 8x8 block of a picture: what a JPEG preview should hold.
Rgb block_means(const Rgb& full) {
    Rgb out{(full.w + 7) / 8, (full.h + 7) / 8, {}};
    out.px.resize(size_t(out.w) * out.h * 3);
    for (int by = 0; by < out.h; ++by)
        for (int bx = 0; bx < out.w; ++bx)
            for (int c = 0; c < 3; ++c) {
                double sum = 0;
                int n = 0;
                for (int y = by * 8; y < std::min(full.h, by * 8 + 8); ++y)
                    for (int x = bx * 8; x < std::min(full.w, bx * 8 + 8); ++x, ++n)
                        sum += full.px[(size_t(y) * full.w + x) * 3 + c];
                out.at(bx, by)[c] = static_cast<uint8_t>(std::lround(sum / n));
            }
    return out;
}

const std::wstring data_folder = L"Z:" KESTLE_TEST_DATA;

TEST_F(PictureFiles, JpegPreviewHoldsTheBlockMeans) {
    const Rgb photo = random_picture(96, 64, 31);
    const struct {
        const wchar_t* name;
        Bytes file;
        int components;
    } cases[] = {
        {L"ours.jpg", encode_baseline_jpeg(photo.px.data(), 96, 64, 90), 3},
        {L"platform.jpg", encode(GUID_ContainerFormatJpeg, GUID_WICPixelFormat24bppBGR, 96, 64, 3, photo.px), 3},
        {L"restart422.jpg", read_file(data_folder + L"\\restart422.jpg"), 3},  // 4:2:2, a restart every MCU
        {L"grey22.jpg", read_file(data_folder + L"\\grey22.jpg"), 1},          // one component stating 2x2
        {L"odd.jpg", encode_baseline_jpeg(photo.px.data() + 3 * 7, 45, 31, 90), 3},  // partial blocks
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name, c.name + wcslen(c.name)));
        ASSERT_GT(c.file.size(), 100u);
        const auto preview = read_jpeg_preview(c.file);
        ASSERT_TRUE(preview);
        EXPECT_EQ(c.components, preview->components);
        Picture full;
        ASSERT_EQ(image_ok, full.load(write_file(c.name, c.file)));
        EXPECT_FALSE(full.pixels());  // held as its preview until the pixels are needed
        EXPECT_EQ(c.components * 8, full.bit_count());
        EXPECT_EQ(preview->width, full.width());
        ASSERT_EQ(image_ok, full.ensure_pixels());
        const Rgb means = block_means(pixels_of(full));
        EXPECT_EQ(means.w, preview->preview_width);
        EXPECT_EQ(means.h, preview->preview_height);
        // The full decoder smooths chroma across blocks; the means agree
        // closely all the same.
        EXPECT_GE(psnr(means.px, preview->bgr), 34);
    }
    // Progressive files are left to the full decoder, which reads them.
    const Bytes progressive = read_file(data_folder + L"\\progressive.jpg");
    EXPECT_FALSE(read_jpeg_preview(progressive));
    Picture p;
    ASSERT_EQ(image_ok, p.load(write_file(L"progressive.jpg", progressive)));
    EXPECT_EQ(72, p.width());
    ASSERT_EQ(image_ok, p.ensure_pixels());
    EXPECT_EQ(72, p.pixels().width());
    EXPECT_EQ(40, p.pixels().height());
    EXPECT_EQ("JPG", p.file_type());
}

TEST_F(PictureFiles, ThumbnailFromThePreviewMatchesTheFullPicture) {
    const Rgb photo = random_picture(640, 480, 41);
    const std::wstring path = write_file(L"big.jpg", encode_baseline_jpeg(photo.px.data(), 640, 480, 95));
    Picture full;
    ASSERT_EQ(image_ok, full.load(path));
    ASSERT_EQ(image_ok, full.ensure_pixels());
    const Rgb reference = reference_scale(pixels_of(full), 32, 24);

    Picture quick;
    ASSERT_EQ(image_ok, quick.load(path));
    ASSERT_EQ(image_ok, quick.iconize(32, 24));  // 20 times smaller: from the preview
    EXPECT_EQ(32, quick.width());
    EXPECT_GE(psnr(reference.px, pixels_of(quick).px), 40);

    // A size the preview cannot give decodes the whole picture.
    Picture larger;
    ASSERT_EQ(image_ok, larger.load(path));
    ASSERT_EQ(image_ok, larger.iconize(200, 150));
    EXPECT_LE(max_difference(reference_scale(pixels_of(full), 200, 150).px, pixels_of(larger).px), 1);
    // Saving without Iconize writes the full picture.
    Picture saved;
    ASSERT_EQ(image_ok, saved.load(path));
    ASSERT_EQ(image_ok, saved.save_jpeg(test_folder() + L"\\resaved.jpg", 90));
    Picture back;
    ASSERT_EQ(image_ok, back.load(test_folder() + L"\\resaved.jpg"));
    EXPECT_EQ(640, back.width());
}

TEST(JpegPreview, DamagedFilesNeverReadOutside) {
    const Rgb photo = random_picture(40, 24, 51);
    const Bytes good = encode_baseline_jpeg(photo.px.data(), 40, 24, 80);
    ASSERT_TRUE(read_jpeg_preview(good));
    for (size_t n = 0; n < good.size(); n += 7) {
        const Bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
        const auto p = read_jpeg_preview(cut);
        if (p) {
            EXPECT_EQ(p->bgr.size(), size_t(p->preview_width) * p->preview_height * 3);
        }
    }
    std::mt19937 rng(3);
    int read = 0;
    for (int round = 0; round < 3000; ++round) {
        Bytes mutated = good;
        for (int k = 0; k < 3; ++k) mutated[rng() % mutated.size()] = static_cast<uint8_t>(rng());
        const auto p = read_jpeg_preview(mutated);
        if (!p) continue;
        ++read;
        EXPECT_EQ(p->bgr.size(), size_t(p->preview_width) * p->preview_height * 3);
        EXPECT_TRUE(size_allowed(p->width, p->height));
    }
    EXPECT_GT(read, 0);  // mutations in the entropy data mostly still read
    // A header that claims a huge picture is not read at all.
    Bytes huge = good;
    for (size_t i = 2; i + 9 < huge.size(); ++i)
        if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {
            huge[i + 5] = huge[i + 6] = huge[i + 7] = huge[i + 8] = 0xFF;
            break;
        }
    EXPECT_FALSE(read_jpeg_preview(huge));
}

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

// ---- our PNG reader --------------------------------------------------------

namespace {

// A PNG written here from samples (w x h x channels, each below 2^depth),
// every filter type used in turn row by row, optionally Adam7-interlaced.
struct PngSpec {
    int w = 0, h = 0, colour = 2, depth = 8;
    bool interlaced = false;
    std::vector<uint16_t> samples;
    Bytes plte, trns;
};

int png_channels(int colour) { return colour == 2 ? 3 : colour == 4 ? 2 : colour == 6 ? 4 : 1; }

void put_chunk(Bytes& file, const char* type, const Bytes& body) {
    put_be32(file, static_cast<uint32_t>(body.size()));
    Bytes typed(type, type + 4);
    typed.insert(typed.end(), body.begin(), body.end());
    file.insert(file.end(), typed.begin(), typed.end());
    put_be32(file, crc32(typed.data(), typed.size()));
}

// The filtered scanlines of one row of the given pixels.
void put_scanline(const PngSpec& s, const std::vector<size_t>& pixels, Bytes& prior, int filter, Bytes& out) {
    const int ch = png_channels(s.colour);
    Bytes raw((pixels.size() * ch * s.depth + 7) / 8, 0);
    size_t bit = 0;
    for (size_t p : pixels)
        for (int c = 0; c < ch; ++c, bit += s.depth) {
            const uint16_t v = s.samples[p * ch + c];
            if (s.depth == 16) {
                raw[bit / 8] = static_cast<uint8_t>(v >> 8);
                raw[bit / 8 + 1] = static_cast<uint8_t>(v);
            } else {
                raw[bit / 8] |= static_cast<uint8_t>(v << (8 - s.depth - bit % 8));
            }
        }
    const size_t step = std::max(1, ch * s.depth / 8);
    out.push_back(static_cast<uint8_t>(filter));
    for (size_t i = 0; i < raw.size(); ++i) {
        const int a = i >= step ? raw[i - step] : 0, b = prior[i], c = i >= step ? prior[i - step] : 0;
        int predicted = 0;
        if (filter == 1) predicted = a;
        if (filter == 2) predicted = b;
        if (filter == 3) predicted = (a + b) / 2;
        if (filter == 4) {
            const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
            predicted = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
        }
        out.push_back(static_cast<uint8_t>(raw[i] - predicted));
    }
    prior = raw;
}

Bytes png_scanlines(const PngSpec& s) {
    Bytes lines;
    int filter = 0;
    const int passes[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4}, {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    for (int pass = 0; pass < (s.interlaced ? 7 : 1); ++pass) {
        const int* p = s.interlaced ? passes[pass] : passes[6];
        const int x0 = s.interlaced ? p[0] : 0, y0 = s.interlaced ? p[1] : 0;
        const int dx = s.interlaced ? p[2] : 1, dy = s.interlaced ? p[3] : 1;
        if (x0 >= s.w || y0 >= s.h) continue;
        Bytes prior(size_t(s.w) * 8, 0);
        for (int y = y0; y < s.h; y += dy) {
            std::vector<size_t> row;
            for (int x = x0; x < s.w; x += dx) row.push_back(size_t(y) * s.w + x);
            put_scanline(s, row, prior, filter++ % 5, lines);
        }
    }
    return lines;
}

Bytes deflated(const Bytes& data, int level = 6) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    Bytes out(size);
    compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), level);
    out.resize(size);
    return out;
}

Bytes png_file(const PngSpec& s, const Bytes& idat) {
    Bytes file = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    Bytes ihdr;
    put_be32(ihdr, static_cast<uint32_t>(s.w));
    put_be32(ihdr, static_cast<uint32_t>(s.h));
    ihdr.insert(ihdr.end(), {static_cast<uint8_t>(s.depth), static_cast<uint8_t>(s.colour), 0, 0,
                             static_cast<uint8_t>(s.interlaced)});
    put_chunk(file, "IHDR", ihdr);
    put_chunk(file, "tEXt", {'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 'h', 'i'});  // ancillary: skipped
    if (!s.plte.empty()) put_chunk(file, "PLTE", s.plte);
    if (!s.trns.empty()) put_chunk(file, "tRNS", s.trns);
    // The data split over two chunks, as encoders do for large pictures.
    const size_t half = idat.size() / 2;
    put_chunk(file, "IDAT", Bytes(idat.begin(), idat.begin() + static_cast<std::ptrdiff_t>(half)));
    put_chunk(file, "IDAT", Bytes(idat.begin() + static_cast<std::ptrdiff_t>(half), idat.end()));
    put_chunk(file, "IEND", {});
    return file;
}
Bytes png_file(const PngSpec& s) { return png_file(s, deflated(png_scanlines(s))); }

// What the picture should look like: 8-bit samples (16-bit ones by their
// high byte, fewer bits stretched to 0..255), transparency over white.
Rgb png_reference(const PngSpec& s) {
    Rgb out{s.w, s.h, Bytes(size_t(s.w) * s.h * 3)};
    const int ch = png_channels(s.colour);
    auto eight = [&](uint16_t v) { return s.depth == 16 ? v >> 8 : v * 255 / ((1 << s.depth) - 1); };
    auto blend = [](int c, int a) { return static_cast<uint8_t>((c * a + 255 * (255 - a) + 127) / 255); };
    for (size_t i = 0; i < size_t(s.w) * s.h; ++i) {
        const uint16_t* v = &s.samples[i * ch];
        uint8_t* o = &out.px[i * 3];
        bool clear = false;
        if (!s.trns.empty() && (s.colour == 0 || s.colour == 2)) {
            clear = true;
            for (int c = 0; c < ch; ++c) clear = clear && v[c] == (s.trns[2 * c] << 8 | s.trns[2 * c + 1]);
        }
        int rgb[3] = {eight(v[0]), eight(v[0]), eight(v[0])}, a = 255;
        if (s.colour == 2 || s.colour == 6) rgb[1] = eight(v[1]), rgb[2] = eight(v[2]);
        if (s.colour == 4) a = eight(v[1]);
        if (s.colour == 6) a = eight(v[3]);
        if (s.colour == 3) {
            for (int c = 0; c < 3; ++c) rgb[c] = s.plte[v[0] * 3 + c];
            a = v[0] < s.trns.size() ? s.trns[v[0]] : 255;
        }
        for (int c = 0; c < 3; ++c) o[2 - c] = clear ? 255 : blend(rgb[c], a);
    }
    return out;
}

PngSpec random_png(int w, int h, int colour, int depth, bool interlaced, unsigned seed) {
    PngSpec s{w, h, colour, depth, interlaced, {}, {}, {}};
    std::mt19937 rng(seed);
    const int top = (1 << depth) - 1;
    for (size_t i = 0; i < size_t(w) * h * png_channels(colour); ++i)
        s.samples.push_back(static_cast<uint16_t>(colour == 3 ? rng() % std::min(top + 1, 200) : rng() & top));
    if (colour == 3) {
        for (int i = 0; i < 200 * 3; ++i) s.plte.push_back(static_cast<uint8_t>(rng()));
        for (int i = 0; i < 50; ++i) s.trns.push_back(static_cast<uint8_t>(rng()));  // the first 50 see-through
    } else if (colour == 0 || colour == 2) {
        // The first pixel's colour is the transparent one.
        for (int c = 0; c < png_channels(colour); ++c) {
            s.trns.push_back(static_cast<uint8_t>(s.samples[c] >> 8));
            s.trns.push_back(static_cast<uint8_t>(s.samples[c]));
        }
    }
    return s;
}

}  // namespace

TEST_F(PictureFiles, PngOfEveryColourTypeDepthAndInterlace) {
    const std::pair<int, int> kinds[] = {{0, 1}, {0, 2}, {0, 4}, {0, 8}, {0, 16}, {2, 8}, {2, 16}, {3, 1},
                                         {3, 2}, {3, 4}, {3, 8}, {4, 8}, {4, 16}, {6, 8}, {6, 16}};
    int seed = 0;
    for (auto [colour, depth] : kinds)
        for (bool interlaced : {false, true})
            for (auto [w, h] : {std::pair{37, 23}, {3, 2}, {1, 1}}) {
                SCOPED_TRACE("colour " + std::to_string(colour) + " depth " + std::to_string(depth) +
                             (interlaced ? " interlaced " : " ") + std::to_string(w) + "x" + std::to_string(h));
                const PngSpec s = random_png(w, h, colour, depth, interlaced, ++seed);
                const Bytes file = png_file(s);
                Picture p;
                ASSERT_EQ(image_ok, p.load(write_file(L"made.png", file)));
                EXPECT_EQ(w, p.width());
                EXPECT_EQ(h, p.height());
                EXPECT_EQ("PNG", p.file_type());
                EXPECT_EQ(png_channels(colour) * depth, p.bit_count());
                EXPECT_EQ(static_cast<int32_t>(file.size()), p.file_size());
                Picture thumb;
                ASSERT_EQ(image_ok, thumb.load(write_file(L"made.png", file)));
                ASSERT_EQ(image_ok, p.ensure_pixels());
                const Rgb expect = png_reference(s);
                ASSERT_EQ(expect.px, pixels_of(p).px);
                // Rows straight from the reader into the scaler.
                ASSERT_EQ(image_ok, thumb.iconize(std::max(1, w / 3), std::max(1, h / 2)));
                EXPECT_EQ(ours(expect, std::max(1, w / 3), std::max(1, h / 2)).px, pixels_of(thumb).px);
            }
}

TEST_F(PictureFiles, DamagedPngIsReportedAsDamaged) {
    const PngSpec s = random_png(40, 30, 2, 8, false, 99);
    const Bytes good = png_file(s);
    Picture p;
    ASSERT_EQ(image_ok, p.load(write_file(L"sound.png", good)));
    // A wrong CRC in the header chunk or in a data chunk: the platform's
    // decoder would show such a file as sound.
    const size_t ihdr_crc = 8 + 8 + 13, last_idat_crc = good.size() - 12 - 4;
    for (size_t at : {ihdr_crc, last_idat_crc, size_t(8 + 8 + 2)}) {
        Bytes bad = good;
        bad[at] ^= 0x10;
        EXPECT_EQ(image_corrupt, p.load(write_file(L"crc.png", bad))) << at;
    }
    // Every cut, and lengths that point past the file or past 2^31.
    PngLayout layout;
    for (size_t n = 8; n < good.size(); ++n)
        EXPECT_EQ(PngCheck::damaged, check_png(std::span(good).first(n), layout)) << n;
    EXPECT_EQ(image_corrupt, p.load(write_file(L"cut.png", Bytes(good.begin(), good.end() - 1))));
    for (uint8_t top : {0x01, 0x7F, 0x80, 0xFF}) {
        Bytes bad = good;
        bad[8 + 25] = top;  // the length of the chunk after IHDR
        EXPECT_EQ(image_corrupt, p.load(write_file(L"length.png", bad)));
    }
    EXPECT_EQ(40, p.width());  // the sound picture stayed
    ASSERT_EQ(image_ok, p.ensure_pixels());
    EXPECT_EQ(png_reference(s).px, pixels_of(p).px);

    // Sound chunks around damaged or short compressed data: found when the
    // rows are read, and the picture before stays.
    const Bytes lines = png_scanlines(s);
    Bytes garbled = deflated(lines);
    for (size_t i = 10; i < garbled.size(); i += 5) garbled[i] ^= 0xA5;
    const Bytes short_data = deflated(Bytes(lines.begin(), lines.begin() + std::ptrdiff_t(lines.size() / 2)));
    Bytes bad_filter_lines = lines;
    bad_filter_lines[0] = 5;
    for (const Bytes& idat : {garbled, short_data, deflated(bad_filter_lines), Bytes{0x78, 0x9C}}) {
        Picture q;
        ASSERT_EQ(image_ok, q.load(write_file(L"data.png", png_file(s, idat))));
        EXPECT_EQ(image_corrupt, q.iconize(10, 10));
        EXPECT_EQ(40, q.width());
        EXPECT_EQ(image_corrupt, q.ensure_pixels());
        EXPECT_EQ(image_corrupt, q.save_jpeg(test_folder() + L"\\never.jpg", 75));
    }
    // A stream that inflates far beyond the picture: inflating stops at the
    // picture's own size and the rows are the picture's.
    Bytes endless = lines;
    endless.resize(lines.size() + (16u << 20), 0);
    Picture r;
    ASSERT_EQ(image_ok, r.load(write_file(L"endless.png", png_file(s, deflated(endless, 9)))));
    ASSERT_EQ(image_ok, r.ensure_pixels());
    EXPECT_EQ(png_reference(s).px, pixels_of(r).px);
    // The size limits hold from the header, before any pixel memory.
    EXPECT_EQ(PngCheck::too_large, check_png(png_header(30000, 30000), layout));
    EXPECT_EQ(PngCheck::damaged, check_png(png_header(0, 5), layout));
    EXPECT_EQ(PngCheck::not_png, check_png(Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1}, layout));
}

// ---- phone photos: the EXIF orientation --------------------------------------

namespace {

// The JPEG with an APP1 EXIF segment after SOI whose IFD0 holds a camera
// make and the orientation, in either byte order.
Bytes with_exif(const Bytes& jpeg, int orientation, bool big_endian) {
    Bytes tiff = big_endian ? Bytes{'M', 'M', 0, 42, 0, 0, 0, 8} : Bytes{'I', 'I', 42, 0, 8, 0, 0, 0};
    auto u16 = [&](uint16_t v) {
        tiff.push_back(static_cast<uint8_t>(big_endian ? v >> 8 : v));
        tiff.push_back(static_cast<uint8_t>(big_endian ? v : v >> 8));
    };
    auto u32 = [&](uint32_t v) { big_endian ? (u16(uint16_t(v >> 16)), u16(uint16_t(v))) : (u16(uint16_t(v)), u16(uint16_t(v >> 16))); };
    u16(2);
    u16(0x010F), u16(2), u32(4), tiff.insert(tiff.end(), {'P', 'h', 'o', 0});  // Make, ASCII, held inline
    u16(0x0112), u16(3), u32(1), u16(static_cast<uint16_t>(orientation)), u16(0);
    u32(0);
    Bytes app1 = {0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
    app1.insert(app1.end(), tiff.begin(), tiff.end());
    app1[2] = static_cast<uint8_t>((app1.size() - 2) >> 8);
    app1[3] = static_cast<uint8_t>(app1.size() - 2);
    Bytes out(jpeg.begin(), jpeg.begin() + 2);
    out.insert(out.end(), app1.begin(), app1.end());
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

Rgb transposed(const Rgb& in) {
    Rgb out{in.h, in.w, Bytes(in.px.size())};
    for (int y = 0; y < out.h; ++y)
        for (int x = 0; x < out.w; ++x) std::memcpy(out.at(x, y), &in.px[(size_t(x) * in.w + y) * 3], 3);
    return out;
}
Rgb flipped(const Rgb& in, bool across, bool down) {
    Rgb out{in.w, in.h, Bytes(in.px.size())};
    for (int y = 0; y < in.h; ++y)
        for (int x = 0; x < in.w; ++x)
            std::memcpy(out.at(x, y), &in.px[(size_t(down ? in.h - 1 - y : y) * in.w + (across ? in.w - 1 - x : x)) * 3], 3);
    return out;
}
// As TIFF 6.0 describes the eight: mirrored, turned half, mirrored down,
// transposed, turned right, transverse, turned left.
Rgb as_seen(const Rgb& stored, int orientation) {
    switch (orientation) {
        case 2: return flipped(stored, true, false);
        case 3: return flipped(stored, true, true);
        case 4: return flipped(stored, false, true);
        case 5: return transposed(stored);
        case 6: return flipped(transposed(stored), true, false);
        case 7: return flipped(transposed(stored), true, true);
        case 8: return flipped(transposed(stored), false, true);
        default: return stored;
    }
}

}  // namespace

TEST_F(PictureFiles, PhonePhotosAreTurnedUpright) {
    const Rgb photo = random_picture(48, 32, 61);
    const Bytes plain = encode_baseline_jpeg(photo.px.data(), 48, 32, 95);
    Picture stored, stored_thumb;
    ASSERT_EQ(image_ok, stored.load(write_file(L"stored.jpg", plain)));
    ASSERT_EQ(image_ok, stored.ensure_pixels());
    ASSERT_EQ(image_ok, stored_thumb.load(write_file(L"stored.jpg", plain)));
    ASSERT_EQ(image_ok, stored_thumb.iconize(12, 8));  // from the preview
    for (int o = 1; o <= 8; ++o) {
        SCOPED_TRACE("orientation " + std::to_string(o));
        const Bytes file = with_exif(plain, o, o % 2 == 0);
        EXPECT_EQ(o, exif_orientation(file));
        const bool turned = o >= 5;
        Picture p, thumb;
        ASSERT_EQ(image_ok, p.load(write_file(L"phone.jpg", file)));
        EXPECT_EQ(turned ? 32 : 48, p.width());
        EXPECT_EQ(turned ? 48 : 32, p.height());
        ASSERT_EQ(image_ok, p.ensure_pixels());
        EXPECT_EQ(as_seen(pixels_of(stored), o).px, pixels_of(p).px);
        ASSERT_EQ(image_ok, thumb.load(write_file(L"phone.jpg", file)));
        ASSERT_EQ(image_ok, thumb.iconize(turned ? 8 : 12, turned ? 12 : 8));
        EXPECT_EQ(as_seen(pixels_of(stored_thumb), o).px, pixels_of(thumb).px);
        // A thumbnail of a size the preview cannot give is turned the same way.
        ASSERT_EQ(image_ok, thumb.load(write_file(L"phone.jpg", file)));
        ASSERT_EQ(image_ok, thumb.iconize(turned ? 30 : 40, turned ? 40 : 30));
        EXPECT_LE(max_difference(reference_scale(as_seen(pixels_of(stored), o), turned ? 30 : 40, turned ? 40 : 30).px,
                                 pixels_of(thumb).px),
                  1);
    }
    // EXIF that cannot be read within its segment leaves the photo as stored.
    const Bytes good = with_exif(plain, 6, false);
    const size_t tiff = 2 + 10;
    auto damaged = [&](size_t at, uint8_t value) {
        Bytes b = good;
        b[at] = value;
        return b;
    };
    for (const Bytes& b : {damaged(tiff + 4, 0xF0),  // IFD0 past the segment
                           damaged(tiff + 8, 0x40),  // more entries than the segment holds
                           damaged(tiff + 10 + 12 + 2, 4),  // the orientation's type is not SHORT
                           damaged(tiff + 10 + 12 + 8, 9),  // a value outside 1..8
                           damaged(5, 0x20)}) {             // the segment's length
        EXPECT_EQ(1, exif_orientation(b));
        Picture p;
        if (p.load(write_file(L"bad_exif.jpg", b)) == image_ok) {
            EXPECT_EQ(48, p.width());
        }
    }
    for (size_t n = 0; n < 60; ++n) EXPECT_GE(exif_orientation(std::span(good).first(n)), 1);
    // A marker that stands alone (RST0, TEM) before the EXIF has no length
    // field: reading one there would jump past the EXIF.
    for (const uint8_t standalone : {uint8_t{0xD0}, uint8_t{0x01}}) {
        Bytes b = good;
        b.insert(b.begin() + 2, {0xFF, standalone});
        EXPECT_EQ(6, exif_orientation(b));
    }
}

TEST_F(PictureFiles, ProgressiveJpegPreviewFromItsDcScans) {
    // Its DC comes in two scans (the low bit after the AC scans), 4:2:0.
    const Bytes file = read_file(data_folder + L"\\progressive.jpg");
    const auto preview = read_progressive_jpeg_preview(file);
    ASSERT_TRUE(preview);
    EXPECT_FALSE(read_progressive_jpeg_preview(encode_baseline_jpeg(random_picture(16, 16, 1).px.data(), 16, 16, 90)));
    Picture full;
    ASSERT_EQ(image_ok, full.load(write_file(L"progressive.jpg", file)));
    EXPECT_FALSE(full.pixels());  // held as its preview
    ASSERT_EQ(image_ok, full.ensure_pixels());
    // The picture is a steep colour gradient: the full decoder's smoothed
    // chroma differs from any 4:2:0 block mean, so the preview is held
    // against that of the same picture written as a sequential file.
    const Rgb decoded = pixels_of(full);
    const Bytes sequential = encode_baseline_jpeg(decoded.px.data(), decoded.w, decoded.h, 100);
    const auto expected = read_jpeg_preview(sequential);
    ASSERT_TRUE(expected);
    ASSERT_EQ(expected->preview_width, preview->preview_width);
    ASSERT_EQ(expected->preview_height, preview->preview_height);
    EXPECT_GE(psnr(expected->bgr, preview->bgr), 34);
    Picture quick, quick_sequential;
    ASSERT_EQ(image_ok, quick.load(write_file(L"progressive.jpg", file)));
    ASSERT_EQ(image_ok, quick.iconize(18, 10));  // a quarter: from the preview
    ASSERT_EQ(image_ok, quick_sequential.load(write_file(L"sequential.jpg", sequential)));
    ASSERT_EQ(image_ok, quick_sequential.iconize(18, 10));
    EXPECT_GE(psnr(pixels_of(quick_sequential).px, pixels_of(quick).px), 34);

    // Cut or damaged, it is either read within its bytes or left to the
    // full decoder.
    std::mt19937 rng(7);
    for (int round = 0; round < 1500; ++round) {
        Bytes mutated(file.begin(), file.begin() + std::ptrdiff_t(1 + rng() % (file.size() - 1)));
        if (round % 2)
            for (int k = 0; k < 3; ++k) mutated[rng() % mutated.size()] = static_cast<uint8_t>(rng());
        if (const auto p = read_progressive_jpeg_preview(mutated)) {
            EXPECT_EQ(p->bgr.size(), size_t(p->preview_width) * p->preview_height * 3);
        }
    }
}

TEST_F(PictureFiles, JpegPreviewWhereBlocksEndWithoutAnEndCode) {
    // Grey noise at full quality: most blocks have their last coefficient
    // set, so they end without an end-of-block code, and the next block's
    // DC follows at once.
    Rgb noise{64, 48, Bytes(64 * 48 * 3)};
    std::mt19937 rng(17);
    for (size_t i = 0; i < noise.px.size(); i += 3) noise.px[i] = noise.px[i + 1] = noise.px[i + 2] = 64 + rng() % 128;
    const Bytes file = encode_baseline_jpeg(noise.px.data(), 64, 48, 100);
    const auto preview = read_jpeg_preview(file);
    ASSERT_TRUE(preview);
    Picture full;
    ASSERT_EQ(image_ok, full.load(write_file(L"noise.jpg", file)));
    ASSERT_EQ(image_ok, full.ensure_pixels());
    EXPECT_GE(psnr(block_means(pixels_of(full)).px, preview->bgr), 40);
}
