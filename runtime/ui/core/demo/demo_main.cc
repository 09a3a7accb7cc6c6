// The toolkit's demo program: the demo application in a real window, with the
// launcher's command line (--scene, --screenshot, --text-scale). When
// ZELK_DEMO_EVENT_LOG names a file, every input that reaches the application
// is appended to it, one line each.
#include <cstdlib>

#include "runtime/ui/core/demo/demo_app.h"
#include "runtime/ui/core/launch.h"

int main(int argc, char** argv) {
    using namespace runtime::ui;
    auto log = std::make_shared<demo::DemoLog>();
    if (const char* path = std::getenv("ZELK_DEMO_EVENT_LOG")) log->log_file = path;
    LaunchConfig config;
    config.application_id = "app.zelk.ToolkitDemo";
    config.scenes = {"wide", "narrow", "narrow_detail", "narrow_drawer", "empty", "web"};
    config.make_app = [log] { return demo::make_demo_app(log, "wide"); };
    config.make_scene_app = [log](const LaunchContext& lc) { return demo::make_demo_app(log, lc.scene.value_or("wide")); };
    config.setup = [](AppHandle& handle) { handle.set_window_title("Toolkit demo"); };
    config.window_size = [](const LaunchContext& lc) {
        const std::string scene = lc.scene.value_or("wide");
        if (scene.rfind("narrow", 0) == 0) return Size{560, 860};
        return Size{1280, 800};
    };
    run_or_exit(std::move(config), argc, argv);
}
