#include "app/mail_app.h"

#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <system_error>

#include "actions/mail_action.h"
#include "doc/apply.h"
#include "draw/format.h"
#include "engine/sample_mailbox.h"
#include "lib/base/log.h"
#include "runtime/ui/core/icon.h"
#include "state/text_rules.h"
#include "validate/account_list.h"

namespace mail::app {

using runtime::ui::Canvas;
using runtime::ui::Color;
using runtime::ui::Context;
using runtime::ui::Icon;
using runtime::ui::IconId;
using runtime::ui::ModalFrame;
using runtime::ui::Point;
using runtime::ui::PointerButton;
using runtime::ui::PointerEvent;
using runtime::ui::Rect;
using runtime::ui::Size;
using runtime::ui::TextStyle;
namespace weight = runtime::ui::weight;
using state::FolderRole;
using state::MailMessage;

// ---------------------------------------------------------------------------
// Temporary directory

lib::Result<std::unique_ptr<TempDir>> TempDir::create(std::string_view prefix) {
    std::error_code ec;
    const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    if (ec) return lib::err("no temporary directory: " + ec.message());
    std::string templ = (base / (std::string(prefix) + "XXXXXX")).string();
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()) == nullptr) {
        return lib::err("could not create a temporary directory: " + std::string(std::strerror(errno)));
    }
    return std::unique_ptr<TempDir>(new TempDir(std::filesystem::path(buf.data())));
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

// ---------------------------------------------------------------------------
// Construction

namespace {

std::string ascii_lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

std::string mailbox_text(const state::MailAddress& a) {
    return a.name.empty() ? a.address : a.name + " <" + a.address + ">";
}

runtime::ui::toast::Tone toast_tone(std::string_view status) {
    const std::string s = ascii_lower(status);
    auto has = [&](const char* k) { return s.find(k) != std::string::npos; };
    if (has("failed") || has("couldn\u2019t") || has("couldn't") || has("error")) return runtime::ui::toast::Tone::error;
    if (has("offline") || has("isn't available")) return runtime::ui::toast::Tone::warning;
    if (has("sync") || has("connecting") || has("opening")) return runtime::ui::toast::Tone::info;
    return runtime::ui::toast::Tone::success;
}

ComposerView sample_composition() {
    using K = ComposerView::BlockKind;
    ComposerView v;
    v.title = "New message";
    v.to = "Priya Natarajan <priya@example.org>";
    v.subject = "Re: Launch plan for the spatial shell";
    v.blocks = {
        {K::Heading, {{"Launch sequencing"}}},
        {K::Paragraph,
         {{"Thanks both \u2014 the new order is "}, {"tiling \u2192 sandbox \u2192 streaming", true}, {"."}}},
        {K::Bullet, {{"Tiling engine skeleton by Wednesday"}}},
        {K::Bullet, {{"Bubblewrap sandbox policy review"}}},
        {K::Bullet, {{"Collaboration buffer streaming last"}}},
        {K::Quote, {{"Don't ship streaming before the policy is solid.", false, true}}},
    };
    return v;
}


}  // namespace

MailApp::MailApp(Parts parts)
    : state_(std::move(parts.state)),
      storage_(std::move(parts.storage)),
      scratch_(std::move(parts.scratch)),
      engine_(std::move(parts.engine)) {
    env_ = std::make_shared<pane::PaneEnv>();
    sidebar_ = std::make_shared<pane::SidebarPane>(state_, env_);
    list_ = std::make_shared<pane::ListPane>(state_, env_);
    reader_ = std::make_shared<pane::ReaderPane>(state_, env_);
    shell_ = std::make_unique<runtime::ui::NavShell>(sidebar_, list_, reader_);
    shell_->with_sidebar(true);
    compose_plain_ = read_compose_format(storage_);
    welcome_.icon = IconId::mail;
    welcome_.title = "Welcome to Mail";
    welcome_.body = "Add your email account to start reading and sending mail.";
    welcome_.action_label = "Add account";
    welcome_.action_id = "mail.add-account";
    auto s = state_->borrow();
    if (const validate::AccountEntry* a = s->active_account()) saved_active_id_ = a->id;
}

MailApp::~MailApp() = default;

std::unique_ptr<MailApp> MailApp::normal_start() {
    validate::LoadedAccounts loaded = validate::load_accounts();
    Parts parts;
    parts.state = state::make_shared_state(
        state::MailState::with_accounts(std::move(loaded.accounts), loaded.active, draw::now_minutes()));
    parts.storage = StorageLocation::config_root();
    parts.engine = start_engine_link();
    return std::make_unique<MailApp>(std::move(parts));
}

