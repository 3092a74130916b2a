#include "core/PairingLink.h"

#include "text/Text.h"

namespace kestro {

std::string detectIPAddress(const std::optional<std::vector<InterfaceAddress>>& interfaces) {
    if (!interfaces) return "127.0.0.1";
    for (const auto& entry : *interfaces) {
        if (entry.isIPv4 && entry.isUp && !entry.isLoopback && entry.numericAddress)
            return *entry.numericAddress;
    }
    return "127.0.0.1";
}

std::string preferredAdvertisedHost(const KestroAgentConfiguration& configuration,
                                    const std::string& ipAddress) {
    if (std::string advertised = trimmed(configuration.advertisedHost); !advertised.empty())
        return advertised;
    const std::string host = trimmed(configuration.host);
    if (host.empty() || host == "127.0.0.1" || host == "0.0.0.0" || lowercased(host) == "localhost")
        return ipAddress;
    return host;
}

std::string percentEncodedQueryValue(std::string_view text) {
    static constexpr std::string_view kAllowedPunctuation = "-._~!$'()*,;:@/?";
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool alphanumeric =
            (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9');
        if (alphanumeric || kAllowedPunctuation.find(c) != std::string_view::npos) {
            out.push_back(c);
        } else {
            out.push_back('%');
            out.push_back(kHex[byte >> 4]);
            out.push_back(kHex[byte & 0x0F]);
        }
    }
    return out;
}

std::string pairingLink(const KestroAgentConfiguration& configuration, const std::string& advertisedHost) {
    const std::pair<const char*, std::string> items[] = {
        {"name", configuration.machineName},
        {"host", advertisedHost},
        {"port", std::to_string(configuration.port)},
        {"token", configuration.token},
        {"workdir", configuration.defaultWorkingDirectory},
        {"preferred", "1"},
    };
    std::string link = "kestro://pair?";
    for (size_t i = 0; i < std::size(items); ++i) {
        if (i > 0) link += "&";
        link += percentEncodedQueryValue(items[i].first) + "=" + percentEncodedQueryValue(items[i].second);
    }
    return link;
}

std::string pairingSlug(const std::string& machineName) {
    std::string slug =
        replacingAll(replacingAll(withoutControlCharacters(lowercased(machineName)), " ", "-"), "/", "-");
    if (slug.size() <= kLongestPairingSlug) return slug;
    // Cut before the character that crosses the bound, never inside it.
    size_t end = kLongestPairingSlug;
    while (end > 0 && (static_cast<unsigned char>(slug[end]) & 0xC0) == 0x80)
        --end;
    slug.resize(end);
    return slug;
}

std::string kestroHTMLEscaped(std::string_view text) {
    std::string out = replacingAll(text, "&", "&amp;");
    out = replacingAll(out, "\"", "&quot;");
    out = replacingAll(out, "<", "&lt;");
    return replacingAll(out, ">", "&gt;");
}

} // namespace kestro
