// Strict JSON reading on nlohmann ordered_json: a key given twice in one
// object, invalid UTF-8, trailing bytes and nesting deeper than a limit are
// errors with a short message. Field helpers give uniform messages for missing
// fields and wrong types, so every decoder reports the same way.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "lib/base/result.h"

namespace lib::json {

using Json = nlohmann::ordered_json;

inline constexpr std::size_t kDefaultMaxDepth = 64;

// Parses one JSON text. Errors read like "duplicate key \"to\"" or
// "parse error at line 1, column 8: syntax error ...".
Result<Json> parse_strict(std::string_view text, std::size_t max_depth = kDefaultMaxDepth);

// Compact serialisation; invalid UTF-8 inside strings is replaced, never thrown.
std::string dump(const Json& value);

// The JSON type name used in messages: "null", "boolean", "number", "string", "array", "object".
std::string type_name(const Json& value);

// Field access on an object. Messages: "missing field `name`",
// "invalid type: number, expected a string at `name`".
Result<const Json*> field(const Json& object, std::string_view name);
Result<std::string> string_field(const Json& object, std::string_view name);
Result<bool> bool_field(const Json& object, std::string_view name);
Result<std::uint64_t> u64_field(const Json& object, std::string_view name);
// Absent or null reads as "no value"; any other non-string is an error.
Result<std::optional<std::string>> optional_string_field(const Json& object, std::string_view name);

// Requires the value to be an object: "invalid type: array, expected an object".
Status expect_object(const Json& value, std::string_view what = "an object");

}  // namespace lib::json
