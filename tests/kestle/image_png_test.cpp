// Our PNG reader: every colour type, depth and interlace, and damaged files.
#include "image_test_support.h"

using namespace kestle::image;
using namespace kestle_image_test;
using namespace qk_test;
using frame::com_ptr;

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
