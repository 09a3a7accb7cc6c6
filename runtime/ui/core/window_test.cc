// The demo program in a real window under Xvfb: it shows, it takes typed
// keys, the clipboard and pointer presses, it uses no CPU when idle, and it
// ends cleanly on SIGTERM.
#include <gtest/gtest.h>

#include <cairo.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/ui/util/xvfb_reexec.h"

#ifdef ZELK_UI_HAS_WEB
constexpr bool kWeb = true;
#else
constexpr bool kWeb = false;
#endif

namespace {

namespace fs = std::filesystem;

std::string read(const fs::path& p) {
    std::ifstream in(p);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

struct Picture {
    int width = 0;
    int height = 0;
    std::size_t colours = 0;
    std::vector<std::uint32_t> pixels;  // 0xRRGGBB
    std::uint32_t at(int x, int y) const { return pixels.at(static_cast<std::size_t>(y) * width + x); }
};

Picture inspect(const fs::path& p) {
    Picture out;
    cairo_surface_t* s = cairo_image_surface_create_from_png(p.c_str());
    if (cairo_surface_status(s) == CAIRO_STATUS_SUCCESS) {
        out.width = cairo_image_surface_get_width(s);
        out.height = cairo_image_surface_get_height(s);
        const int stride = cairo_image_surface_get_stride(s);
        const unsigned char* d = cairo_image_surface_get_data(s);
        std::set<std::uint32_t> seen;
        for (int y = 0; y < out.height; ++y) {
            for (int x = 0; x < out.width; ++x) {
                const std::uint32_t px = *reinterpret_cast<const std::uint32_t*>(d + y * stride + x * 4) & 0xffffff;
                out.pixels.push_back(px);
                seen.insert(px);
            }
        }
        out.colours = seen.size();
    }
    cairo_surface_destroy(s);
    return out;
}

TEST(Window, DemoShowsTakesInputAndIdles) {
    const fs::path out = fs::temp_directory_path() / ("ui-window-test-" + std::to_string(::getpid()));
    fs::remove_all(out);
    fs::create_directories(out);
    const std::string demo = std::string(ZELK_BINARY_DIR) + "/bin/runtime_ui_demo_app";
    const std::string probe = std::string(ZELK_SOURCE_DIR) + "/runtime/ui/core/window_probe.sh";
    ASSERT_TRUE(fs::exists(demo)) << demo;
    const std::string cmd = "timeout 120 " + runtime::ui::testing::xvfb_run_command() + " -s '-screen 0 1280x800x24' dbus-run-session -- bash '" + probe +
                            "' '" + out.string() + "' '" + demo + "' " + (kWeb ? "web" : "none") + " > '" +
                            (out / "probe.out").string() + "' 2>&1";
    const int rc = std::system(cmd.c_str());
    ASSERT_EQ(rc, 0) << read(out / "probe.out");
    ASSERT_FALSE(fs::exists(out / "failure")) << read(out / "failure") << read(out / "demo.out");

    const std::string events = read(out / "events.log");
    EXPECT_NE(events.find("text:h\n"), std::string::npos) << events;
    EXPECT_NE(events.find("key:Return\n"), std::string::npos) << events;
    EXPECT_NE(events.find("search:hello\n"), std::string::npos) << events;
    EXPECT_NE(events.find("search:hellohello\n"), std::string::npos) << "clipboard paste\n" << events;
    EXPECT_NE(events.find("down:400,170\n"), std::string::npos) << events;
    const std::size_t drag = events.find("down:300,28\n");
    ASSERT_NE(drag, std::string::npos) << events;
    EXPECT_NE(events.find("up:500,28\n", drag), std::string::npos) << "drag release\n" << events;
    EXPECT_NE(events.find("closing\n"), std::string::npos) << events;
    EXPECT_EQ(read(out / "exit_status"), "0\n") << read(out / "demo.out");

    // Idle means idle: at most one tick (10 ms) of CPU in three seconds.
    EXPECT_LE(std::stoi(read(out / "idle_ticks")), 1);

    const Picture typed = inspect(out / "typed.png");
    EXPECT_EQ(typed.width, 1280);
    EXPECT_EQ(typed.height, 800);
    EXPECT_GT(typed.colours, 200u);  // a drawn window, not a blank screen
    const Picture resized = inspect(out / "resized.png");
    EXPECT_GT(resized.colours, 100u);

    if (kWeb) {
        // The page covers exactly the rectangle the application gave it.
        const std::string web_events = read(out / "web_events.log");
        EXPECT_NE(web_events.find("web:load finished"), std::string::npos) << web_events << read(out / "web_demo.out");
        EXPECT_EQ(read(out / "web_exit_status"), "0\n");
        const Picture web = inspect(out / "web.png");
        ASSERT_EQ(web.width, 1280);
        constexpr std::uint32_t kMagenta = 0xff00ff;
        for (auto [x, y] : {std::pair{632, 240}, std::pair{931, 240}, std::pair{632, 389}, std::pair{931, 389}, std::pair{782, 315}}) {
            EXPECT_EQ(web.at(x, y), kMagenta) << x << "," << y;
        }
        for (auto [x, y] : {std::pair{629, 315}, std::pair{935, 315}, std::pair{782, 236}, std::pair{782, 393}}) {
            EXPECT_NE(web.at(x, y), kMagenta) << x << "," << y;
        }
    }
    fs::remove_all(out);
}

}  // namespace
