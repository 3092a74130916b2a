#include "core/WireRecords.h"

#include "core/KestroAgentError.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <type_traits>

namespace kestro {

namespace {

using json = nlohmann::ordered_json;

template <class T> struct IsOptional : std::false_type {};
template <class T> struct IsOptional<std::optional<T>> : std::true_type {};
template <class T> struct IsVector : std::false_type {};
template <class T> struct IsVector<std::vector<T>> : std::true_type {};

template <class T> json toJson(const T& value);

template <class T> json valueToJson(const T& value) {
    if constexpr (std::is_same_v<T, std::string> || std::is_same_v<T, bool> || std::is_same_v<T, int64_t>) {
        return json(value);
    } else if constexpr (std::is_same_v<T, double>) {
        if (!std::isfinite(value)) throw EncodingError("A number in the answer was not finite.");
        return json(value);
    } else if constexpr (IsVector<T>::value) {
        json array = json::array();
        for (const auto& item : value)
            array.push_back(valueToJson(item));
        return array;
    } else {
        return toJson(value);
    }
}

template <class T> json toJson(const T& record) {
    json object = json::object();
    T::visitFields(record, [&](const char* name, const auto& member) {
        using Member = std::decay_t<decltype(member)>;
        if constexpr (IsOptional<Member>::value) {
            if (member) object[name] = valueToJson(*member);
        } else {
            object[name] = valueToJson(member);
        }
    });
    return object;
}

[[noreturn]] void wrongType(const std::string& name) {
    throw DecodingError("Field '" + name + "' has the wrong type.");
}

template <class T> T fromJson(const json& object);

template <class T> T valueFromJson(const json& value, const std::string& name) {
    if constexpr (std::is_same_v<T, std::string>) {
        if (!value.is_string()) wrongType(name);
        // A C string (a path, an argument) would end at the NUL and mean something else.
        if (value.get_ref<const std::string&>().find('\0') != std::string::npos)
            throw DecodingError("Field '" + name + "' contains a NUL character.");
        return value.get<std::string>();
    } else if constexpr (std::is_same_v<T, bool>) {
        if (!value.is_boolean()) wrongType(name);
        return value.get<bool>();
    } else if constexpr (std::is_same_v<T, int64_t>) {
        if (value.is_number_integer() && !value.is_number_unsigned()) return value.get<int64_t>();
        if (value.is_number_unsigned() &&
            value.get<uint64_t>() <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
            return static_cast<int64_t>(value.get<uint64_t>());
        wrongType(name);
    } else if constexpr (std::is_same_v<T, double>) {
        if (!value.is_number()) wrongType(name);
        return value.get<double>();
    } else if constexpr (IsVector<T>::value) {
        if (!value.is_array()) wrongType(name);
        T items;
        for (const auto& item : value)
            items.push_back(valueFromJson<typename T::value_type>(item, name));
        return items;
    } else {
        if (!value.is_object()) wrongType(name);
        return fromJson<T>(value);
    }
}

template <class T> T fromJson(const json& object) {
    T record{};
    T::visitFields(record, [&](const char* name, auto& member) {
        using Member = std::decay_t<decltype(member)>;
        const auto found = object.find(name);
        const bool absent = found == object.end() || found->is_null();
        if constexpr (IsOptional<Member>::value) {
            if (absent)
                member.reset();
            else
                member = valueFromJson<typename Member::value_type>(*found, name);
        } else {
            if (absent) throw DecodingError(std::string("Missing required field '") + name + "'.");
            member = valueFromJson<Member>(*found, name);
        }
    });
    return record;
}

} // namespace

template <class Record> std::string encodeRecord(const Record& record) {
    return toJson(record).dump(-1, ' ', false, json::error_handler_t::replace);
}

template <class T>
struct IsScalar : std::bool_constant<std::is_same_v<T, std::string> || std::is_same_v<T, bool> ||
                                     std::is_same_v<T, int64_t> || std::is_same_v<T, double>> {};
template <class T> struct IsScalar<std::optional<T>> : IsScalar<T> {};

template <class Record> Record decodeRecord(std::string_view body) {
    // Only the record's own members are kept: a body of many other keys costs time in proportion
    // to its size, not to the square of its key count. A member that holds a text, a number or a
    // flag is refused as soon as an object or array starts in its place, so nothing is built
    // inside it. Nesting is refused as it is met, before it is built, since every level costs
    // memory.
    struct Member {
        std::string name;
        bool scalar;
    };
    std::vector<Member> members;
    const Record empty{};
    Record::visitFields(empty, [&members](const char* name, const auto& member) {
        members.push_back({name, IsScalar<std::decay_t<decltype(member)>>::value});
    });
    const Member* current = nullptr;
    const json::parser_callback_t keepOwnMembers = [&](int depth, json::parse_event_t event, json& parsed) {
        const bool opens =
            event == json::parse_event_t::object_start || event == json::parse_event_t::array_start;
        if (opens && depth >= kMaximumBodyDepth)
            throw DecodingError("The request body is nested too deeply.");
        if (opens && depth == 1 && current != nullptr && current->scalar) wrongType(current->name);
        if (event == json::parse_event_t::key && depth == 1) {
            const auto found = std::find_if(members.begin(), members.end(), [&](const Member& member) {
                return member.name == parsed.get_ref<const std::string&>();
            });
            current = found == members.end() ? nullptr : &*found;
            return current != nullptr;
        }
        return true;
    };
    json document = json::parse(body, keepOwnMembers, false);
    if (document.is_discarded()) throw DecodingError("The request body is not valid JSON.");
    if (!document.is_object()) throw DecodingError("The request body must be a JSON object.");
    return fromJson<Record>(document);
}

#define KESTRO_WIRE_RECORD(Record)                                                                           \
    template std::string encodeRecord<Record>(const Record&);                                                \
    template Record decodeRecord<Record>(std::string_view);

KESTRO_WIRE_RECORD(KestroAgentStatusRequest)
KESTRO_WIRE_RECORD(KestroAgentThreadHistoryRequest)
KESTRO_WIRE_RECORD(KestroAgentSurfacePreviewRequest)
KESTRO_WIRE_RECORD(KestroAgentWorktreeRequest)
KESTRO_WIRE_RECORD(KestroAgentRunRequest)
KESTRO_WIRE_RECORD(KestroAgentSkillPayload)
KESTRO_WIRE_RECORD(KestroAgentPluginPayload)
KESTRO_WIRE_RECORD(KestroAgentProjectPayload)
KESTRO_WIRE_RECORD(KestroAgentThreadPayload)
KESTRO_WIRE_RECORD(KestroAgentGitStatusPayload)
KESTRO_WIRE_RECORD(KestroAgentRemoteSurfacePayload)
KESTRO_WIRE_RECORD(KestroAgentRateLimitWindowPayload)
KESTRO_WIRE_RECORD(KestroAgentUsageSnapshotPayload)
KESTRO_WIRE_RECORD(KestroAgentStatusPayload)
KESTRO_WIRE_RECORD(KestroAgentTranscriptMessagePayload)
KESTRO_WIRE_RECORD(KestroAgentThreadHistoryPayload)
KESTRO_WIRE_RECORD(KestroAgentSurfacePreviewPayload)
KESTRO_WIRE_RECORD(KestroAgentWorktreePayload)
KESTRO_WIRE_RECORD(KestroAgentUsagePayload)
KESTRO_WIRE_RECORD(KestroAgentStreamEvent)

#undef KESTRO_WIRE_RECORD

} // namespace kestro
