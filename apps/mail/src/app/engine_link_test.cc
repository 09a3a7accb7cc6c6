// The window side of the engine: pending requests, event matching and
// application, status texts, sync-state reports, refreshes, and an update
// turn that never waits for the engine.
#include "app/engine_link.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>

#include "app/mail_app.h"
#include "doc/mailbox.h"
#include "doc/reflect.h"
#include "runtime/accounts/sync_status.h"
#include "runtime/ui/core/headless.h"

namespace mail::app {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using engine::Event;
using engine::Request;
using engine::RequestKind;
using runtime::accounts::SyncState;
using state::FolderRole;
using state::MailMessage;

// A backend whose answers the test decides, request by request.
class ScriptBackend : public engine::Backend {
public:
    using Script = std::function<void(const Request&, const engine::EventSink&)>;
    explicit ScriptBackend(std::shared_ptr<Script> script) : script_(std::move(script)) {}
    void handle(const Request& r, const engine::EventSink& emit) override {
        if (*script_) (*script_)(r, emit);
    }

private:
    std::shared_ptr<Script> script_;
};

MailMessage message(const std::string& id_text, std::int64_t date, FolderRole folder = FolderRole::Inbox) {
    MailMessage m;
    m.message_id = id_text + "@example.test";
    m.id = state::MessageId::from_message_id(*m.message_id);
    m.subject = "Subject " + id_text;
    m.from = {"Ann", "ann@example.test"};
    m.date = date;
    m.folder = folder;
    return m;
}

class Link : public ::testing::Test {
protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("zelk-link-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root);
        fs::create_directories(root);
        script = std::make_shared<ScriptBackend::Script>();
        auto made = make_engine_link(std::make_unique<ScriptBackend>(script), root);
        ASSERT_TRUE(made.ok()) << made.error();
        link = std::move(*made);
        validate::AccountEntry a;
        a.id = "alice@example.test";
        a.config.email = "alice@example.test";
        a.config.imap_host = "imap.example.test";
        a.config.password = "pw";
        st = state::MailState::with_accounts({a}, 0, 29'000'000);
    }
    void TearDown() override {
        link = EngineLink();
        fs::remove_all(root);
    }

    // Applies events until the pending table is empty.
    void settle() {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        do {
            apply_engine_events(link, st, &doc);
            if (link.pending_count() == 0) return;
            std::this_thread::sleep_for(2ms);
        } while (std::chrono::steady_clock::now() < deadline);
        ADD_FAILURE() << "requests still pending";
    }

    std::optional<SyncState> sync_state(const std::string& account) {
        auto all = runtime::accounts::read_sync_statuses(root);
        auto it = all.find(account);
        if (it == all.end()) return std::nullopt;
        return it->second.state;
    }

