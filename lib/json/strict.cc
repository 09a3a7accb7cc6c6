#include "lib/json/strict.h"

#include <unordered_set>

#include "lib/base/utf8.h"
#include <vector>

namespace lib::json {
namespace {

struct Rejected {
    std::string message;
};

// Drops nlohmann's "[json.exception.parse_error.101] " prefix. The message
// may quote the offending bytes, so it is repaired to valid UTF-8.
std::string clean_message(const char* what) {
    std::string s = lib::utf8::repair(what);
    if (!s.empty() && s[0] == '[') {
        auto close = s.find("] ");
        if (close != std::string::npos) s.erase(0, close + 2);
    }
    return s;
}

}  // namespace

Result<Json> parse_strict(std::string_view text, std::size_t max_depth) {
    std::vector<std::unordered_set<std::string>> keys;
    std::size_t depth = 0;
    auto callback = [&](int, Json::parse_event_t event, Json& parsed) -> bool {
        switch (event) {
            case Json::parse_event_t::object_start:
                if (++depth > max_depth) throw Rejected{"JSON nested too deeply"};
                keys.emplace_back();
                break;
            case Json::parse_event_t::array_start:
                if (++depth > max_depth) throw Rejected{"JSON nested too deeply"};
                break;
            case Json::parse_event_t::object_end:
                --depth;
                if (!keys.empty()) keys.pop_back();
                break;
            case Json::parse_event_t::array_end:
                --depth;
                break;
            case Json::parse_event_t::key: {
                const std::string& k = parsed.get_ref<const std::string&>();
                if (!keys.empty() && !keys.back().insert(k).second)
                    throw Rejected{"duplicate key \"" + lib::utf8::repair(k) + "\""};
                break;
            }
            case Json::parse_event_t::value:
                break;
        }
        return true;
    };
    try {
        return Json::parse(text.begin(), text.end(), callback, /*allow_exceptions=*/true,
                           /*ignore_comments=*/false);
    } catch (const Rejected& r) {
        return err(r.message);
    } catch (const Json::exception& e) {
        return err(clean_message(e.what()));
    } catch (const std::exception& e) {
        return err(e.what());
    }
}

std::string dump(const Json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string type_name(const Json& value) {
    switch (value.type()) {
        case Json::value_t::null: return "null";
        case Json::value_t::boolean: return "boolean";
        case Json::value_t::number_integer:
        case Json::value_t::number_unsigned:
        case Json::value_t::number_float: return "number";
        case Json::value_t::string: return "string";
        case Json::value_t::array: return "array";
        case Json::value_t::object: return "object";
        default: return "value";
    }
}

Status expect_object(const Json& value, std::string_view what) {
    if (value.is_object()) return {};
    return err("invalid type: " + type_name(value) + ", expected " + std::string(what));
}

Result<const Json*> field(const Json& object, std::string_view name) {
    if (!object.is_object()) return err("invalid type: " + type_name(object) + ", expected an object");
    auto it = object.find(std::string(name));
    if (it == object.end()) return err("missing field `" + std::string(name) + "`");
    return &*it;
}

static Error wrong_type(const Json& v, const char* expected, std::string_view name) {
    return err("invalid type: " + type_name(v) + ", expected " + expected + " at `" + std::string(name) + "`");
}

Result<std::string> string_field(const Json& object, std::string_view name) {
    auto f = field(object, name);
    if (!f) return f.take_error();
    if (!(*f)->is_string()) return wrong_type(**f, "a string", name);
    return (*f)->get<std::string>();
}

Result<bool> bool_field(const Json& object, std::string_view name) {
    auto f = field(object, name);
    if (!f) return f.take_error();
    if (!(*f)->is_boolean()) return wrong_type(**f, "a boolean", name);
    return (*f)->get<bool>();
}

Result<std::uint64_t> u64_field(const Json& object, std::string_view name) {
    auto f = field(object, name);
    if (!f) return f.take_error();
    const Json& v = **f;
    if (v.is_number_unsigned()) return v.get<std::uint64_t>();
    if (v.is_number_integer()) {
        auto i = v.get<std::int64_t>();
        if (i >= 0) return static_cast<std::uint64_t>(i);
        return err("invalid value: " + std::to_string(i) + ", expected an unsigned integer at `" +
                   std::string(name) + "`");
    }
    return wrong_type(v, "an unsigned integer", name);
}

Result<std::optional<std::string>> optional_string_field(const Json& object, std::string_view name) {
    if (!object.is_object()) return err("invalid type: " + type_name(object) + ", expected an object");
    auto it = object.find(std::string(name));
    if (it == object.end() || it->is_null()) return std::optional<std::string>{};
    if (!it->is_string()) return wrong_type(*it, "a string or null", name);
    return std::optional<std::string>{it->get<std::string>()};
}

}  // namespace lib::json
