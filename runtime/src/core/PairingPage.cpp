#include "core/PairingPage.h"

#include "core/PairingLink.h"
#include "text/Text.h"

#include <cerrno>
#include <csetjmp>
#include <fcntl.h>
#include <memory>
#include <png.h>
#include <qrencode.h>
#include <unistd.h>
#include <vector>

namespace kestro {

namespace {

constexpr int kModulePixels = 14;
// What the largest QR code holds at level M in byte mode (version 40).
constexpr size_t kQRCodeByteCapacity = 2331;
constexpr int kQuietZoneModules = 4;

void appendToString(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::string*>(png_get_io_ptr(png));
    out->append(reinterpret_cast<const char*>(data), length);
}

void flushNothing(png_structp) {}

// Rows of 1-bit grey pixels (1 = white), packed eight to a byte, most significant first.
std::optional<std::string> encodePNG(const std::vector<uint8_t>& packedRows, int side) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr) return std::nullopt;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return std::nullopt;
    }
    std::string out;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return std::nullopt;
    }
    png_set_write_fn(png, &out, appendToString, flushNothing);
    png_set_IHDR(png, info, static_cast<png_uint_32>(side), static_cast<png_uint_32>(side), 1,
                 PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const size_t rowBytes = (static_cast<size_t>(side) + 7) / 8;
    for (int row = 0; row < side; ++row)
        png_write_row(png, packedRows.data() + static_cast<size_t>(row) * rowBytes);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

constexpr const char* kStyleSheet =
    ":root{color-scheme:dark;}"
    "body{margin:0;background:#0B0B0F;color:#F4F7FB;font-family:system-ui,\"SF Pro Display\",sans-serif;}"
    ".wrap{max-width:760px;margin:0 auto;padding:32px 20px 48px;}"
    ".card{background:#151820;border-radius:24px;padding:28px;box-shadow:0 24px 60px rgba(0,0,0,0.32);}"
    ".hero{display:flex;align-items:center;gap:18px;margin-bottom:18px;}"
    ".brand-mark{width:82px;height:82px;flex:0 0 82px;display:flex;align-items:center;justify-content:center;"
    "border-radius:24px;background:#050507;border:1px solid rgba(255,255,255,0.08);"
    "box-shadow:0 18px 44px rgba(0,0,0,0.42);}"
    ".brand-mark svg{width:58px;height:auto;display:block;}"
    ".eyebrow{display:block;margin-bottom:8px;font-size:12px;font-weight:700;letter-spacing:0.14em;"
    "text-transform:uppercase;color:#8FB4FF;}"
    "h1{margin:0 0 8px;font-size:34px;letter-spacing:-0.04em;}"
    "p{margin:0 0 16px;color:#A7B0C0;line-height:1.5;}"
    ".qr{display:block;width:min(340px, 100%);margin:24px "
    "auto;border-radius:22px;background:#FFFFFF;padding:18px;}"
    ".meta{display:grid;gap:10px;margin-top:18px;}"
    ".row{background:#10131A;border-radius:16px;padding:14px 16px;}"
    ".label{display:block;font-size:12px;font-weight:700;letter-spacing:0.08em;text-transform:uppercase;"
    "color:#6E7A90;margin-bottom:6px;}"
    "code, a{word-break:break-all;color:#8FB4FF;}";

// A kestrel's head in profile over a rounded badge: one white outline, three black glyph shapes.
constexpr const char* kBrandLogo =
    "<svg viewBox=\"0 0 60 37\" xmlns=\"http://www.w3.org/2000/svg\" aria-hidden=\"true\">"
    "<path d=\"M6 2h48a4 4 0 0 1 4 4v25a4 4 0 0 1-4 4H6a4 4 0 0 1-4-4V6a4 4 0 0 1 4-4z\" fill=\"#FFFFFF\"/>"
    "<path d=\"M10 9h5v8l7-8h6l-8 9 8 10h-6l-7-9v9h-5z\" fill=\"#000000\"/>"
    "<path d=\"M31 28c0-8 5-15 13-15 4 0 7 2 8 4l-6 1c-1-1-2-1-3-1-4 0-6 4-6 8 0 2 1 3 2 3h-8z\" "
    "fill=\"#000000\"/>"
    "<circle cx=\"46\" cy=\"22\" r=\"2.5\" fill=\"#000000\"/>"
    "</svg>";

} // namespace

