// Reading grim's pixmaps as they arrive, and the PNG files a portal writes: whole pictures in
// any pieces, and headers or files that would make a careless reader allocate, wait or misread.

#include "core/PairingPage.h"
#include "support/TemporaryFolder.h"
#include "surfaces/PNGPicture.h"
#include "surfaces/PortablePixmap.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace kestro;
using namespace kestro::testing;

namespace {

std::string pixmap(const std::string& header, uint32_t width, uint32_t height, uint8_t value = 0x80) {
    return header + std::string(size_t(width) * height * 3, char(value));
}

std::optional<RGBImage> read(const std::string& bytes, size_t piece, uint32_t maxSide = 900) {
    PortablePixmapReader reader(maxSide);
    for (size_t at = 0; at < bytes.size(); at += piece)
        if (!reader.add(bytes.data() + at, std::min(piece, bytes.size() - at))) return std::nullopt;
    return reader.finish();
}

} // namespace

TEST(PortablePixmapTest, WholePicturesInAnyPiecesAndNothingElse) {
    for (const size_t piece : {size_t(1), size_t(7), size_t(1) << 20}) {
        const auto wide = read(pixmap("P6\n1800 90\n255\n", 1800, 90), piece);
        ASSERT_TRUE(wide.has_value()) << piece;
        EXPECT_EQ(wide->size, (ImageSize{900, 45}));
        EXPECT_EQ(wide->pixels[0], 0x80);
        // Comments and any white space between the numbers, one white space character after them.
        const auto commented = read(pixmap("P6 # grim\n#another\n 3\t2 \r\n255\n", 3, 2, 7), piece);
        ASSERT_TRUE(commented.has_value()) << piece;
        EXPECT_EQ(commented->pixels, std::vector<uint8_t>(18, 7));
    }
    const std::string whole = pixmap("P6\n4 4\n255\n", 4, 4);
    const std::vector<std::pair<const char*, std::string>> broken = {
        {"a byte short", whole.substr(0, whole.size() - 1)},
        {"a byte over", whole + "x"},
        {"only a header", "P6\n4 4\n255\n"},
        {"P3 text pixels", "P3\n1 1\n255\n0 0 0\n"},
        {"16-bit channels", pixmap("P6\n1 1\n65535\n", 2, 1)},
        {"a side over 32767", pixmap("P6\n32768 1\n255\n", 1, 1)},
        {"99999 x 99999 announced", pixmap("P6\n99999 99999\n255\n", 1, 1)},
        {"a six-digit number", "P6\n000001 1\n255\n"},
        {"no pixels wide", "P6\n0 1\n255\n"},
        {"a sign", "P6\n-1 1\n255\n"},
        {"a comment within a number", "P6\n1#x\n 1\n255\n"},
        {"a header without end", "P6\n#" + std::string(4096, 'x')},
    };
    for (const auto& [what, bytes] : broken)
        EXPECT_FALSE(read(bytes, 5).has_value()) << what;
}

TEST(PNGPictureTest, PicturesAreShrunkAndCutOrOversizedFilesGiveNothing) {
    TemporaryFolder folder;
    // 1-bit grey, 1,134 pixels a side.
    const std::string png = pairingQRCodePNG(std::string(300, 'q')).value();
    const auto readFile = [&](const std::string& bytes, size_t maxBytes,
                              std::chrono::seconds left = std::chrono::seconds(10)) {
        const std::string path = folder.write("picture.png", bytes);
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        auto picture = shrunkPNG(fd, maxBytes, 900, std::chrono::steady_clock::now() + left);
        ::close(fd);
        return picture;
    };
    const auto picture = readFile(png, png.size());
    ASSERT_TRUE(picture.has_value());
    EXPECT_EQ(picture->size, (ImageSize{900, 900}));
    EXPECT_EQ(picture->pixels[0], 0xFF); // the quiet zone is white
    EXPECT_FALSE(readFile(png, png.size() - 1).has_value());
    EXPECT_FALSE(readFile(png.substr(0, png.size() - 20), png.size()).has_value());
    EXPECT_FALSE(readFile("not a picture", 1024).has_value());
    EXPECT_FALSE(readFile(png, png.size(), std::chrono::seconds(-1)).has_value());
}
