#pragma once
// One place that turns errno values into readable text.

#include <string>

namespace kestro {

std::string errnoText(int error);

} // namespace kestro
