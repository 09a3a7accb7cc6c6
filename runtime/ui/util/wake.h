// One process-wide hook through which background work (image loads, file
// pickers) asks the window to run an update turn and redraw. The window sets
// it once to its thread-safe wake; until then waking does nothing.
#pragma once

#include <functional>

namespace runtime::ui {

// Replaces the hook (an empty function removes it). Thread-safe.
void set_background_wake(std::function<void()> wake);

// Calls the hook if one is set. Safe from any thread; the hook runs on the
// calling thread and must only post to the window's loop.
void wake_from_background();

}  // namespace runtime::ui
