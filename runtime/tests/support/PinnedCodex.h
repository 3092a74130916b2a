#pragma once
// The pinned Codex CLI that scripts/install-deps installs beside the test fixtures.

#include <string>

namespace kestro::testing {

inline const std::string kPinnedCodex =
    std::string(KESTRO_FIXTURES_DIR) + "/codex-cli/node_modules/.bin/codex";

} // namespace kestro::testing
