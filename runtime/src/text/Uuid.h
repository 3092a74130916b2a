#pragma once
// Random (version 4) UUIDs from the operating system's CSPRNG.

#include <string>

namespace kestro {

// Canonical upper-case form, e.g. 3F2504E0-4F89-41D3-9A0C-0305E82C3301.
// Throws std::system_error when the system gives no random bytes.
std::string randomUUIDString();

} // namespace kestro