std::unique_ptr<MailApp> MailApp::scene_start(std::string_view scene) {
    Parts parts;
    state::MailState s = scene == "firstrun"
                             ? state::MailState::with_accounts({}, 0, engine::kSampleReferenceMinute)
                             : engine::sample_mail_state();
    parts.state = state::make_shared_state(std::move(s));
    lib::Result<std::unique_ptr<TempDir>> dir = TempDir::create(kSampleDirPrefix);
    if (dir) {
        parts.storage = StorageLocation::directory((*dir)->path());
        parts.scratch = std::move(dir).value();
    } else {
        lib::log::warn("scene storage unavailable, nothing will be written", {{"error", dir.error()}});
        parts.storage = StorageLocation::none();
    }
    auto app = std::make_unique<MailApp>(std::move(parts));
    app->apply_scene(scene);
    return app;
}

void MailApp::open_setup(SetupView::Mode mode, std::size_t account) {
    SetupView v;
    v.mode = mode;
    v.account = account;
    {
        auto s = state_->borrow();
        if (mode == SetupView::Mode::Edit && account < s->accounts.size()) {
            v.form = validate::config_to_form(s->accounts[account].config);
        } else {
            v.form = validate::config_to_form(validate::StoredConfig{});
        }
    }
    v.focus = static_cast<std::size_t>(validate::FormField::Email);
    setup_ = std::move(v);
    redraw_ = true;
}

void MailApp::open_reply(const state::MessageId& id) {
    auto s = state_->borrow_mut();
    const MailMessage* m = s->store.get(id);
    if (m == nullptr) return;
    ComposerView v;
    v.subject = ascii_lower(m->subject).rfind("re:", 0) == 0 ? m->subject : "Re: " + m->subject;
    v.title = v.subject;
    v.to = mailbox_text(m->from);
    v.plain_text = compose_plain_;
    using K = ComposerView::BlockKind;
    v.blocks = {{K::Paragraph, {}},
                {K::Paragraph, {{"On " + draw::long_date_time(m->date) + ", " + m->from.address + " wrote:"}}},
                {K::Quote, {{pane::excerpt(m->body)}}}};
    composer_ = std::move(v);
    s->overlay = state::Overlay{};
    s->overlay.kind = state::Overlay::Kind::Reply;
    s->overlay.message = id;
    s->changed = true;
}

void MailApp::apply_scene(std::string_view scene) {
    auto first_visible = [&](std::size_t n) {
        auto s = state_->borrow();
        std::vector<state::MessageId> out;
        for (const state::ListItem& item : s->visible_list()) {
            if (out.size() == n) break;
            out.push_back(item.id);
        }
        return out;
    };
    auto setup_add = [&](const char* address, std::size_t focus) {
        open_setup(SetupView::Mode::Add);
        setup_->form[validate::FormField::DisplayName] = "Jordan Lee";
        setup_->form[validate::FormField::Email] = address;
        setup_->focus = focus;
    };
    if (scene == "narrow_detail") {
        snap_detail_pending_ = true;
    } else if (scene == "narrow_drawer") {
        snap_sidebar_pending_ = true;
    } else if (scene == "compose" || scene == "compose_narrow") {
        composer_ = sample_composition();
    } else if (scene == "setup" || scene == "setup_narrow") {
        open_setup(SetupView::Mode::Edit, state_->borrow()->active);
    } else if (scene == "setup_add") {
        setup_add("jordan.lee@fastmail.com", 4);
    } else if (scene == "setup_oauth") {
        setup_add("jordan.lee@gmail.com", 1);
    } else if (scene == "error") {
        setup_add("jordan.lee@fastmail.com", 4);
        setup_->message = "Couldn\u2019t connect to IMAP. Check the server, port, and TLS settings, then try again.";
    } else if (scene == "html_mail") {
        auto s = state_->borrow_mut();
        for (const MailMessage* m : s->store.all()) {
            if (m->from.address == engine::kSampleNewsletterSender) {
                s->open_message(m->id);
                break;
            }
        }
    } else if (scene == "search") {
        auto s = state_->borrow_mut();
        s->set_search_query(std::string(engine::kSampleSearchWord));
        s->select_first_visible();
    } else if (scene == "preview") {
        const std::vector<state::MessageId> ids = first_visible(1);
        if (!ids.empty()) state_->borrow_mut()->preview_message(ids[0]);
    } else if (scene == "bulk" || scene == "bulk_purge_confirmation") {
        const std::vector<state::MessageId> ids = first_visible(2);
        auto s = state_->borrow_mut();
        s->set_bulk_mode(true);
        for (const state::MessageId& id : ids) s->toggle_bulk(id);
        if (scene == "bulk_purge_confirmation") {
            for (const state::MessageId& id : ids) s->move_to(id, FolderRole::Trash);
            s->request_purge();
        }
    } else if (scene == "reply") {
        const std::vector<state::MessageId> ids = first_visible(1);
        if (!ids.empty()) open_reply(ids[0]);
    } else if (scene == "context_menu") {
        auto s = state_->borrow_mut();
        if (s->selected && s->store.contains(*s->selected)) {
            s->overlay = state::Overlay{};
            s->overlay.kind = state::Overlay::Kind::ContextMenu;
            s->overlay.message = s->selected;
            s->overlay.x = 790;
            s->overlay.y = 206;
            menu_highlight_ = 0;
        }
    } else if (scene == "loading") {
        engine_.busy = true;
        state_->borrow_mut()->set_status("Syncing Inbox\u2026");
    } else if (scene == "empty") {
        auto s = state_->borrow_mut();
        s->store.clear();
        s->selected.reset();
        s->changed = true;
    } else if (scene == "offline") {
        state_->borrow_mut()->set_status("You\u2019re offline \u00b7 Showing downloaded mail");
    }
    redraw_ = true;
}

