#pragma once
// Plugins declared in config.toml as [plugins."identifier"] tables, named from a built-in catalog.

#include "core/WireRecords.h"

#include <string>
#include <vector>

namespace kestro {

// Sorted by category, then display name (case-insensitive, the user's locale).
std::vector<KestroAgentPluginPayload> detectPlugins(const std::string& configText);

std::string pluginDisplayName(const std::string& base);
std::string pluginCategory(const std::string& base);
std::string pluginDescription(const std::string& base);

} // namespace kestro
