// Off-screen running: the application driven and drawn without a window or a
// display, for screenshots (--screenshot) and tests. Drawing shows the final
// state of every transition.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "lib/base/result.h"
#include "runtime/ui/core/app.h"
#include "runtime/ui/core/launch.h"
#include "runtime/ui/images/image.h"

namespace runtime::ui {

struct HeadlessOptions {
    double text_scale = 1.0;
    LaunchContext launch;
    AppState state;
};

// An application in an off-screen window of a fixed size. Each input call
// runs the hook and then one update turn, as the window does.
class HeadlessSession {
public:
    HeadlessSession(App& app, Size size, HeadlessOptions options = {});
    ~HeadlessSession();
    HeadlessSession(const HeadlessSession&) = delete;
    HeadlessSession& operator=(const HeadlessSession&) = delete;

    Context& context();
    AppHandle& handle();

    void turn(int count = 1);
    void resize(Size size);
    bool key(const KeyEvent& ev);
    void text(std::string_view committed);
    void pointer_down(const PointerEvent& ev);
    void pointer_up(const PointerEvent& ev);
    void pointer_move(const PointerEvent& ev);
    void scroll(const ScrollEvent& ev);
    // A primary click (press and release) at a point.
    void click(Point p);
    bool invoke_control(std::string_view identifier, const ControlAction& action = {});
    std::optional<a11y::AccessNode> access_tree();

    // Whether a hook asked for a redraw since the last render.
    bool redraw_pending() const;
    // Draws the window (premultiplied ARGB32, see images/image.h).
    Image render();
    lib::Status render_png(const std::string& path);

    LocalClipboard& clipboard();
    const std::string& title() const;
    // Wakes asked for through the context's waker (from any thread).
    int wakes() const;
    bool quit_requested() const;

    struct Host;

private:
    std::unique_ptr<Host> host_;
};

// Builds nothing: draws `app` at `size` after `turns` update turns and writes
// a PNG.
lib::Status render_to_png(App& app, Size size, const std::string& path, HeadlessOptions options = {},
                          int turns = 3);

// Writes an image as PNG.
lib::Status write_png(const Image& image, const std::string& path);

}  // namespace runtime::ui
