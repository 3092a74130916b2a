// The token headers of a request and Codex's auth.json.
#include "core/Authorization.h"
#include "core/KestroAgentError.h"
#include "status/CodexConfigReader.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    kestro::authModeFromJSON(text);
    // The input split into header values: a token only passes when it is the token.
    const size_t third = text.size() / 3;
    const std::map<std::string, std::string> headers{{"x-kestro-token", text.substr(0, third)},
                                                     {"x-vesk-token", text.substr(third, third)},
                                                     {"authorization", text.substr(2 * third)}};
    for (const std::string& token :
         {std::string("0123456789abcdef0123456789abcdef"), text.substr(0, third)}) {
        try {
            kestro::authorize(headers, token);
            if (kestro::presentedToken(headers) != token) __builtin_trap();
        } catch (const kestro::KestroAgentError&) {
        }
    }
    return 0;
}
