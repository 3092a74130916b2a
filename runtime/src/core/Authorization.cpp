#include "core/Authorization.h"

#include "core/KestroAgentError.h"
#include "text/Text.h"

namespace kestro {

namespace {

bool equalInConstantTime(const std::string& presented, const std::string& expected) {
    // Runs over the expected token's length whatever the presented text is.
    unsigned char difference = presented.size() == expected.size() ? 0 : 1;
    for (size_t i = 0; i < expected.size(); ++i) {
        const unsigned char left = i < presented.size() ? static_cast<unsigned char>(presented[i]) : 0;
        difference =
            static_cast<unsigned char>(difference | (left ^ static_cast<unsigned char>(expected[i])));
    }
    return difference == 0;
}

} // namespace

std::optional<std::string> presentedToken(const std::map<std::string, std::string>& headers) {
    if (auto found = headers.find("x-kestro-token"); found != headers.end()) return found->second;
    if (auto found = headers.find("x-vesk-token"); found != headers.end()) return found->second;
    if (auto found = headers.find("authorization"); found != headers.end())
        return replacingAll(found->second, "Bearer ", "");
    return std::nullopt;
}

void authorize(const std::map<std::string, std::string>& headers, const std::string& token) {
    const auto presented = presentedToken(headers);
    if (!presented || !equalInConstantTime(*presented, token)) throw KestroAgentError::unauthorized();
}

} // namespace kestro