std::optional<std::string> pairingQRCodePNG(const std::string& link) {
    std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeString8bit(link.c_str(), 0, QR_ECLEVEL_M), &QRcode_free);
    if (!code) return std::nullopt;
    const int modules = code->width + 2 * kQuietZoneModules;
    const int side = modules * kModulePixels;
    const size_t rowBytes = (static_cast<size_t>(side) + 7) / 8;
    std::vector<uint8_t> rows(rowBytes * static_cast<size_t>(side), 0xFF);
    for (int y = 0; y < code->width; ++y) {
        for (int x = 0; x < code->width; ++x) {
            if ((code->data[y * code->width + x] & 1) == 0) continue;
            const int left = (x + kQuietZoneModules) * kModulePixels;
            const int top = (y + kQuietZoneModules) * kModulePixels;
            for (int row = top; row < top + kModulePixels; ++row) {
                for (int column = left; column < left + kModulePixels; ++column) {
                    uint8_t& byte =
                        rows[static_cast<size_t>(row) * rowBytes + static_cast<size_t>(column / 8)];
                    byte = static_cast<uint8_t>(byte & ~(0x80u >> (column % 8)));
                }
            }
        }
    }
    return encodePNG(rows, side);
}

std::string pairingPageUnavailableReason(const std::string& link, const std::vector<std::string>& filePaths) {
    const std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeString8bit(link.c_str(), 0, QR_ECLEVEL_M), &QRcode_free);
    if (!code)
        return "The pair link is too long for a QR code (" + std::to_string(link.size()) +
               " bytes, at most " + std::to_string(kQRCodeByteCapacity) +
               " fit), so there is no pairing page: shorten the advertised host, the machine name, the "
               "working folder or the token.";
    if (filePaths.empty())
        return "There is no private temporary folder for the pairing page: set TMPDIR to a folder only "
               "this user can write to.";
    return "The pairing page could not be written as " + quotedForMessage(filePaths.front()) +
           ": check that this user can write to its folder.";
}

std::string fileURL(const std::string& path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        const bool safe = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                          (byte >= '0' && byte <= '9') ||
                          std::string_view("-._~/!$&'()*+,;=:@").find(c) != std::string_view::npos;
        if (safe) {
            url.push_back(c);
        } else {
            url.push_back('%');
            url.push_back(kHex[byte >> 4]);
            url.push_back(kHex[byte & 0x0F]);
        }
    }
    return url;
}

std::string pairingPageHTML(const PairingPageContent& content) {
    const std::string escapedLink = kestroHTMLEscaped(content.link);
    std::string html;
    html += "<!doctype html><html lang=\"en\"><head><meta charset=\"utf-8\">";
    html += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">";
    html += "<title>kestro Pairing</title><style>";
    html += kStyleSheet;
    html += "</style></head><body><div class=\"wrap\"><div class=\"card\">";
    html += "<div class=\"hero\"><div class=\"brand-mark\">";
    html += kBrandLogo;
    html += "</div><div><span class=\"eyebrow\">kestro Agent</span><h1>Pair kestro</h1>";
    html += "<p>Open kestro on your iPhone, go to Machines, tap the QR scanner, and scan this "
            "code.</p></div></div>";
    html += "<img class=\"qr\" src=\"" + fileURL(content.qrImagePath) + "\" alt=\"kestro pairing QR code\">";
    html += "<div class=\"meta\">";
    html += "<div class=\"row\"><span class=\"label\">Machine</span><strong>" +
            kestroHTMLEscaped(content.machineName) + "</strong></div>";
    html += "<div class=\"row\"><span class=\"label\">Network Host</span><strong>" +
            kestroHTMLEscaped(content.advertisedHost) + ":" + std::to_string(content.port) +
            "</strong></div>";
    html += "<div class=\"row\"><span class=\"label\">Fallback Pair Link</span><a href=\"" + escapedLink +
            "\">" + escapedLink + "</a></div>";
    html += "</div></div></div></body></html>\n";
    return html;
}

bool writeFileAtomically(const std::string& path, const std::string& bytes) {
    const std::string side = path + ".tmp-" + std::to_string(::getpid());
    const int fd = ::open(side.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ::close(fd);
            ::unlink(side.c_str());
            return false;
        }
        written += static_cast<size_t>(n);
    }
    if (::close(fd) != 0 || ::rename(side.c_str(), path.c_str()) != 0) {
        ::unlink(side.c_str());
        return false;
    }
    return true;
}

} // namespace kestro
