#include "app/scenes.h"

#include <algorithm>

namespace mail::app {

runtime::ui::Size scene_window_size(std::string_view s) {
    auto any = [&](std::initializer_list<std::string_view> names) {
        return std::find(names.begin(), names.end(), s) != names.end();
    };
    if (any({"narrow", "narrow_detail", "narrow_drawer", "compose_narrow", "setup_narrow"})) return {560, 860};
    if (any({"mid"})) return {1000, 720};
    if (any({"compose", "reply"})) return {1180, 820};
    if (any({"setup", "setup_add", "setup_oauth", "firstrun", "error"})) return {1100, 780};
    return {1280, s == "html_mail" ? 820.0 : 800.0};
}

bool is_known_scene(std::string_view scene) {
    return std::find(kSceneNames.begin(), kSceneNames.end(), scene) != kSceneNames.end();
}

}  // namespace mail::app
