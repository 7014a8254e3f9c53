// JPEG saving and our JPEG preview: quality, read-back, block means, and
// damaged, progressive and unterminated files.
#include "image_test_support.h"

using namespace kestle::image;
using namespace kestle_image_test;
using namespace qk_test;
using frame::com_ptr;

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
