// The pictures, files and reference scaler the picture tests share.
#include "image_test_support.h"

namespace kestle_image_test {

// ---- pictures made by the tests ---------------------------------------

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

frame::com_ptr<IWICImagingFactory> factory() {
    frame::com_ptr<IWICImagingFactory> f;
    ::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory, f.put_void());
    return f;
}

// Encodes pixels with the platform's encoder for `container`. `bpp` is the
// bytes per pixel of `pixels` in `format`; indexed formats take `palette`.
Bytes encode(const GUID& container, const GUID& format, int w, int h, int bpp, const Bytes& pixels,
             const std::vector<uint32_t>& palette) {
    auto f = factory();
    frame::com_ptr<IStream> stream;
    ::CreateStreamOnHGlobal(nullptr, TRUE, stream.put());
    frame::com_ptr<IWICBitmapEncoder> enc;
    frame::com_ptr<IWICBitmapFrameEncode> frame;
    frame::com_ptr<IPropertyBag2> bag;
    if (FAILED(f->CreateEncoder(container, nullptr, enc.put())) || FAILED(enc->Initialize(stream.get(), WICBitmapEncoderNoCache)) ||
        FAILED(enc->CreateNewFrame(frame.put(), bag.put())) || FAILED(frame->Initialize(bag.get())))
        return {};
    WICPixelFormatGUID fmt = format;
    if (FAILED(frame->SetSize(w, h)) || FAILED(frame->SetPixelFormat(&fmt)) || !IsEqualGUID(fmt, format)) return {};
    if (!palette.empty()) {
        frame::com_ptr<IWICPalette> pal;
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
    const std::wstring folder = qk_test::program_folder() + L"\\kestle_image";
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

namespace {

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

}  // namespace

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
    kestle::image::scale_rgb24(in.px.data(), in.w, in.h, out.px.data(), dw, dh);
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

Rgb pixels_of(const kestle::image::Picture& p) {
    const kestle::image::PixelBlock& b = p.pixels();
    return Rgb{b.width(), b.height(), Bytes(b.data(), b.data() + b.size())};
}

}  // namespace kestle_image_test
