// Area-averaging shrinking: sizes, exact means, and the overall brightness kept at any ratio.

#include "surfaces/ImageShrinking.h"

#include <gtest/gtest.h>
#include <numeric>
#include <random>

using namespace kestro;

namespace {

RGBImage shrunk(ImageSize source, ImageSize target, const std::vector<uint8_t>& pixels) {
    AreaShrinker shrinker(source, target);
    for (uint32_t y = 0; y < source.height; ++y) {
        EXPECT_FALSE(shrinker.complete());
        shrinker.addRow(&pixels[size_t(y) * source.width * 3]);
    }
    EXPECT_TRUE(shrinker.complete());
    return shrinker.take();
}

std::vector<uint8_t> grey(const std::vector<uint8_t>& levels) {
    std::vector<uint8_t> pixels;
    for (const uint8_t level : levels)
        pixels.insert(pixels.end(), {level, level, level});
    return pixels;
}

} // namespace

TEST(ImageShrinkingTest, TheLongerSideFitsAndTheAspectRatioStays) {
    EXPECT_EQ(fittingSize({1920, 1080}, 900), (ImageSize{900, 506}));
    EXPECT_EQ(fittingSize({1280, 1024}, 900), (ImageSize{900, 720}));
    EXPECT_EQ(fittingSize({600, 1200}, 900), (ImageSize{450, 900}));
    EXPECT_EQ(fittingSize({800, 600}, 900), (ImageSize{800, 600}));
    EXPECT_EQ(fittingSize({900, 900}, 900), (ImageSize{900, 900}));
    EXPECT_EQ(fittingSize({20000, 3}, 900), (ImageSize{900, 1}));
}

TEST(ImageShrinkingTest, EveryPixelIsTheWeightedMeanOfTheAreaItCovers) {
    // 3 × 3 to 2 × 2: each output pixel covers one whole source pixel, half of two and a quarter
    // of the middle one (weights 4, 2, 2, 1 out of 9).
    const auto corners = shrunk({3, 3}, {2, 2}, grey({0, 30, 60, 90, 120, 150, 180, 210, 240}));
    EXPECT_EQ(corners.size, (ImageSize{2, 2}));
    EXPECT_EQ(corners.pixels, grey({40, 80, 160, 200}));

    // A one-pixel checkerboard halved is even grey, where dropping pixels would keep one colour.
    const ImageSize board{1800, 900};
    std::vector<uint8_t> checkers;
    for (uint32_t y = 0; y < board.height; ++y)
        for (uint32_t x = 0; x < board.width; ++x)
            checkers.insert(checkers.end(), 3, (x + y) % 2 ? 255 : 0);
    const auto even = shrunk(board, {900, 450}, checkers);
    EXPECT_TRUE(std::all_of(even.pixels.begin(), even.pixels.end(), [](uint8_t v) { return v == 128; }));

    // Colours stay apart.
    const auto colours = shrunk({2, 1}, {1, 1}, {255, 0, 0, 0, 0, 255});
    EXPECT_EQ(colours.pixels, (std::vector<uint8_t>{128, 0, 128}));
}

TEST(ImageShrinkingTest, BrightnessIsKeptAtUnevenRatios) {
    std::mt19937 random(7);
    for (const auto& [source, target] :
         std::vector<std::pair<ImageSize, ImageSize>>{{{1920, 1080}, {900, 506}},
                                                      {{1001, 7}, {900, 6}},
                                                      {{5, 997}, {4, 900}},
                                                      {{640, 480}, {640, 480}}}) {
        std::vector<uint8_t> pixels(size_t(source.width) * source.height * 3);
        for (auto& value : pixels)
            value = static_cast<uint8_t>(random() % 256);
        const auto out = shrunk(source, target, pixels);
        ASSERT_EQ(out.pixels.size(), size_t(target.width) * target.height * 3);
        const auto mean = [](const std::vector<uint8_t>& values) {
            return std::accumulate(values.begin(), values.end(), 0.0) / double(values.size());
        };
        EXPECT_NEAR(mean(out.pixels), mean(pixels), 0.6) << source.width << "x" << source.height;
        if (source == target) {
            EXPECT_EQ(out.pixels, pixels);
        }
    }
}
