#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "actions/mail_action.h"
#include "app/launch_config.h"
#include "app/mail_app.h"
#include "app/scenes.h"
#include "doc/mailbox.h"
#include "engine/sample_mailbox.h"
#include "runtime/ui/core/headless.h"

namespace mail::app {
namespace {

namespace fs = std::filesystem;
using runtime::ui::AppState;
using runtime::ui::HeadlessOptions;
using runtime::ui::HeadlessSession;
using runtime::ui::LaunchContext;
using runtime::ui::Size;
using state::FolderRole;

TEST(Scenes, WindowSizes) {
    const std::pair<const char*, Size> cases[] = {
        {"wide", {1280, 800}},          {"narrow", {560, 860}},        {"narrow_detail", {560, 860}},
        {"narrow_drawer", {560, 860}},  {"mid", {1000, 720}},          {"compose", {1180, 820}},
        {"compose_narrow", {560, 860}}, {"setup", {1100, 780}},        {"setup_narrow", {560, 860}},
        {"setup_add", {1100, 780}},     {"setup_oauth", {1100, 780}},  {"firstrun", {1100, 780}},
        {"html_mail", {1280, 820}},     {"search", {1280, 800}},       {"preview", {1280, 800}},
        {"bulk", {1280, 800}},          {"bulk_purge_confirmation", {1280, 800}},
        {"reply", {1180, 820}},         {"context_menu", {1280, 800}}, {"loading", {1280, 800}},
        {"empty", {1280, 800}},         {"offline", {1280, 800}},      {"error", {1100, 780}},
        {"no_such_scene", {1280, 800}}, {"", {1280, 800}},             {"WIDE", {1280, 800}},
    };
    for (const auto& [scene, size] : cases) EXPECT_EQ(scene_window_size(scene), size) << scene;
    // Every table entry is covered above.
    for (std::string_view s : kSceneNames) {
        EXPECT_TRUE(std::any_of(std::begin(cases), std::end(cases), [&](const auto& c) { return s == c.first; })) << s;
    }
}

TEST(Scenes, LaunchConfiguration) {
    const runtime::ui::LaunchConfig config = launch_config();
    EXPECT_EQ(config.application_id, "app.zelk.mail");
    ASSERT_EQ(config.scenes.size(), 23u);
    EXPECT_EQ(config.scenes.front(), "wide");
    EXPECT_EQ(config.scenes[16], "bulk_purge_confirmation");
    EXPECT_EQ(config.scenes.back(), "error");
    EXPECT_TRUE(config.accelerators.empty() && config.environment_defaults.empty() && config.font_paths.empty() &&
                config.extra_flags.empty());
    EXPECT_FALSE(config.options.frame_stats);
    EXPECT_TRUE(config.options.accessibility);
    EXPECT_TRUE(config.options.automation);
    LaunchContext none;
    EXPECT_EQ(config.window_size(none), (Size{1280, 800})) << "no scene name: wide";
    LaunchContext html;
    html.scene = "html_mail";
    EXPECT_EQ(config.window_size(html), (Size{1280, 820}));
}

// A scene application driven off-screen the way the launcher does it: the
// document opened by the configuration's opener, the set-up callback, then
// update turns.
struct SceneRun {
    std::unique_ptr<MailApp> app;
    std::shared_ptr<runtime::persist::Doc> doc;
    std::unique_ptr<HeadlessSession> session;

