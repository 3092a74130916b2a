#pragma once
// The pairing QR image (PNG) and the HTML page around it, written privately and atomically.

#include <optional>
#include <string>
#include <vector>

namespace kestro {

// PNG bytes of the link as a QR code: level M, 14 × 14 pixels per module, 4-module quiet zone.
std::optional<std::string> pairingQRCodePNG(const std::string& link);

// Why no pairing page was written, as one line for standard error that says what to do: the link
// is too long for a QR code, or there was no private folder (`filePaths` empty), or the files
// could not be written at `filePaths`.
std::string pairingPageUnavailableReason(const std::string& link, const std::vector<std::string>& filePaths);

struct PairingPageContent {
    std::string machineName;
    std::string advertisedHost;
    uint16_t port = 0;
    std::string link;
    std::string qrImagePath; // absolute path of the PNG
};
std::string pairingPageHTML(const PairingPageContent& content);

// Writes `bytes` to a side file with mode 0600 and renames it over `path`.
bool writeFileAtomically(const std::string& path, const std::string& bytes);

// file:// URL of an absolute path, with bytes outside the path-safe set percent-encoded.
std::string fileURL(const std::string& path);

} // namespace kestro
