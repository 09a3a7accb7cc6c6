// NavShell: the three-pane navigation shell. A sidebar, a list and a detail
// pane side by side on wide windows; on windows narrower than the collapse
// width a single column showing the list or the detail (with a back control),
// the sidebar becoming a drawer over it. The application supplies the panes;
// the shell owns their placement, its own controls (the sidebar button and
// the back button), the transitions and the routing of pointer input.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "runtime/ui/core/canvas.h"
#include "runtime/ui/core/geometry.h"
#include "runtime/ui/core/input.h"
#include "runtime/ui/core/text.h"
#include "runtime/ui/core/theme.h"

namespace runtime::ui {

enum class PaneKind { sidebar = 0, list = 1, detail = 2 };

struct PaneWidths {
    double min = 200;
    double preferred = 320;
};

// What a pane may ask of the shell; collected by NavShell::sync.
enum class NavRequest { none, show_list, show_detail, open_sidebar, close_sidebar, toggle_sidebar };

class NavPane {
public:
    virtual ~NavPane() = default;
    virtual PaneWidths widths() const = 0;
    // Draws the pane into `rect` (already clipped to it).
    virtual void draw(Canvas& canvas, const Rect& rect) = 0;
    // Pointer input inside the pane; return true when it changed something
    // that needs a redraw.
    virtual bool pointer_down(const PointerEvent&, const Rect&) { return false; }
    virtual bool pointer_up(const PointerEvent&, const Rect&) { return false; }
    virtual bool pointer_move(const PointerEvent&, const Rect&) { return false; }
    virtual bool pointer_leave() { return false; }
    virtual bool scroll(const ScrollEvent&, const Rect&) { return false; }
    // The detail pane's current content, 0 for none. When it changes to
    // another non-zero value the single-column layout shows the detail; when
    // it becomes 0 it goes back to the list.
    virtual std::uint64_t content_token() const { return 0; }
    // A navigation request, taken once.
    virtual NavRequest take_request() { return NavRequest::none; }
    // The shell's back control was used (on the detail pane).
    virtual void navigated_back() {}
};

struct NavLayout {
    Rect window;
    // Single-column layout (window narrower than the collapse width).
    bool collapsed = false;
    // Single column showing the detail pane instead of the list.
    bool reader_first = false;
    // The sidebar is on screen (as a column, or as the open drawer).
    bool sidebar_visible = false;
    std::array<Rect, 3> rects{};
    std::array<bool, 3> visible{};
    // The shell's controls; empty rectangles when absent.
    Rect sidebar_button;
    Rect back_button;
    // The dimmed area beside the open drawer (a press there closes it).
    Rect scrim;

    const Rect& rect(PaneKind k) const { return rects[static_cast<int>(k)]; }
    bool shows(PaneKind k) const { return visible[static_cast<int>(k)]; }
};

class NavShell {
public:
    using Clock = std::chrono::steady_clock;

    NavShell(std::shared_ptr<NavPane> sidebar, std::shared_ptr<NavPane> list,
             std::shared_ptr<NavPane> detail);

    // Shows the sidebar from the start (as a column on wide windows).
    NavShell& with_sidebar(bool open = true);
    // Windows narrower than this collapse to one column (default 860).
    void set_collapse_width(double width);
    double collapse_width() const { return collapse_width_; }

    // Places the panes in the window; call on every layout pass.
    const NavLayout& layout(const Rect& window);
    const NavLayout& current() const { return layout_; }
    bool collapsed() const { return layout_.collapsed; }
    bool reader_first() const { return reader_first_; }
    bool sidebar_visible() const { return layout_.sidebar_visible; }

    // Switches the single column to the detail pane at once, without the
    // transition.
    void snap();
    // Opens the sidebar (the drawer when collapsed) at once.
    void snap_sidebar();
    // The same steps with a transition.
    void show_detail();
    void show_list();
    void open_sidebar();
    void close_sidebar();
    void toggle_sidebar();

    // Takes the panes' requests and follows the detail pane's content token.
    // Returns true when the shell changed (a redraw is due).
    bool sync();

    // Draws the panes, dividers, the drawer and the shell's controls. While
    // a transition runs it asks the canvas for another frame.
    void draw(Canvas& canvas, const TextRenderer& text, const Theme& theme);
    bool animating() const;

    // Routes pointer input: the shell's controls first, then the drawer and
    // its scrim, then the pane under the pointer. True when a redraw is due.
    bool pointer_down(const PointerEvent& ev);
    bool pointer_up(const PointerEvent& ev);
    bool pointer_move(const PointerEvent& ev);
    bool pointer_leave();
    bool scroll(const ScrollEvent& ev);
    // The pane that receives input at `p`.
    std::optional<PaneKind> pane_at(Point p) const;

    // The shell's own controls by identifier: "nav.back" and "nav.sidebar".
    bool invoke_control(std::string_view identifier);

    NavPane& pane(PaneKind k) { return *panes_[static_cast<int>(k)]; }

    // For tests: the time source of transitions.
    void set_clock_for_test(std::function<Clock::time_point()> now) { now_ = std::move(now); }

private:
    struct Transition {
        double from = 0;
        double to = 0;
        Clock::time_point start{};
        double value(Clock::time_point now) const;
        bool running(Clock::time_point now) const;
    };
    void recompute();
    void go_back();
    void animate(Transition& t, double to, bool instant);
    bool route_move(const PointerEvent& ev);

    std::array<std::shared_ptr<NavPane>, 3> panes_;
    double collapse_width_ = 860;
    bool sidebar_open_ = false;  // wide layout
    bool drawer_open_ = false;   // collapsed layout
    bool reader_first_ = false;
    bool token_seen_ = false;
    std::uint64_t last_token_ = 0;
    NavLayout layout_;
    Transition reader_anim_;
    Transition drawer_anim_;
    std::optional<PaneKind> hover_pane_;
    bool hover_back_ = false;
    bool hover_menu_ = false;
    std::optional<PaneKind> pressed_pane_;
    std::function<Clock::time_point()> now_;
};

}  // namespace runtime::ui