    explicit SceneRun(const std::string& scene, int turns = 1) {
        const runtime::ui::LaunchConfig config = launch_config();
        LaunchContext lc;
        lc.scene = scene;
        lc.screenshot = "unused.png";
        lib::Result<AppState> state = config.open_state(lc);
        EXPECT_TRUE(state.ok()) << state.error();
        doc = std::make_shared<runtime::persist::Doc>(runtime::persist::Doc::open_in_memory());
        app = MailApp::scene_start(scene);
        HeadlessOptions o;
        o.launch = lc;
        o.state = AppState::hold(doc);
        session = std::make_unique<HeadlessSession>(*app, scene_window_size(scene), std::move(o));
        config.setup(session->handle());
        session->turn(turns);
    }
    ~SceneRun() {
        session.reset();
        app.reset();
    }
    const state::MailState& st() const { return *app->state()->borrow(); }
};

const state::MailMessage* by_subject(const state::MailState& s, std::string_view subject) {
    for (const state::MailMessage* m : s.store.all()) {
        if (m->subject == subject) return m;
    }
    return nullptr;
}

TEST(Scenes, SearchFindsThePlanningConversation) {
    SceneRun run("search");
    auto s = run.app->state()->borrow();
    EXPECT_EQ(s->search_query, "spatial");
    const std::vector<state::ListItem> list = s->visible_list();
    const std::vector<state::MailMessage> sample = engine::sample_messages();
    std::size_t planning = 0;
    for (const state::ListItem& item : list) {
        const state::MailMessage* m = s->store.get(item.id);
        if (m->subject.find(sample[0].subject) != std::string::npos) ++planning;
        EXPECT_NE(m->folder, FolderRole::Trash);
    }
    EXPECT_EQ(planning, 4u) << "three in the Inbox and the reply in Sent";
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(s->selected, list.front().id);
}

TEST(Scenes, BulkSelectsTheFirstTwoVisibleMessages) {
    SceneRun run("bulk");
    auto s = run.app->state()->borrow();
    EXPECT_TRUE(s->bulk_mode);
    const std::vector<state::ListItem> list = s->visible_list();
    ASSERT_GE(list.size(), 2u);
    EXPECT_EQ(s->bulk, (std::vector<state::MessageId>{list[0].id, list[1].id}));
}

TEST(Scenes, BulkPurgeConfirmationMovesBothToTrashAndAsks) {
    SceneRun run("bulk_purge_confirmation");
    auto s = run.app->state()->borrow();
    const std::vector<state::MailMessage> sample = engine::sample_messages();
    ASSERT_EQ(s->bulk.size(), 2u);
    // The two newest Inbox conversations: the coffee note and the build notice.
    EXPECT_EQ(s->store.get(s->bulk[0])->subject, sample[5].subject);
    EXPECT_EQ(s->store.get(s->bulk[1])->subject, sample[3].subject);
    for (const state::MessageId& id : s->bulk) {
        EXPECT_EQ(s->store.get(id)->folder, FolderRole::Trash);
        // The document heard of the move too, so the next reflection keeps it.
        EXPECT_EQ(doc::get_folder(*run.doc, id.text()), FolderRole::Trash);
    }
    EXPECT_EQ(s->overlay.kind, state::Overlay::Kind::PurgeConfirmation);
    EXPECT_EQ(s->overlay.count, 2u);
}

TEST(Scenes, OtherSetUps) {
    {
        SceneRun run("firstrun");
        EXPECT_TRUE(run.st().accounts.empty());
        EXPECT_TRUE(run.st().store.empty());
        EXPECT_EQ(run.app->welcome().title, "Welcome to Mail");
    }
    {
        SceneRun run("html_mail");
        const state::MailMessage* m = run.st().shown_message();
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->from.address, engine::kSampleNewsletterSender);
        EXPECT_TRUE(m->html_body.has_value());
        EXPECT_TRUE(m->read) << "opening marks it read";
    }
    {
        SceneRun run("preview");
        const state::MailMessage* m = run.st().shown_message();
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->id, run.st().visible_list().front().id);
        EXPECT_FALSE(m->read) << "the newest sample message is unread and stays so";
    }
    {
        SceneRun run("context_menu");
        const state::Overlay& o = run.st().overlay;
        EXPECT_EQ(o.kind, state::Overlay::Kind::ContextMenu);
        EXPECT_EQ(o.message, run.st().selected);
        EXPECT_EQ(o.x, 790);
        EXPECT_EQ(o.y, 206);
    }
    {
        SceneRun run("loading");
        EXPECT_TRUE(run.app->engine_busy());
        EXPECT_EQ(run.st().status, "Syncing Inbox\u2026");
    }
    {
        SceneRun run("empty");
        EXPECT_TRUE(run.st().store.empty());
        EXPECT_FALSE(run.st().selected.has_value());
    }
    {
        SceneRun run("offline");
        EXPECT_EQ(run.st().status, "You\u2019re offline \u00b7 Showing downloaded mail");
    }
    {
        SceneRun run("error");
        ASSERT_TRUE(run.app->setup().has_value());
        EXPECT_EQ(run.app->setup()->message,
                  "Couldn\u2019t connect to IMAP. Check the server, port, and TLS settings, then try again.");
        EXPECT_EQ(run.app->setup()->focus, 4u);
    }
    {
        SceneRun run("setup");
        ASSERT_TRUE(run.app->setup().has_value());
        EXPECT_EQ(run.app->setup()->mode, SetupView::Mode::Edit);
        EXPECT_EQ(run.app->setup()->form[validate::FormField::Email], run.st().accounts[0].config.email);
    }
    {
        SceneRun run("compose");
        ASSERT_TRUE(run.app->composer().has_value());
        EXPECT_EQ(run.app->composer()->title, "New message");
    }
    {
        SceneRun run("reply");
        ASSERT_TRUE(run.app->composer().has_value());
        EXPECT_EQ(run.app->composer()->subject, "Re: " + engine::sample_messages()[5].subject);
        EXPECT_EQ(run.st().overlay.kind, state::Overlay::Kind::Reply);
    }
    for (const char* plain : {"wide", "no_such_scene"}) {
        SceneRun run(plain);
        EXPECT_FALSE(run.st().overlay.open()) << plain;
        EXPECT_TRUE(run.st().status.empty()) << plain;
        EXPECT_FALSE(run.st().bulk_mode) << plain;
        EXPECT_FALSE(run.app->composer() || run.app->setup()) << plain;
        EXPECT_FALSE(run.app->has_engine()) << plain;
        EXPECT_EQ(run.st().selected, engine::sample_selection(run.st())) << plain;
    }
}

