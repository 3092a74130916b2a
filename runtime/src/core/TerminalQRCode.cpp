#include "core/TerminalQRCode.h"

#include <memory>
#include <qrencode.h>

namespace kestro {

namespace {

constexpr int kQuietZoneModules = 4;
// Dark modules are drawn in the foreground colour: black on bright white, so that the code reads
// the right way round on light and dark terminal themes alike.
constexpr const char* kBlackOnWhite = "\x1b[30;107m";
constexpr const char* kDefaultColours = "\x1b[0m";

} // namespace

std::optional<std::string> terminalQRCode(const std::string& link) {
    std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeString8bit(link.c_str(), 0, QR_ECLEVEL_M), &QRcode_free);
    if (!code) return std::nullopt;
    const int width = code->width;
    const int side = width + 2 * kQuietZoneModules;
    const auto dark = [&](int x, int y) {
        x -= kQuietZoneModules;
        y -= kQuietZoneModules;
        return x >= 0 && y >= 0 && x < width && y < width && (code->data[y * width + x] & 1) != 0;
    };
    std::string text;
    // The side is odd, so the last line's lower half lies below the code: one more quiet row.
    for (int y = 0; y < side; y += 2) {
        text += kBlackOnWhite;
        for (int x = 0; x < side; ++x) {
            const bool top = dark(x, y);
            const bool bottom = dark(x, y + 1);
            text += top ? (bottom ? "█" : "▀") : (bottom ? "▄" : " ");
        }
        text += kDefaultColours;
        text += '\n';
    }
    return text;
}

} // namespace kestro
