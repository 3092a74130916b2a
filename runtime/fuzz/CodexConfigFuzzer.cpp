// config.toml as the user wrote it: the key reader, the plugin catalog and the MCP listing.
#include "status/CodexConfigReader.h"
#include "status/PluginCatalog.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (const char* key : {"model", "model_reasoning_effort"})
        kestro::firstConfigValue(key, text);
    kestro::detectPlugins(text);
    kestro::parseMCPServerList(text);
    return 0;
}
