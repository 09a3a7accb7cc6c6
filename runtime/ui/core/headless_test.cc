#include <gtest/gtest.h>

#include <cairo.h>

#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <thread>

#include "runtime/ui/core/demo/demo_app.h"
#include "runtime/ui/core/headless.h"
#include "runtime/ui/core/launch.h"

namespace runtime::ui {
namespace {

std::filesystem::path temp_dir() {
    // One folder per test process, removed when the process ends.
    static const struct Dir {
        std::filesystem::path path =
            std::filesystem::temp_directory_path() / ("ui-core-test-" + std::to_string(::getpid()));
        Dir() { std::filesystem::create_directories(path); }
        ~Dir() {
            std::error_code ec;
            std::filesystem::remove_all(path, ec);
        }
    } dir;
    return dir.path;
}

// Distinct colours among a grid of sample pixels: a blank or single-colour
// picture has one or two.
std::size_t distinct_colours(cairo_surface_t* s) {
    const int w = cairo_image_surface_get_width(s);
    const int h = cairo_image_surface_get_height(s);
    const int stride = cairo_image_surface_get_stride(s);
    const unsigned char* d = cairo_image_surface_get_data(s);
    std::set<std::uint32_t> seen;
    for (int y = 0; y < h; y += 3) {
        for (int x = 0; x < w; x += 3) seen.insert(*reinterpret_cast<const std::uint32_t*>(d + y * stride + x * 4));
    }
    return seen.size();
}

TEST(Headless, DemoScenesRenderToPngs) {
    const auto dir = temp_dir();
    struct Case {
        const char* scene;
        Size size;
        double scale;
    };
    for (const Case c : {Case{"wide", {1280, 800}, 1.0}, Case{"narrow_detail", {560, 860}, 1.0},
                         Case{"narrow_drawer", {560, 860}, 1.0}, Case{"wide", {1280, 800}, 2.0}}) {
        SCOPED_TRACE(c.scene);
        auto log = std::make_shared<demo::DemoLog>();
        auto app = demo::make_demo_app(log, c.scene);
        const std::string path = (dir / (std::string(c.scene) + "-" + std::to_string(static_cast<int>(c.scale)) + ".png")).string();
        HeadlessOptions o;
        o.text_scale = c.scale;
        ASSERT_TRUE(render_to_png(*app, c.size, path, o).ok());
        cairo_surface_t* png = cairo_image_surface_create_from_png(path.c_str());
        ASSERT_EQ(cairo_surface_status(png), CAIRO_STATUS_SUCCESS);
        EXPECT_EQ(cairo_image_surface_get_width(png), c.size.width);
        EXPECT_EQ(cairo_image_surface_get_height(png), c.size.height);
        EXPECT_GT(distinct_colours(png), 50u);
        cairo_surface_destroy(png);
        EXPECT_EQ(std::count(log->lines.begin(), log->lines.end(), "turn"), 3);
    }
}

TEST(Headless, InputReachesTheApplicationAndAsksForARedraw) {
    auto log = std::make_shared<demo::DemoLog>();
    auto app = demo::make_demo_app(log, "wide");
    HeadlessSession session(*app, {1280, 800});
    session.turn();
    const Image before = session.render();
    EXPECT_FALSE(session.redraw_pending());
    session.text("hi");
    EXPECT_TRUE(session.redraw_pending());
    KeyEvent enter;
    enter.key = "Return";
    session.key(enter);
    EXPECT_NE(std::find(log->lines.begin(), log->lines.end(), "text:hi"), log->lines.end());
    EXPECT_NE(std::find(log->lines.begin(), log->lines.end(), "key:Return"), log->lines.end());
    const Image after = session.render();
    EXPECT_NE(before.pixels, after.pixels);  // the typed text shows
    auto tree = session.access_tree();
    ASSERT_TRUE(tree.has_value());
    ASSERT_EQ(tree->children.size(), 1u);
    EXPECT_EQ(tree->children[0].value, std::optional<std::string>("hi"));
}

TEST(Headless, WakesFromOtherThreadsAreCounted) {
    auto log = std::make_shared<demo::DemoLog>();
    auto app = demo::make_demo_app(log, "wide");
    HeadlessSession session(*app, {800, 600});
    Waker w = session.context().waker();
    std::thread t([w] {
        for (int i = 0; i < 100; ++i) w.wake();
    });
    t.join();
    EXPECT_EQ(session.wakes(), 100);
    Waker none;
    none.wake();  // a default waker does nothing
}

TEST(Launch, CommandLine) {
    struct Case {
        std::vector<std::string> args;
        bool ok;
        std::optional<std::string> scene;
        std::optional<std::string> screenshot;
        std::optional<double> scale;
    };
    const std::vector<Case> cases = {
        {{}, true, std::nullopt, std::nullopt, std::nullopt},
        {{"--scene", "narrow"}, true, "narrow", std::nullopt, std::nullopt},
        {{"--scene=bulk", "--screenshot", "/tmp/x.png"}, true, "bulk", "/tmp/x.png", std::nullopt},
        {{"--text-scale", "1.5"}, true, std::nullopt, std::nullopt, 1.5},
        {{"--text-scale=9"}, true, std::nullopt, std::nullopt, 4.0},
        {{"--text-scale", "big"}, false, {}, {}, {}},
        {{"--text-scale", "-1"}, false, {}, {}, {}},
        {{"--text-scale", "nan"}, false, {}, {}, {}},
        {{"--scene"}, false, {}, {}, {}},
        {{"--scene="}, false, {}, {}, {}},
        {{"--bogus"}, false, {}, {}, {}},
        {{"stray"}, false, {}, {}, {}},
        {{"--access-tree", "t.json"}, false, {}, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.empty() ? std::string("(none)") : c.args[0]);
        auto r = parse_command_line(c.args, {"verbose"});
        ASSERT_EQ(r.ok(), c.ok) << r.error();
        if (!c.ok) {
            EXPECT_FALSE(r.error().empty());
            continue;
        }
        EXPECT_EQ(r->scene, c.scene);
        EXPECT_EQ(r->screenshot, c.screenshot);
        EXPECT_EQ(r->text_scale, c.scale);
        EXPECT_EQ(r->scene_start(), c.scene.has_value() || c.screenshot.has_value());
    }
    auto flags = parse_command_line({"--verbose", "--list-scenes"}, {"verbose"});
    ASSERT_TRUE(flags.ok());
    EXPECT_TRUE(flags->flags.count("verbose"));
    EXPECT_TRUE(flags->list_scenes);
}

std::string slurp(const std::filesystem::path& p) {
    std::ifstream in(p);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The launcher of a real program, without any display: --screenshot draws the
// scene off-screen, and bad arguments end the program with status 2.
TEST(Launch, ScreenshotNeedsNoDisplay) {
    const auto dir = temp_dir();
    const std::string demo = std::string(ZELK_BINARY_DIR) + "/bin/runtime_ui_demo_app";
    ASSERT_TRUE(std::filesystem::exists(demo));
    const std::string png = (dir / "narrow.png").string();
    const std::string tree = (dir / "tree.json").string();
    const std::string run = "env -u DISPLAY -u WAYLAND_DISPLAY '" + demo + "' --scene narrow --screenshot '" + png +
                            "' --access-tree '" + tree + "' --text-scale 1.25";
    ASSERT_EQ(std::system(run.c_str()), 0);
    cairo_surface_t* s = cairo_image_surface_create_from_png(png.c_str());
    ASSERT_EQ(cairo_surface_status(s), CAIRO_STATUS_SUCCESS);
    EXPECT_EQ(cairo_image_surface_get_width(s), 560);
    EXPECT_EQ(cairo_image_surface_get_height(s), 860);
    EXPECT_GT(distinct_colours(s), 50u);
    cairo_surface_destroy(s);
    const std::string json = slurp(tree);
    EXPECT_NE(json.find("\"Demo\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"height\": 860"), std::string::npos) << json;

    const std::string bad = "env -u DISPLAY '" + demo + "' --scene > /dev/null 2>&1";
    const int rc = std::system(bad.c_str());
    ASSERT_TRUE(WIFEXITED(rc));
    EXPECT_EQ(WEXITSTATUS(rc), 2);

    const std::string list = (dir / "scenes.txt").string();
    ASSERT_EQ(std::system(("'" + demo + "' --list-scenes > '" + list + "'").c_str()), 0);
    EXPECT_EQ(slurp(list).substr(0, 12), "wide\nnarrow\n");
}

TEST(ActionRegistry, DispatchesByKind) {
    ActionRegistry reg;
    std::string got;
    reg.register_decoder("mail.action", [&](std::string_view payload) {
        got = std::string(payload);
        return lib::Status{};
    });
    EXPECT_TRUE(reg.dispatch("mail.action", "{\"kind\":\"Move\"}").ok());
    EXPECT_EQ(got, "{\"kind\":\"Move\"}");
    const lib::Status missing = reg.dispatch("mail.other", "{}");
    EXPECT_FALSE(missing.ok());
    EXPECT_EQ(missing.error(), "no decoder for action kind mail.other");
    EXPECT_EQ(parse_control_verb("set-value"), ControlVerb::set_value);
    EXPECT_EQ(parse_control_verb("press"), std::nullopt);
}

TEST(AppState, GivesTheHeldValueOnlyAsItsOwnType) {
    AppState s = AppState::hold(std::make_shared<int>(42));
    ASSERT_NE(s.get<int>(), nullptr);
    EXPECT_EQ(*s.get<int>(), 42);
    EXPECT_EQ(s.get<double>(), nullptr);
    EXPECT_EQ(AppState().get<int>(), nullptr);
}

}  // namespace
}  // namespace runtime::ui
