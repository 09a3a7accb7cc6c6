// Every scene rendered off-screen by the program itself
// (zelk-mail --scene NAME --screenshot FILE): the picture has the scene's
// size and is not blank.
#include <cairo.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

namespace {

namespace fs = std::filesystem;

struct Picture {
    int width = 0;
    int height = 0;
    std::size_t colours = 0;
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
        for (int y = 0; y < out.height; y += 2) {
            for (int x = 0; x < out.width; x += 2) {
                seen.insert(*reinterpret_cast<const std::uint32_t*>(d + y * stride + x * 4) & 0xffffff);
            }
        }
        out.colours = seen.size();
    }
    cairo_surface_destroy(s);
    return out;
}

std::string read(const fs::path& p) {
    std::ifstream in(p);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(SceneScreenshots, EverySceneRendersAtItsSize) {
    struct Case {
        const char* scene;
        int width;
        int height;
        std::size_t min_colours;  // the welcome screen is the plainest
    };
    const Case cases[] = {
        {"wide", 1280, 800, 200},          {"narrow", 560, 860, 200},         {"narrow_detail", 560, 860, 200},
        {"narrow_drawer", 560, 860, 200},  {"mid", 1000, 720, 200},           {"compose", 1180, 820, 200},
        {"compose_narrow", 560, 860, 200}, {"setup", 1100, 780, 200},         {"setup_narrow", 560, 860, 200},
        {"setup_add", 1100, 780, 200},     {"setup_oauth", 1100, 780, 200},   {"firstrun", 1100, 780, 30},
        {"html_mail", 1280, 820, 200},     {"search", 1280, 800, 200},        {"preview", 1280, 800, 200},
        {"bulk", 1280, 800, 200},          {"bulk_purge_confirmation", 1280, 800, 200},
        {"reply", 1180, 820, 200},         {"context_menu", 1280, 800, 200},  {"loading", 1280, 800, 200},
        {"empty", 1280, 800, 100},         {"offline", 1280, 800, 200},       {"error", 1100, 780, 200},
        {"not_a_scene", 1280, 800, 200},
    };
    const fs::path out = fs::temp_directory_path() / ("mail-scenes-" + std::to_string(::getpid()));
    fs::remove_all(out);
    fs::create_directories(out / "home");
    const std::string program = std::string(ZELK_BINARY_DIR) + "/bin/zelk-mail";
    ASSERT_TRUE(fs::exists(program)) << program;
    for (const Case& c : cases) {
        const fs::path png = out / (std::string(c.scene) + ".png");
        const std::string cmd = "env -u XDG_CONFIG_HOME -u XDG_DATA_HOME -u DISPLAY -u WAYLAND_DISPLAY HOME='" +
                                (out / "home").string() + "' '" + program +
                                "' --scene " + c.scene + " --screenshot '" + png.string() + "' > '" +
                                (out / "log").string() + "' 2>&1";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << c.scene << "\n" << read(out / "log");
        const Picture p = inspect(png);
        EXPECT_EQ(p.width, c.width) << c.scene;
        EXPECT_EQ(p.height, c.height) << c.scene;
        EXPECT_GE(p.colours, c.min_colours) << c.scene;
    }
    fs::remove_all(out);
}

TEST(SceneScreenshots, TextScaleChangesTheDrawing) {
    const fs::path out = fs::temp_directory_path() / ("mail-scale-" + std::to_string(::getpid()));
    fs::create_directories(out);
    const std::string program = std::string(ZELK_BINARY_DIR) + "/bin/zelk-mail";
    auto shot = [&](const char* scale) {
        const fs::path png = out / (std::string("wide-") + scale + ".png");
        const std::string cmd = "'" + program + "' --scene wide --text-scale " + scale + " --screenshot '" +
                                png.string() + "' > /dev/null 2>&1";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
        return read(png);
    };
    const std::string normal = shot("1");
    const std::string large = shot("2");
    EXPECT_FALSE(normal.empty());
    EXPECT_NE(normal, large);
    EXPECT_EQ(inspect(out / "wide-2.png").width, 1280);
    fs::remove_all(out);
}

}  // namespace
