#include "platform/SecureRandom.h"

#include "text/Text.h"

#include <array>
#include <cstdint>

namespace kestro {

std::string randomUUIDString() {
    std::array<uint8_t, 16> bytes{};
    fillWithSecureRandomBytes(bytes.data(), bytes.size());
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text.push_back('-');
        text.push_back(kHex[bytes[i] >> 4]);
        text.push_back(kHex[bytes[i] & 0x0F]);
    }
    return text;
}

std::string randomToken() {
    return lowercased(replacingAll(randomUUIDString(), "-", ""));
}

} // namespace kestro
