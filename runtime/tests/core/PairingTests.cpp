#include "core/PairingLink.h"
#include "core/PairingPage.h"
#include "text/Text.h"

#include <gtest/gtest.h>

using namespace kestro;

namespace {

KestroAgentConfiguration studio() {
    return {.host = "0.0.0.0",
            .port = 8787,
            .token = "tok",
            .machineName = "Studio",
            .advertisedHost = "",
            .defaultWorkingDirectory = "/Users/me/app",
            .opensPairingPageAutomatically = true};
}

InterfaceAddress interface(std::string name, bool ipv4, bool up, bool loopback,
                           std::optional<std::string> address) {
    return {.name = std::move(name),
            .isIPv4 = ipv4,
            .isUp = up,
            .isLoopback = loopback,
            .numericAddress = std::move(address)};
}

} // namespace

TEST(PairingTest, DetectsTheFirstUpNonLoopbackIPv4Address) {
    EXPECT_EQ(detectIPAddress(std::nullopt), "127.0.0.1");
    EXPECT_EQ(detectIPAddress(std::vector<InterfaceAddress>{}), "127.0.0.1");
    EXPECT_EQ(
        detectIPAddress(std::vector<InterfaceAddress>{interface("lo", true, true, true, "127.0.0.1"),
                                                      interface("en0", false, true, false, "fe80::1"),
                                                      interface("en1", true, false, false, "10.0.0.9"),
                                                      interface("en2", true, true, false, std::nullopt),
                                                      interface("en3", true, true, false, "192.168.1.20"),
                                                      interface("en4", true, true, false, "10.0.0.5")}),
        "192.168.1.20");
    EXPECT_EQ(
        detectIPAddress(std::vector<InterfaceAddress>{interface("lo", true, true, true, "127.0.0.1"),
                                                      interface("en0", false, true, false, "2001:db8::1")}),
        "127.0.0.1");
}

TEST(PairingTest, ChoosesTheAdvertisedHost) {
    auto configuration = studio();
    configuration.advertisedHost = " studio.lan ";
    EXPECT_EQ(preferredAdvertisedHost(configuration, "192.168.1.20"), "studio.lan");
    configuration.advertisedHost = "";
    for (const std::string host : {"127.0.0.1", "LOCALHOST", "", "0.0.0.0", "  "}) {
        configuration.host = host;
        EXPECT_EQ(preferredAdvertisedHost(configuration, "192.168.1.20"), "192.168.1.20") << host;
    }
    configuration.host = "10.0.0.5";
    EXPECT_EQ(preferredAdvertisedHost(configuration, "192.168.1.20"), "10.0.0.5");
}

TEST(PairingTest, BuildsTheLinkWithEncodedValues) {
    EXPECT_EQ(
        pairingLink(studio(), "192.168.1.20"),
        "kestro://pair?name=Studio&host=192.168.1.20&port=8787&token=tok&workdir=/Users/me/app&preferred=1");
    auto configuration = studio();
    configuration.machineName = "Lab's MacBook Pro";
    EXPECT_TRUE(
        pairingLink(configuration, "h").starts_with("kestro://pair?name=Lab's%20MacBook%20Pro&host=h"));
    EXPECT_EQ(percentEncodedQueryValue("R&D = #1+é"), "R%26D%20%3D%20%231%2B%C3%A9");
    EXPECT_EQ(percentEncodedQueryValue("/a:b?c@d"), "/a:b?c@d");
}

TEST(PairingTest, SlugsAndHTMLEscaping) {
    EXPECT_EQ(pairingSlug("Lab's MacBook Pro"), "lab's-macbook-pro");
    EXPECT_EQ(pairingSlug("A/B"), "a-b");
    EXPECT_EQ(pairingSlug(""), "");
    // The files' names hold no control character and stay within a name's limit, cut between
    // characters.
    EXPECT_EQ(pairingSlug("Evil\x1b]0;x\a\u009b\nMac"), "evil]0;xmac");
    EXPECT_EQ(pairingSlug(std::string(300, 'M')), std::string(kLongestPairingSlug, 'm'));
    std::string accents = "a";
    for (int i = 0; i < 100; ++i)
        accents += "É";
    const std::string cut = pairingSlug(accents); // "a" and 63 whole "é": the 64th would cross
    EXPECT_EQ(cut.size(), kLongestPairingSlug - 1);
    EXPECT_TRUE(isValidUTF8(cut));
    EXPECT_EQ(kestroHTMLEscaped("<b>&\"'"), "&lt;b&gt;&amp;&quot;'");
}

TEST(PairingTest, ThePageCarriesTheEscapedValuesAndTheImage) {
    const std::string html = pairingPageHTML({.machineName = "<b>&",
                                              .advertisedHost = "studio.lan",
                                              .port = 8787,
                                              .link = "kestro://pair?name=a&host=b",
                                              .qrImagePath = "/tmp/x y.png"});
    EXPECT_TRUE(html.starts_with("<!doctype html><html lang=\"en\">"));
    EXPECT_NE(html.find("<title>kestro Pairing</title>"), std::string::npos);
    EXPECT_NE(html.find("<strong>&lt;b&gt;&amp;</strong>"), std::string::npos);
    EXPECT_NE(html.find("<strong>studio.lan:8787</strong>"), std::string::npos);
    EXPECT_NE(html.find("<a href=\"kestro://pair?name=a&amp;host=b\">kestro://pair?name=a&amp;host=b</a>"),
              std::string::npos);
    EXPECT_NE(html.find("src=\"file:///tmp/x%20y.png\""), std::string::npos);
    EXPECT_NE(html.find("viewBox=\"0 0 60 37\""), std::string::npos);
    EXPECT_EQ(html.find("<script"), std::string::npos);
}

TEST(PairingTest, TheQRImageIsAPNGWith14PixelModules) {
    const auto png = pairingQRCodePNG("kestro://pair?name=Studio");
    ASSERT_TRUE(png.has_value());
    ASSERT_GT(png->size(), 24u);
    EXPECT_EQ(png->substr(1, 3), "PNG");
    const auto bigEndian = [&](size_t at) {
        return (uint32_t(uint8_t((*png)[at])) << 24) | (uint32_t(uint8_t((*png)[at + 1])) << 16) |
               (uint32_t(uint8_t((*png)[at + 2])) << 8) | uint32_t(uint8_t((*png)[at + 3]));
    };
    const uint32_t width = bigEndian(16);
    EXPECT_EQ(width, bigEndian(20));
    EXPECT_EQ(width % 14, 0u);
    // Version 2 (25 modules) plus the 4-module quiet zone on each side.
    EXPECT_EQ(width / 14, 25u + 8u);
}