bool MailApp::has_accounts() const { return !state_->borrow()->accounts.empty(); }

// ---------------------------------------------------------------------------
// The update turn

lib::Status MailApp::apply_action_payload(std::string_view payload) {
    lib::Result<actions::MailAction> action = actions::decode_mail_action(payload);
    if (!action) return action.take_error();
    if (doc_ == nullptr) return lib::err("the mailbox document is not open");
    lib::Status applied = doc::apply_action(*doc_, *action);
    // The next update turn brings the state in step with the document.
    state_->borrow_mut()->changed = true;
    return applied;
}

void MailApp::flush(Context* ctx) {
    std::vector<actions::MailAction> pending;
    {
        auto s = state_->borrow_mut();
        if (s->initialised) pending = s->take_actions();
        send_intents(engine_, *s);
    }
    for (const actions::MailAction& a : pending) {
        lib::Status st = lib::ok_status();
        if (ctx != nullptr && ctx->actions().has(actions::kActionKind)) {
            st = ctx->actions().dispatch(actions::kActionKind, actions::action_json(a));
        } else if (doc_ != nullptr) {
            st = doc::apply_action(*doc_, a);
        }
        if (!st) {
            lib::log::warn("could not record a mailbox change",
                           {{"action", actions::variant_name(a)}, {"error", st.error()}});
        }
    }
}

void MailApp::update(Context& ctx) {
    doc_ = ctx.state().get<runtime::persist::Doc>();

    // 1. A requested set-up sheet.
    if (open_setup_next_update_) {
        open_setup_next_update_ = false;
        open_setup(SetupView::Mode::Add);
    }

    // 2. Engine events.
    {
        auto s = state_->borrow_mut();
        apply_engine_events(engine_, *s, doc_);
    }

    // 3. Verification, discovery and file pickers have nothing to collect
    //    until those subsystems exist.

    // 4. The document: seeded on the first turn, reflected afterwards.
    const bool first = !state_->borrow()->initialised;
    auto reflect = [&]() {
        if (doc_ == nullptr) return;
        auto s = state_->borrow_mut();
        doc::Reflector::Context rc;
        if (const validate::AccountEntry* a = s->active_account()) {
            rc.sender = {a->config.display_name, a->config.email};
        }
        rc.now_minute = s->now_minute;
        const std::uint64_t before = s->store.revision();
        lib::Status st = reflector_.reflect(*doc_, s->store, rc);
        if (!st) lib::log::warn("could not update the mailbox document", {{"error", st.error()}});
        if (s->store.revision() != before) {
            if (s->selected && !s->store.contains(*s->selected)) s->selected.reset();
            s->changed = true;
        }
    };
    if (first) {
        reflect();
        {
            auto s = state_->borrow_mut();
            s->initialised = true;
            if (doc_ == nullptr) (void)s->take_actions();  // nowhere to record them
        }
        flush(&ctx);
        connect_waker(engine_, ctx.waker());
        auto s = state_->borrow_mut();
        start_initial_sync(engine_, *s);
    } else {
        flush(&ctx);
        reflect();
    }

    // 5. The automatic refresh, only with an engine.
    if (engine_.present()) {
        auto s = state_->borrow_mut();
        s->now_minute = draw::now_minutes();
        auto_refresh(engine_, *s);
    }

    // 6. A changed active account is remembered.
    {
        auto s = state_->borrow_mut();
        const validate::AccountEntry* a = s->active_account();
        if (a != nullptr && (!saved_active_id_ || *saved_active_id_ != a->id)) {
            lib::Status st = storage_.kind() == StorageLocation::Kind::Directory
                                 ? validate::save_accounts(storage_.dir(), s->accounts, s->active)
                                 : validate::save_active_account(storage_.dir(), a->id);
            if (st) {
                saved_active_id_ = a->id;
            } else {
                s->set_status("Selected account, but could not save that preference: " + st.error());
            }
        }
    }

    // 7. The search catalogue arrives with system search.

    // 8. The panes.
    if (shell_->sync()) redraw_ = true;
    if (state_->borrow_mut()->take_changed()) redraw_ = true;
    if (redraw_) ctx.request_redraw();
}

