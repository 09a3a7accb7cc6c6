// The start-up scenes: their names in table order and their window sizes.
#pragma once

#include <array>
#include <string_view>

#include "runtime/ui/core/geometry.h"

namespace mail::app {

inline constexpr std::array<std::string_view, 23> kSceneNames = {
    "wide",          "narrow",     "narrow_detail", "narrow_drawer", "mid",     "compose",
    "compose_narrow", "setup",     "setup_narrow",  "setup_add",     "setup_oauth", "firstrun",
    "html_mail",     "search",     "preview",       "bulk",          "bulk_purge_confirmation",
    "reply",         "context_menu", "loading",     "empty",         "offline", "error",
};

// The scene used when none is named.
inline constexpr std::string_view kDefaultScene = "wide";

// Width and height of the window for a scene; names not in the table get
// 1280 × 800.
runtime::ui::Size scene_window_size(std::string_view scene);

bool is_known_scene(std::string_view scene);

}  // namespace mail::app
