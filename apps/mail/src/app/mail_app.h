// MailApp: the one application object. It holds the shared mail state, the
// navigation shell with its three panes, the overlays, the storage location
// and the link to the engine, and runs the update turn.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/engine_link.h"
#include "app/preferences.h"
#include "doc/reflect.h"
#include "pane/panes.h"
#include "runtime/persist/document.h"
#include "runtime/ui/core/app.h"
#include "runtime/ui/core/widgets/basic.h"
#include "runtime/ui/core/widgets/nav_shell.h"
#include "state/mail_state.h"

namespace mail::app {

inline constexpr std::string_view kAppId = "app.zelk.mail";
inline constexpr std::string_view kWindowTitle = "Mail";
inline constexpr std::string_view kSampleDirPrefix = "zelk-mail-sample-";

// A temporary directory removed with everything in it when dropped.
class TempDir {
public:
    // A fresh directory "<system temp>/<prefix>XXXXXX"; fails when it cannot
    // be made.
    static lib::Result<std::unique_ptr<TempDir>> create(std::string_view prefix);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    explicit TempDir(std::filesystem::path p) : path_(std::move(p)) {}
    std::filesystem::path path_;
};

// A composition shown over the panes. The editor itself is not part of this
// build: the panel shows what the composition holds.
struct ComposerView {
    struct Run {
        std::string text;
        bool bold = false;
        bool italic = false;
    };
    enum class BlockKind { Paragraph, Heading, Bullet, Quote };
    struct Block {
        BlockKind kind = BlockKind::Paragraph;
        std::vector<Run> runs;
    };
    std::string title;
    std::string to;
    std::string cc;
    std::string subject;
    std::vector<Block> blocks;
    bool plain_text = false;
};

// The account form shown over the panes, with what its fields hold.
struct SetupView {
    enum class Mode { Add, Edit };
    Mode mode = Mode::Add;
    std::size_t account = 0;  // Edit: the account's position
    validate::AccountForm form;
    std::optional<std::size_t> focus;  // field index
    std::string message;                // the set-up message line; empty: none
};

class MailApp : public runtime::ui::App {
public:
    struct Parts {
        state::SharedMailState state;
        StorageLocation storage = StorageLocation::none();
        // Owned scratch directory of a scene start (removed with the app).
        std::unique_ptr<TempDir> scratch;
        EngineLink engine;
    };
    explicit MailApp(Parts parts);
    ~MailApp() override;

    // The normal start: the user's accounts, the engine, the configuration
    // root as storage location.
    static std::unique_ptr<MailApp> normal_start();
    // A scene start: the sample mailbox (an empty state for "firstrun"), a
    // fresh temporary storage directory, no engine, the scene's set-up.
    static std::unique_ptr<MailApp> scene_start(std::string_view scene);

    // Applies the set-up of a scene to this application; unknown names do
    // nothing.
    void apply_scene(std::string_view scene);

    // App hooks.
    void update(runtime::ui::Context& ctx) override;
    void resize(runtime::ui::Context& ctx, runtime::ui::Size size) override;
    void draw(runtime::ui::Canvas& canvas, runtime::ui::Context& ctx) override;
    bool key_pressed(runtime::ui::Context& ctx, const runtime::ui::KeyEvent& ev) override;
    void pointer_down(runtime::ui::Context& ctx, const runtime::ui::PointerEvent& ev) override;
    void pointer_up(runtime::ui::Context& ctx, const runtime::ui::PointerEvent& ev) override;
    void pointer_move(runtime::ui::Context& ctx, const runtime::ui::PointerEvent& ev) override;
    void pointer_leave(runtime::ui::Context& ctx) override;
    bool invoke_control(runtime::ui::Context& ctx, std::string_view id, const runtime::ui::ControlAction& a) override;
    std::optional<runtime::ui::a11y::AccessNode> access_tree(runtime::ui::Context& ctx) override;
    bool take_redraw_request() override { return std::exchange(redraw_, false); }
    bool wants_fast_ticks() const override;

    // The "mail.action" decoder: decodes the payload and applies it to the
    // mailbox document.
    lib::Status apply_action_payload(std::string_view payload);

    // For the shell and tests.
    const state::SharedMailState& state() const { return state_; }
    const StorageLocation& storage() const { return storage_; }
    const std::filesystem::path* scratch_dir() const { return scratch_ ? &scratch_->path() : nullptr; }
    bool compose_plain_text() const { return compose_plain_; }
    bool engine_busy() const { return engine_.busy; }
    bool has_engine() const { return engine_.present(); }
    const std::optional<ComposerView>& composer() const { return composer_; }
    const std::optional<SetupView>& setup() const { return setup_; }
    const runtime::ui::NavShell& shell() const { return *shell_; }
    // The mailbox document seen in the last update turn (nothing before it).
    runtime::persist::Doc* document() const { return doc_; }

    // The welcome state that fills the window without accounts.
    const runtime::ui::EmptyState& welcome() const { return welcome_; }

    // Opens the set-up sheet (add mode, or edit mode on an account).
    void open_setup(SetupView::Mode mode, std::size_t account = 0);

private:
    void layout(runtime::ui::Size size, double text_scale);
    // Sends on what the state recorded: document actions (once the document
    // has been seeded) and engine requests.
    void flush(runtime::ui::Context* ctx);
    void draw_composer(runtime::ui::Canvas& c, runtime::ui::Size window);
    void draw_setup(runtime::ui::Canvas& c, runtime::ui::Size window);
    void draw_context_menu(runtime::ui::Canvas& c, runtime::ui::Size window);
    void draw_purge_confirmation(runtime::ui::Canvas& c, runtime::ui::Size window);
    runtime::ui::Rect purge_box(runtime::ui::Size window) const;
    runtime::ui::Rect composer_box(runtime::ui::Size window) const;
    runtime::ui::Rect setup_box(runtime::ui::Size window) const;
    struct MenuRow {
        int kind;
        std::string label;
        std::string shortcut;
    };
    std::vector<MenuRow> context_rows() const;
    runtime::ui::Rect context_menu_box(runtime::ui::Size window) const;
    void perform_message_action(int kind, const state::MessageId& id);
    void open_reply(const state::MessageId& id);
    bool has_accounts() const;

    state::SharedMailState state_;
    std::shared_ptr<pane::PaneEnv> env_;
    std::shared_ptr<pane::SidebarPane> sidebar_;
    std::shared_ptr<pane::ListPane> list_;
    std::shared_ptr<pane::ReaderPane> reader_;
    std::unique_ptr<runtime::ui::NavShell> shell_;
    runtime::ui::EmptyState welcome_;

    StorageLocation storage_;
    std::unique_ptr<TempDir> scratch_;
    bool compose_plain_ = false;

    std::optional<ComposerView> composer_;
    std::optional<SetupView> setup_;
    bool open_setup_next_update_ = false;
    int menu_highlight_ = 0;

    EngineLink engine_;
    doc::Reflector reflector_;
    runtime::persist::Doc* doc_ = nullptr;
    std::optional<std::string> saved_active_id_;

    bool snap_detail_pending_ = false;
    bool snap_sidebar_pending_ = false;
    runtime::ui::Size window_{1280, 800};
    bool redraw_ = true;
};

}  // namespace mail::app