bool MailApp::wants_fast_ticks() const { return false; }

// ---------------------------------------------------------------------------
// Layout and drawing

void MailApp::layout(Size size, double text_scale) {
    window_ = size;
    env_->text.set_text_scale(text_scale);
    env_->scale = std::clamp(text_scale, 0.5, 4.0);
    shell_->set_collapse_width(std::max(860 * text_scale, 1.0));
    shell_->layout(Rect::from_size(size));
    if (snap_detail_pending_ || snap_sidebar_pending_) {
        if (snap_detail_pending_) shell_->snap();
        if (snap_sidebar_pending_) shell_->snap_sidebar();
        snap_detail_pending_ = snap_sidebar_pending_ = false;
        shell_->layout(Rect::from_size(size));
    }
    env_->narrow = size.width < 860;
    env_->reader_first = shell_->reader_first();
    env_->sidebar_open = shell_->sidebar_visible();
}

void MailApp::resize(Context& ctx, Size size) {
    layout(size, ctx.text_scale());
    redraw_ = true;
    ctx.request_redraw();
}

void MailApp::draw(Canvas& c, Context& ctx) {
    layout(ctx.window_size(), ctx.text_scale());
    const Size w = ctx.window_size();
    const runtime::ui::Theme& t = env_->theme;
    if (!has_accounts()) {
        c.fill_rect(Rect::from_size(w), t.background);
        welcome_.draw(c, env_->text, t, Rect::from_size(w));
    } else {
        shell_->draw(c, env_->text, t);
    }
    if (composer_) draw_composer(c, w);
    if (setup_) draw_setup(c, w);
    {
        const state::Overlay::Kind k = state_->borrow()->overlay.kind;
        if (k == state::Overlay::Kind::ContextMenu) draw_context_menu(c, w);
        if (k == state::Overlay::Kind::PurgeConfirmation) draw_purge_confirmation(c, w);
    }
    const std::string status = state_->borrow()->status;
    if (!status.empty()) runtime::ui::toast::paint_transient(c, env_->text, t, w, status, toast_tone(status));
}

Rect MailApp::composer_box(Size window) const {
    return ModalFrame::layout(window, {720, 580}).frame;
}

