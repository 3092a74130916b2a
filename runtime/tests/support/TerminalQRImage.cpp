#include "support/TerminalQRImage.h"

#include "platform/ProcessRunner.h"

#include <fstream>
#include <string_view>

namespace kestro::testing {

namespace {

constexpr std::string_view kBlackOnWhite = "\x1b[30;107m";
constexpr std::string_view kReset = "\x1b[0m";
constexpr int kPixelsPerModule = 6;

} // namespace

std::optional<QRModules> terminalQRModules(const std::vector<std::string>& lines) {
    static const std::vector<std::pair<std::string_view, std::pair<bool, bool>>> kCells{
        {" ", {false, false}}, {"▀", {true, false}}, {"▄", {false, true}}, {"█", {true, true}}};
    QRModules modules;
    for (std::string_view line : lines) {
        if (!line.starts_with(kBlackOnWhite) || !line.ends_with(kReset)) return std::nullopt;
        line = line.substr(kBlackOnWhite.size(), line.size() - kBlackOnWhite.size() - kReset.size());
        std::vector<bool> top, bottom;
        while (!line.empty()) {
            bool known = false;
            for (const auto& [glyph, halves] : kCells) {
                if (!line.starts_with(glyph)) continue;
                top.push_back(halves.first);
                bottom.push_back(halves.second);
                line.remove_prefix(glyph.size());
                known = true;
                break;
            }
            if (!known) return std::nullopt;
        }
        modules.push_back(std::move(top));
        modules.push_back(std::move(bottom));
    }
    return modules;
}

std::string decodedQRModules(const QRModules& modules, const std::string& folder) {
    const std::string path = folder + "/terminal-qr.pgm";
    {
        const size_t width = modules.empty() ? 0 : modules.front().size();
        std::ofstream image(path, std::ios::binary);
        image << "P5\n" << width * kPixelsPerModule << " " << modules.size() * kPixelsPerModule << "\n255\n";
        for (const auto& row : modules)
            for (int repeat = 0; repeat < kPixelsPerModule; ++repeat)
                for (const bool dark : row)
                    image << std::string(kPixelsPerModule, dark ? '\0' : '\xff');
    }
    // QR codes only: a run of modules may otherwise also read as a one-dimensional barcode.
    std::string text =
        runProcess({.executable = "/usr/bin/zbarimg",
                    .arguments = {"--raw", "-q", "--nodbus", "-Sdisable", "-Sqrcode.enable", path}})
            .standardOutput;
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

} // namespace kestro::testing
