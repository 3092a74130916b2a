#pragma once
// Standard Base64 (RFC 4648) with padding and no line breaks.

#include <string>
#include <string_view>

namespace kestro {

std::string base64Encoded(std::string_view bytes);

} // namespace kestro