void MailApp::draw_composer(Canvas& c, Size window) {
    const ComposerView& v = *composer_;
    const runtime::ui::Theme& t = env_->theme;
    const auto& text = env_->text;
    ModalFrame::paint_backdrop(c, t, window, 0.6);
    const Rect box = composer_box(window);
    ModalFrame::paint_frame(c, t, box);
    c.push_clip(box);
    const double left = box.left + 24;
    const double right = box.right - 24;
    text.draw_text_weighted(c, text.elide_to_width(v.title, right - 40 - left, 17, weight::semibold),
                            {left, box.top + 18}, 17, weight::semibold, t.text);
    Icon::draw(c, IconId::close, Rect::from_xywh(right - 20, box.top + 20, 18, 18), t.text_muted);
    double y = box.top + 60;
    auto row = [&](const char* label, const std::string& value) {
        text.draw_text(c, label, {left, y + 7}, 12.5, t.text_muted);
        const Rect field{left + 80, y, right, y + 34};
        c.fill_rounded_rect(field, 8, t.raised);
        text.draw_text(c, text.elide_to_width(value, field.width() - 20, 13), {field.left + 10, y + 8}, 13, t.text);
        y += 44;
    };
    row("To", v.to);
    if (!v.cc.empty()) row("Cc", v.cc);
    row("Subject", v.subject);
    c.line({left, y + 2}, {right, y + 2}, t.hairline);
    y += 16;
    const double width = right - left;
    for (const ComposerView::Block& b : v.blocks) {
        using K = ComposerView::BlockKind;
        double x = left;
        double size = 14;
        int wgt = weight::regular;
        if (b.kind == K::Heading) {
            size = 18;
            wgt = weight::semibold;
        }
        if (b.kind == K::Bullet) {
            c.fill_circle({left + 8, y + text.line_height(size) / 2}, 2.5, t.text);
            x = left + 22;
        }
        if (b.kind == K::Quote) {
            c.fill_rect({left, y, left + 3, y + text.line_height(size)}, t.accent.faded(0.7));
            x = left + 14;
        }
        double line_h = text.line_height(size, wgt);
        for (const ComposerView::Run& r : b.runs) {
            TextStyle st;
            st.size = size;
            st.weight = r.bold ? weight::bold : wgt;
            st.italic = r.italic;
            st.color = b.kind == K::Quote ? t.text_muted : t.text;
            st.max_width = std::max(left + width - x, 1.0);
            const runtime::ui::TextMetrics m = text.draw_text_styled(c, r.text, {x, y}, st);
            x += m.width;
            line_h = std::max(line_h, m.height);
        }
        y += line_h + (b.kind == K::Bullet ? 4 : 10);
    }
    text.draw_text(c, v.plain_text ? "Plain text" : "Rich text", {left, box.bottom - 30}, 11.5, t.text_faint);
    c.pop_clip();
}

Rect MailApp::setup_box(Size window) const { return ModalFrame::layout(window, {580, 520}).frame; }

void MailApp::draw_setup(Canvas& c, Size window) {
    const SetupView& v = *setup_;
    const runtime::ui::Theme& t = env_->theme;
    const auto& text = env_->text;
    using F = validate::FormField;
    ModalFrame::paint_backdrop(c, t, window, 0.6);
    const Rect box = setup_box(window);
    ModalFrame::paint_frame(c, t, box);
    c.push_clip(box);
    const double left = box.left + 26;
    const double field_left = left + 120;
    const double right = box.right - 26;
    const bool add = v.mode == SetupView::Mode::Add;
    text.draw_text_weighted(c, add ? "Add account" : "Account settings", {left, box.top + 20}, 17, weight::semibold,
                            t.text);
    std::string subtitle = "Enter your email \u2014 server details fill in automatically.";
    if (!add) {
        subtitle = v.form[F::Email].empty() ? validate::account_label(validate::form_to_config(v.form))
                                            : v.form[F::Email];
    }
    text.draw_text(c, text.elide_to_width(subtitle, right - left, 11.5), {left, box.top + 46}, 11.5, t.text_muted);
    Icon::draw(c, IconId::close, Rect::from_xywh(right - 18, box.top + 20, 18, 18), t.text_muted);

    auto field = [&](F f, const Rect& r, bool secret = false) {
        const std::size_t index = static_cast<std::size_t>(f);
        c.fill_rounded_rect(r, 8, t.raised);
        if (v.focus == index) c.stroke_rounded_rect(r, 8, t.accent, 2);
        std::string value = v.form[f];
        if (secret && !value.empty()) {
            value.clear();
            for (std::size_t i = 0; i < std::min<std::size_t>(v.form[f].size(), 16); ++i) value += "\u2022";
        }
        if (!value.empty()) {
            text.draw_text(c, text.elide_to_width(value, r.width() - 20, 13), {r.left + 10, r.top + 8}, 13, t.text);
        }
    };
    auto label = [&](const char* l, double top) { text.draw_text(c, l, {left, top + 8}, 12.5, t.text_muted); };
    double y = box.top + 76;
    label("Display name", y);
    field(F::DisplayName, {field_left, y, right, y + 34});
    y += 46;
    label("Email", y);
    field(F::Email, {field_left, y, right, y + 34});
    y += 46;
    label("Username", y);
    field(F::Username, {field_left, y, right, y + 34});
    y += 46;
    label("Sign-in", y);
    const bool password = v.form.auth == validate::AuthMethod::Password;
    const Rect seg1{field_left, y, field_left + 104, y + 34};
    const Rect seg2{seg1.right + 10, y, seg1.right + 114, y + 34};
    runtime::ui::Button::draw(c, text, t, seg1, "Password", runtime::ui::ButtonKind::secondary, {.checked = password});
    runtime::ui::Button::draw(c, text, t, seg2, "OAuth", runtime::ui::ButtonKind::secondary, {.checked = !password});
    y += 46;
    if (password) {
        label("Password", y);
        field(F::Password, {field_left, y, right, y + 34}, true);
    }
    y += 54;
    auto server_row = [&](const char* name, F host, F port, bool tls) {
        label(name, y);
        const Rect host_r{field_left, y, right - 142, y + 34};
        const Rect port_r{host_r.right + 12, y, host_r.right + 72, y + 34};
        if (host == F::ImapHost) text.draw_text(c, "Port", {port_r.left, y - 16}, 11, t.text_faint);
        field(host, host_r);
        field(port, port_r);
        runtime::ui::Toggle::draw(c, text, t, {port_r.right + 12, y, right, y + 34}, tls, "TLS");
    };
    server_row("IMAP host", F::ImapHost, F::ImapPort, v.form.imap_tls);
    y += 46;
    server_row("SMTP host", F::SmtpHost, F::SmtpPort, v.form.smtp_tls);
    y += 52;
    if (v.message.empty()) {
        Icon::draw(c, IconId::information, Rect::from_xywh(left, y, 16, 16), t.text_muted);
        text.draw_text(c, "Credentials are verified before the account is saved.", {left + 24, y}, 11.5, t.text_muted);
    } else {
        Icon::draw(c, IconId::warning, Rect::from_xywh(left, y, 16, 16), t.danger);
        text.draw_text(c, v.message, {left + 24, y}, 11.5, t.danger, right - left - 24);
    }
    const Rect cancel{right - 96, box.bottom - 56, right, box.bottom - 20};
    runtime::ui::Button::draw(c, text, t, cancel, "Cancel", runtime::ui::ButtonKind::secondary);
    c.pop_clip();
}

