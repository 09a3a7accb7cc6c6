#include "runtime/ui/core/widgets/nav_shell.h"

#include <algorithm>
#include <cmath>

#include "runtime/ui/core/icon.h"

namespace runtime::ui {

namespace {

constexpr double kControlInset = 12;
constexpr double kMenuSide = 32;
constexpr double kBackWidth = 94;
constexpr double kBackHeight = 32;
constexpr double kDrawerGap = 56;
constexpr auto kTransition = std::chrono::milliseconds(220);

int idx(PaneKind k) { return static_cast<int>(k); }

double ease_out(double t) {
    t = std::clamp(t, 0.0, 1.0);
    const double u = 1 - t;
    return 1 - u * u * u;
}

}  // namespace

double NavShell::Transition::value(Clock::time_point now) const {
    if (from == to) return to;
    const double t = std::chrono::duration<double>(now - start).count() /
                     std::chrono::duration<double>(kTransition).count();
    if (t >= 1) return to;
    if (t <= 0) return from;
    return from + (to - from) * ease_out(t);
}

bool NavShell::Transition::running(Clock::time_point now) const {
    return from != to && now - start < kTransition;
}

NavShell::NavShell(std::shared_ptr<NavPane> sidebar, std::shared_ptr<NavPane> list,
                   std::shared_ptr<NavPane> detail)
    : panes_{std::move(sidebar), std::move(list), std::move(detail)}, now_([] { return Clock::now(); }) {}

NavShell& NavShell::with_sidebar(bool open) {
    sidebar_open_ = open;
    recompute();
    return *this;
}

void NavShell::set_collapse_width(double width) {
    collapse_width_ = std::max(1.0, width);
    recompute();
}

const NavLayout& NavShell::layout(const Rect& window) {
    const bool was_collapsed = layout_.collapsed;
    const bool had_layout = !layout_.window.empty();
    layout_.window = window;
    recompute();
    // Widening past the breakpoint puts the drawer away; the sidebar column
    // keeps its own open state.
    if (had_layout && was_collapsed && !layout_.collapsed && drawer_open_) {
        drawer_open_ = false;
        animate(drawer_anim_, 0, true);
        recompute();
    }
    return layout_;
}

void NavShell::recompute() {
    NavLayout& l = layout_;
    const Rect w = l.window;
    const double width = w.width();
    l.collapsed = width < collapse_width_;
    l.rects = {};
    l.visible = {};
    l.sidebar_button = {};
    l.back_button = {};
    l.scrim = {};
    const PaneWidths sw = panes_[0] ? panes_[0]->widths() : PaneWidths{};
    const PaneWidths lw = panes_[1] ? panes_[1]->widths() : PaneWidths{};
    const PaneWidths dw = panes_[2] ? panes_[2]->widths() : PaneWidths{};

    if (!l.collapsed) {
        double s = sidebar_open_ ? sw.preferred : 0;
        double li = lw.preferred;
        if (s + li + dw.min > width) li = std::max(lw.min, width - s - dw.min);
        if (s > 0 && s + li + dw.min > width) s = std::max(sw.min, width - li - dw.min);
        s = std::min(s, width);
        li = std::clamp(li, 0.0, width - s);
        l.rects[idx(PaneKind::sidebar)] = {w.left, w.top, w.left + s, w.bottom};
        l.rects[idx(PaneKind::list)] = {w.left + s, w.top, w.left + s + li, w.bottom};
        l.rects[idx(PaneKind::detail)] = {w.left + s + li, w.top, w.right, w.bottom};
        l.visible = {sidebar_open_, true, true};
        l.reader_first = false;
        l.sidebar_visible = sidebar_open_;
        const Rect& host = sidebar_open_ ? l.rects[idx(PaneKind::sidebar)] : l.rects[idx(PaneKind::list)];
        l.sidebar_button = Rect::from_xywh(host.left + kControlInset, host.top + kControlInset, kMenuSide, kMenuSide);
        return;
    }

    const double drawer = std::max(0.0, std::min(sw.preferred, width - kDrawerGap));
    l.rects[idx(PaneKind::sidebar)] = {w.left, w.top, w.left + drawer, w.bottom};
    l.rects[idx(PaneKind::list)] = w;
    l.rects[idx(PaneKind::detail)] = w;
    l.visible = {drawer_open_, !reader_first_, reader_first_};
    l.reader_first = reader_first_;
    l.sidebar_visible = drawer_open_;
    if (drawer_open_) {
        l.scrim = {w.left + drawer, w.top, w.right, w.bottom};
        l.sidebar_button = Rect::from_xywh(w.left + kControlInset, w.top + kControlInset, kMenuSide, kMenuSide);
    } else if (!reader_first_) {
        l.sidebar_button = Rect::from_xywh(w.left + kControlInset, w.top + kControlInset, kMenuSide, kMenuSide);
    }
    if (reader_first_ && !drawer_open_) {
        l.back_button = Rect::from_xywh(w.left + kControlInset, w.top + kControlInset, kBackWidth, kBackHeight);
    }
}

void NavShell::animate(Transition& t, double to, bool instant) {
    const Clock::time_point now = now_();
    if (instant) {
        t.from = t.to = to;
        t.start = now - kTransition;
        return;
    }
    t.from = t.value(now);
    t.to = to;
    t.start = now;
}

void NavShell::snap() {
    reader_first_ = true;
    drawer_open_ = false;
    animate(reader_anim_, 1, true);
    animate(drawer_anim_, 0, true);
    recompute();
}

void NavShell::snap_sidebar() {
    sidebar_open_ = true;
    drawer_open_ = true;
    animate(drawer_anim_, 1, true);
    recompute();
}

void NavShell::show_detail() {
    reader_first_ = true;
    animate(reader_anim_, 1, !layout_.collapsed);
    if (drawer_open_) {
        drawer_open_ = false;
        animate(drawer_anim_, 0, !layout_.collapsed);
    }
    recompute();
}

void NavShell::show_list() {
    reader_first_ = false;
    animate(reader_anim_, 0, !layout_.collapsed);
    recompute();
}

void NavShell::open_sidebar() {
    if (layout_.collapsed) {
        drawer_open_ = true;
        animate(drawer_anim_, 1, false);
    } else {
        sidebar_open_ = true;
    }
    recompute();
}

void NavShell::close_sidebar() {
    if (layout_.collapsed) {
        if (drawer_open_) {
            drawer_open_ = false;
            animate(drawer_anim_, 0, false);
        }
    } else {
        sidebar_open_ = false;
    }
    recompute();
}

void NavShell::toggle_sidebar() {
    const bool open = layout_.collapsed ? drawer_open_ : sidebar_open_;
    if (open) close_sidebar();
    else open_sidebar();
}

void NavShell::go_back() {
    show_list();
    if (panes_[2]) panes_[2]->navigated_back();
}

bool NavShell::sync() {
    bool changed = false;
    for (auto& pane : panes_) {
        if (!pane) continue;
        const NavRequest r = pane->take_request();
        switch (r) {
            case NavRequest::none: continue;
            case NavRequest::show_list: show_list(); break;
            case NavRequest::show_detail: show_detail(); break;
            case NavRequest::open_sidebar: open_sidebar(); break;
            case NavRequest::close_sidebar: close_sidebar(); break;
            case NavRequest::toggle_sidebar: toggle_sidebar(); break;
        }
        changed = true;
    }
    const std::uint64_t token = panes_[2] ? panes_[2]->content_token() : 0;
    if (!token_seen_) {
        // Whatever is shown at start stays where the scene or the user put it.
        token_seen_ = true;
        last_token_ = token;
    } else if (token != last_token_) {
        last_token_ = token;
        if (token != 0 && (!reader_first_ || drawer_open_)) {
            show_detail();
            changed = true;
        } else if (token == 0 && reader_first_) {
            show_list();
            changed = true;
        }
    }
    // Panes may change their widths with their content or the text scale.
    const NavLayout before = layout_;
    recompute();
    if (before.rects != layout_.rects) changed = true;
    return changed;
}

bool NavShell::animating() const {
    const Clock::time_point now = now_();
    return reader_anim_.running(now) || drawer_anim_.running(now);
}

std::optional<PaneKind> NavShell::pane_at(Point p) const {
    const NavLayout& l = layout_;
    if (!l.window.contains(p)) return std::nullopt;
    if (l.collapsed) {
        if (drawer_open_) {
            if (l.rect(PaneKind::sidebar).contains(p)) return PaneKind::sidebar;
            return std::nullopt;  // the scrim
        }
        return reader_first_ ? PaneKind::detail : PaneKind::list;
    }
    for (PaneKind k : {PaneKind::sidebar, PaneKind::list, PaneKind::detail}) {
        if (l.shows(k) && l.rect(k).contains(p)) return k;
    }
    return std::nullopt;
}

bool NavShell::pointer_down(const PointerEvent& ev) {
    pressed_pane_.reset();
    if (ev.button == PointerButton::primary) {
        if (layout_.back_button.contains(ev.pos)) {
            go_back();
            return true;
        }
        if (layout_.sidebar_button.contains(ev.pos)) {
            toggle_sidebar();
            return true;
        }
    }
    if (layout_.collapsed && drawer_open_ && layout_.scrim.contains(ev.pos)) {
        close_sidebar();
        return true;
    }
    const std::optional<PaneKind> k = pane_at(ev.pos);
    if (!k || !panes_[idx(*k)]) return false;
    pressed_pane_ = k;
    return panes_[idx(*k)]->pointer_down(ev, layout_.rect(*k));
}

bool NavShell::pointer_up(const PointerEvent& ev) {
    const std::optional<PaneKind> k = pressed_pane_ ? pressed_pane_ : pane_at(ev.pos);
    pressed_pane_.reset();
    if (!k || !panes_[idx(*k)]) return false;
    return panes_[idx(*k)]->pointer_up(ev, layout_.rect(*k));
}

bool NavShell::route_move(const PointerEvent& ev) {
    bool changed = false;
    const bool back = layout_.back_button.contains(ev.pos);
    const bool menu = layout_.sidebar_button.contains(ev.pos);
    if (back != hover_back_ || menu != hover_menu_) changed = true;
    hover_back_ = back;
    hover_menu_ = menu;
    // A drag goes on reaching the pane it started in.
    const std::optional<PaneKind> k = pressed_pane_ ? pressed_pane_ : pane_at(ev.pos);
    if (hover_pane_ && hover_pane_ != k && panes_[idx(*hover_pane_)]) {
        changed |= panes_[idx(*hover_pane_)]->pointer_leave();
    }
    hover_pane_ = k;
    if (k && panes_[idx(*k)]) changed |= panes_[idx(*k)]->pointer_move(ev, layout_.rect(*k));
    return changed;
}

bool NavShell::pointer_move(const PointerEvent& ev) { return route_move(ev); }

bool NavShell::pointer_leave() {
    bool changed = hover_back_ || hover_menu_;
    hover_back_ = hover_menu_ = false;
    if (hover_pane_ && panes_[idx(*hover_pane_)]) changed |= panes_[idx(*hover_pane_)]->pointer_leave();
    hover_pane_.reset();
    return changed;
}

bool NavShell::scroll(const ScrollEvent& ev) {
    const std::optional<PaneKind> k = pane_at(ev.pos);
    if (!k || !panes_[idx(*k)]) return false;
    return panes_[idx(*k)]->scroll(ev, layout_.rect(*k));
}

bool NavShell::invoke_control(std::string_view id) {
    if (id == "nav.back") {
        if (!layout_.collapsed || !reader_first_) return false;
        go_back();
        return true;
    }
    if (id == "nav.sidebar") {
        toggle_sidebar();
        return true;
    }
    return false;
}

namespace {

void draw_pane(Canvas& canvas, NavPane* pane, const Rect& rect, double dx) {
    if (pane == nullptr || rect.empty()) return;
    canvas.save();
    canvas.translate(dx, 0);
    canvas.push_clip(rect);
    pane->draw(canvas, rect);
    canvas.pop_clip();
    canvas.restore();
}

void draw_menu_button(Canvas& canvas, const Theme& theme, const Rect& r, bool hovered) {
    if (r.empty()) return;
    if (hovered) canvas.fill_rounded_rect(r, 8, theme.raised);
    const double side = 18;
    const Point c = r.center();
    Icon::draw(canvas, IconId::menu, Rect::from_xywh(c.x - side / 2, c.y - side / 2, side, side), theme.text_muted);
}

void draw_back_button(Canvas& canvas, const TextRenderer& text, const Theme& theme, const Rect& r, bool hovered) {
    if (r.empty()) return;
    canvas.fill_rounded_rect(r, 8, hovered ? Colors::lift(theme.raised, 0.06) : theme.raised);
    canvas.stroke_rounded_rect(r, 8, theme.hairline);
    const double side = 16;
    const double cy = (r.top + r.bottom) / 2;
    Icon::draw(canvas, IconId::chevron_left, Rect::from_xywh(r.left + 8, cy - side / 2, side, side), theme.text);
    const double size = 13;
    const std::string label = text.elide_to_width("Back", r.right - (r.left + 30) - 6, size, weight::medium);
    const TextMetrics m = text.measure_weighted(label, size, weight::medium);
    text.draw_text_weighted(canvas, label, {r.left + 30, cy - m.height / 2}, size, weight::medium, theme.text);
}

}  // namespace

void NavShell::draw(Canvas& canvas, const TextRenderer& text, const Theme& theme) {
    const NavLayout& l = layout_;
    const Clock::time_point now = now_();
    const bool live = canvas.animations();
    canvas.fill_rect(l.window, theme.background);

    if (!l.collapsed) {
        for (PaneKind k : {PaneKind::sidebar, PaneKind::list, PaneKind::detail}) {
            if (l.shows(k)) draw_pane(canvas, panes_[idx(k)].get(), l.rect(k), 0);
        }
        const Color line = theme.hairline;
        if (l.shows(PaneKind::sidebar)) {
            const double x = l.rect(PaneKind::list).left;
            canvas.fill_rect({x, l.window.top, x + 1, l.window.bottom}, line);
        }
        const double x = l.rect(PaneKind::detail).left;
        canvas.fill_rect({x, l.window.top, x + 1, l.window.bottom}, line);
        draw_menu_button(canvas, theme, l.sidebar_button, hover_menu_);
        return;
    }

    const double width = l.window.width();
    const double p = live ? reader_anim_.value(now) : reader_anim_.to;
    const Rect full = l.window;
    if (p < 1) {
        draw_pane(canvas, panes_[idx(PaneKind::list)].get(), full, -p * width * 0.3);
        if (!drawer_open_ && !reader_first_) draw_menu_button(canvas, theme, l.sidebar_button, hover_menu_);
    }
    if (p > 0) {
        const double dx = (1 - p) * width;
        draw_pane(canvas, panes_[idx(PaneKind::detail)].get(), full, dx);
        if (dx > 0) canvas.fill_rect({full.left + dx, full.top, full.left + dx + 1, full.bottom}, theme.hairline);
        const Rect back = reader_first_ ? Rect::from_xywh(full.left + kControlInset, full.top + kControlInset, kBackWidth, kBackHeight) : Rect{};
        if (!back.empty() && !drawer_open_) draw_back_button(canvas, text, theme, back.translated(dx, 0), hover_back_);
    }

    const double q = live ? drawer_anim_.value(now) : drawer_anim_.to;
    if (q > 0) {
        const Rect drawer = l.rect(PaneKind::sidebar);
        canvas.fill_rect(full, theme.scrim.faded(q));
        const double dx = -(1 - q) * drawer.width();
        draw_pane(canvas, panes_[idx(PaneKind::sidebar)].get(), drawer, dx);
        canvas.fill_rect({drawer.right + dx - 1, drawer.top, drawer.right + dx, drawer.bottom}, theme.hairline);
        if (drawer_open_) {
            canvas.save();
            canvas.translate(dx, 0);
            draw_menu_button(canvas, theme, l.sidebar_button, hover_menu_);
            canvas.restore();
        }
    }
    if (live && animating()) canvas.request_next_frame();
}

}  // namespace runtime::ui
