#include "surfaces/PNGPicture.h"

#include <cerrno>
#include <png.h>
#include <unistd.h>
#include <vector>

namespace kestro {

namespace {

constexpr uint32_t kLargestSide = 32767;
// Text, colour profiles and the like are never needed; none may hold more than this.
constexpr png_alloc_size_t kLargestChunk = 8 << 20;
constexpr png_uint_32 kMostAncillaryChunks = 128;

struct Source {
    int fd = -1;
    size_t left = 0;
    std::chrono::steady_clock::time_point deadline;
};

// libpng asks for a few kilobytes at a time, however much it unpacks from them: the deadline is
// looked at often enough.
void readFromFile(png_structp png, png_bytep data, size_t length) {
    auto* source = static_cast<Source*>(png_get_io_ptr(png));
    if (length > source->left) png_error(png, "larger than allowed");
    if (std::chrono::steady_clock::now() > source->deadline) png_error(png, "out of time");
    for (size_t done = 0; done < length;) {
        const ssize_t got = ::read(source->fd, data + done, length - done);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) png_error(png, "cut short");
        done += size_t(got);
    }
    source->left -= length;
}

// libpng prints its errors and warnings by default; here a failure is only the missing picture.
[[noreturn]] void failQuietly(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}
void ignoreWarning(png_structp, png_const_charp) {}

// The two readers below hold nothing but plain values between setjmp and the libpng calls that
// may jump back to it, so that the jump skips no destructor.
bool readHeader(png_structp png, png_infop info, ImageSize* size) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_info(png, info);
    png_uint_32 width = 0, height = 0;
    int depth = 0, colourType = 0, interlace = 0;
    png_get_IHDR(png, info, &width, &height, &depth, &colourType, &interlace, nullptr, nullptr);
    // An interlaced picture arrives in passes over the whole picture, which would have to be held.
    if (interlace != PNG_INTERLACE_NONE) return false;
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_strip_alpha(png);
    png_set_gray_to_rgb(png);
    png_read_update_info(png, info);
    if (width == 0 || height == 0 || png_get_rowbytes(png, info) != size_t(width) * 3) return false;
    *size = {width, height};
    return true;
}

bool readRows(png_structp png, AreaShrinker* shrinker, uint8_t* row, uint32_t height) {
    if (setjmp(png_jmpbuf(png))) return false;
    for (uint32_t y = 0; y < height; ++y) {
        png_read_row(png, row, nullptr);
        shrinker->addRow(row);
    }
    png_read_end(png, nullptr);
    return true;
}

} // namespace

std::optional<RGBImage> shrunkPNG(int fd, size_t maxBytes, uint32_t maxSide,
                                  std::chrono::steady_clock::time_point deadline) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, failQuietly, ignoreWarning);
    if (png == nullptr) return std::nullopt;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return std::nullopt;
    }
    Source source{fd, maxBytes, deadline};
    png_set_read_fn(png, &source, readFromFile);
    png_set_user_limits(png, kLargestSide, kLargestSide);
    png_set_chunk_malloc_max(png, kLargestChunk);
    png_set_chunk_cache_max(png, kMostAncillaryChunks);

    std::optional<RGBImage> picture;
    ImageSize size;
    if (readHeader(png, info, &size)) {
        AreaShrinker shrinker(size, fittingSize(size, maxSide));
        std::vector<uint8_t> row(size_t(size.width) * 3);
        if (readRows(png, &shrinker, row.data(), size.height) && shrinker.complete())
            picture = shrinker.take();
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return picture;
}

} // namespace kestro