std::vector<MailApp::MenuRow> MailApp::context_rows() const {
    auto s = state_->borrow();
    std::vector<MenuRow> rows;
    const MailMessage* m = s->overlay.message ? s->store.get(*s->overlay.message) : nullptr;
    if (m == nullptr) return rows;
    rows.push_back({0, "Reply", "R"});
    rows.push_back({1, "Reply all", ""});
    rows.push_back({2, "Forward", ""});
    rows.push_back({3, m->read ? "Mark unread" : "Mark read", "U"});
    rows.push_back({4, m->starred ? "Remove star" : "Star", "S"});
    rows.push_back({5, "Archive", "E"});
    rows.push_back({6, "Delete", "Del"});
    if (m->folder != FolderRole::Inbox) rows.push_back({7, "Move to Inbox", ""});
    rows.push_back({8, "Mark as junk", ""});
    return rows;
}

Rect MailApp::context_menu_box(Size window) const {
    const std::size_t n = context_rows().size();
    const double w = 220;
    const double h = static_cast<double>(n) * 32 + 12;
    auto s = state_->borrow();
    const double x = std::clamp(s->overlay.x, 8.0, std::max(8.0, window.width - w - 8));
    const double y = std::clamp(s->overlay.y, 8.0, std::max(8.0, window.height - h - 8));
    return Rect::from_xywh(x, y, w, h);
}

void MailApp::draw_context_menu(Canvas& c, Size window) {
    const std::vector<MenuRow> rows = context_rows();
    if (rows.empty()) return;
    const runtime::ui::Theme& t = env_->theme;
    const Rect box = context_menu_box(window);
    c.drop_shadow(box, 10, 18, t.shadow, 6);
    c.fill_rounded_rect(box, 10, t.overlay);
    c.stroke_rounded_rect(box, 10, t.hairline);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Rect r{box.left + 6, box.top + 6 + 32.0 * i, box.right - 6, box.top + 6 + 32.0 * (i + 1)};
        if (static_cast<int>(i) == menu_highlight_) c.fill_rounded_rect(r, 6, t.raised);
        const Color col = rows[i].kind == 6 ? t.danger : t.text;
        env_->text.draw_text(c, rows[i].label, {r.left + 12, r.top + 7}, 13, col);
        if (!rows[i].shortcut.empty()) {
            const double w = env_->text.measure(rows[i].shortcut, 12).width;
            env_->text.draw_text(c, rows[i].shortcut, {r.right - 12 - w, r.top + 8}, 12, t.text_faint);
        }
    }
}

Rect MailApp::purge_box(Size window) const {
    const double w = std::min(window.width - 40, 420.0);
    const double h = std::min(window.height - 40, 206.0);
    return Rect::from_xywh((window.width - w) / 2, (window.height - h) / 2, w, h);
}

