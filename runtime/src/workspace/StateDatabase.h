#pragma once
// Queries of Codex's state database through the outside sqlite3, read-only.

#include "platform/SystemTools.h"

#include <string>

namespace kestro {

// sqlite3 -separator TAB DATABASE QUERY. A database that is busy for a moment (Codex writing,
// or another reader rebuilding the WAL index) is asked again a few times before giving up;
// the text returned is what runCommand gives for the last attempt.
std::string queryStateDatabase(const std::string& database, const char* query, const SystemTools& tools);

} // namespace kestro