    fs::path root;
    std::shared_ptr<ScriptBackend::Script> script;
    EngineLink link;
    state::MailState st;
    runtime::persist::Doc doc = runtime::persist::Doc::open_in_memory();
};

TEST_F(Link, WithoutAnEngineNothingIsSent) {
    EngineLink none;
    EXPECT_FALSE(send_request(none, st, engine::ConnectRequest{st.accounts[0].config}).has_value());
    EXPECT_EQ(none.pending_count(), 0u);
    EXPECT_FALSE(none.busy);
    start_initial_sync(none, st);
    EXPECT_FALSE(none.initial_sync_sent);
    const MailMessage m = message("local", 10);
    st.store.upsert(m);
    ASSERT_TRUE(st.set_read(m.id, true));
    ASSERT_EQ(st.pending_intents().size(), 1u);
    send_intents(none, st);
    // The change stays local: the intent is dropped, not kept for later.
    EXPECT_TRUE(st.pending_intents().empty());
    EXPECT_TRUE(st.store.get(m.id)->read);
}

TEST_F(Link, FetchedMergesLocalDecisionsAndSelects) {
    const MailMessage a = message("a", 100), b = message("b", 200), gone = message("gone", 300);
    // The user already marked a read, moved b to Archive and purged gone.
    ASSERT_TRUE(doc.change([&](doc::Tx& tx) {
                      doc::ensure_present(tx, a.id.text());
                      doc::set_read(tx, a.id.text(), true);
                      doc::ensure_present(tx, b.id.text());
                      doc::set_folder(tx, b.id.text(), FolderRole::Archive);
                      doc::purge(tx, gone.id.text());
                  }).ok());
    *script = [&](const Request& r, const engine::EventSink& emit) {
        emit(Event{r.id, engine::Fetched{FolderRole::Inbox, "alice@example.test", {gone, b, a}}});
    };
    auto id = send_request(link, st, engine::FetchRequest{st.accounts[0].config, FolderRole::Inbox});
    ASSERT_TRUE(id);
    EXPECT_TRUE(link.busy);
    settle();
    EXPECT_FALSE(link.busy);

    EXPECT_EQ(st.status, "Synced 3 messages");
    ASSERT_EQ(st.store.size(), 2u);
    EXPECT_FALSE(st.store.contains(gone.id));
    EXPECT_TRUE(st.store.get(a.id)->read);
    EXPECT_EQ(st.store.get(b.id)->folder, FolderRole::Archive);
    // b is in Archive now, so the Inbox list starts with a.
    EXPECT_EQ(st.selected, a.id);
    EXPECT_TRUE(doc::present(doc, a.id.text()));
    EXPECT_FALSE(doc::present(doc, gone.id.text()));
    EXPECT_EQ(doc::get_read(doc, a.id.text()), true);
    EXPECT_EQ(doc::get_starred(doc, a.id.text()), false);
    EXPECT_EQ(sync_state("alice@example.test"), SyncState::succeeded);
}

TEST_F(Link, FetchedStatusAndSelectionByFolder) {
    struct Case {
        FolderRole shown;
        FolderRole fetched;
        std::vector<MailMessage> records;
        std::string status;
        bool selects;
    };
    const Case cases[] = {
        {FolderRole::Inbox, FolderRole::Inbox, {message("one", 10)}, "Synced 1 message", true},
        {FolderRole::Inbox, FolderRole::Archive, {message("two", 10, FolderRole::Archive)}, "Synced 1 message", false},
        {FolderRole::Starred, FolderRole::Starred, {}, "Starred up to date", false},
        {FolderRole::Inbox, FolderRole::Junk, {}, "Junk up to date", false},
    };
    for (const Case& c : cases) {
        st.store.clear();
        st.selected.reset();
        st.folder = c.shown;
        *script = [&](const Request& r, const engine::EventSink& emit) {
            emit(Event{r.id, engine::Fetched{c.fetched, "alice@example.test", c.records}});
        };
        ASSERT_TRUE(send_request(link, st, engine::FetchRequest{st.accounts[0].config, c.fetched}));
        settle();
        EXPECT_EQ(st.status, c.status);
        EXPECT_EQ(st.store.size(), c.records.size());
        EXPECT_EQ(st.selected.has_value(), c.selects) << c.status;
    }
}

TEST_F(Link, UnmatchedAndWrongKindEventsAreDropped) {
    const MailMessage m = message("stray", 10);
    *script = [&](const Request& r, const engine::EventSink& emit) {
        // A Fetched under a Connect's id, and events for an id never sent.
        emit(Event{r.id, engine::Fetched{FolderRole::Inbox, "alice@example.test", {m}}});
        auto other = engine::RequestId::random();
        emit(Event{*other, engine::Connected{"mallory@example.test"}});
        emit(Event{*other, engine::Completed{RequestKind::Fetch}});
        emit(Event{r.id, engine::Completed{RequestKind::Fetch}});  // wrong kind: stays pending
    };
    auto id = send_request(link, st, engine::ConnectRequest{st.accounts[0].config});
    ASSERT_TRUE(id);
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (link.pending_count() > 0 && std::chrono::steady_clock::now() < deadline) {
        apply_engine_events(link, st, &doc);
        std::this_thread::sleep_for(2ms);
    }
    EXPECT_TRUE(st.store.empty());
    EXPECT_EQ(st.status, "");
    EXPECT_FALSE(link.busy);  // the worker's own Completed(Connect) ended it
}

TEST_F(Link, EveryEventsEffect) {
    struct Case {
        engine::RequestPayload payload;
        std::function<std::vector<engine::EventPayload>()> events;
        std::string status;
        std::optional<SyncState> sync;
    };
    const auto config = st.accounts[0].config;
    const Case cases[] = {
        {engine::ConnectRequest{config},
         [] { return std::vector<engine::EventPayload>{engine::Connected{"alice@example.test"},
                                                       engine::FoldersListed{{"INBOX"}}}; },
         "Connected alice@example.test", SyncState::started},
        {engine::SignInRequest{"alice@example.test", oauth::Provider::Google},
         [] { return std::vector<engine::EventPayload>{engine::SignedIn{"alice@example.test"}}; },
         "Signed in as alice@example.test", SyncState::succeeded},
        {engine::ConnectRequest{config},
         [] {
             return std::vector<engine::EventPayload>{engine::Failed{
                 RequestKind::Connect, "connect", "authentication failed \xE2\x80\x94 check the username and password"}};
         },
         "connect: authentication failed \xE2\x80\x94 check the username and password", SyncState::needs_authentication},
        {engine::ConnectRequest{config},
         [] {
             return std::vector<engine::EventPayload>{
                 engine::Failed{RequestKind::Connect, "connect", "connection refused \xE2\x80\x94 check the host and port"}};
         },
         "connect: connection refused \xE2\x80\x94 check the host and port", SyncState::failed},
        {engine::SignInRequest{"alice@example.test", oauth::Provider::Google},
         [] {
             return std::vector<engine::EventPayload>{
                 engine::Failed{RequestKind::OAuthSignIn, "oauth", "timed out waiting for the sign-in redirect"}};
         },
         "oauth: timed out waiting for the sign-in redirect", SyncState::needs_authentication},
        {engine::FlagRequest{config, message("x", 1)},
         [] {
             return std::vector<engine::EventPayload>{
                 engine::Failed{RequestKind::Flag, "offline", "Local change saved; it was not synchronized to IMAP"}};
         },
         "offline: Local change saved; it was not synchronized to IMAP", SyncState::failed},
    };
    for (const Case& c : cases) {
        fs::remove(root / runtime::accounts::kSyncStatusFile);
        auto events = c.events();
        *script = [events](const Request& r, const engine::EventSink& emit) {
            for (const auto& e : events) emit(Event{r.id, e});
        };
        ASSERT_TRUE(send_request(link, st, c.payload));
        settle();
        EXPECT_EQ(st.status, c.status);
        EXPECT_EQ(sync_state("alice@example.test"), c.sync) << c.status;
    }
}

TEST_F(Link, NeedsAuthenticationWords) {
    const std::pair<std::string, bool> cases[] = {
        {"connect: AUTHENTICATION failed", true},
        {"fetch: Login refused", true},
        {"connect: no password set for this account", true},
        {"oauth: anything at all", true},
        {"fetch: could not save refreshed sign-in Credentials: disk full", true},
        {"connect: connection refused \xE2\x80\x94 check the host and port", false},
        {"fetch: message not found on the server", false},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(needs_authentication(text), expected) << text;
}

TEST_F(Link, TrackedRefreshOutcome) {
    *script = [](const Request& r, const engine::EventSink& emit) {
        emit(Event{r.id, engine::Fetched{FolderRole::Inbox, "alice@example.test", {}}});
    };
    st.now_minute = 29'000'123;
    ASSERT_TRUE(refresh_tracked(link, st));
    EXPECT_EQ(st.status, "Syncing\xE2\x80\xA6");
    EXPECT_EQ(link.last_refresh_minute, 29'000'123);
    EXPECT_EQ(sync_state("alice@example.test"), SyncState::started);
    settle();
    ASSERT_TRUE(link.refresh_outcome);
    EXPECT_TRUE(link.refresh_outcome->ok);

    *script = [](const Request& r, const engine::EventSink& emit) {
        emit(Event{r.id, engine::Failed{RequestKind::Fetch, "fetch", "server said no"}});
    };
    ASSERT_TRUE(refresh_tracked(link, st));
    EXPECT_FALSE(link.refresh_outcome);
    settle();
    ASSERT_TRUE(link.refresh_outcome);
    EXPECT_FALSE(link.refresh_outcome->ok);
    EXPECT_EQ(link.refresh_outcome->code, "mail.refresh_failed");
    EXPECT_EQ(link.refresh_outcome->message, "fetch: server said no");

    // Without an address there is nothing to refresh.
    st.accounts[0].config.email.clear();
    EXPECT_FALSE(refresh(link, st));
}

TEST_F(Link, AutomaticRefreshEveryFiveMinutes) {
    std::atomic<int> fetches{0};
    *script = [&](const Request& r, const engine::EventSink&) {
        if (r.kind() == RequestKind::Fetch) ++fetches;
    };
    st.now_minute = 1000;
    auto_refresh(link, st);  // first check only notes the minute
    EXPECT_EQ(link.last_refresh_minute, 1000);
    st.now_minute = 1004;
    auto_refresh(link, st);
    EXPECT_EQ(link.pending_count(), 0u);
    EXPECT_EQ(st.status, "");
    st.now_minute = 1005;
    auto_refresh(link, st);
    EXPECT_EQ(link.pending_count(), 1u);
    EXPECT_EQ(st.status, "Syncing\xE2\x80\xA6");
    EXPECT_EQ(link.last_refresh_minute, 1005);
    // While busy nothing more starts.
    st.now_minute = 1020;
    auto_refresh(link, st);
    EXPECT_EQ(link.pending_count(), 1u);
    settle();
    EXPECT_EQ(fetches.load(), 1);
}

TEST_F(Link, InitialSyncConnectsThenFetchesTheInbox) {
    std::mutex m;
    std::vector<std::pair<RequestKind, FolderRole>> seen;
    *script = [&](const Request& r, const engine::EventSink&) {
        std::lock_guard lock(m);
        FolderRole role = FolderRole::Junk;
        if (auto* f = std::get_if<engine::FetchRequest>(&r.payload)) role = f->role;
        seen.emplace_back(r.kind(), role);
    };
    st.folder = FolderRole::Archive;
    start_initial_sync(link, st);
    EXPECT_TRUE(link.initial_sync_sent);
    EXPECT_EQ(st.status, "Syncing\xE2\x80\xA6");
    start_initial_sync(link, st);
    settle();
    std::lock_guard lock(m);
    EXPECT_EQ(seen, (std::vector<std::pair<RequestKind, FolderRole>>{{RequestKind::Connect, FolderRole::Junk},
                                                                      {RequestKind::Fetch, FolderRole::Inbox}}));
}

TEST_F(Link, SentOnlyAnswersThePendingSend) {
    // The first send is answered at once, the second only when released.
    std::mutex m;
    std::condition_variable cv;
    bool release = false;
    int calls = 0;
    *script = [&](const Request& r, const engine::EventSink& emit) {
        std::unique_lock lock(m);
        if (calls++ > 0) cv.wait(lock, [&] { return release; });
        emit(Event{r.id, engine::Sent{calls == 1 ? 1111u : 4321u}});
    };
    auto other = send_request(link, st, engine::SendRequest{st.accounts[0].config, {}});
    ASSERT_TRUE(other);
    auto mine = send_draft(link, st, st.accounts[0].config, {});
    ASSERT_TRUE(mine);
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (link.is_pending(*other) && std::chrono::steady_clock::now() < deadline) {
        apply_engine_events(link, st, &doc);
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_FALSE(link.is_pending(*other));
    EXPECT_EQ(link.pending_send, mine);
    EXPECT_FALSE(link.delivered_size);
    EXPECT_EQ(st.status, "");
    {
        std::lock_guard lock(m);
        release = true;
        cv.notify_all();
    }
    settle();
    EXPECT_FALSE(link.pending_send);
    EXPECT_EQ(link.delivered_size, 4321u);
    EXPECT_EQ(st.status, "Delivered (4321 bytes)");
}

TEST_F(Link, IntentsBecomeRequests) {
    std::mutex m;
    std::vector<RequestKind> kinds;
    *script = [&](const Request& r, const engine::EventSink&) {
        std::lock_guard lock(m);
        kinds.push_back(r.kind());
    };
    const MailMessage a = message("a", 10);
    st.store.upsert(a);
    st.set_read(a.id, true);
    st.set_starred(a.id, true);
    st.move_to(a.id, FolderRole::Trash);
    st.purge(a.id);
    st.show_folder(FolderRole::Sent);
    send_intents(link, st);
    settle();
    std::lock_guard lock(m);
    EXPECT_EQ(kinds, (std::vector<RequestKind>{RequestKind::Flag, RequestKind::Flag, RequestKind::Move,
                                               RequestKind::Purge, RequestKind::Fetch}));
}

// A whole update turn of the application while the engine is slow: it
// returns at once, and the answer arrives in a later turn after a wake.
TEST(MailAppWithEngine, UpdateTurnNeverWaitsForTheEngine) {
    auto script = std::make_shared<ScriptBackend::Script>();
    *script = [](const Request& r, const engine::EventSink& emit) {
        std::this_thread::sleep_for(400ms);
        if (r.kind() == RequestKind::Fetch)
            emit(Event{r.id, engine::Fetched{FolderRole::Inbox, "alice@example.test", {message("late", 50)}}});
    };
    auto link = make_engine_link(std::make_unique<ScriptBackend>(script), std::nullopt);
    ASSERT_TRUE(link.ok());
    validate::AccountEntry a;
    a.id = "alice@example.test";
    a.config.email = "alice@example.test";
    MailApp::Parts parts;
    parts.state = state::make_shared_state(state::MailState::with_accounts({a}, 0, 29'000'000));
    parts.engine = std::move(*link);
    MailApp app(std::move(parts));
    auto doc = std::make_shared<runtime::persist::Doc>(runtime::persist::Doc::open_in_memory());
    runtime::ui::HeadlessOptions o;
    o.state = runtime::ui::AppState::hold(doc);
    runtime::ui::HeadlessSession session(app, {1280, 800}, std::move(o));

    const auto start = std::chrono::steady_clock::now();
    session.turn();
    session.turn();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 200ms);
    EXPECT_TRUE(app.engine_busy());
    EXPECT_EQ(app.state()->borrow()->status, "Syncing\xE2\x80\xA6");
    EXPECT_TRUE(app.state()->borrow()->store.empty());

    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (app.engine_busy() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
        const auto turn_start = std::chrono::steady_clock::now();
        session.turn();
        EXPECT_LT(std::chrono::steady_clock::now() - turn_start, 200ms);
    }
    EXPECT_GE(session.wakes(), 1);
    EXPECT_FALSE(app.engine_busy());
    EXPECT_EQ(app.state()->borrow()->status, "Synced 1 message");
    EXPECT_EQ(app.state()->borrow()->store.size(), 1u);
}

}  // namespace
}  // namespace mail::app
