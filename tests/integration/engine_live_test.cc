// The live engine backend against a real Dovecot over TLS: listing,
// fetching, the three mutations found by Message-ID, and the classified
// connection failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <thread>

#include "engine/engine.h"
#include "engine/live_backend.h"
#include "tests/integration/support/dovecot.h"
#include "tests/integration/support/loopback_peer.h"
#include "tests/integration/support/pki.h"
#include "tests/integration/support/process.h"

namespace {

using integration::Dovecot;
using mail::engine::Event;
using mail::engine::EventTag;
using mail::engine::Failed;
using mail::engine::Request;
using mail::engine::RequestPayload;
using mail::state::FolderRole;
using mail::state::MailMessage;

const std::string kAuthFailed = "authentication failed \xE2\x80\x94 check the username and password";

class LiveEngine : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (Dovecot::unavailable_reason()) return;
        auto server = Dovecot::start({.users = {{"alice", "secret1"}}});
        ASSERT_TRUE(server.ok()) << server.error();
        server_ = std::move(*server);
    }
    static void TearDownTestSuite() { server_.reset(); }

    void SetUp() override {
        ZELK_SKIP_WITHOUT_DOVECOT();
        ASSERT_TRUE(server_) << "the Dovecot fixture did not start";
        mail::engine::LiveOptions options;
        options.on_commands = [this](const std::vector<std::string>& lines) { commands = lines; };
        auto backend = mail::engine::make_live_backend(options);
        ASSERT_TRUE(backend.ok()) << backend.error();
        backend_ = std::move(*backend);
    }

    std::string new_user() {
        std::string name = "eng" + std::to_string(++users_made_);
        EXPECT_TRUE(server_->add_user(name, "pw-" + name).ok());
        return name;
    }

    mail::engine::StoredConfig config_for(const std::string& user) {
        mail::engine::StoredConfig c;
        c.email = user + "@example.test";
        c.username = user;
        c.password = "pw-" + user;
        c.imap_host = server_->host();
        c.imap_port = server_->port();
        c.smtp_host = server_->host();
        return c;
    }

    std::vector<Event> run(RequestPayload payload) {
        auto id = mail::engine::RequestId::random();
        EXPECT_TRUE(id.ok());
        std::vector<Event> events;
        backend_->handle(Request{*id, std::move(payload)}, [&](Event e) { events.push_back(std::move(e)); });
        return events;
    }

    // The single Failed event of a request, or a test failure.
    std::string failure(const std::vector<Event>& events) {
        EXPECT_EQ(events.size(), 1u);
        if (events.size() != 1 || events[0].tag() != EventTag::Failed) return "(no single Failed event)";
        return std::get<Failed>(events[0].payload).message;
    }

    std::vector<MailMessage> fetch(const std::string& user, FolderRole role) {
        auto events = run(mail::engine::FetchRequest{config_for(user), role});
        EXPECT_EQ(events.size(), 1u);
        if (events.size() != 1 || events[0].tag() != EventTag::Fetched) {
            ADD_FAILURE() << (events.empty() || events[0].tag() != EventTag::Failed
                                  ? std::string("no Fetched event")
                                  : std::get<Failed>(events[0].payload).message);
            return {};
        }
        const auto& f = std::get<mail::engine::Fetched>(events[0].payload);
        EXPECT_EQ(f.role, role);
        EXPECT_EQ(f.account, user + "@example.test");
        return f.messages;
    }

    // A record the way the window would hold it.
    MailMessage record(const std::string& message_id, FolderRole folder) {
        MailMessage m;
        m.message_id = message_id;
        m.folder = folder;
        return m;
    }

    std::vector<std::string> flags_of(const std::string& user, const std::string& mailbox) {
        std::vector<std::string> out;
        for (const std::string& f : server_->message_files(user, mailbox)) {
            auto p = f.rfind(":2,");
            out.push_back(p == std::string::npos ? "" : f.substr(p + 3));
        }
        return out;
    }

    bool sent(const std::string& needle) const {
        return std::any_of(commands.begin(), commands.end(),
                           [&](const std::string& l) { return l.find(needle) != std::string::npos; });
    }

    static std::unique_ptr<Dovecot> server_;
    static int users_made_;
    std::unique_ptr<mail::engine::Backend> backend_;
    std::vector<std::string> commands;
};

std::unique_ptr<Dovecot> LiveEngine::server_;
int LiveEngine::users_made_ = 0;

