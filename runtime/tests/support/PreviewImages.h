#pragma once
// Reading back the pictures of surface previews: Base64 text to bytes, JPEG bytes to pixels.
// Header only; a test using it links libturbojpeg.

#include <cstdint>
#include <optional>
#include <string>
#include <turbojpeg.h>
#include <vector>

namespace kestro::testing {

inline std::string base64Decoded(const std::string& text) {
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    uint32_t bits = 0;
    int count = 0;
    for (const char c : text) {
        const size_t value = alphabet.find(c);
        if (value == std::string::npos) break; // padding
        bits = (bits << 6) | uint32_t(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.push_back(static_cast<char>((bits >> count) & 0xFF));
        }
    }
    return out;
}

struct DecodedJPEG {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
};

inline std::optional<DecodedJPEG> decodedJPEG(const std::string& bytes) {
    tjhandle decompressor = tjInitDecompress();
    if (decompressor == nullptr) return std::nullopt;
    DecodedJPEG image;
    int subsampling = 0, colours = 0;
    auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    bool ok = tjDecompressHeader3(decompressor, data, static_cast<unsigned long>(bytes.size()), &image.width,
                                  &image.height, &subsampling, &colours) == 0;
    if (ok) {
        image.rgb.resize(size_t(image.width) * size_t(image.height) * 3);
        ok = tjDecompress2(decompressor, data, static_cast<unsigned long>(bytes.size()), image.rgb.data(),
                           image.width, 0, image.height, TJPF_RGB, 0) == 0;
    }
    tjDestroy(decompressor);
    if (!ok) return std::nullopt;
    return image;
}

} // namespace kestro::testing