void MailApp::draw_purge_confirmation(Canvas& c, Size window) {
    const runtime::ui::Theme& t = env_->theme;
    const auto& text = env_->text;
    ModalFrame::paint_backdrop(c, t, window, 0.6);
    const Rect box = purge_box(window);
    ModalFrame::paint_frame(c, t, box);
    const std::size_t n = state_->borrow()->overlay.count;
    Icon::draw(c, IconId::warning, Rect::from_xywh(box.left + 24, box.top + 24, 24, 24), t.danger);
    text.draw_text_weighted(c, "Delete permanently?", {box.left + 58, box.top + 22}, 20, weight::bold, t.text);
    const std::string line = std::to_string(n) + (n == 1 ? " trashed message" : " trashed messages") +
                             " will be removed from this mailbox.";
    text.draw_text(c, line, {box.left + 24, box.top + 66}, 13, t.text, box.width() - 48);
    text.draw_text(c, "This cannot be undone or recovered from the server.", {box.left + 24, box.top + 90}, 13,
                   t.text_muted, box.width() - 48);
    const Rect cancel{box.right - 262, box.bottom - 52, box.right - 176, box.bottom - 18};
    const Rect confirm{box.right - 166, box.bottom - 52, box.right - 24, box.bottom - 18};
    runtime::ui::Button::draw(c, text, t, cancel, "Cancel", runtime::ui::ButtonKind::secondary, {}, std::nullopt, 12.5);
    runtime::ui::Button::draw(c, text, t, confirm, "Delete permanently", runtime::ui::ButtonKind::destructive, {},
                              std::nullopt, 12.5);
}

// ---------------------------------------------------------------------------
// Input

void MailApp::perform_message_action(int kind, const state::MessageId& id) {
    {
        auto s = state_->borrow_mut();
        s->overlay = state::Overlay{};
        s->changed = true;
        const MailMessage* m = s->store.get(id);
        if (m == nullptr) {
            s->set_status("That message is no longer available.");
            return;
        }
        switch (kind) {
            case 3:
                s->set_read(id, !m->read);
                return;
            case 4:
                s->set_starred(id, !m->starred);
                return;
            case 5:
                s->move_to(id, FolderRole::Archive);
                return;
            case 6:
                if (m->folder == FolderRole::Trash) s->purge(id);
                else s->move_to(id, FolderRole::Trash);
                return;
            case 7:
                s->move_to(id, FolderRole::Inbox);
                return;
            case 8:
                s->move_to(id, FolderRole::Junk);
                return;
            default:
                break;
        }
    }
    if (kind == 0) open_reply(id);
}

bool MailApp::key_pressed(Context& ctx, const runtime::ui::KeyEvent& ev) {
    bool used = false;
    const state::Overlay overlay = state_->borrow()->overlay;
    if (overlay.kind == state::Overlay::Kind::PurgeConfirmation) {
        if (ev.is("Escape")) {
            state_->borrow_mut()->cancel_purge();
            used = true;
        } else if (ev.is("Return")) {
            state_->borrow_mut()->confirm_purge();
            used = true;
        }
    } else if (overlay.kind == state::Overlay::Kind::ContextMenu) {
        const std::vector<MenuRow> rows = context_rows();
        const int n = static_cast<int>(rows.size());
        if (ev.is("Escape")) {
            state_->borrow_mut()->overlay = state::Overlay{};
            used = true;
        } else if (n > 0 && (ev.is("Down") || ev.is("Tab"))) {
            menu_highlight_ = (menu_highlight_ + 1) % n;
            used = true;
        } else if (n > 0 && ev.is("Up")) {
            menu_highlight_ = (menu_highlight_ + n - 1) % n;
            used = true;
        } else if (n > 0 && (ev.is("Return") || ev.is("space")) && overlay.message) {
            perform_message_action(rows[static_cast<std::size_t>(std::clamp(menu_highlight_, 0, n - 1))].kind,
                                   *overlay.message);
            used = true;
        }
    } else if (ev.is("Escape") && (composer_ || setup_)) {
        if (setup_) setup_.reset();
        else composer_.reset();
        auto s = state_->borrow_mut();
        if (s->overlay.kind == state::Overlay::Kind::Reply) s->overlay = state::Overlay{};
        used = true;
    }
    if (used) {
        redraw_ = true;
        flush(&ctx);
        ctx.request_redraw();
    }
    return used;
}