TEST_F(LiveEngine, ConnectListsTheMailboxes) {
    const std::string user = new_user();
    auto events = run(mail::engine::ConnectRequest{config_for(user)});
    ASSERT_EQ(events.size(), 2u) << (events.empty() ? "" : failure(events));
    ASSERT_EQ(events[0].tag(), EventTag::Connected);
    EXPECT_EQ(std::get<mail::engine::Connected>(events[0].payload).account, user + "@example.test");
    ASSERT_EQ(events[1].tag(), EventTag::FoldersListed);
    auto names = std::get<mail::engine::FoldersListed>(events[1].payload).names;
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Archive", "Drafts", "INBOX", "Junk", "Sent", "Trash"}));
    EXPECT_TRUE(sent("LIST \"\" *"));
    EXPECT_TRUE(sent("LOGOUT"));
}

TEST_F(LiveEngine, FetchTakesTheFiftyNewestWithFlagsAndDates) {
    const std::string user = new_user();
    auto seed = integration::numbered_messages(120, user, 1'700'000'000);
    for (std::size_t i = 0; i < seed.size(); ++i) {
        const int k = static_cast<int>(i) + 1;
        seed[i].flags = std::string(k % 3 == 0 ? "S" : "") + (k % 5 == 0 ? "F" : "");
        seed[i].internal_date += 59;  // within the minute: truncated
    }
    ASSERT_TRUE(server_->seed(user, "INBOX", seed).ok());

    const auto messages = fetch(user, FolderRole::Inbox);
    ASSERT_EQ(messages.size(), 50u);
    for (std::size_t i = 0; i < messages.size(); ++i) {
        const int k = 120 - static_cast<int>(i);
        const MailMessage& m = messages[i];
        EXPECT_EQ(m.message_id, user + "-" + std::to_string(k) + "@example.test");
        EXPECT_EQ(m.subject, "Message " + std::to_string(k));
        EXPECT_EQ(m.read, k % 3 == 0) << k;
        EXPECT_EQ(m.starred, k % 5 == 0) << k;
        EXPECT_EQ(m.date, (1'700'000'000 + 60 * (k - 1) + 59) / 60) << k;
        EXPECT_EQ(m.folder, FolderRole::Inbox);
        EXPECT_EQ(m.from.address, "sender@example.test");
    }
    // One UID FETCH, newest first, bodies peeked: nothing became \Seen.
    std::string uid_list;
    for (int k = 120; k > 70; --k) uid_list += (uid_list.empty() ? "" : ",") + std::to_string(k);
    EXPECT_EQ(std::count_if(commands.begin(), commands.end(),
                            [](const std::string& l) { return l.find("UID FETCH") != std::string::npos; }),
              1);
    EXPECT_TRUE(sent("UID FETCH " + uid_list + " (UID FLAGS INTERNALDATE BODY.PEEK[])"));
    const auto flags = flags_of(user, "INBOX");
    EXPECT_EQ(std::count_if(flags.begin(), flags.end(),
                            [](const std::string& f) { return f.find('S') != std::string::npos; }),
              40);
}

TEST_F(LiveEngine, StarredIsTheFlaggedMailOfTheInbox) {
    const std::string user = new_user();
    auto seed = integration::numbered_messages(6, user);
    seed[1].flags = "F";
    seed[4].flags = "FS";
    ASSERT_TRUE(server_->seed(user, "INBOX", seed).ok());
    const auto messages = fetch(user, FolderRole::Starred);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].message_id, user + "-5@example.test");
    EXPECT_EQ(messages[1].message_id, user + "-2@example.test");
    for (const auto& m : messages) {
        EXPECT_EQ(m.folder, FolderRole::Starred);
        EXPECT_TRUE(m.starred);
    }
    EXPECT_TRUE(sent("SELECT \"INBOX\""));
    EXPECT_TRUE(sent("UID SEARCH FLAGGED"));
}

TEST_F(LiveEngine, EmptyFolderSendsNoFetch) {
    const std::string user = new_user();
    EXPECT_TRUE(fetch(user, FolderRole::Junk).empty());
    EXPECT_TRUE(sent("SELECT \"Junk\""));
    EXPECT_FALSE(sent("UID FETCH"));
}

TEST_F(LiveEngine, FlagWritesBothFlags) {
    struct Case {
        std::string initial;
        bool read, starred;
        std::string after;
        std::vector<std::string> stores;
    };
    const Case cases[] = {
        {"", true, false, "S", {"+FLAGS (\\Seen)", "-FLAGS (\\Flagged)"}},
        {"S", false, true, "F", {"-FLAGS (\\Seen)", "+FLAGS (\\Flagged)"}},
        {"FS", true, true, "FS", {"+FLAGS (\\Seen)", "+FLAGS (\\Flagged)"}},
    };
    for (const Case& c : cases) {
        const std::string user = new_user();
        auto seed = integration::numbered_messages(2, user);
        seed[0].flags = c.initial;
        ASSERT_TRUE(server_->seed(user, "INBOX", seed).ok());
        MailMessage m = record(user + "-1@example.test", FolderRole::Inbox);
        m.read = c.read;
        m.starred = c.starred;
        auto events = run(mail::engine::FlagRequest{config_for(user), m});
        EXPECT_TRUE(events.empty()) << failure(events);
        for (const auto& s : c.stores) EXPECT_TRUE(sent("UID STORE 1 " + s)) << s;
        EXPECT_EQ(flags_of(user, "INBOX"), (std::vector<std::string>{c.after, ""}));
    }
}

TEST_F(LiveEngine, FlagOfAStarredRecordSearchesTheInbox) {
    const std::string user = new_user();
    auto seed = integration::numbered_messages(1, user);
    seed[0].flags = "F";
    ASSERT_TRUE(server_->seed(user, "INBOX", seed).ok());
    MailMessage m = record(user + "-1@example.test", FolderRole::Starred);
    m.read = true;
    m.starred = true;
    auto events = run(mail::engine::FlagRequest{config_for(user), m});
    EXPECT_TRUE(events.empty()) << failure(events);
    EXPECT_EQ(flags_of(user, "INBOX"), (std::vector<std::string>{"FS"}));
}

TEST_F(LiveEngine, MoveToArchive) {
    const std::string user = new_user();
    ASSERT_TRUE(server_->seed(user, "INBOX", integration::numbered_messages(3, user)).ok());
    auto events =
        run(mail::engine::MoveRequest{config_for(user), record(user + "-2@example.test", FolderRole::Inbox),
                                      FolderRole::Archive});
    EXPECT_TRUE(events.empty()) << failure(events);
    EXPECT_TRUE(sent("UID MOVE 2 \"Archive\""));
    EXPECT_EQ(server_->message_files(user, "INBOX").size(), 2u);
    const auto archived = fetch(user, FolderRole::Archive);
    ASSERT_EQ(archived.size(), 1u);
    EXPECT_EQ(archived[0].message_id, user + "-2@example.test");
}

TEST_F(LiveEngine, PurgeExpungesOnlyThatMessage) {
    const std::string user = new_user();
    auto seed = integration::numbered_messages(3, user);
    seed[0].flags = "T";  // already marked \Deleted by someone else: must survive
    ASSERT_TRUE(server_->seed(user, "Trash", seed).ok());
    auto events = run(mail::engine::PurgeRequest{config_for(user), record(user + "-3@example.test", FolderRole::Trash)});
    EXPECT_TRUE(events.empty()) << failure(events);
    EXPECT_TRUE(sent("UID STORE 3 +FLAGS.SILENT (\\Deleted)"));
    EXPECT_TRUE(sent("UID EXPUNGE 3"));
    EXPECT_EQ(flags_of(user, "Trash"), (std::vector<std::string>{"T", ""}));
}

TEST_F(LiveEngine, MessagesThatCannotBeLocated) {
    const std::string user = new_user();
    ASSERT_TRUE(server_->seed(user, "INBOX", integration::numbered_messages(2, user)).ok());
    MailMessage no_id;
    no_id.folder = FolderRole::Inbox;
    struct Case {
        RequestPayload payload;
        std::string label, message;
    };
    const Case cases[] = {
        {mail::engine::FlagRequest{config_for(user), record("nobody@example.test", FolderRole::Inbox)}, "flag",
         "message not found on the server"},
        {mail::engine::MoveRequest{config_for(user), record("nobody@example.test", FolderRole::Inbox),
                                   FolderRole::Trash},
         "move", "message not found on the server"},
        {mail::engine::PurgeRequest{config_for(user), record(user + "-1@example.test", FolderRole::Trash)}, "purge",
         "message not found on the server"},
        {mail::engine::FlagRequest{config_for(user), no_id}, "flag",
         "message has no Message-ID to locate it on the server"},
    };
    for (const Case& c : cases) {
        auto events = run(c.payload);
        ASSERT_EQ(events.size(), 1u);
        ASSERT_EQ(events[0].tag(), EventTag::Failed);
        EXPECT_EQ(std::get<Failed>(events[0].payload).label, c.label);
        EXPECT_EQ(std::get<Failed>(events[0].payload).message, c.message);
    }
    EXPECT_EQ(flags_of(user, "INBOX"), (std::vector<std::string>{"", ""}));
}

TEST_F(LiveEngine, OfTwoCopiesTheHigherUidIsChanged) {
    const std::string user = new_user();
    const std::string id = user + "-twin@example.test";
    std::vector<integration::SeedMessage> seed = {
        {integration::make_message("first copy", id, "one"), "", 1'700'000'000},
        {integration::make_message("other", user + "-x@example.test", "x"), "", 1'700'000'060},
        {integration::make_message("second copy", id, "two"), "", 1'700'000'120},
    };
    ASSERT_TRUE(server_->seed(user, "INBOX", seed).ok());
    MailMessage m = record(id, FolderRole::Inbox);
    m.read = true;
    // A quote in the stored id is dropped before searching.
    m.message_id = "\"" + id + "\"";
    auto events = run(mail::engine::FlagRequest{config_for(user), m});
    EXPECT_TRUE(events.empty()) << failure(events);
    EXPECT_TRUE(sent("UID SEARCH HEADER MESSAGE-ID \"" + id + "\""));
    EXPECT_EQ(flags_of(user, "INBOX"), (std::vector<std::string>{"", "", "S"}));
}

TEST_F(LiveEngine, ConnectionFailuresAreClassified) {
    const std::string user = new_user();
    auto wrong_password = config_for(user);
    wrong_password.password = "wrong";

    auto refused = config_for(user);
    refused.imap_port = integration::free_loopback_port();

    // A TLS server whose certificate comes from a CA nobody trusts.
    auto dir = integration::TempDir::create("zelk-untrusted");
    ASSERT_TRUE(dir.ok());
    auto pki = integration::make_pki(dir->path());
    ASSERT_TRUE(pki.ok()) << pki.error();
    auto peer = integration::LoopbackPeer::start({pki->server_cert, pki->server_key});
    ASSERT_TRUE(peer.ok()) << peer.error();
    auto untrusted = config_for(user);
    untrusted.imap_port = (*peer)->port();

    struct Case {
        mail::engine::StoredConfig config;
        std::string message;
    };
    const Case cases[] = {
        {wrong_password, kAuthFailed},
        {refused, "connection refused \xE2\x80\x94 check the host and port"},
        {untrusted, "TLS/certificate error \xE2\x80\x94 the server's certificate wasn't trusted"},
    };
    for (const Case& c : cases) {
        auto connect = run(mail::engine::ConnectRequest{c.config});
        ASSERT_EQ(connect.size(), 1u);
        EXPECT_EQ(std::get<Failed>(connect[0].payload).label, "connect");
        EXPECT_EQ(std::get<Failed>(connect[0].payload).message, c.message);
        auto fetched = run(mail::engine::FetchRequest{c.config, FolderRole::Inbox});
        EXPECT_EQ(failure(fetched), c.message);
        EXPECT_EQ(std::get<Failed>(fetched[0].payload).label, "fetch");
    }
}

TEST_F(LiveEngine, ThroughTheWorkerEventsFollowTheRequestAndEndWithCompleted) {
    const std::string user = new_user();
    ASSERT_TRUE(server_->seed(user, "INBOX", integration::numbered_messages(3, user)).ok());
    auto backend = mail::engine::make_live_backend({});
    ASSERT_TRUE(backend.ok());
    auto engine = mail::engine::Engine::start(std::move(*backend));
    ASSERT_TRUE(engine.ok());
    auto bad = config_for(user);
    bad.password = "nope";
    std::vector<Request> requests;
    for (RequestPayload p : {RequestPayload(mail::engine::ConnectRequest{config_for(user)}),
                             RequestPayload(mail::engine::FetchRequest{bad, FolderRole::Inbox}),
                             RequestPayload(mail::engine::FetchRequest{config_for(user), FolderRole::Inbox})}) {
        requests.push_back(Request{*mail::engine::RequestId::random(), p});
        ASSERT_TRUE((*engine)->send(requests.back()));
    }
    std::vector<Event> events;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::count_if(events.begin(), events.end(), [](const Event& e) { return e.tag() == EventTag::Completed; }) <
               3 &&
           std::chrono::steady_clock::now() < deadline) {
        if (auto e = (*engine)->try_next_event()) events.push_back(std::move(*e));
        else std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::vector<std::pair<std::size_t, EventTag>> got;
    for (const Event& e : events) {
        auto at = std::find_if(requests.begin(), requests.end(), [&](const Request& r) { return r.id == e.id; });
        ASSERT_NE(at, requests.end());
        got.emplace_back(static_cast<std::size_t>(at - requests.begin()), e.tag());
    }
    const std::vector<std::pair<std::size_t, EventTag>> expected = {
        {0, EventTag::Connected}, {0, EventTag::FoldersListed}, {0, EventTag::Completed},
        {1, EventTag::Failed},    {1, EventTag::Completed},     {2, EventTag::Fetched},
        {2, EventTag::Completed},
    };
    EXPECT_EQ(got, expected);
}

}  // namespace
