#include "runtime/ui/core/launch.h"

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>

#include "lib/base/log.h"
#include "runtime/ui/core/headless.h"
#include "runtime/ui/core/launch_internal.h"

namespace runtime::ui {

lib::Result<LaunchContext> parse_command_line(const std::vector<std::string>& args,
                                              const std::vector<std::string>& extra_flags) {
    LaunchContext lc;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::optional<std::string> inline_value;
        if (arg.rfind("--", 0) == 0) {
            const std::size_t eq = arg.find('=');
            if (eq != std::string::npos) {
                inline_value = arg.substr(eq + 1);
                arg = arg.substr(0, eq);
            }
        }
        auto value = [&](const char* what) -> lib::Result<std::string> {
            if (inline_value) {
                if (inline_value->empty()) return lib::err(arg + " needs " + what);
                return *inline_value;
            }
            if (i + 1 >= args.size() || args[i + 1].empty()) return lib::err(arg + " needs " + what);
            return args[++i];
        };
        if (arg == "--scene") {
            auto v = value("a scene name");
            if (!v) return v.take_error();
            lc.scene = *v;
        } else if (arg == "--screenshot") {
            auto v = value("a file name");
            if (!v) return v.take_error();
            lc.screenshot = *v;
        } else if (arg == "--access-tree") {
            auto v = value("a file name");
            if (!v) return v.take_error();
            lc.access_tree_file = *v;
        } else if (arg == "--text-scale") {
            auto v = value("a number");
            if (!v) return v.take_error();
            char* end = nullptr;
            const double f = std::strtod(v->c_str(), &end);
            if (end == v->c_str() || *end != '\0' || !std::isfinite(f) || f <= 0) {
                return lib::err("--text-scale needs a positive number, not \"" + *v + "\"");
            }
            lc.text_scale = std::clamp(f, 0.5, 4.0);
        } else if (arg == "--list-scenes" && !inline_value) {
            lc.list_scenes = true;
        } else if (arg.rfind("--", 0) == 0 && !inline_value &&
                   std::find(extra_flags.begin(), extra_flags.end(), arg.substr(2)) != extra_flags.end()) {
            lc.flags.insert(arg.substr(2));
        } else {
            return lib::err("unknown argument \"" + args[i] + "\"");
        }
    }
    if (lc.access_tree_file && !lc.screenshot) return lib::err("--access-tree goes with --screenshot");
    return lc;
}

namespace detail {

AppState open_state(const LaunchConfig& config, const LaunchContext& context) {
    if (!config.open_state) return {};
    lib::Result<AppState> opened = [&]() -> lib::Result<AppState> {
        try {
            return config.open_state(context);
        } catch (const std::exception& e) {
            return lib::err(e.what());
        }
    }();
    if (!opened) {
        lib::log::warn("could not open the application state", {{"error", opened.error()}});
        return {};
    }
    return std::move(opened).value();
}

Size initial_size(const LaunchConfig& config, const LaunchContext& context) {
    Size s{1280, 800};
    if (config.window_size) s = config.window_size(context);
    auto fix = [](double v, double fallback) {
        if (!std::isfinite(v) || v < 1) return fallback;
        return std::min(v, 16384.0);
    };
    return {fix(s.width, 1280), fix(s.height, 800)};
}

}  // namespace detail

namespace {

void apply_environment(const LaunchConfig& config) {
    for (const std::string& entry : config.environment_defaults) {
        const std::size_t eq = entry.find('=');
        if (eq == std::string::npos || eq == 0) continue;
        setenv(entry.substr(0, eq).c_str(), entry.substr(eq + 1).c_str(), 0);
    }
}

void add_fonts(const LaunchConfig& config) {
    for (const std::string& path : config.font_paths) {
        const auto* p = reinterpret_cast<const FcChar8*>(path.c_str());
        const bool ok = FcConfigAppFontAddDir(nullptr, p) || FcConfigAppFontAddFile(nullptr, p);
        if (!ok) lib::log::warn("could not add fonts", {{"path", path}});
    }
}

int run_screenshot(LaunchConfig& config, const LaunchContext& lc) {
    AppState state = detail::open_state(config, lc);
    std::unique_ptr<App> app;
    if (config.make_scene_app) app = config.make_scene_app(lc);
    else if (config.make_app) app = config.make_app();
    if (!app) {
        std::fprintf(stderr, "the program built no application\n");
        return 1;
    }
    HeadlessOptions o;
    o.text_scale = lc.text_scale.value_or(1.0);
    o.launch = lc;
    o.state = std::move(state);
    HeadlessSession session(*app, detail::initial_size(config, lc), std::move(o));
    if (config.setup) config.setup(session.handle());
    session.turn(3);
    const lib::Status written = session.render_png(*lc.screenshot);
    if (!written) {
        std::fprintf(stderr, "%s\n", written.error().c_str());
        return 1;
    }
    if (lc.access_tree_file && config.options.accessibility) {
        const std::optional<a11y::AccessNode> tree = session.access_tree();
        std::ofstream out(*lc.access_tree_file, std::ios::binary | std::ios::trunc);
        out << (tree ? a11y::to_json(*tree, 2) : std::string("null")) << "\n";
        if (!out) {
            std::fprintf(stderr, "could not write %s\n", lc.access_tree_file->c_str());
            return 1;
        }
    }
    return 0;
}

std::vector<std::string> own_command_line() {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> out;
    std::string cur;
    for (char c : all) {
        if (c == '\0') {
            out.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) out.push_back(cur);
    return out;
}

[[noreturn]] void run(LaunchConfig config, const std::vector<std::string>& argv) {
    const std::string prog = argv.empty() ? std::string("app") : argv[0];
    const std::vector<std::string> args(argv.empty() ? argv.end() : argv.begin() + 1, argv.end());
    lib::Result<LaunchContext> parsed = parse_command_line(args, config.extra_flags);
    if (!parsed) {
        std::fprintf(stderr, "%s: %s\n", prog.c_str(), parsed.error().c_str());
        std::exit(2);
    }
    LaunchContext lc = std::move(parsed).value();
    if (lc.list_scenes) {
        for (const std::string& s : config.scenes) std::printf("%s\n", s.c_str());
        std::fflush(stdout);
        std::exit(0);
    }
    apply_environment(config);
    add_fonts(config);
    if (lc.scene && !config.scenes.empty() &&
        std::find(config.scenes.begin(), config.scenes.end(), *lc.scene) == config.scenes.end()) {
        lib::log::info("scene not in the scene table", {{"scene", *lc.scene}});
    }
    if (lc.screenshot) std::exit(run_screenshot(config, lc));
    std::exit(detail::run_window(config, lc, prog.c_str()));
}

}  // namespace

void run_or_exit(LaunchConfig config, int argc, char** argv) {
    std::vector<std::string> v;
    for (int i = 0; i < argc; ++i) v.emplace_back(argv[i] != nullptr ? argv[i] : "");
    run(std::move(config), v);
}

void run_or_exit(LaunchConfig config) { run(std::move(config), own_command_line()); }

}  // namespace runtime::ui
