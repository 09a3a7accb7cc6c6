#include "app/preferences.h"

#include <fstream>
#include <sstream>
#include <system_error>

#include "lib/base/places.h"
#include "lib/json/strict.h"

namespace mail::app {

std::optional<std::filesystem::path> StorageLocation::dir() const {
    switch (kind_) {
        case Kind::ConfigRoot:
            return lib::places::config_root();
        case Kind::Directory:
            return dir_;
        case Kind::None:
            break;
    }
    return std::nullopt;
}

std::optional<std::filesystem::path> preferences_path(const StorageLocation& location) {
    std::optional<std::filesystem::path> dir = location.dir();
    if (!dir) return std::nullopt;
    return *dir / kPreferencesFileName;
}

bool read_compose_format(const StorageLocation& location) {
    const std::optional<std::filesystem::path> path = preferences_path(location);
    if (!path) return false;
    std::ifstream in(*path, std::ios::binary);
    if (!in) return false;
    std::stringstream ss;
    ss << in.rdbuf();
    if (in.bad()) return false;
    auto parsed = lib::json::parse_strict(ss.str());
    if (!parsed || !parsed->is_object()) return false;
    auto it = parsed->find("compose_format");
    return it != parsed->end() && it->is_string() && it->get<std::string>() == "text";
}

lib::Status write_compose_format(const StorageLocation& location, bool plain_text) {
    const std::optional<std::filesystem::path> path = preferences_path(location);
    if (!path) return lib::ok_status();
    std::error_code ec;
    std::filesystem::create_directories(path->parent_path(), ec);
    if (ec) return lib::err("could not create " + path->parent_path().string() + ": " + ec.message());
    std::ofstream out(*path, std::ios::binary | std::ios::trunc);
    out << (plain_text ? R"({"compose_format":"text"})" : R"({"compose_format":"html"})");
    out.close();
    if (!out) return lib::err("could not write " + path->string());
    return lib::ok_status();
}

}  // namespace mail::app
