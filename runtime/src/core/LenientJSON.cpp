#include "core/LenientJSON.h"

#include <cmath>
#include <cstdint>

namespace kestro {

std::optional<JSON> parseJSONObject(std::string_view text) {
    JSON document = JSON::parse(text, nullptr, false);
    if (document.is_discarded() || !document.is_object()) return std::nullopt;
    return document;
}

const JSON* JSONMembers::present(const char* name) const {
    if (!m_object.is_object()) return nullptr;
    const auto found = m_object.find(name);
    if (found == m_object.end() || found->is_null()) return nullptr;
    return &*found;
}

const JSON* JSONMembers::ofType(const char* name, bool (JSON::*test)() const noexcept) {
    const JSON* value = present(name);
    if (value == nullptr) return nullptr;
    if (!(value->*test)()) {
        m_wrongType = true;
        return nullptr;
    }
    return value;
}

std::optional<std::string> JSONMembers::string(const char* name) {
    const JSON* value = ofType(name, &JSON::is_string);
    if (value == nullptr) return std::nullopt;
    return value->get<std::string>();
}

std::optional<int64_t> JSONMembers::integer(const char* name, bool acceptWholeFloats) {
    const JSON* value = present(name);
    if (value == nullptr) return std::nullopt;
    // 2^63 and above have no int64_t form: the wrong type, not a wrapped negative count.
    if (value->is_number_unsigned() && value->get<uint64_t>() > uint64_t(INT64_MAX)) {
        m_wrongType = true;
        return std::nullopt;
    }
    if (value->is_number_integer()) return value->get<int64_t>();
    if (acceptWholeFloats && value->is_number_float()) {
        const double number = value->get<double>();
        if (std::trunc(number) == number && std::abs(number) < 9.2e18) return static_cast<int64_t>(number);
    }
    m_wrongType = true;
    return std::nullopt;
}

std::optional<double> JSONMembers::number(const char* name) {
    const JSON* value = ofType(name, &JSON::is_number);
    if (value == nullptr) return std::nullopt;
    return value->get<double>();
}

std::optional<bool> JSONMembers::boolean(const char* name) {
    const JSON* value = ofType(name, &JSON::is_boolean);
    if (value == nullptr) return std::nullopt;
    return value->get<bool>();
}

const JSON* JSONMembers::object(const char* name) {
    return ofType(name, &JSON::is_object);
}

const JSON* JSONMembers::array(const char* name) {
    return ofType(name, &JSON::is_array);
}

} // namespace kestro
