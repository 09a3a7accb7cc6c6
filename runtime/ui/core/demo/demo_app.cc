#include "runtime/ui/core/demo/demo_app.h"

#include <cstdio>
#include <fstream>

#include "runtime/ui/core/icon.h"
#include "runtime/ui/core/rich_text.h"
#include "runtime/ui/core/text.h"
#include "runtime/ui/core/theme.h"
#include "runtime/ui/core/widgets/basic.h"
#include "runtime/ui/core/widgets/nav_shell.h"
#include "runtime/ui/core/widgets/text_input.h"
#ifdef ZELK_UI_HAS_WEB
#include "runtime/ui/web/web_view.h"
#endif

namespace runtime::ui::demo {

void DemoLog::add(std::string line) {
    if (!log_file.empty()) {
        std::ofstream out(log_file, std::ios::app);
        out << line << "\n";
    }
    lines.push_back(std::move(line));
}

namespace {

struct Message {
    std::string name;
    std::string address;
    std::string subject;
    std::string body;
    std::string date;
    bool unread;
};

struct DemoState {
    TextRenderer text;
    Theme theme = Theme::dark();
    int folder = 0;
    int selected = -1;
    int hover_row = -1;
    bool toggle = true;
    TextInput search = TextInput::local().with_placeholder("Search");
#ifdef ZELK_UI_HAS_WEB
    std::optional<WebView> web;
    bool web_sent = false;
    bool web_loaded = false;
#endif
    Rect search_rect;
    std::vector<Message> messages = {
        {"Ada Lovelace", "ada@example.org", "Notes on the analytical engine",
         "The engine might compose elaborate pieces of music of any degree of complexity.", "08:30", true},
        {"Grace Hopper", "grace@example.org", "Re: Compiler meeting — Tuesday",
         "It's easier to ask forgiveness than it is to get permission.", "Yesterday", false},
        {"Émile Zola", "emile@example.fr", "J’accuse…! 📎",
         "La vérité est en marche et rien ne l’arrêtera.", "Tue", true},
        {"Linus", "linus@example.com", "Spatial indexes and a very long subject line that will need eliding",
         "Talk is cheap. Show me the code.", "Jun 30", false},
    };
};

constexpr const char* kFolders[] = {"Inbox", "Starred", "Sent", "Drafts", "Archive", "Trash", "Junk"};

class Sidebar : public NavPane {
public:
    explicit Sidebar(std::shared_ptr<DemoState> s) : s_(std::move(s)) {}
    PaneWidths widths() const override { return {200, 248}; }
    void draw(Canvas& c, const Rect& r) override {
        const Theme& t = s_->theme;
        c.fill_rect(r, t.sidebar);
        s_->text.draw_text_weighted(c, "Mail", {r.left + 60, r.top + 19}, 16, weight::semibold, t.text);
        const Rect compose{r.left + 12, r.top + 56, r.right - 12, r.top + 96};
        c.fill_rounded_rect(compose, 10, t.accent);
        const TextMetrics m = s_->text.measure_weighted("Compose", 14, weight::semibold);
        const double x = compose.center().x - (m.width + 24) / 2;
        Icon::draw(c, IconId::compose, Rect::from_xywh(x, compose.center().y - 9, 18, 18), t.on_accent);
        s_->text.draw_text_weighted(c, "Compose", {x + 24, compose.center().y - m.height / 2}, 14, weight::semibold, t.on_accent);
        Avatar::draw_at(c, s_->text, {r.left + 30, r.top + 132}, 14, Avatar::initials_of("", "me@example.org"),
                        Avatar::color_for("me@example.org", 0, t.palette));
        s_->text.draw_text(c, "me@example.org", {r.left + 52, r.top + 124}, 13, t.text);
        for (int i = 0; i < 7; ++i) {
            const Rect row{r.left + 14, r.top + 160 + i * 36.0, r.right - 10, r.top + 196 + i * 36.0};
            if (i == s_->folder) c.fill_rounded_rect(row, 8, t.raised);
            Icon::draw(c, Icon::for_folder_role(i), Rect::from_xywh(row.left + 12, row.center().y - 9, 18, 18),
                       i == s_->folder ? t.accent : t.text_muted);
            s_->text.draw_text_weighted(c, kFolders[i], {row.left + 40, row.center().y - 9}, 13,
                                        i == s_->folder ? weight::semibold : weight::regular, t.text);
            if (i == 0) {
                const double pill_w = std::max(s_->text.measure_weighted("2", 11, weight::semibold).width + 14, 20.0);
                const Rect pill{row.right - 8 - pill_w, row.center().y - 10, row.right - 8, row.center().y + 10};
                c.fill_rounded_rect(pill, 10, t.accent);
                s_->text.draw_text_weighted(c, "2", {pill.left + 7, pill.top + 3}, 11, weight::semibold, t.on_accent);
            }
        }
    }
    bool pointer_down(const PointerEvent& ev, const Rect& r) override {
        for (int i = 0; i < 7; ++i) {
            const Rect row{r.left + 14, r.top + 160 + i * 36.0, r.right - 10, r.top + 196 + i * 36.0};
            if (row.contains(ev.pos)) {
                s_->folder = i;
                request_ = NavRequest::close_sidebar;
                return true;
            }
        }
        return false;
    }
    NavRequest take_request() override { return std::exchange(request_, NavRequest::none); }

private:
    std::shared_ptr<DemoState> s_;
    NavRequest request_ = NavRequest::none;
};

class List : public NavPane {
public:
    List(std::shared_ptr<DemoState> s, const NavShell* shell) : s_(std::move(s)), shell_(shell) {}
    PaneWidths widths() const override { return {280, 360}; }
    void draw(Canvas& c, const Rect& r) override {
        const Theme& t = s_->theme;
        c.fill_rect(r, t.surface);
        const double inset = (!shell_->collapsed() && shell_->sidebar_visible()) ? 20 : 52;
        const Rect field{r.left + inset, r.top + 12, r.right - 16, r.top + 44};
        c.fill_rounded_rect(field, 8, t.raised);
        Icon::draw(c, IconId::search, Rect::from_xywh(field.left + 8, field.center().y - 8, 16, 16), t.text_muted);
        s_->search_rect = {field.left + 30, field.top, field.right - 8, field.bottom};
        s_->search.draw(c, s_->text, t, s_->search_rect);
        const double top = r.top + 56;
        for (std::size_t i = 0; i < s_->messages.size(); ++i) {
            const Message& m = s_->messages[i];
            const Rect row{r.left, top + i * 78.0, r.right, top + (i + 1) * 78.0};
            if (static_cast<int>(i) == s_->selected) {
                c.fill_rect(row, t.raised);
                c.fill_rect({row.left, row.top, row.left + 3, row.bottom}, t.accent);
            } else if (static_cast<int>(i) == s_->hover_row) {
                c.fill_rect(row, Colors::lift(t.surface, 0.03));
            }
            if (m.unread) c.fill_circle({row.left + 10, row.top + 22}, 3.5, t.accent);
            Avatar::draw_at(c, s_->text, {row.left + 38, row.top + 28}, 16, Avatar::initials_of(m.name, m.address),
                            Avatar::color_for(m.address, 0, t.palette));
            const double tx = row.left + 64;
            const double date_w = s_->text.measure(m.date, 11.5).width;
            s_->text.draw_text(c, m.date, {row.right - 14 - date_w, row.top + 12}, 11.5, t.text_muted);
            const std::string name = s_->text.elide_to_width(m.name, row.right - 24 - date_w - tx, 13.5, m.unread ? weight::bold : weight::medium);
            s_->text.draw_text_weighted(c, name, {tx, row.top + 10}, 13.5, m.unread ? weight::bold : weight::medium, t.text);
            s_->text.draw_text_weighted(c, s_->text.elide_to_width(m.subject, row.right - 14 - tx, 12.5, m.unread ? weight::semibold : weight::regular),
                                        {tx, row.top + 30}, 12.5, m.unread ? weight::semibold : weight::regular, t.text);
            s_->text.draw_text(c, s_->text.elide_to_width(m.body, row.right - 14 - tx, 11.5), {tx, row.top + 50}, 11.5, t.text_muted);
            c.fill_rect({row.left + 12, row.bottom - 1, row.right, row.bottom}, t.hairline);
        }
    }
    int row_at(const Rect& r, Point p) const {
        const double top = r.top + 56;
        if (p.y < top) return -1;
        const int i = static_cast<int>((p.y - top) / 78);
        return i < static_cast<int>(s_->messages.size()) ? i : -1;
    }
    bool pointer_down(const PointerEvent& ev, const Rect& r) override {
        if (s_->search.pointer_down(ev, s_->text)) return true;
        s_->search.set_focused(false);
        const int i = row_at(r, ev.pos);
        if (i < 0) return true;
        s_->selected = i;
        s_->messages[static_cast<std::size_t>(i)].unread = false;
        return true;
    }
    bool pointer_move(const PointerEvent& ev, const Rect& r) override {
        if (s_->search.dragging()) return s_->search.pointer_drag(ev.pos, s_->text);
        const int i = row_at(r, ev.pos);
        if (i == s_->hover_row) return false;
        s_->hover_row = i;
        return true;
    }
    bool pointer_up(const PointerEvent&, const Rect&) override {
        s_->search.pointer_up();
        return false;
    }
    bool pointer_leave() override { return std::exchange(s_->hover_row, -1) != -1; }

private:
    std::shared_ptr<DemoState> s_;
    const NavShell* shell_;
};

class Detail : public NavPane {
public:
    Detail(std::shared_ptr<DemoState> s, const NavShell* shell) : s_(std::move(s)), shell_(shell) {}
    PaneWidths widths() const override { return {360, 520}; }
    std::uint64_t content_token() const override { return s_->selected < 0 ? 0 : static_cast<std::uint64_t>(s_->selected) + 1; }
    void navigated_back() override {}
    void draw(Canvas& c, const Rect& r) override {
        const Theme& t = s_->theme;
        c.fill_rect(r, t.background);
        const double inset = shell_->collapsed() && shell_->reader_first() ? 118 : 20;
        static constexpr IconId kButtons[] = {IconId::reply, IconId::archive, IconId::trash, IconId::star, IconId::mark_unread};
        static constexpr const char* kLabels[] = {"Reply", "Archive", "Delete", "Star", "Mark unread"};
        static constexpr double kWidths[] = {78, 88, 78, 64, 104};
        const bool labelled = r.width() >= 480 && !shell_->collapsed();
        double x = r.left + inset;
        for (int i = 0; i < 5; ++i) {
            const double w = labelled ? kWidths[i] : 38;
            const Rect b{x, r.top + 12, x + w, r.top + 44};
            c.stroke_rounded_rect(b, 8, t.hairline);
            const Color col = i == 2 ? t.danger : t.text;
            if (labelled) {
                Icon::draw(c, kButtons[i], Rect::from_xywh(b.left + 10, b.top + 8, 16, 16), col);
                s_->text.draw_text(c, kLabels[i], {b.left + 30, b.top + 9}, 12, col);
            } else {
                Icon::draw(c, kButtons[i], Rect::from_xywh(b.center().x - 8, b.top + 8, 16, 16), col);
            }
            x += w + 8;
        }
        if (s_->selected < 0) {
            const TextMetrics m = s_->text.measure("Select a conversation to read", 14);
            s_->text.draw_text(c, "Select a conversation to read", {r.center().x - m.width / 2, r.center().y - m.height / 2}, 14, t.text_muted);
            return;
        }
        const Message& m = s_->messages[static_cast<std::size_t>(s_->selected)];
        const double L = r.left + 24;
#ifdef ZELK_UI_HAS_WEB
        if (s_->web) {
            // The page sits on this rectangle, over the drawing.
            s_->web->set_viewport({L, r.top + 240, 300, 150, 1.0});
            c.stroke_rect(Rect::from_xywh(L - 2, r.top + 238, 304, 154), t.accent, 2);
            return;
        }
#endif
        const double C = r.width() - 48;
        s_->text.draw_text_weighted(c, s_->text.elide_to_width(m.subject, C, 20, weight::bold), {L, r.top + 64}, 20, weight::bold, t.text);
        s_->text.draw_text(c, "1 message · Inbox", {L, r.top + 94}, 12, t.text_muted);
        c.fill_rect({L, r.top + 120, L + C, r.top + 121}, t.hairline);
        Avatar::draw_at(c, s_->text, {L + 18, r.top + 154}, 17, Avatar::initials_of(m.name, m.address),
                        Avatar::color_for(m.address, 0, t.palette));
        s_->text.draw_text_weighted(c, m.name, {L + 44, r.top + 142}, 13.5, weight::semibold, t.text);
        s_->text.draw_text(c, m.address, {L + 44, r.top + 160}, 11.5, t.text_muted);
        const RichRun runs[] = {{.text = m.body + " "}, {.text = "Bold, ", .bold = true}, {.text = "italic, ", .italic = true},
                                {.text = "a link", .link = true}, {.text = " and emoji 📎🔗 ★."}};
        RichTextOptions o;
        o.size = 13;
        o.wrap_width = C;
        o.color = t.text;
        o.link_color = t.link;
        const RichTextLayout body = s_->text.layout_rich(runs, o);
        s_->text.draw_rich(c, body, {L, r.top + 196});
        double y = r.top + 196 + body.height() + 24;
        // The icon set, outlined and filled.
        double ix = L;
        for (int n = 1; n <= 87; ++n) {
            const auto id = Icon::from_number(n);
            if (!id) continue;
            if (ix + 24 > L + C) {
                ix = L;
                y += 28;
            }
            Icon::draw(c, *id, Rect::from_xywh(ix, y, 20, 20), t.text);
            ix += 26;
        }
        y += 28;
        ix = L;
        for (int n = 1; n <= 87; ++n) {
            const auto id = Icon::from_number(n);
            if (!id) continue;
            if (ix + 24 > L + C) {
                ix = L;
                y += 28;
            }
            Icon::draw_filled(c, *id, Rect::from_xywh(ix, y, 20, 20), t.accent);
            ix += 26;
        }
        y += 36;
        Toggle::draw(c, s_->text, t, Rect::from_xywh(L, y, 120, 24), s_->toggle, "TLS");
        Button::draw(c, s_->text, t, Rect::from_xywh(L + 130, y - 6, 140, 36), "Save & verify", ButtonKind::primary);
        Button::draw(c, s_->text, t, Rect::from_xywh(L + 280, y - 6, 90, 36), "Cancel", ButtonKind::secondary);
    }

private:
    std::shared_ptr<DemoState> s_;
    const NavShell* shell_;
};

class DemoApp : public App {
public:
    DemoApp(std::shared_ptr<DemoLog> log, std::string scene) : log_(std::move(log)), scene_(std::move(scene)) {
        state_ = std::make_shared<DemoState>();
        shell_ = std::make_unique<NavShell>(nullptr, nullptr, nullptr);
        auto sidebar = std::make_shared<Sidebar>(state_);
        auto list = std::make_shared<List>(state_, shell_.get());
        auto detail = std::make_shared<Detail>(state_, shell_.get());
        *shell_ = NavShell(sidebar, list, detail);
        shell_->with_sidebar(true);
        state_->search.set_focused(true);
        if (scene_ != "empty") state_->selected = 0;
        if (scene_ == "narrow_detail") shell_->snap();
        if (scene_ == "narrow_drawer") shell_->snap_sidebar();
#ifdef ZELK_UI_HAS_WEB
        if (scene_ == "web") state_->web.emplace(make_web_engine());
#endif
    }
    bool wants_fast_ticks() const override {
#ifdef ZELK_UI_HAS_WEB
        if (state_->web && !state_->web_loaded) return true;
#endif
        return false;
    }
    void update(Context& ctx) override {
        log_->add("turn");
#ifdef ZELK_UI_HAS_WEB
        if (state_->web) {
            if (!state_->web_sent) {
                state_->web->send(web::LoadHtml{"<html><body style=\"margin:0;background:#ff00ff\"></body></html>"});
                state_->web_sent = true;
            }
            for (const web::Event& e : state_->web->drain_events()) {
                log_->add("web:" + web::describe(e));
                if (std::holds_alternative<web::LoadFinished>(e)) state_->web_loaded = true;
            }
            ctx.request_redraw();
        }
#endif
        if (shell_->sync()) ctx.request_redraw();
        if (state_->search.take_changed()) {
            log_->add("search:" + state_->search.text());
            ctx.request_redraw();
        }
    }
    void resize(Context& ctx, Size size) override {
        state_->text.set_text_scale(ctx.text_scale());
        shell_->set_collapse_width(std::max(860 * ctx.text_scale(), 1.0));
        shell_->layout(Rect::from_size(size));
        ctx.request_redraw();
    }
    void draw(Canvas& canvas, Context& ctx) override {
        state_->text.set_text_scale(ctx.text_scale());
        shell_->layout(Rect::from_size(ctx.window_size()));
        shell_->draw(canvas, state_->text, state_->theme);
        if (!state_->search.text().empty()) {
            toast::paint_transient(canvas, state_->text, state_->theme, ctx.window_size(),
                                   "Typed: " + state_->search.text(), toast::Tone::success);
        } else if (scene_ == "narrow") {
            toast::paint_transient(canvas, state_->text, state_->theme, ctx.window_size(),
                                   "You’re offline · Showing downloaded mail", toast::Tone::warning);
        }
        ctx.set_ime_cursor(state_->search.caret_rect());
    }
    bool key_pressed(Context& ctx, const KeyEvent& ev) override {
        std::string mods = ev.mods.ctrl ? "ctrl+" : "";
        log_->add("key:" + mods + ev.key);
        const KeyResult r = state_->search.handle_key(ev, &ctx.clipboard());
        if (r.handled) ctx.request_redraw();
        if (ev.is("Escape")) {
            if (state_->search.focused()) state_->search.set_focused(false);
            else ctx.quit();
            ctx.request_redraw();
            return true;
        }
        return r.handled;
    }
    void text_input(Context& ctx, std::string_view text) override {
        log_->add("text:" + std::string(text));
        if (state_->search.focused() && state_->search.insert_text(text)) ctx.request_redraw();
    }
    void text_preedit(Context& ctx, std::string_view text, std::size_t cursor) override {
        state_->search.set_preedit(text, cursor);
        ctx.request_redraw();
    }
    void pointer_down(Context& ctx, const PointerEvent& ev) override {
        log_->add("down:" + std::to_string(static_cast<int>(ev.pos.x)) + "," + std::to_string(static_cast<int>(ev.pos.y)));
        if (shell_->pointer_down(ev)) ctx.request_redraw();
    }
    void pointer_up(Context& ctx, const PointerEvent& ev) override {
        log_->add("up:" + std::to_string(static_cast<int>(ev.pos.x)) + "," + std::to_string(static_cast<int>(ev.pos.y)));
        if (shell_->pointer_up(ev)) ctx.request_redraw();
    }
    void pointer_move(Context& ctx, const PointerEvent& ev) override {
        if (shell_->pointer_move(ev)) ctx.request_redraw();
    }
    void pointer_leave(Context& ctx) override {
        if (shell_->pointer_leave()) ctx.request_redraw();
    }
    bool invoke_control(Context& ctx, std::string_view id, const ControlAction&) override {
        log_->add("control:" + std::string(id));
        const bool used = shell_->invoke_control(id);
        if (used) ctx.request_redraw();
        return used;
    }
    void closing(Context&) override { log_->add("closing"); }
    std::optional<a11y::AccessNode> access_tree(Context& ctx) override {
        const Size s = ctx.window_size();
        return a11y::AccessNode(a11y::Role::application, "Demo")
            .with_bounds({0, 0, s.width, s.height})
            .with_child(a11y::AccessNode(a11y::Role::text_field, "Search").with_value(state_->search.text()));
    }

private:
    std::shared_ptr<DemoLog> log_;
    std::string scene_;
    std::shared_ptr<DemoState> state_;
    std::unique_ptr<NavShell> shell_;
};

}  // namespace

std::unique_ptr<App> make_demo_app(std::shared_ptr<DemoLog> log, std::string scene) {
    return std::make_unique<DemoApp>(std::move(log), std::move(scene));
}

}  // namespace runtime::ui::demo
