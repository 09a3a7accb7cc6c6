#include "pane/panes.h"

#include <gtest/gtest.h>

#include "engine/sample_mailbox.h"

namespace mail::pane {
namespace {

using state::FolderRole;

TEST(Panes, ListEmptyStates) {
    struct Case {
        bool accounts;
        bool messages;
        const char* query;
        bool list_empty;
        const char* title;  // nullptr: no empty state
    };
    const Case cases[] = {
        {true, true, "", false, nullptr},
        {true, true, "zzz", true, "No matching messages"},
        {true, true, "   ", true, "No messages in this folder"},
        {false, true, "", true, "No messages in this folder"},
        {true, false, "", true, "Your inbox is ready"},
        {false, false, "x", true, "Connect your email"},
    };
    for (const Case& c : cases) {
        state::MailState s = state::MailState::with_accounts(
            c.accounts ? engine::sample_accounts() : std::vector<validate::AccountEntry>{}, 0, 0);
        if (c.messages) s.store.upsert(engine::sample_messages()[0]);
        s.search_query = c.query;
        const std::optional<ListEmptyState> e = list_empty_state(s, c.list_empty);
        if (c.title == nullptr) {
            EXPECT_FALSE(e.has_value());
        } else {
            ASSERT_TRUE(e.has_value()) << c.title;
            EXPECT_STREQ(e->title, c.title);
        }
    }
}

std::vector<PaneRegion> of(const std::vector<PaneRegion>& all, RegionKind k) {
    std::vector<PaneRegion> out;
    for (const PaneRegion& r : all) {
        if (r.kind == k) out.push_back(r);
    }
    return out;
}

TEST(Panes, SidebarRowsAndCollapsedAccounts) {
    state::SharedMailState cell = state::make_shared_state(engine::sample_mail_state());
    auto env = std::make_shared<PaneEnv>();
    SidebarPane sidebar(cell, env);
    const Rect r{0, 0, 256, 800};
    sidebar.layout(r);
    std::vector<PaneRegion> rows = of(sidebar.regions(), RegionKind::FolderRow);
    ASSERT_EQ(rows.size(), 14u);
    // Seven rows per account, 36 high, 6 below the 44-high header at 110.
    EXPECT_EQ(rows[0].rect, (Rect{14, 160, 246, 196}));
    EXPECT_EQ(rows[5].role, FolderRole::Junk);
    EXPECT_EQ(rows[6].role, FolderRole::Trash);
    // The second account starts 16 below the first account's last row (412).
    EXPECT_EQ(of(sidebar.regions(), RegionKind::AccountHeader)[1].rect.top, 428);

    cell->borrow_mut()->accounts[0].collapsed = true;
    sidebar.layout(r);
    rows = of(sidebar.regions(), RegionKind::FolderRow);
    ASSERT_EQ(rows.size(), 7u);
    EXPECT_EQ(rows[0].account, 1u);
    EXPECT_EQ(of(sidebar.regions(), RegionKind::AccountHeader)[1].rect.top, 110 + 44 + 16);
    const std::vector<PaneRegion> add = of(sidebar.regions(), RegionKind::AddAccount);
    ASSERT_EQ(add.size(), 1u);
    EXPECT_EQ(add[0].rect.top, rows.back().rect.bottom + 16);
}

TEST(Panes, ListGeometryFollowsTheTextScale) {
    state::SharedMailState cell = state::make_shared_state(engine::sample_mail_state());
    auto env = std::make_shared<PaneEnv>();
    ListPane list(cell, env);
    const Rect r{256, 0, 636, 2000};
    for (double scale : {1.0, 3.0}) {
        env->scale = scale;
        list.layout(r);
        const std::vector<PaneRegion> rows = of(list.regions(), RegionKind::MessageRow);
        ASSERT_FALSE(rows.empty());
        EXPECT_EQ(rows[0].rect.top, 56 * scale);
        EXPECT_EQ(rows[0].rect.height(), 78 * scale);
        const PaneRegion toggle = of(list.regions(), RegionKind::SelectionToggle).at(0);
        EXPECT_EQ(toggle.rect.top, 12 * scale);
        EXPECT_EQ(toggle.rect.bottom, 44 * scale);
    }
    // With the sidebar open on a wide window the band starts 20 in; else 52.
    env->narrow = false;
    env->sidebar_open = true;
    EXPECT_EQ(list.toolbar_inset(), 20);
    env->narrow = true;
    EXPECT_EQ(list.toolbar_inset(), 52);
}

TEST(Panes, ReaderButtonsPlacement) {
    state::SharedMailState cell = state::make_shared_state(engine::sample_mail_state());
    auto env = std::make_shared<PaneEnv>();
    ReaderPane reader(cell, env);
    reader.layout({636, 0, 1280, 800});
    std::vector<PaneRegion> regions = reader.regions();
    ASSERT_EQ(regions.size(), 5u);
    EXPECT_EQ(regions[0].rect, (Rect{656, 12, 734, 44}));
    EXPECT_EQ(regions[4].rect.width(), 104);
    env->narrow = true;
    env->reader_first = true;
    reader.layout({0, 0, 560, 860});
    regions = reader.regions();
    EXPECT_EQ(regions[0].rect.left, 118);
    EXPECT_EQ(regions[0].rect.width(), 38);
    // Selection mode shows no per-message buttons.
    cell->borrow_mut()->set_bulk_mode(true);
    reader.layout({0, 0, 560, 860});
    EXPECT_TRUE(reader.regions().empty());
}

}  // namespace
}  // namespace mail::pane
