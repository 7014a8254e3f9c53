// Our scaler against values worked out by hand and the reference scaler.
#include "image_test_support.h"

using namespace kestle::image;
using namespace kestle_image_test;
using namespace qk_test;
using frame::com_ptr;

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
