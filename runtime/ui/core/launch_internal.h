// Between the launcher and the window; not for applications.
#pragma once

#include "runtime/ui/core/launch.h"

namespace runtime::ui::detail {

// Opens the persisted state through the program's opener; a failure is
// logged and gives an empty state.
AppState open_state(const LaunchConfig& config, const LaunchContext& context);

// The window size for the context, kept within 1..16384 on each side.
Size initial_size(const LaunchConfig& config, const LaunchContext& context);

// Runs the GTK application and its window; returns the exit status.
int run_window(LaunchConfig& config, const LaunchContext& context, const char* argv0);

}  // namespace runtime::ui::detail
