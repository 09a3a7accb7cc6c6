// The launcher: one call that parses the command line, builds the
// application through the program's factories, opens the window and runs the
// event loop until the window closes, then ends the process.
//
// Command line:
//   --scene NAME        start the named scene (a non-unique instance: it never
//                       hands over to, or is handed, another running copy)
//   --screenshot FILE   build the scene (the default scene when none is
//                       named), run three update turns, draw it off-screen at
//                       the window size, write FILE as PNG and exit 0; no
//                       display is needed
//   --text-scale F      text scale 0.5..4 instead of the desktop's
//   --access-tree FILE  with --screenshot: also write the accessibility tree
//                       as JSON (when LaunchOptions::accessibility is on)
//   --list-scenes       print the scene table and exit
//   --<flag>            any flag of LaunchConfig::extra_flags
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "lib/base/result.h"
#include "runtime/ui/core/app.h"

namespace runtime::ui {

struct LaunchContext {
    std::optional<std::string> scene;
    std::optional<std::string> screenshot;
    std::optional<double> text_scale;
    std::optional<std::string> access_tree_file;
    bool list_scenes = false;
    // Extra flags given on the command line (without "--").
    std::set<std::string> flags;
    // A scene or a screenshot was asked for.
    bool scene_start() const { return scene.has_value() || screenshot.has_value(); }
};

struct Accelerator {
    std::string action;       // an application action, e.g. "app.quit"
    std::string accelerator;  // e.g. "<Control>q"
};

struct LaunchOptions {
    // Logs the duration of every frame and update turn at debug level.
    bool frame_stats = false;
    // Offers the accessibility tree to automation (the "access-tree" action
    // and --access-tree FILE with --screenshot).
    bool accessibility = true;
    // Lets other programs invoke controls and encoded actions through the
    // application's "invoke-control" and "dispatch-action" actions.
    bool automation = true;
};

using AppFactory = std::function<std::unique_ptr<App>()>;
using SceneFactory = std::function<std::unique_ptr<App>(const LaunchContext&)>;
using SetupCallback = std::function<void(AppHandle&)>;
using WindowSizeCallback = std::function<Size(const LaunchContext&)>;
using StateOpener = std::function<lib::Result<AppState>(const LaunchContext&)>;

// In the order a program fills it in.
struct LaunchConfig {
    std::string application_id;
    // Keyboard accelerators of application actions.
    std::vector<Accelerator> accelerators;
    // Environment variables set before the display is opened, unless already
    // set: NAME=VALUE.
    std::vector<std::string> environment_defaults;
    // Extra font files or folders made available to text drawing.
    std::vector<std::string> font_paths;
    // Extra boolean command-line flags the program accepts ("--NAME").
    std::vector<std::string> extra_flags;
    // The scene names, in order.
    std::vector<std::string> scenes;
    AppFactory make_app;
    SceneFactory make_scene_app;
    SetupCallback setup;
    WindowSizeCallback window_size;
    StateOpener open_state;
    LaunchOptions options;
};

// Parses the arguments after the program name. Fails with a message naming
// the offending argument.
lib::Result<LaunchContext> parse_command_line(const std::vector<std::string>& args,
                                              const std::vector<std::string>& extra_flags);

// Runs the program; never returns.
[[noreturn]] void run_or_exit(LaunchConfig config, int argc, char** argv);
// The same with the process's own command line (read from /proc/self/cmdline).
[[noreturn]] void run_or_exit(LaunchConfig config);

}  // namespace runtime::ui
