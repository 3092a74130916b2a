#pragma once
// Random values from the operating system's CSPRNG. Throw std::system_error when the system
// gives no random bytes.

#include <cstddef>
#include <string>

namespace kestro {

// Fills `size` bytes at `bytes` (one implementation file per operating system).
void fillWithSecureRandomBytes(void* bytes, size_t size);

// A random (version 4) UUID in canonical upper-case form, e.g. 3F2504E0-4F89-41D3-9A0C-0305E82C3301.
std::string randomUUIDString();

// A pairing token: a random UUID's 32 hexadecimal digits in lower case, without dashes.
std::string randomToken();

} // namespace kestro
