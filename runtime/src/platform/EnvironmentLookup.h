#pragma once
// Reading environment variables through a value, so tests can give their own environment.

#include <functional>
#include <optional>
#include <string>

namespace kestro {

// Looks up an environment variable; absent when unset (a set, empty variable is present).
using EnvironmentLookup = std::function<std::optional<std::string>(const std::string&)>;

// This process's own environment, read at each lookup.
EnvironmentLookup processEnvironment();

} // namespace kestro
