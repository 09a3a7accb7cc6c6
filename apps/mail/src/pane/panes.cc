#include "pane/panes.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <unordered_map>

#include "draw/format.h"
#include "runtime/ui/core/icon.h"
#include "runtime/ui/core/widgets/basic.h"
#include "state/text_rules.h"

namespace mail::pane {

using runtime::ui::Avatar;
using runtime::ui::Canvas;
using runtime::ui::Color;
using runtime::ui::Colors;
using runtime::ui::Icon;
using runtime::ui::IconId;
using runtime::ui::NavRequest;
using runtime::ui::PointerButton;
using runtime::ui::PointerEvent;
using runtime::ui::TextRenderer;
using runtime::ui::TextStyle;
using runtime::ui::Theme;
namespace weight = runtime::ui::weight;
using state::FolderRole;
using state::MailMessage;
using state::MailState;

namespace {


std::string sender_name(const MailMessage& m) { return m.from.name.empty() ? m.from.address : m.from.name; }

void draw_avatar(Canvas& c, const PaneEnv& env, const state::MailAddress& who, Point center, double radius,
                 std::uint32_t seed = 0) {
    Avatar::draw_at(c, env.text, center, radius, draw::initials(who.name, who.address),
                    draw::avatar_color(state::trim_white_space(who.address), seed, env.theme));
}

std::string recipients_text(const std::vector<state::MailAddress>& list) {
    std::string out;
    for (const state::MailAddress& a : list) {
        if (!out.empty()) out += ", ";
        out += a.name.empty() ? a.address : a.name + " <" + a.address + ">";
    }
    return out;
}

std::string size_text(std::uint64_t bytes) {
    char buf[32];
    if (bytes >= 1024 * 1024) std::snprintf(buf, sizeof buf, "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    else if (bytes >= 1024) std::snprintf(buf, sizeof buf, "%.0f KB", static_cast<double>(bytes) / 1024.0);
    else std::snprintf(buf, sizeof buf, "%llu B", static_cast<unsigned long long>(bytes));
    return buf;
}

// Text drawn vertically centred on `cy`.
void text_mid(const PaneEnv& env, Canvas& c, std::string_view t, double x, double cy, double size, int w, Color col) {
    const double h = env.text.line_height(size, w);
    env.text.draw_text_weighted(c, t, {x, cy - h / 2}, size, w, col);
}

}  // namespace

// The first line of the body that is not blank, trimmed, with runs of white
// space collapsed to one space.
std::string excerpt(std::string_view body) {
    std::size_t start = 0;
    while (start <= body.size()) {
        std::size_t end = body.find('\n', start);
        if (end == std::string_view::npos) end = body.size();
        const std::string line = state::trim_white_space(body.substr(start, end - start));
        if (!line.empty()) {
            std::string out;
            bool space = false;
            for (char c : line) {
                const bool ws = c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
                if (ws) {
                    space = true;
                    continue;
                }
                if (space && !out.empty()) out += ' ';
                space = false;
                out += c;
            }
            return out;
        }
        start = end + 1;
    }
    return {};
}

std::optional<ListEmptyState> list_empty_state(const MailState& s, bool list_empty) {
    if (!list_empty) return std::nullopt;
    if (!s.store.empty()) {
        if (!state::trim_white_space(s.search_query).empty()) {
            return ListEmptyState{IconId::search, "No matching messages", "Try another sender, subject, or keyword."};
        }
        return ListEmptyState{IconId::inbox, "No messages in this folder",
                              "Messages moved here will appear in this list."};
    }
    if (!s.accounts.empty()) {
        return ListEmptyState{IconId::inbox, "Your inbox is ready", "New messages will appear here after the next sync."};
    }
    return ListEmptyState{IconId::connect, "Connect your email",
                          "Use Add account in the sidebar to start sending and receiving messages."};
}

const PaneRegion* MailPane::region_at(Point p) const {
    // The last region containing the point wins (the chevron lies on the
    // account row).
    for (auto it = regions_.rbegin(); it != regions_.rend(); ++it) {
        if (it->rect.contains(p)) return &*it;
    }
    return nullptr;
}

// ---------------------------------------------------------------------------
// Sidebar

void SidebarPane::layout(const Rect& r) {
    regions_.clear();
    auto s = state_->borrow();
    regions_.push_back({RegionKind::Compose, {r.left + 12, r.top + 56, r.right - 12, r.top + 96}});
    double y = r.top + 110;
    for (std::size_t i = 0; i < s->accounts.size(); ++i) {
        const Rect header{r.left + 8, y, r.right - 8, y + 44};
        regions_.push_back({RegionKind::AccountHeader, header, i});
        regions_.push_back({RegionKind::AccountChevron, {header.left, header.top, header.left + 28, header.bottom}, i});
        const double cy = header.center().y;
        regions_.push_back({RegionKind::AccountSettings, {r.right - 44, cy - 15, r.right - 14, cy + 15}, i});
        double bottom = header.bottom;
        if (!s->accounts[i].collapsed) {
            double row_top = header.bottom + 6;
            for (FolderRole role : kSidebarFolders) {
                regions_.push_back({RegionKind::FolderRow, {r.left + 14, row_top, r.right - 10, row_top + 36}, i, role});
                row_top += 36;
            }
            bottom = row_top;
        }
        y = bottom + 16;
    }
    regions_.push_back({RegionKind::AddAccount, {r.left + 8, y, r.right - 8, y + 38}});
}

void SidebarPane::draw(Canvas& c, const Rect& r) {
    layout(r);
    const PaneEnv& env = *env_;
    const Theme& t = env.theme;
    auto s = state_->borrow();
    c.fill_rect(r, t.sidebar);
    env.text.draw_text_weighted(c, "Mail", {r.left + 60, r.top + 19}, 16, weight::semibold, t.text);
    for (const PaneRegion& reg : regions_) {
        const Rect& b = reg.rect;
        switch (reg.kind) {
            case RegionKind::Compose: {
                c.fill_rounded_rect(b, 10, t.accent);
                const double w = env.text.measure_weighted("Compose", 14, weight::semibold).width;
                const double x = b.center().x - (w + 26) / 2;
                Icon::draw(c, IconId::compose, Rect::from_xywh(x, b.center().y - 9, 18, 18), t.on_accent);
                text_mid(env, c, "Compose", x + 26, b.center().y, 14, weight::semibold, t.on_accent);
                break;
            }
            case RegionKind::AccountHeader: {
                const validate::AccountEntry& a = s->accounts[reg.account];
                const bool active = reg.account == s->active;
                Icon::draw(c, a.collapsed ? IconId::chevron_right : IconId::chevron_down,
                           Rect::from_xywh(b.left + 6, b.center().y - 8, 16, 16), t.text_muted);
                const state::MailAddress who{a.config.display_name, a.config.email};
                draw_avatar(c, env, who, {b.left + 44, b.center().y}, 14, a.colour);
                const std::string label = env.text.elide_to_width(validate::account_label(a.config),
                                                                  b.right - 40 - (b.left + 66), 13,
                                                                  active ? weight::semibold : weight::regular);
                text_mid(env, c, label, b.left + 66, b.center().y, 13, active ? weight::semibold : weight::regular,
                         t.text);
                break;
            }
            case RegionKind::AccountSettings:
                Icon::draw(c, IconId::settings, Rect::from_xywh(b.center().x - 8, b.center().y - 8, 16, 16),
                           t.text_muted);
                break;
            case RegionKind::FolderRow: {
                const bool active = reg.account == s->active;
                const bool current = active && reg.role == s->folder;
                if (current) c.fill_rounded_rect(b, 8, t.raised);
                Icon::draw(c, Icon::for_folder_role(static_cast<int>(reg.role)),
                           Rect::from_xywh(b.left + 12, b.center().y - 9, 18, 18), current ? t.accent : t.text_muted);
                const std::string name = env.text.elide_to_width(state::folder_role_display_name(reg.role), 120, 13,
                                                                 current ? weight::semibold : weight::regular);
                text_mid(env, c, name, b.left + 40, b.center().y, 13, current ? weight::semibold : weight::regular,
                         t.text);
                const std::size_t unread = active ? s->unread_count(reg.role) : 0;
                if (unread != 0) {
                    const std::string n = std::to_string(unread);
                    const double w = std::max(env.text.measure_weighted(n, 11, weight::semibold).width + 14, 20.0);
                    const Rect pill{b.right - 8 - w, b.center().y - 10, b.right - 8, b.center().y + 10};
                    c.fill_rounded_rect(pill, 10, current ? t.accent : Colors::lift(t.raised, 0.08));
                    const double tw = env.text.measure_weighted(n, 11, weight::semibold).width;
                    text_mid(env, c, n, pill.center().x - tw / 2, pill.center().y, 11, weight::semibold,
                             current ? t.on_accent : t.text);
                }
                break;
            }
            case RegionKind::AddAccount:
                Icon::draw(c, IconId::plus, Rect::from_xywh(b.left + 10, b.center().y - 9, 18, 18), t.text_muted);
                text_mid(env, c, "Add account", b.left + 38, b.center().y, 13, weight::regular, t.text_muted);
                break;
            default:
                break;
        }
    }
}

bool SidebarPane::pointer_down(const PointerEvent& ev, const Rect& r) {
    if (ev.button != PointerButton::primary) return false;
    layout(r);
    const PaneRegion* reg = region_at(ev.pos);
    if (reg == nullptr) return false;
    auto s = state_->borrow_mut();
    switch (reg->kind) {
        case RegionKind::FolderRow:
            s->active = reg->account;
            s->show_folder(reg->role);
            request_ = NavRequest::close_sidebar;
            return true;
        case RegionKind::AccountChevron:
            s->accounts[reg->account].collapsed = !s->accounts[reg->account].collapsed;
            s->changed = true;
            return true;
        default:
            return false;
    }
}

// ---------------------------------------------------------------------------
// Message list

double ListPane::toolbar_inset() const {
    if (!env_->narrow && env_->sidebar_open) return 20;
    return 52;
}

void ListPane::layout(const Rect& r) {
    regions_.clear();
    const double s = env_->scale;
    const double inset = toolbar_inset();
    const double band_top = r.top + 12 * s;
    const double band_bottom = r.top + 44 * s;
    auto st = state_->borrow();
    regions_.push_back({RegionKind::Refresh, {r.right - 48 * s, band_top, r.right - 16 * s, band_bottom}});
    regions_.push_back({RegionKind::SelectionToggle,
                        {r.left + inset * s, band_top, r.left + inset * s + 32 * s, band_bottom}});
    if (!st->bulk_mode) {
        const double w = r.width();
        const bool small = s > 1 && w < 600;
        const double width = small ? std::clamp(w * 0.46, 160.0, 200.0) : std::clamp(w * 0.46, 140 * s, 230 * s);
        const double right = r.right - 48 * s - 10;
        const double min_left = small ? r.left + 20 + inset * s : r.left + 70 * s + inset * s;
        const Rect field{std::max(right - width, min_left), band_top, right, band_bottom};
        regions_.push_back({RegionKind::SearchField, field});
        if (!st->search_query.empty()) {
            regions_.push_back({RegionKind::ClearSearch, {field.right - 26, field.top, field.right, field.bottom}});
        }
    } else {
        const double top = r.top + 62 * s;
        const double left = r.left + 14 * s;
        const double right = r.right - 14 * s;
        const double mid = (left + right) / 2;
        const double h = 38 * s;
        const double gap = 7 * s;
        const double col = 4 * s;
        regions_.push_back({RegionKind::SelectAll, {left, top, mid - col, top + h}});
        PaneRegion archive{RegionKind::BulkAction, {mid + col, top, right, top + h}};
        archive.bulk = state::BulkActionKind::Archive;
        regions_.push_back(archive);
        PaneRegion read{RegionKind::BulkAction, {left, top + h + gap, mid - col, top + 2 * h + gap}};
        read.bulk = state::BulkActionKind::MarkRead;
        regions_.push_back(read);
        PaneRegion unread{RegionKind::BulkAction, {mid + col, top + h + gap, right, top + 2 * h + gap}};
        unread.bulk = state::BulkActionKind::MarkUnread;
        regions_.push_back(unread);
        PaneRegion trash{RegionKind::BulkAction, {left, top + 2 * (h + gap), right, top + 3 * h + 2 * gap}};
        trash.bulk = st->selection_all_in_trash() ? state::BulkActionKind::DeletePermanently
                                                  : state::BulkActionKind::MoveToTrash;
        regions_.push_back(trash);
    }
    const double rows_top = r.top + (st->bulk_mode ? 196 : 56) * s;
    const double row_h = 78 * s;
    double y = rows_top;
    for (const state::ListItem& item : st->visible_list()) {
        if (y >= r.bottom) break;
        PaneRegion row{RegionKind::MessageRow, {r.left, y, r.right, y + row_h}};
        row.message = item.id;
        regions_.push_back(row);
        if (!st->bulk_mode) {
            PaneRegion star{RegionKind::RowStar, {r.right - 36 * s, y + 8 * s, r.right - 12 * s, y + 32 * s}};
            star.message = item.id;
            regions_.push_back(star);
        }
        y += row_h;
    }
}

namespace {

const char* bulk_label(state::BulkActionKind k) {
    switch (k) {
        case state::BulkActionKind::Archive:
            return "Archive";
        case state::BulkActionKind::MoveToTrash:
            return "Move to Trash";
        case state::BulkActionKind::DeletePermanently:
            return "Delete permanently";
        case state::BulkActionKind::MarkRead:
            return "Mark read";
        case state::BulkActionKind::MarkUnread:
            return "Mark unread";
    }
    return "";
}

}  // namespace

void ListPane::draw(Canvas& c, const Rect& r) {
    layout(r);
    const PaneEnv& env = *env_;
    const Theme& t = env.theme;
    const double s = env.scale;
    auto st = state_->borrow();
    c.fill_rect(r, t.surface);

    const std::vector<state::ListItem> items = st->visible_list();
    std::unordered_map<state::MessageId, std::size_t> sizes;
    for (const state::ListItem& i : items) sizes[i.id] = i.size;

    const PaneRegion* toggle = nullptr;
    const PaneRegion* field = nullptr;
    for (const PaneRegion& reg : regions_) {
        const Rect& b = reg.rect;
        switch (reg.kind) {
            case RegionKind::Refresh:
                Icon::draw(c, IconId::refresh, b.inset(7 * s), t.text_muted);
                break;
            case RegionKind::SelectionToggle:
                toggle = &reg;
                if (st->bulk_mode) c.fill_rounded_rect(b, 8, t.accent.faded(0.25));
                Icon::draw(c, IconId::select, b.inset(7 * s), st->bulk_mode ? t.accent : t.text_muted);
                break;
            case RegionKind::SearchField: {
                field = &reg;
                c.fill_rounded_rect(b, 8, t.raised);
                Icon::draw(c, IconId::search, Rect::from_xywh(b.left + 8, b.center().y - 8, 16, 16), t.text_muted);
                const double right = b.right - 26;
                if (st->search_query.empty()) {
                    text_mid(env, c, "Search", b.left + 30, b.center().y, 13, weight::regular, t.text_faint);
                } else {
                    const std::string q = env.text.elide_to_width(st->search_query, right - (b.left + 30), 13);
                    text_mid(env, c, q, b.left + 30, b.center().y, 13, weight::regular, t.text);
                }
                break;
            }
            case RegionKind::ClearSearch:
                Icon::draw(c, IconId::close, Rect::from_xywh(b.center().x - 7, b.center().y - 7, 14, 14), t.text_muted);
                break;
            case RegionKind::SelectAll:
                runtime::ui::Button::draw(c, env.text, t, b, "Select all", runtime::ui::ButtonKind::secondary, {},
                                          IconId::select, 12.5);
                break;
            case RegionKind::BulkAction: {
                const bool danger = reg.bulk == state::BulkActionKind::DeletePermanently;
                runtime::ui::Button::draw(c, env.text, t, b, bulk_label(reg.bulk),
                                          danger ? runtime::ui::ButtonKind::destructive
                                                 : runtime::ui::ButtonKind::secondary,
                                          {}, std::nullopt, 12.5);
                break;
            }
            case RegionKind::MessageRow: {
                const MailMessage* m = st->store.get(*reg.message);
                if (m == nullptr) break;
                const bool shown = !st->bulk_mode && st->selected == m->id;
                if (shown) {
                    c.fill_rect(b, t.accent.faded(0.14));
                    c.fill_rect({b.left, b.top, b.left + 3, b.bottom}, t.accent);
                }
                c.line({b.left + 12, b.bottom - 0.5}, {b.right, b.bottom - 0.5}, t.hairline);
                const double lx = b.left;
                if (st->bulk_mode) {
                    const bool on = st->is_bulk_selected(m->id);
                    const Point cc{lx + 14 * s, b.top + 26 * s};
                    if (on) {
                        c.fill_circle(cc, 8 * s, t.accent);
                        Icon::draw(c, IconId::check, Rect::from_xywh(cc.x - 6 * s, cc.y - 6 * s, 12 * s, 12 * s),
                                   t.on_accent, 2);
                    } else {
                        c.stroke_circle(cc, 8 * s, t.text_muted, 1.5);
                    }
                } else if (!m->read) {
                    c.fill_circle({lx + 12 * s, b.top + 26 * s}, 4 * s, t.accent);
                }
                draw_avatar(c, env, m->from, {lx + 44 * s, b.top + 26 * s}, 16 * s);
                const double text_left = lx + 70 * s;
                const std::string date = draw::list_time_label(m->date, st->now_minute);
                const double date_w = env.text.measure(date, 11.5).width;
                const double date_right = b.right - (st->bulk_mode ? 14 : 42) * s;
                env.text.draw_text(c, date, {date_right - date_w, b.top + 11 * s}, 11.5,
                                   m->read ? t.text_muted : t.text);
                const int name_w = m->read ? weight::medium : weight::bold;
                const std::string name =
                    env.text.elide_to_width(sender_name(*m), date_right - date_w - 8 - text_left, 13.5, name_w);
                env.text.draw_text_weighted(c, name, {text_left, b.top + 8 * s}, 13.5, name_w, t.text);

                const std::size_t size = sizes.count(m->id) ? sizes[m->id] : 1;
                double chip_w = 0;
                std::string chip;
                if (size >= 2) {
                    chip = std::to_string(size);
                    chip_w = std::max(env.text.measure_weighted(chip, 10.5, weight::semibold).width + 12, 20.0);
                }
                const double subject_right = b.right - 14 * s - (chip_w > 0 ? chip_w + 6 : 0);
                const std::string subject_text = m->subject.empty() ? std::string(state::kNoSubject) : m->subject;
                const int subj_w = m->read ? weight::regular : weight::semibold;
                const std::string subject =
                    env.text.elide_to_width(subject_text, subject_right - text_left, 12.5, subj_w);
                env.text.draw_text_weighted(c, subject, {text_left, b.top + 30 * s}, 12.5, subj_w, t.text);
                if (chip_w > 0) {
                    const double sw = env.text.measure_weighted(subject, 12.5, subj_w).width;
                    const Rect chip_rect{text_left + sw + 6, b.top + 31 * s, text_left + sw + 6 + chip_w,
                                         b.top + 31 * s + env.text.line_height(10.5) + 2};
                    c.fill_rounded_rect(chip_rect, chip_rect.height() / 2, t.raised);
                    const double cw = env.text.measure_weighted(chip, 10.5, weight::semibold).width;
                    text_mid(env, c, chip, chip_rect.center().x - cw / 2, chip_rect.center().y, 10.5, weight::semibold,
                             t.text_muted);
                }
                const double attach_room = m->attachments.empty() ? 0 : 22 * s;
                const std::string ex =
                    env.text.elide_to_width(excerpt(m->body), b.right - 14 * s - attach_room - text_left, 11.5);
                env.text.draw_text(c, ex, {text_left, b.top + 51 * s}, 11.5, t.text_muted);
                if (!m->attachments.empty()) {
                    Icon::draw(c, IconId::attach, Rect::from_xywh(b.right - 14 * s - 16 * s, b.top + 52 * s, 14 * s, 14 * s),
                               t.text_muted);
                }
                break;
            }
            case RegionKind::RowStar: {
                const MailMessage* m = st->store.get(*reg.message);
                if (m == nullptr) break;
                if (m->starred) Icon::draw_filled(c, IconId::star, b.inset(4 * s), t.warning);
                else Icon::draw(c, IconId::star, b.inset(4 * s), t.text_faint);
                break;
            }
            default:
                break;
        }
    }

    // Header: the folder's name (or "Selected") with its count.
    if (toggle != nullptr) {
        const double left = toggle->rect.right + 10 * s;
        const double right = field != nullptr ? field->rect.left - 10 : r.right - 58 * s;
        const double cy = (r.top + 12 * s + r.top + 44 * s) / 2;
        const std::string title = st->bulk_mode ? "Selected" : std::string(state::folder_role_display_name(st->folder));
        const std::string shown = env.text.elide_to_width(title, right - left, 18, weight::bold);
        text_mid(env, c, shown, left, cy, 18, weight::bold, t.text);
        const std::size_t count = st->bulk_mode ? st->bulk.size() : st->store.messages_in(st->folder).size();
        const std::string n = std::to_string(count);
        const double tw = env.text.measure_weighted(shown, 18, weight::bold).width;
        const double cw = std::max(env.text.measure_weighted(n, 11, weight::semibold).width + 14, 22.0);
        if (shown == title && left + tw + 8 + cw <= right) {
            const Rect chip{left + tw + 8, cy - 10, left + tw + 8 + cw, cy + 10};
            c.fill_rounded_rect(chip, 10, t.raised);
            const double nw = env.text.measure_weighted(n, 11, weight::semibold).width;
            text_mid(env, c, n, chip.center().x - nw / 2, chip.center().y, 11, weight::semibold, t.text_muted);
        }
    }

    if (const std::optional<ListEmptyState> empty = list_empty_state(*st, items.empty())) {
        runtime::ui::EmptyState es;
        es.icon = empty->icon;
        es.title = empty->title;
        es.body = empty->body;
        const Rect area{r.left, r.top + (st->bulk_mode ? 196 : 56) * s, r.right, r.bottom};
        es.draw(c, env.text, t, area);
    }
}

bool ListPane::pointer_down(const PointerEvent& ev, const Rect& r) {
    if (ev.button != PointerButton::primary) return false;
    layout(r);
    const PaneRegion* reg = region_at(ev.pos);
    if (reg == nullptr) return false;
    auto st = state_->borrow_mut();
    switch (reg->kind) {
        case RegionKind::MessageRow:
            if (st->bulk_mode) st->toggle_bulk(*reg->message);
            else st->open_message(*reg->message);
            return true;
        case RegionKind::RowStar: {
            const MailMessage* m = st->store.get(*reg->message);
            if (m != nullptr) st->set_starred(m->id, !m->starred);
            return true;
        }
        case RegionKind::SelectionToggle:
            st->set_bulk_mode(!st->bulk_mode);
            return true;
        case RegionKind::ClearSearch:
            st->set_search_query({});
            return true;
        case RegionKind::Refresh:
            st->show_folder(st->folder);
            st->set_status("Syncing " + std::string(state::folder_role_display_name(st->folder)) + "…");
            return true;
        case RegionKind::SelectAll:
            st->select_all_visible();
            return true;
        case RegionKind::BulkAction: {
            if (reg->bulk == state::BulkActionKind::DeletePermanently) {
                st->request_purge();
                return true;
            }
            const std::size_t n = st->apply_bulk(reg->bulk);
            if (n > 0) st->set_status(std::string(bulk_label(reg->bulk)) + " " + state::count_messages(n));
            return true;
        }
        default:
            return false;
    }
}

// ---------------------------------------------------------------------------
// Reading pane

namespace {

struct ReaderButton {
    RegionKind kind;
    IconId icon;
    const char* label;
    double width;
};

}  // namespace

void ReaderPane::layout(const Rect& r) {
    regions_.clear();
    auto st = state_->borrow();
    if (st->shown_message() == nullptr) return;
    const double s = env_->scale;
    const bool wide_buttons = r.width() >= 480 && !env_->narrow;
    const ReaderButton buttons[] = {
        {RegionKind::Reply, IconId::reply, "Reply", 78},
        {RegionKind::Archive, IconId::archive, "Archive", 88},
        {RegionKind::Delete, IconId::trash, "Delete", 78},
        {RegionKind::Star, IconId::star, "Star", 64},
        {RegionKind::MarkUnread, IconId::mark_unread, "Mark unread", 104},
    };
    double x = r.left + (env_->narrow && env_->reader_first ? 118 : 20);
    const double top = r.top + (s > 1.25 ? 68 : 12);
    for (const ReaderButton& b : buttons) {
        const double w = wide_buttons ? b.width : 38;
        regions_.push_back({b.kind, {x, top, x + w, top + 32}});
        x += w + 8;
    }
}

void ReaderPane::draw(Canvas& c, const Rect& r) {
    layout(r);
    const PaneEnv& env = *env_;
    const Theme& t = env.theme;
    const double s = env.scale;
    auto st = state_->borrow();
    c.fill_rect(r, t.background);

    if (st->bulk_mode) {
        const std::string title = state::count_messages(st->bulk.size()) + " selected";
        const double wrap = std::max(r.width() - 80, 100.0);
        TextStyle ts;
        ts.size = 20;
        ts.weight = weight::bold;
        ts.color = t.text;
        ts.wrap_width = wrap;
        ts.align = runtime::ui::TextAlign::center;
        const double cy = r.center().y;
        env.text.draw_text_styled(c, title, {r.center().x - wrap / 2, cy - 40}, ts);
        ts.size = 13;
        ts.weight = weight::regular;
        ts.color = t.text_muted;
        env.text.draw_text_styled(
            c, "Choose a batch action in the message list. Individual message actions are paused while selecting.",
            {r.center().x - wrap / 2, cy}, ts);
        return;
    }

    const MailMessage* m = st->shown_message();
    if (m == nullptr) {
        const char* text = "Select a conversation to read";
        const double w = env.text.measure(text, 14).width;
        text_mid(env, c, text, r.center().x - w / 2, r.center().y, 14, weight::regular, t.text_muted);
        return;
    }

    for (const PaneRegion& reg : regions_) {
        const Rect& b = reg.rect;
        const bool labelled = b.width() > 38 && s <= 1.25;
        c.stroke_rounded_rect(b, 8, t.hairline);
        IconId icon = IconId::reply;
        std::string label;
        Color color = t.text;
        bool filled = false;
        switch (reg.kind) {
            case RegionKind::Reply:
                icon = IconId::reply;
                label = "Reply";
                break;
            case RegionKind::Archive:
                icon = IconId::archive;
                label = "Archive";
                break;
            case RegionKind::Delete:
                icon = IconId::trash;
                label = "Delete";
                color = t.danger;
                break;
            case RegionKind::Star:
                icon = IconId::star;
                label = m->starred ? "Starred" : "Star";
                if (m->starred) {
                    color = t.accent;
                    filled = true;
                }
                break;
            case RegionKind::MarkUnread:
                icon = IconId::mark_unread;
                label = "Mark unread";
                break;
            default:
                break;
        }
        const Rect icon_box = labelled ? Rect::from_xywh(b.left + 10, b.top + 8, 16, 16)
                                       : Rect::from_xywh(b.center().x - 8, b.top + 8, 16, 16);
        if (filled) Icon::draw_filled(c, icon, icon_box, color);
        else Icon::draw(c, icon, icon_box, color);
        if (labelled) env.text.draw_text(c, label, {b.left + 30, b.top + 9}, 12, color);
    }

    // The message: subject, sender, recipients, date, attachments, body.
    const double left = r.left + 28 * std::min(s, 1.5);
    const double right = r.right - 28;
    const double width = std::max(right - left, 50.0);
    double y = (regions_.empty() ? r.top + 20 : regions_.front().rect.bottom) + 24;
    c.push_clip(r);
    TextStyle subject;
    subject.size = 20;
    subject.weight = weight::bold;
    subject.color = t.text;
    subject.wrap_width = width;
    subject.max_lines = 3;
    subject.max_width = width;
    const std::string subject_text = m->subject.empty() ? std::string(state::kNoSubject) : m->subject;
    y += env.text.draw_text_styled(c, subject_text, {left, y}, subject).height + 16;

    const double av = 20 * s;
    draw_avatar(c, env, m->from, {left + av, y + av}, av);
    const double info_left = left + 2 * av + 12;
    const std::string date = draw::long_date_time(m->date);
    const double date_w = env.text.measure(date, 12).width;
    const bool date_fits = info_left + 120 + date_w < right;
    if (date_fits) env.text.draw_text(c, date, {right - date_w, y + 2}, 12, t.text_muted);
    const double name_right = date_fits ? right - date_w - 12 : right;
    const std::string from_line = m->from.name.empty() ? m->from.address : m->from.name;
    env.text.draw_text_weighted(c, env.text.elide_to_width(from_line, name_right - info_left, 14, weight::semibold),
                                {info_left, y}, 14, weight::semibold, t.text);
    double line_y = y + env.text.line_height(14, weight::semibold) + 2;
    if (!m->from.name.empty()) {
        env.text.draw_text(c, env.text.elide_to_width(m->from.address, right - info_left, 12), {info_left, line_y}, 12,
                           t.text_muted);
        line_y += env.text.line_height(12) + 2;
    }
    if (!m->to.empty()) {
        env.text.draw_text(c, env.text.elide_to_width("To: " + recipients_text(m->to), right - info_left, 12),
                           {info_left, line_y}, 12, t.text_muted);
        line_y += env.text.line_height(12) + 2;
    }
    if (!m->cc.empty()) {
        env.text.draw_text(c, env.text.elide_to_width("Cc: " + recipients_text(m->cc), right - info_left, 12),
                           {info_left, line_y}, 12, t.text_muted);
        line_y += env.text.line_height(12) + 2;
    }
    if (!date_fits) {
        env.text.draw_text(c, date, {info_left, line_y}, 12, t.text_muted);
        line_y += env.text.line_height(12) + 2;
    }
    y = std::max(y + 2 * av, line_y) + 14;

    if (!m->attachments.empty()) {
        double x = left;
        for (const state::MessageAttachment& a : m->attachments) {
            const std::string label = a.filename + " · " + size_text(a.size);
            const double w = std::min(env.text.measure(label, 12).width + 40, width);
            if (x + w > right && x > left) {
                x = left;
                y += 40;
            }
            const Rect chip{x, y, x + w, y + 32};
            c.fill_rounded_rect(chip, 8, t.raised);
            Icon::draw(c, draw::attachment_icon(a.mime), Rect::from_xywh(chip.left + 10, chip.center().y - 8, 16, 16),
                       t.text_muted);
            text_mid(env, c, env.text.elide_to_width(label, w - 40, 12), chip.left + 32, chip.center().y, 12,
                     weight::regular, t.text);
            x += w + 8;
        }
        y += 46;
    }
    c.line({left, y}, {right, y}, t.hairline);
    y += 16;
    env.text.draw_text(c, m->body, {left, y}, 14, t.text, width);
    c.pop_clip();
}

bool ReaderPane::pointer_down(const PointerEvent& ev, const Rect& r) {
    if (ev.button != PointerButton::primary) return false;
    layout(r);
    const PaneRegion* reg = region_at(ev.pos);
    if (reg == nullptr) return false;
    auto st = state_->borrow_mut();
    const MailMessage* m = st->shown_message();
    if (m == nullptr) return false;
    const state::MessageId id = m->id;
    switch (reg->kind) {
        case RegionKind::Archive:
            st->move_to(id, FolderRole::Archive);
            return true;
        case RegionKind::Delete:
            if (m->folder == FolderRole::Trash) st->purge(id);
            else st->move_to(id, FolderRole::Trash);
            return true;
        case RegionKind::Star:
            st->set_starred(id, !m->starred);
            return true;
        case RegionKind::MarkUnread:
            st->set_read(id, false);
            return true;
        default:
            return false;
    }
}

std::uint64_t ReaderPane::content_token() const {
    auto st = state_->borrow();
    const MailMessage* m = st->shown_message();
    if (m == nullptr) return 0;
    const std::uint64_t h = std::hash<state::MessageId>{}(m->id);
    return h == 0 ? 1 : h;
}

}  // namespace mail::pane
