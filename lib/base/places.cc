#include "lib/base/places.h"

#include <cstdlib>

namespace lib::places {
namespace {

std::optional<std::filesystem::path> xdg(const char* var, const char* fallback) {
    const char* v = std::getenv(var);
    // The XDG rules ignore relative values.
    if (v && *v && v[0] == '/') return std::filesystem::path(v) / "zelk-mail";
    const char* home = std::getenv("HOME");
    if (home && *home) return std::filesystem::path(home) / fallback / "zelk-mail";
    return std::nullopt;
}

}  // namespace

std::optional<std::filesystem::path> config_root() { return xdg("XDG_CONFIG_HOME", ".config"); }
std::optional<std::filesystem::path> data_root() { return xdg("XDG_DATA_HOME", ".local/share"); }

}  // namespace lib::places
