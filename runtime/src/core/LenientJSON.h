#pragma once
// Reading JSON that others wrote (Codex's event lines, session logs and auth file, tool output)
// leniently: text that is not a JSON object gives nothing, a missing or null member is absent,
// and a member of another type is absent too while the reader remembers it, for callers that
// reject such a record whole. Never throws.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace kestro {

using JSON = nlohmann::json;

// The text as one JSON object; absent when it is not JSON or not an object.
std::optional<JSON> parseJSONObject(std::string_view text);

class JSONMembers {
  public:
    explicit JSONMembers(const JSON& object) : m_object(object) {}

    std::optional<std::string> string(const char* name);
    // An integer that fits 64 bits, or (when accepted) a floating-point number with no fraction
    // (Codex writes some counts so).
    std::optional<int64_t> integer(const char* name, bool acceptWholeFloats = true);
    std::optional<double> number(const char* name);
    std::optional<bool> boolean(const char* name);
    // The member when it is an object (or an array); nullptr otherwise.
    const JSON* object(const char* name);
    const JSON* array(const char* name);

    // A member asked for had a type other than the one asked for.
    bool sawWrongType() const { return m_wrongType; }

  private:
    const JSON* present(const char* name) const;
    const JSON* ofType(const char* name, bool (JSON::*test)() const noexcept);

    const JSON& m_object;
    bool m_wrongType = false;
};

} // namespace kestro
