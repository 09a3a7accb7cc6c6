// Scenes in real windows under Xvfb: two copies of the program run side by
// side (a scene start never hands over to a running client), each window has
// its scene's size and shows more than a blank fill, and each program ends
// cleanly on SIGTERM.
#include <cairo.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "app/scenes.h"
#include "runtime/ui/util/xvfb_reexec.h"

namespace {

namespace fs = std::filesystem;

std::string read(const fs::path& p) {
    std::ifstream in(p);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::map<std::string, std::string> shell_vars(const std::string& text) {
    std::map<std::string, std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq != std::string::npos) out[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return out;
}

std::size_t colours(const fs::path& p, int& width, int& height) {
    cairo_surface_t* s = cairo_image_surface_create_from_png(p.c_str());
    std::set<std::uint32_t> seen;
    width = height = 0;
    if (cairo_surface_status(s) == CAIRO_STATUS_SUCCESS) {
        width = cairo_image_surface_get_width(s);
        height = cairo_image_surface_get_height(s);
        const int stride = cairo_image_surface_get_stride(s);
        const unsigned char* d = cairo_image_surface_get_data(s);
        for (int y = 0; y < height; y += 2) {
            for (int x = 0; x < width; x += 2) {
                seen.insert(*reinterpret_cast<const std::uint32_t*>(d + y * stride + x * 4) & 0xffffff);
            }
        }
    }
    cairo_surface_destroy(s);
    return seen.size();
}

TEST(MailWindow, ScenesOpenSideBySideAtTheirSizes) {
    const fs::path out = fs::temp_directory_path() / ("mail-window-test-" + std::to_string(::getpid()));
    fs::remove_all(out);
    fs::create_directories(out / "home");
    const std::string program = std::string(ZELK_BINARY_DIR) + "/bin/zelk-mail";
    const std::string probe = std::string(ZELK_SOURCE_DIR) + "/apps/mail/src/app/window_probe.sh";
    ASSERT_TRUE(fs::exists(program)) << program;
    const std::string cmd = "HOME='" + (out / "home").string() +
                            "' timeout 100 " + runtime::ui::testing::xvfb_run_command() + " -s '-screen 0 1600x1000x24' dbus-run-session -- bash '" + probe +
                            "' '" + out.string() + "' '" + program + "' wide narrow > '" + (out / "probe.out").string() +
                            "' 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << read(out / "probe.out");
    EXPECT_EQ(read(out / "windows"), "2\n") << "both copies show a window\n"
                                            << read(out / "wide.out") << read(out / "narrow.out");

    const std::pair<const char*, std::pair<int, int>> scenes[] = {{"wide", {1280, 800}}, {"narrow", {560, 860}}};
    for (const auto& [scene, size] : scenes) {
        SCOPED_TRACE(scene);
        const auto geometry = shell_vars(read(out / (std::string(scene) + ".geometry")));
        ASSERT_TRUE(geometry.count("WIDTH")) << read(out / (std::string(scene) + ".out"));
        EXPECT_EQ(geometry.at("WIDTH"), std::to_string(size.first));
        EXPECT_EQ(geometry.at("HEIGHT"), std::to_string(size.second));
        int w = 0;
        int h = 0;
        const std::size_t n = colours(out / (std::string(scene) + ".png"), w, h);
        EXPECT_EQ(w, size.first);
        EXPECT_EQ(h, size.second);
        EXPECT_GE(n, 200u) << "the captured window is not a blank fill";
        EXPECT_EQ(read(out / (std::string(scene) + ".exit")), "0\n") << read(out / (std::string(scene) + ".out"));
    }
    // Nothing was written into the home folder.
    std::size_t files = 0;
    for (const auto& e : fs::recursive_directory_iterator(out / "home")) {
        if (e.is_regular_file() && e.path().string().find("zelk-mail") != std::string::npos) ++files;
    }
    EXPECT_EQ(files, 0u);
    fs::remove_all(out);
}

// Every scene, one after another under one display: the window opens at the
// scene's size and shows more than a blank fill.
TEST(MailWindow, EverySceneOpensInARealWindow) {
    const fs::path out = fs::temp_directory_path() / ("mail-window-all-" + std::to_string(::getpid()));
    fs::remove_all(out);
    fs::create_directories(out / "home");
    const std::string program = std::string(ZELK_BINARY_DIR) + "/bin/zelk-mail";
    const std::string probe = std::string(ZELK_SOURCE_DIR) + "/apps/mail/src/app/window_probe.sh";
    std::string script = "set -u; ";
    for (std::string_view scene : mail::app::kSceneNames) {
        const std::string dir = (out / std::string(scene)).string();
        script += "mkdir -p '" + dir + "'; bash '" + probe + "' '" + dir + "' '" + program + "' " + std::string(scene) +
                  " > '" + dir + "/probe.out' 2>&1; ";
    }
    const fs::path script_file = out / "all.sh";
    std::ofstream(script_file) << script << "\n";
    const std::string cmd = "HOME='" + (out / "home").string() +
                            "' timeout 280 " + runtime::ui::testing::xvfb_run_command() + " -s '-screen 0 1600x1000x24' dbus-run-session -- bash '" +
                            script_file.string() + "' > '" + (out / "run.out").string() + "' 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << read(out / "run.out");
    for (std::string_view scene_view : mail::app::kSceneNames) {
        const std::string scene(scene_view);
        SCOPED_TRACE(scene);
        const fs::path dir = out / scene;
        const auto size = mail::app::scene_window_size(scene);
        const auto geometry = shell_vars(read(dir / (scene + ".geometry")));
        ASSERT_TRUE(geometry.count("WIDTH")) << read(dir / (scene + ".out")) << read(dir / "probe.out");
        EXPECT_EQ(geometry.at("WIDTH"), std::to_string(static_cast<int>(size.width)));
        EXPECT_EQ(geometry.at("HEIGHT"), std::to_string(static_cast<int>(size.height)));
        int w = 0;
        int h = 0;
        const std::size_t n = colours(dir / (scene + ".png"), w, h);
        EXPECT_EQ(w, static_cast<int>(size.width));
        EXPECT_EQ(h, static_cast<int>(size.height));
        EXPECT_GE(n, 50u) << "the captured window is not a blank fill";
        EXPECT_EQ(read(dir / (scene + ".exit")), "0\n") << read(dir / (scene + ".out"));
    }
    fs::remove_all(out);
}

}  // namespace
