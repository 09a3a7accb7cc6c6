#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "runtime/ui/core/widgets/basic.h"
#include "runtime/ui/core/widgets/nav_shell.h"

namespace runtime::ui {
namespace {

// A pane that records what reached it.
class Probe : public NavPane {
public:
    Probe(PaneWidths w) : widths_(w) {}
    PaneWidths widths() const override { return widths_; }
    void draw(Canvas&, const Rect& r) override { drawn.push_back(r); }
    bool pointer_down(const PointerEvent& ev, const Rect& r) override {
        downs.push_back({ev.pos, r});
        return true;
    }
    std::uint64_t content_token() const override { return token; }
    NavRequest take_request() override { return std::exchange(request, NavRequest::none); }
    void navigated_back() override { ++backs; }

    PaneWidths widths_;
    std::vector<Rect> drawn;
    std::vector<std::pair<Point, Rect>> downs;
    std::uint64_t token = 0;
    NavRequest request = NavRequest::none;
    int backs = 0;
};

struct Shell {
    std::shared_ptr<Probe> sidebar = std::make_shared<Probe>(PaneWidths{200, 248});
    std::shared_ptr<Probe> list = std::make_shared<Probe>(PaneWidths{280, 360});
    std::shared_ptr<Probe> detail = std::make_shared<Probe>(PaneWidths{360, 520});
    NavShell shell{sidebar, list, detail};
    Shell() { shell.with_sidebar(true); }
};

PointerEvent press(double x, double y) {
    PointerEvent ev;
    ev.pos = {x, y};
    ev.button = PointerButton::primary;
    return ev;
}

TEST(NavShell, WideWindowsPlaceThreeColumns) {
    struct Case {
        double width;
        double sidebar_right;
        double list_right;
    };
    const std::vector<Case> cases = {
        {1280, 248, 608},  // preferred widths, detail takes the rest
        {1000, 248, 608},
        {900, 248, 540},   // the list gives way first, down to its minimum
        {860, 220, 500},   // list at its minimum (280), then the sidebar gives way
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.width);
        Shell s;
        const NavLayout& l = s.shell.layout({0, 0, c.width, 800});
        EXPECT_FALSE(l.collapsed);
        EXPECT_TRUE(l.shows(PaneKind::sidebar) && l.shows(PaneKind::list) && l.shows(PaneKind::detail));
        EXPECT_EQ(l.rect(PaneKind::sidebar), (Rect{0, 0, c.sidebar_right, 800}));
        EXPECT_EQ(l.rect(PaneKind::list), (Rect{c.sidebar_right, 0, c.list_right, 800}));
        EXPECT_EQ(l.rect(PaneKind::detail), (Rect{c.list_right, 0, c.width, 800}));
        EXPECT_EQ(l.sidebar_button, Rect::from_xywh(12, 12, 32, 32));
        EXPECT_TRUE(l.back_button.empty());
    }
}

TEST(NavShell, NarrowWindowShowsOneColumn) {
    Shell s;
    const NavLayout& l = s.shell.layout({0, 0, 560, 860});
    EXPECT_TRUE(l.collapsed);
    EXPECT_FALSE(l.reader_first);
    EXPECT_FALSE(l.shows(PaneKind::sidebar));
    EXPECT_TRUE(l.shows(PaneKind::list));
    EXPECT_FALSE(l.shows(PaneKind::detail));
    EXPECT_EQ(l.rect(PaneKind::list), (Rect{0, 0, 560, 860}));
    EXPECT_EQ(l.sidebar_button, Rect::from_xywh(12, 12, 32, 32));
    EXPECT_TRUE(l.back_button.empty());
    EXPECT_EQ(s.shell.pane_at({300, 300}), PaneKind::list);
}

TEST(NavShell, BreakpointIsTheCollapseWidth) {
    Shell s;
    EXPECT_TRUE(s.shell.layout({0, 0, 859, 600}).collapsed);
    EXPECT_FALSE(s.shell.layout({0, 0, 860, 600}).collapsed);
    // At a text scale of 2 the program asks for a wider breakpoint.
    s.shell.set_collapse_width(1720);
    EXPECT_TRUE(s.shell.layout({0, 0, 1280, 800}).collapsed);
}

TEST(NavShell, SnapShowsTheDetailWithABackControl) {
    Shell s;
    s.shell.snap();  // before the first layout, as a start-up scene does
    const NavLayout& l = s.shell.layout({0, 0, 560, 860});
    EXPECT_TRUE(l.reader_first);
    EXPECT_TRUE(l.shows(PaneKind::detail));
    EXPECT_FALSE(l.shows(PaneKind::list));
    EXPECT_EQ(l.back_button, Rect::from_xywh(12, 12, 94, 32));
    EXPECT_TRUE(l.sidebar_button.empty());
    EXPECT_FALSE(s.shell.animating());

    // The back control returns to the list and tells the detail pane.
    EXPECT_TRUE(s.shell.pointer_down(press(40, 28)));
    EXPECT_FALSE(s.shell.current().reader_first);
    EXPECT_TRUE(s.shell.current().shows(PaneKind::list));
    EXPECT_EQ(s.detail->backs, 1);
    EXPECT_TRUE(s.detail->downs.empty());
}

TEST(NavShell, DrawerOpensOverTheListAndItsScrimClosesIt) {
    Shell s;
    s.shell.snap_sidebar();
    const NavLayout& l = s.shell.layout({0, 0, 560, 860});
    EXPECT_TRUE(l.sidebar_visible);
    EXPECT_EQ(l.rect(PaneKind::sidebar), (Rect{0, 0, 248, 860}));
    EXPECT_EQ(l.scrim, (Rect{248, 0, 560, 860}));
    EXPECT_EQ(s.shell.pane_at({100, 400}), PaneKind::sidebar);
    EXPECT_EQ(s.shell.pane_at({400, 400}), std::nullopt);

    EXPECT_TRUE(s.shell.pointer_down(press(400, 400)));
    EXPECT_FALSE(s.shell.current().sidebar_visible);
    EXPECT_TRUE(s.list->downs.empty());

    // A very narrow window leaves a strip of the list beside the drawer.
    s.shell.snap_sidebar();
    EXPECT_EQ(s.shell.layout({0, 0, 280, 600}).rect(PaneKind::sidebar), (Rect{0, 0, 224, 600}));
}

TEST(NavShell, SidebarButtonTogglesTheColumnOnWideWindows) {
    Shell s;
    s.shell.layout({0, 0, 1280, 800});
    ASSERT_TRUE(s.shell.pointer_down(press(20, 20)));
    const NavLayout& l = s.shell.current();
    EXPECT_FALSE(l.sidebar_visible);
    EXPECT_EQ(l.rect(PaneKind::list), (Rect{0, 0, 360, 800}));
    EXPECT_EQ(l.sidebar_button, Rect::from_xywh(12, 12, 32, 32));  // now over the list
    ASSERT_TRUE(s.shell.pointer_down(press(20, 20)));
    EXPECT_TRUE(s.shell.current().sidebar_visible);
}

TEST(NavShell, PressesReachThePaneUnderThePointerWithItsRectangle) {
    Shell s;
    s.shell.layout({0, 0, 1280, 800});
    s.shell.pointer_down(press(700, 300));
    s.shell.pointer_down(press(300, 300));
    ASSERT_EQ(s.detail->downs.size(), 1u);
    EXPECT_EQ(s.detail->downs[0].second, (Rect{608, 0, 1280, 800}));
    ASSERT_EQ(s.list->downs.size(), 1u);
    EXPECT_EQ(s.list->downs[0].second, (Rect{248, 0, 608, 800}));
}

TEST(NavShell, SyncFollowsTheDetailContent) {
    Shell s;
    s.detail->token = 7;  // something shown at start stays put
    s.shell.layout({0, 0, 560, 860});
    s.shell.sync();
    EXPECT_FALSE(s.shell.reader_first());

    s.detail->token = 8;  // another message opened
    EXPECT_TRUE(s.shell.sync());
    EXPECT_TRUE(s.shell.current().reader_first);
    EXPECT_TRUE(s.shell.animating());

    EXPECT_FALSE(s.shell.sync());  // nothing new

    s.detail->token = 0;  // the message went away
    EXPECT_TRUE(s.shell.sync());
    EXPECT_FALSE(s.shell.current().reader_first);
}

TEST(NavShell, SyncAppliesPaneRequests) {
    Shell s;
    s.shell.layout({0, 0, 560, 860});
    s.list->request = NavRequest::open_sidebar;
    EXPECT_TRUE(s.shell.sync());
    EXPECT_TRUE(s.shell.current().sidebar_visible);
    s.sidebar->request = NavRequest::close_sidebar;  // a folder was chosen
    EXPECT_TRUE(s.shell.sync());
    EXPECT_FALSE(s.shell.current().sidebar_visible);
    s.list->request = NavRequest::show_detail;
    s.shell.sync();
    EXPECT_TRUE(s.shell.current().shows(PaneKind::detail));
}

TEST(NavShell, WideningPutsTheDrawerAway) {
    Shell s;
    s.shell.layout({0, 0, 560, 860});
    s.shell.open_sidebar();
    EXPECT_TRUE(s.shell.current().sidebar_visible);
    s.shell.layout({0, 0, 1280, 860});
    s.shell.layout({0, 0, 560, 860});
    EXPECT_FALSE(s.shell.current().sidebar_visible);
}

TEST(NavShell, ControlsByIdentifier) {
    Shell s;
    s.shell.layout({0, 0, 560, 860});
    EXPECT_FALSE(s.shell.invoke_control("nav.back"));  // nothing to go back from
    s.shell.snap();
    EXPECT_TRUE(s.shell.invoke_control("nav.back"));
    EXPECT_FALSE(s.shell.reader_first());
    EXPECT_TRUE(s.shell.invoke_control("nav.sidebar"));
    EXPECT_TRUE(s.shell.current().sidebar_visible);
    EXPECT_FALSE(s.shell.invoke_control("nav.unknown"));
}

TEST(ModalFrame, FrameIsLimitedByTheWindowAndCentred) {
    struct Case {
        Size window;
        Size desired;
        double margin;
        Rect frame;
    };
    const std::vector<Case> cases = {
        {{300, 200}, {420, 206}, 20, {20, 20, 280, 180}},
        {{1280, 800}, {420, 206}, 20, {430, 297, 850, 503}},
        {{1100, 780}, {660, 500}, 24, {220, 140, 880, 640}},
        {{560, 860}, {660, 500}, 24, {24, 180, 536, 680}},
        {{30, 30}, {660, 500}, 24, {15, 15, 15, 15}},
    };
    for (const auto& c : cases) {
        const ModalLayout l = ModalFrame::layout(c.window, c.desired, c.margin);
        EXPECT_EQ(l.frame, c.frame);
    }
}

TEST(ModalFrame, OnlyPressesOutsideTheFrameDismiss) {
    const ModalLayout l = ModalFrame::layout({1280, 800}, {420, 206}, 20);
    struct Case {
        Point p;
        bool dismisses;
    };
    const std::vector<Case> cases = {
        {{640, 400}, false}, {{430, 297}, false}, {{849.9, 502.9}, false},
        {{850, 400}, true},  {{640, 503}, true},  {{429.9, 400}, true}, {{5, 5}, true},
    };
    for (const auto& c : cases) EXPECT_EQ(l.dismisses(c.p), c.dismisses) << c.p.x << "," << c.p.y;
}

TEST(EmptyState, ButtonHitReturnsTheAction) {
    TextRenderer text;
    EmptyState e{IconId::connect, "Welcome to Mail", "Add your email account to start reading and sending mail.",
                 "Add account", "mail.add-account"};
    const Rect area{0, 0, 1100, 780};
    const EmptyState::Layout l = e.layout(text, area);
    ASSERT_TRUE(l.button.has_value());
    EXPECT_NEAR(l.button->center().x, 550, 0.5);
    EXPECT_GT(l.button->top, l.body.bottom);
    EXPECT_GT(l.body.top, l.title.bottom - 0.5);
    EXPECT_EQ(e.hit(text, area, l.button->center()), std::optional<std::string>("mail.add-account"));
    EXPECT_EQ(e.hit(text, area, l.title.center()), std::nullopt);
    EmptyState quiet{IconId::inbox, "No messages in this folder", "Messages moved here will appear in this list."};
    EXPECT_FALSE(quiet.layout(text, area).button.has_value());
    EXPECT_EQ(quiet.hit(text, area, {550, 400}), std::nullopt);
}

TEST(Tooltip, StaysInsideTheWindowAndFlipsAboveNearTheBottom) {
    TextRenderer text;
    const Size window{400, 300};
    struct Case {
        Rect anchor;
        bool above;
    };
    for (const Case c : {Case{{180, 20, 212, 52}, false}, Case{{0, 0, 20, 20}, false}, Case{{380, 100, 400, 120}, false},
                         Case{{180, 270, 212, 298}, true}}) {
        const Rect r = tooltip::layout(text, window, c.anchor, "Select messages for bulk actions (X)");
        EXPECT_GE(r.left, 0);
        EXPECT_LE(r.right, window.width);
        EXPECT_GE(r.top, 0);
        EXPECT_LE(r.bottom, window.height);
        EXPECT_EQ(r.bottom <= c.anchor.top, c.above);
        if (!c.above) {
            EXPECT_GE(r.top, c.anchor.bottom);
        }
    }
    // Wider than the window: cut to it.
    const Rect wide = tooltip::layout(text, {120, 300}, {10, 10, 30, 30}, "A very long tooltip that cannot fit at all");
    EXPECT_LE(wide.width(), 120 - 8 + 1e-9);
}

TEST(Avatar, InitialsAndColour) {
    struct Case {
        const char* name;
        const char* address;
        const char* initials;
    };
    const std::vector<Case> cases = {
        {"Jean-Luc Picard", "jl@example.org", "JP"},
        {"", "ada.lovelace@example.org", "AL"},
        {"  ", "grace_hopper@example.org", "GH"},
        {"émile zola", "", "ÉZ"},
        {"", "", "?"},
        {"Cher", "cher@example.org", "C"},
    };
    for (const auto& c : cases) EXPECT_EQ(Avatar::initials_of(c.name, c.address), c.initials) << c.name;

    const Theme t = Theme::dark();
    // h = b + h * 31 over the bytes: "ab" from seed 0 is 97 * 31 + 98 = 3105; 3105 mod 6 = 3.
    EXPECT_EQ(Avatar::color_for("ab", 0, t.palette), t.palette[3]);
    // With seed 1: 31 * 31 + 97 * 31 + 98 = 4066; 4066 mod 6 = 4.
    EXPECT_EQ(Avatar::color_for("ab", 1, t.palette), t.palette[4]);
    EXPECT_EQ(Avatar::color_for("x", 0, {}), (Color{0.5, 0.5, 0.5, 1}));
}

}  // namespace
}  // namespace runtime::ui
