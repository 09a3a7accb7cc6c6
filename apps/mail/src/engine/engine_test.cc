#include "engine/engine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "engine/live_backend.h"
#include "engine/offline_backend.h"

namespace mail::engine {
namespace {

using namespace std::chrono_literals;

StoredConfig account(std::string email = "alice@example.test") {
    StoredConfig c;
    c.email = std::move(email);
    c.imap_host = "imap.example.test";
    c.smtp_host = "smtp.example.test";
    c.password = "secret";
    return c;
}

Request make_request(RequestPayload payload) {
    auto id = RequestId::random();
    EXPECT_TRUE(id.ok());
    return Request{*id, std::move(payload)};
}

// Collects events until `count` Completed events have arrived.
std::vector<Event> drain(Engine& engine, std::size_t completed, std::chrono::milliseconds limit = 5000ms) {
    std::vector<Event> events;
    std::size_t seen = 0;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (seen < completed && std::chrono::steady_clock::now() < deadline) {
        if (auto e = engine.try_next_event()) {
            if (e->tag() == EventTag::Completed) ++seen;
            events.push_back(std::move(*e));
        } else {
            std::this_thread::sleep_for(1ms);
        }
    }
    return events;
}

// Answers each kind with a different number of events; Move throws.
class ScriptedBackend : public Backend {
public:
    void handle(const Request& r, const EventSink& emit) override {
        switch (r.kind()) {
            case RequestKind::Connect:
                emit(Event{r.id, Connected{r.account()}});
                emit(Event{r.id, FoldersListed{{"INBOX", "Sent"}}});
                break;
            case RequestKind::Fetch:
                std::this_thread::sleep_for(20ms);
                emit(Event{r.id, Fetched{state::FolderRole::Inbox, r.account(), {}}});
                break;
            case RequestKind::Move:
                throw std::runtime_error("boom");
            case RequestKind::Purge:
                emit(failed_event(r, "nope"));
                break;
            default:
                break;  // success signalled by Completed alone
        }
    }
};

TEST(EngineWorker, EveryRequestEndsWithOneCompletedAfterItsEvents) {
    std::atomic<int> wakes{0};
    auto engine = Engine::start(std::make_unique<ScriptedBackend>(), [&] { ++wakes; });
    ASSERT_TRUE(engine.ok()) << engine.error();

    std::vector<Request> sent = {
        make_request(ConnectRequest{account()}),
        make_request(FetchRequest{account(), state::FolderRole::Inbox}),
        make_request(FlagRequest{account(), {}}),
        make_request(MoveRequest{account(), {}, state::FolderRole::Trash}),
        make_request(PurgeRequest{account(), {}}),
    };
    for (const Request& r : sent) ASSERT_TRUE((*engine)->send(r));
    const std::vector<Event> events = drain(**engine, sent.size());

    // Events come grouped by request, in the order the requests were sent,
    // each group closed by exactly one Completed of the request's kind.
    const std::vector<std::vector<EventTag>> expected = {
        {EventTag::Connected, EventTag::FoldersListed, EventTag::Completed},
        {EventTag::Fetched, EventTag::Completed},
        {EventTag::Completed},
        {EventTag::Failed, EventTag::Completed},
        {EventTag::Failed, EventTag::Completed},
    };
    std::size_t at = 0;
    for (std::size_t i = 0; i < sent.size(); ++i) {
        for (EventTag tag : expected[i]) {
            ASSERT_LT(at, events.size());
            EXPECT_EQ(events[at].id, sent[i].id) << "request " << i;
            EXPECT_EQ(events[at].tag(), tag) << "request " << i;
            EXPECT_EQ(answered_kind(events[at]), sent[i].kind());
            ++at;
        }
    }
    EXPECT_EQ(at, events.size());
    // The throwing backend became a Failed with the request's own label.
    EXPECT_EQ(std::get<Failed>(events[6].payload).label, "move");
    EXPECT_EQ(wakes.load(), static_cast<int>(events.size()));
}

// Holds every request until released.
class GateBackend : public Backend {
public:
    void handle(const Request& r, const EventSink& emit) override {
        std::unique_lock lock(mutex);
        open.wait(lock, [&] { return released; });
        emit(Event{r.id, Fetched{state::FolderRole::Inbox, r.account(), {}}});
    }
    std::mutex mutex;
    std::condition_variable open;
    bool released = false;
};

TEST(EngineWorker, SendingNeverWaitsForTheBackend) {
    auto gate = std::make_unique<GateBackend>();
    GateBackend& g = *gate;
    auto engine = Engine::start(std::move(gate));
    ASSERT_TRUE(engine.ok());
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE((*engine)->send(make_request(FetchRequest{account(), state::FolderRole::Inbox})));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
    EXPECT_FALSE((*engine)->try_next_event().has_value());
    {
        std::lock_guard lock(g.mutex);
        g.released = true;
    }
    g.open.notify_all();
    EXPECT_EQ(drain(**engine, 3).size(), 6u);
}

TEST(EngineWorker, DroppingTheEngineWhileBusyDoesNotWait) {
    auto gate = std::make_unique<GateBackend>();
    GateBackend* g = gate.get();
    auto engine = Engine::start(std::move(gate));
    ASSERT_TRUE(engine.ok());
    ASSERT_TRUE((*engine)->send(make_request(FetchRequest{account(), state::FolderRole::Inbox})));
    std::this_thread::sleep_for(20ms);
    const auto start = std::chrono::steady_clock::now();
    engine->reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    // Let the worker finish the request in hand; its events are dropped.
    {
        // Notified under the lock: the worker may destroy the backend as
        // soon as it can go on.
        std::lock_guard lock(g->mutex);
        g->released = true;
        g->open.notify_all();
    }
    std::this_thread::sleep_for(50ms);
}

struct OfflineCase {
    RequestPayload payload;
    std::string label;
    std::string message;
};

TEST(OfflineBackend, AnswersEveryRequestWithOneExplanation) {
    state::MailMessage m;
    m.message_id = "x@example.test";
    compose::DraftData draft;
    draft.to = "bob@example.test";
    const std::vector<OfflineCase> cases = {
        {ConnectRequest{account()}, "offline",
         "IMAP is unavailable for alice@example.test; rebuild with the live mail backend to connect"},
        {FetchRequest{account(), state::FolderRole::Starred}, "offline",
         "Cannot refresh Starred for alice@example.test while IMAP is offline"},
        {FetchRequest{account(), state::FolderRole::Inbox}, "offline",
         "Cannot refresh Inbox for alice@example.test while IMAP is offline"},
        {FlagRequest{account(), m}, "offline", "Local change saved; it was not synchronized to IMAP"},
        {MoveRequest{account(), m, state::FolderRole::Archive}, "offline",
         "Local change saved; it was not synchronized to IMAP"},
        {PurgeRequest{account(), m}, "offline", "Local change saved; it was not synchronized to IMAP"},
        {SendRequest{account(), draft}, "send", "SMTP is offline; validated 1234 MIME bytes locally but did not send"},
        {SignInRequest{"carol@gmail.com", oauth::Provider::Google}, "oauth",
         "OAuth sign-in for carol@gmail.com requires the live build"},
    };
    auto engine = Engine::start(
        make_offline_backend([](const StoredConfig&, const compose::DraftData&) -> lib::Result<std::string> {
            return std::string(1234, 'x');
        }),
        {}, true);
    ASSERT_TRUE(engine.ok());
    EXPECT_TRUE((*engine)->offline());
    std::vector<Request> sent;
    for (const auto& c : cases) {
        sent.push_back(make_request(c.payload));
        ASSERT_TRUE((*engine)->send(sent.back()));
    }
    const auto events = drain(**engine, cases.size());
    ASSERT_EQ(events.size(), cases.size() * 2);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Event& failed = events[2 * i];
        ASSERT_EQ(failed.tag(), EventTag::Failed) << i;
        EXPECT_EQ(failed.id, sent[i].id);
        EXPECT_EQ(std::get<Failed>(failed.payload).kind, sent[i].kind());
        EXPECT_EQ(std::get<Failed>(failed.payload).label, cases[i].label) << i;
        EXPECT_EQ(std::get<Failed>(failed.payload).message, cases[i].message) << i;
        EXPECT_EQ(events[2 * i + 1].tag(), EventTag::Completed);
    }
}

TEST(OfflineBackend, SendReportsWhyTheMessageCouldNotBeBuilt) {
    struct Case {
        MessageBuilder builder;
        std::string message;
    };
    const Case cases[] = {
        {[](const StoredConfig&, const compose::DraftData&) -> lib::Result<std::string> {
             return lib::err("no recipients");
         },
         "no recipients"},
        {{}, "message assembly is not available in this build"},
    };
    for (const Case& c : cases) {
        auto backend = make_offline_backend(c.builder);
        std::vector<Event> events;
        Request r = make_request(SendRequest{account(), {}});
        backend->handle(r, [&](Event e) { events.push_back(std::move(e)); });
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(std::get<Failed>(events[0].payload).label, "send");
        EXPECT_EQ(std::get<Failed>(events[0].payload).message, c.message);
    }
}

// What the live backend decides before it reaches the network.
TEST(LiveBackend, FailuresBeforeAnyConnection) {
    LiveOptions options;
    options.credentials.client_id = [](oauth::Provider) { return std::optional<std::string>(); };
    auto backend = make_live_backend(options);
    ASSERT_TRUE(backend.ok()) << backend.error();

    StoredConfig no_host = account();
    no_host.imap_host = "  \t";
    StoredConfig no_password = account();
    no_password.password.clear();
    StoredConfig bad_name = account();
    bad_name.imap_host = "imap example.test";
    state::MailMessage m;

    struct Case {
        RequestPayload payload;
        std::string label;
        std::string message;  // a prefix
    };
    const Case cases[] = {
        {FetchRequest{no_host, state::FolderRole::Inbox}, "fetch", "no IMAP host"},
        {ConnectRequest{no_password}, "connect", "no password set for this account"},
        {FlagRequest{no_password, m}, "flag", "no password set for this account"},
        {ConnectRequest{bad_name}, "connect", "invalid IMAP host name: "},
        {PurgeRequest{no_host, m}, "purge", "no IMAP host"},
        {SendRequest{account(), {}}, "smtp", "sending mail is not available in this build yet"},
        {SignInRequest{"dana@outlook.com", oauth::Provider::Microsoft}, "oauth",
         "set ZELK_MAIL_MICROSOFT_CLIENT_ID to sign in"},
    };
    for (const Case& c : cases) {
        std::vector<Event> events;
        Request r = make_request(c.payload);
        (*backend)->handle(r, [&](Event e) { events.push_back(std::move(e)); });
        ASSERT_EQ(events.size(), 1u) << c.message;
        ASSERT_EQ(events[0].tag(), EventTag::Failed);
        const Failed& f = std::get<Failed>(events[0].payload);
        EXPECT_EQ(f.label, c.label);
        EXPECT_EQ(f.kind, r.kind());
        EXPECT_EQ(f.message.rfind(c.message, 0), 0u) << f.message;
    }
}

TEST(Protocol, KindsLabelsAndMatching) {
    const std::map<RequestKind, std::string> labels = {
        {RequestKind::Connect, "connect"}, {RequestKind::Fetch, "fetch"}, {RequestKind::Flag, "flag"},
        {RequestKind::Move, "move"},       {RequestKind::Purge, "purge"}, {RequestKind::Send, "smtp"},
        {RequestKind::OAuthSignIn, "oauth"},
    };
    for (const auto& [kind, label] : labels) EXPECT_EQ(request_label(kind), label);
    EXPECT_EQ(make_request(SignInRequest{"x@gmail.com", oauth::Provider::Google}).kind(), RequestKind::OAuthSignIn);
    EXPECT_EQ(make_request(PurgeRequest{}).kind(), RequestKind::Purge);

    RequestId id{};
    const std::pair<EventPayload, RequestKind> implied[] = {
        {Connected{}, RequestKind::Connect},   {FoldersListed{}, RequestKind::Connect},
        {Fetched{}, RequestKind::Fetch},       {Sent{}, RequestKind::Send},
        {SignedIn{}, RequestKind::OAuthSignIn}, {Failed{RequestKind::Move, "move", "x"}, RequestKind::Move},
        {Completed{RequestKind::Purge}, RequestKind::Purge},
    };
    for (const auto& [payload, kind] : implied) EXPECT_EQ(answered_kind(Event{id, payload}), kind);

    auto a = RequestId::random();
    auto b = RequestId::random();
    ASSERT_TRUE(a.ok() && b.ok());
    EXPECT_NE(*a, *b);
    EXPECT_EQ(a->text().size(), 36u);
    EXPECT_EQ(a->text()[14], '4');
}

}  // namespace
}  // namespace mail::engine
