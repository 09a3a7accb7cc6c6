// The three panes of the navigation shell — folder sidebar, message list and
// reading pane — drawn from the shared mail state. Each pane rebuilds its
// list of control regions before drawing; clicks use that list.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "runtime/ui/core/canvas.h"
#include "runtime/ui/core/geometry.h"
#include "runtime/ui/core/icon.h"
#include "runtime/ui/core/text.h"
#include "runtime/ui/core/theme.h"
#include "runtime/ui/core/widgets/nav_shell.h"
#include "state/mail_state.h"

namespace mail::pane {

// The first line of a body that is not blank, trimmed, with runs of white
// space collapsed to one space (list previews, reply quotes).
std::string excerpt(std::string_view body);

using runtime::ui::Point;
using runtime::ui::Rect;

// What the panes share with the application besides the mail state.
struct PaneEnv {
    runtime::ui::TextRenderer text;
    runtime::ui::Theme theme = runtime::ui::Theme::dark();
    // The text scale clamped to 0.5..4; list and reading-pane geometry grows
    // with it.
    double scale = 1;
    // Layout flags, recomputed after every layout.
    bool narrow = false;
    bool reader_first = false;
    bool sidebar_open = false;
};

enum class RegionKind : std::uint8_t {
    Compose = 0,
    AccountHeader = 1,
    AccountChevron = 2,
    AccountSettings = 3,
    AddAccount = 4,
    FolderRow = 5,
    MessageRow = 6,
    RowStar = 7,
    SearchField = 8,
    ClearSearch = 9,
    Refresh = 10,
    SelectionToggle = 11,
    SelectAll = 12,
    BulkAction = 13,
    Reply = 14,
    Archive = 15,
    Delete = 16,
    Star = 17,
    MarkUnread = 18,
};

struct PaneRegion {
    RegionKind kind;
    Rect rect;
    std::size_t account = 0;
    state::FolderRole role = state::FolderRole::Inbox;
    std::optional<state::MessageId> message;
    state::BulkActionKind bulk = state::BulkActionKind::Archive;
};

// Folder order in the sidebar.
inline constexpr state::FolderRole kSidebarFolders[] = {
    state::FolderRole::Inbox,   state::FolderRole::Starred, state::FolderRole::Sent,  state::FolderRole::Drafts,
    state::FolderRole::Archive, state::FolderRole::Junk,    state::FolderRole::Trash,
};

class MailPane : public runtime::ui::NavPane {
public:
    MailPane(state::SharedMailState state, std::shared_ptr<PaneEnv> env)
        : state_(std::move(state)), env_(std::move(env)) {}
    const std::vector<PaneRegion>& regions() const { return regions_; }
    runtime::ui::NavRequest take_request() override { return std::exchange(request_, runtime::ui::NavRequest::none); }

protected:
    const PaneRegion* region_at(Point p) const;
    state::SharedMailState state_;
    std::shared_ptr<PaneEnv> env_;
    std::vector<PaneRegion> regions_;
    runtime::ui::NavRequest request_ = runtime::ui::NavRequest::none;
};

class SidebarPane : public MailPane {
public:
    using MailPane::MailPane;
    runtime::ui::PaneWidths widths() const override { return {220, 256}; }
    void layout(const Rect& r);
    void draw(runtime::ui::Canvas& canvas, const Rect& r) override;
    bool pointer_down(const runtime::ui::PointerEvent& ev, const Rect& r) override;
};

class ListPane : public MailPane {
public:
    using MailPane::MailPane;
    runtime::ui::PaneWidths widths() const override { return {300, 380}; }
    void layout(const Rect& r);
    void draw(runtime::ui::Canvas& canvas, const Rect& r) override;
    bool pointer_down(const runtime::ui::PointerEvent& ev, const Rect& r) override;
    // The left inset of the toolbar band.
    double toolbar_inset() const;
};

class ReaderPane : public MailPane {
public:
    using MailPane::MailPane;
    runtime::ui::PaneWidths widths() const override { return {360, 640}; }
    void layout(const Rect& r);
    void draw(runtime::ui::Canvas& canvas, const Rect& r) override;
    bool pointer_down(const runtime::ui::PointerEvent& ev, const Rect& r) override;
    std::uint64_t content_token() const override;
};

// The message list's empty state for the state as it is (title and text),
// or nothing when the list shows messages.
struct ListEmptyState {
    runtime::ui::IconId icon;
    const char* title;
    const char* body;
};
std::optional<ListEmptyState> list_empty_state(const state::MailState& s, bool list_empty);

}  // namespace mail::pane