void MailApp::pointer_down(Context& ctx, const PointerEvent& ev) {
    bool changed = false;
    const state::Overlay overlay = state_->borrow()->overlay;
    if (overlay.kind == state::Overlay::Kind::PurgeConfirmation) {
        const Rect box = purge_box(window_);
        const Rect cancel{box.right - 262, box.bottom - 52, box.right - 176, box.bottom - 18};
        const Rect confirm{box.right - 166, box.bottom - 52, box.right - 24, box.bottom - 18};
        if (confirm.contains(ev.pos)) state_->borrow_mut()->confirm_purge();
        else if (cancel.contains(ev.pos) || !box.contains(ev.pos)) state_->borrow_mut()->cancel_purge();
        changed = true;
    } else if (overlay.kind == state::Overlay::Kind::ContextMenu) {
        const Rect box = context_menu_box(window_);
        const std::vector<MenuRow> rows = context_rows();
        if (box.contains(ev.pos) && overlay.message) {
            const auto i = static_cast<std::size_t>((ev.pos.y - box.top - 6) / 32);
            if (i < rows.size()) perform_message_action(rows[i].kind, *overlay.message);
        } else {
            state_->borrow_mut()->overlay = state::Overlay{};
        }
        changed = true;
    } else if (setup_ || composer_) {
        const Rect box = setup_ ? setup_box(window_) : composer_box(window_);
        const Rect close = setup_ ? Rect::from_xywh(box.right - 26 - 18, box.top + 20, 18, 18)
                                  : Rect::from_xywh(box.right - 24 - 20, box.top + 20, 18, 18);
        const Rect cancel{box.right - 26 - 96, box.bottom - 56, box.right - 26, box.bottom - 20};
        if (close.inset(-6).contains(ev.pos) || (setup_ && cancel.contains(ev.pos))) {
            if (setup_) setup_.reset();
            else composer_.reset();
            auto s = state_->borrow_mut();
            if (s->overlay.kind == state::Overlay::Kind::Reply) s->overlay = state::Overlay{};
            changed = true;
        }
    } else if (!has_accounts()) {
        if (welcome_.hit(env_->text, Rect::from_size(window_), ev.pos)) {
            open_setup(SetupView::Mode::Add);
            changed = true;
        }
    } else if (ev.button == PointerButton::secondary) {
        const pane::PaneRegion* hit = nullptr;
        for (const pane::PaneRegion& r : list_->regions()) {
            if (r.kind == pane::RegionKind::MessageRow && r.rect.contains(ev.pos)) hit = &r;
        }
        if (hit != nullptr && shell_->pane_at(ev.pos) == runtime::ui::PaneKind::list) {
            auto s = state_->borrow_mut();
            s->overlay = state::Overlay{};
            s->overlay.kind = state::Overlay::Kind::ContextMenu;
            s->overlay.message = hit->message;
            s->overlay.x = ev.pos.x;
            s->overlay.y = ev.pos.y;
            menu_highlight_ = 0;
            changed = true;
        }
    } else {
        changed = shell_->pointer_down(ev);
    }
    flush(&ctx);
    if (changed || state_->borrow()->changed) {
        redraw_ = true;
        ctx.request_redraw();
    }
}

void MailApp::pointer_up(Context& ctx, const PointerEvent& ev) {
    if (shell_->pointer_up(ev)) ctx.request_redraw();
}

void MailApp::pointer_move(Context& ctx, const PointerEvent& ev) {
    if (shell_->pointer_move(ev)) ctx.request_redraw();
}

void MailApp::pointer_leave(Context& ctx) {
    if (shell_->pointer_leave()) ctx.request_redraw();
}

bool MailApp::invoke_control(Context& ctx, std::string_view id, const runtime::ui::ControlAction& action) {
    bool used = false;
    if (id == "mail.add-account" && action.verb == runtime::ui::ControlVerb::activate && !has_accounts()) {
        open_setup(SetupView::Mode::Add);
        used = true;
    } else if (id == "mail.bulk-purge:confirm" || id == "mail.bulk-purge:cancel") {
        auto s = state_->borrow_mut();
        if (s->overlay.kind == state::Overlay::Kind::PurgeConfirmation &&
            action.verb == runtime::ui::ControlVerb::activate) {
            if (id == "mail.bulk-purge:confirm") s->confirm_purge();
            else s->cancel_purge();
            used = true;
        }
    } else {
        used = shell_->invoke_control(id);
    }
    if (used) {
        flush(&ctx);
        redraw_ = true;
        ctx.request_redraw();
    }
    return used;
}

std::optional<runtime::ui::a11y::AccessNode> MailApp::access_tree(Context& /*ctx*/) { return std::nullopt; }

}  // namespace mail::app
