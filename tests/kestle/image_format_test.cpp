// The format guess and the sizes read from headers, hostile ones included.
#include "image_test_support.h"

using namespace kestle::image;
using namespace kestle_image_test;
using namespace qk_test;
using frame::com_ptr;

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