TEST(UpdateTurn, FirstUpdateSeedsTheDocumentFromEveryMessage) {
    SceneRun run("wide");
    const state::MailState& s = run.st();
    EXPECT_TRUE(s.initialised);
    ASSERT_EQ(s.store.size(), 15u);
    for (const state::MailMessage* m : s.store.all()) {
        const std::string id = m->id.text();
        EXPECT_TRUE(doc::present(*run.doc, id)) << m->subject;
        EXPECT_EQ(doc::get_read(*run.doc, id), m->read) << m->subject;
        EXPECT_EQ(doc::get_starred(*run.doc, id), m->starred) << m->subject;
        EXPECT_EQ(doc::get_folder(*run.doc, id), m->folder) << m->subject;
    }
}

TEST(UpdateTurn, ActionsThroughTheRegistryReachTheState) {
    SceneRun run("wide");
    const state::MailMessage* coffee = by_subject(run.st(), engine::sample_messages()[5].subject);
    ASSERT_NE(coffee, nullptr);
    const state::MessageId id = coffee->id;
    ASSERT_FALSE(coffee->starred);
    const actions::EncodedMail star = actions::encode_mail_action(actions::SetStarred{{id.text()}, true});
    const lib::Status st = run.session->context().actions().dispatch(star.kind, star.payload);
    ASSERT_TRUE(st.ok()) << st.error();
    run.session->turn();
    EXPECT_TRUE(run.st().store.get(id)->starred);

    // Purging a message that is not in Trash is refused and changes nothing.
    const actions::EncodedMail purge = actions::encode_mail_action(actions::Purge{{id.text()}});
    EXPECT_FALSE(run.session->context().actions().dispatch(purge.kind, purge.payload).ok());
    EXPECT_FALSE(run.session->context().actions().dispatch(actions::kActionKind, "{\"Nope\":{}}").ok());
    run.session->turn();
    EXPECT_TRUE(run.st().store.contains(id));
}

TEST(UpdateTurn, ClickChangesAreRecordedInTheDocument) {
    SceneRun run("wide");
    // The first row's star button: right − 36s .. right − 12s, row top + 8s.
    const runtime::ui::Rect list = run.app->shell().current().rect(runtime::ui::PaneKind::list);
    const state::MessageId first = run.st().visible_list().front().id;
    ASSERT_FALSE(run.st().store.get(first)->starred);
    run.session->click({list.right - 24, list.top + 56 + 20});
    EXPECT_TRUE(run.st().store.get(first)->starred);
    EXPECT_EQ(doc::get_starred(*run.doc, first.text()), true);
    run.session->turn(2);
    EXPECT_TRUE(run.st().store.get(first)->starred) << "reflection keeps the local decision";
}

TEST(Storage, SceneUsesAFreshTemporaryDirectoryAndRemovesIt) {
    fs::path dir;
    {
        SceneRun run("wide");
        ASSERT_EQ(run.app->storage().kind(), StorageLocation::Kind::Directory);
        ASSERT_NE(run.app->scratch_dir(), nullptr);
        dir = *run.app->scratch_dir();
        EXPECT_EQ(run.app->storage().dir(), dir);
        EXPECT_EQ(dir.filename().string().rfind(kSampleDirPrefix, 0), 0u) << dir;
        EXPECT_TRUE(fs::is_directory(dir));
        SceneRun other("wide");
        EXPECT_NE(*other.app->scratch_dir(), dir) << "each scene start gets its own";
    }
    EXPECT_FALSE(fs::exists(dir));
}

std::string read_file(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The program itself, with every per-user folder pointed at empty places:
// a scene start writes nothing there and leaves no scratch directory.
TEST(Storage, SceneProgramTouchesNoUserFiles) {
    const fs::path root = fs::temp_directory_path() / ("mail-app-home-" + std::to_string(::getpid()));
    fs::remove_all(root);
    const fs::path home = root / "home";
    const fs::path tmp = root / "tmp";
    const fs::path out = root / "out";
    for (const fs::path& p : {home, tmp, out}) fs::create_directories(p);
    const std::string program = std::string(ZELK_BINARY_DIR) + "/bin/zelk-mail";
    ASSERT_TRUE(fs::exists(program)) << program;
    for (const char* scene : {"wide", "firstrun", "setup_add", "compose"}) {
        const std::string cmd = "env -u XDG_CONFIG_HOME -u XDG_DATA_HOME -u XDG_CACHE_HOME -u XDG_STATE_HOME HOME='" +
                                home.string() + "' TMPDIR='" + tmp.string() + "' '" + program + "' --scene " + scene +
                                " --screenshot '" + (out / (std::string(scene) + ".png")).string() + "' > '" +
                                (out / "log").string() + "' 2>&1";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << scene << "\n" << read_file(out / "log");
        EXPECT_TRUE(fs::exists(out / (std::string(scene) + ".png"))) << scene;
    }
    std::vector<std::string> left;
    for (const fs::path& p : {home, tmp}) {
        for (const auto& e : fs::recursive_directory_iterator(p)) left.push_back(e.path().string());
    }
    EXPECT_TRUE(left.empty()) << left.front();
    fs::remove_all(root);
}

}  // namespace
}  // namespace mail::app
