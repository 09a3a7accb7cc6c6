// The IMAP client against a real Dovecot: sign-in (password and XOAUTH2
// through an introspection endpoint), listing, selecting, searching,
// fetching and the mutations, each checked on the server's side too.
#include <gtest/gtest.h>

#include <algorithm>
#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <map>

#include "lib/imap/client.h"
#include "lib/imap/session.h"
#include "tests/integration/support/dovecot.h"
#include "tests/integration/support/http_server.h"
#include "tests/integration/support/process.h"

namespace {

using integration::Dovecot;
using integration::HttpReply;
using integration::HttpRequest;
using integration::HttpServer;
using lib::imap::Client;
using lib::imap::ClientOptions;
using lib::imap::StoreAction;

constexpr const char* kGoodToken = "ya29.good-token-for-oauth";

class ImapAgainstDovecot : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (Dovecot::unavailable_reason()) return;
        auto http = HttpServer::start([](const HttpRequest& r) {
            if (r.method == "POST" && r.path == "/introspect" &&
                integration::form_value(r.body, "token") == kGoodToken)
                return HttpReply{200, R"({"active":true,"username":"oauser"})"};
            return HttpReply{200, R"({"active":false})"};
        });
        ASSERT_TRUE(http.ok()) << http.error();
        http_ = std::move(*http);
        integration::DovecotOptions options;
        options.users = {{"alice", "secret1"}, {"oauser", "unused-password"}};
        options.oauth2_introspection_url = http_->url("/introspect");
        auto server = Dovecot::start(options);
        ASSERT_TRUE(server.ok()) << server.error();
        server_ = std::move(*server);
    }

    static void TearDownTestSuite() {
        server_.reset();
        http_.reset();
    }

    void SetUp() override {
        ZELK_SKIP_WITHOUT_DOVECOT();
        ASSERT_TRUE(server_) << "the Dovecot fixture did not start";
    }

    // A fresh user per test keeps the tests independent on one server.
    std::string new_user(const std::string& password = "pw-1") {
        std::string name = "user" + std::to_string(++users_made_);
        EXPECT_TRUE(server_->add_user(name, password).ok());
        return name;
    }

    std::unique_ptr<Client> connect() {
        ClientOptions o;
        o.host = server_->host();
        o.port = server_->port();
        o.timeout = std::chrono::seconds(30);
        auto c = Client::connect(o);
        EXPECT_TRUE(c.ok()) << c.error() << "\n" << server_->log();
        return c.ok() ? std::move(*c) : nullptr;
    }

    std::unique_ptr<Client> signed_in(const std::string& user, const std::string& password = "pw-1") {
        auto c = connect();
        if (!c) return nullptr;
        auto s = c->login(user, password);
        EXPECT_TRUE(s.ok()) << s.error();
        return s.ok() ? std::move(c) : nullptr;
    }

    static std::unique_ptr<Dovecot> server_;
    static std::unique_ptr<HttpServer> http_;
    static int users_made_;
};

std::unique_ptr<Dovecot> ImapAgainstDovecot::server_;
std::unique_ptr<HttpServer> ImapAgainstDovecot::http_;
int ImapAgainstDovecot::users_made_ = 0;

TEST_F(ImapAgainstDovecot, PasswordsThatNeedQuotingSignIn) {
    for (std::string password : {std::string("secret1"), std::string("with space"), std::string("q\"uo\"te"),
                                 std::string("back\\slash\\"), std::string("Gr\xc3\xbc\xc3\x9f" "e-\xe2\x82\xac")}) {
        std::string user = new_user(password);
        auto c = connect();
        ASSERT_TRUE(c);
        auto s = c->login(user, password);
        EXPECT_TRUE(s.ok()) << password << ": " << s.error();
        EXPECT_TRUE(c->logout().ok());
    }
}

TEST_F(ImapAgainstDovecot, WrongPasswordKeepsTheServersWords) {
    auto c = connect();
    ASSERT_TRUE(c);
    auto s = c->login("alice", "wrong");
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(s.error(), "[AUTHENTICATIONFAILED] Authentication failed.");
    // The connection stays usable after a refused sign-in.
    EXPECT_TRUE(c->login("alice", "secret1").ok());
    EXPECT_TRUE(c->has_capability("MOVE"));
    EXPECT_TRUE(c->logout().ok());
    EXPECT_FALSE(c->connected());
    EXPECT_EQ(c->list().error(), "not connected");
}

TEST_F(ImapAgainstDovecot, ListsEveryMailbox) {
    auto c = signed_in(new_user());
    ASSERT_TRUE(c);
    auto boxes = c->list();
    ASSERT_TRUE(boxes.ok()) << boxes.error();
    std::vector<std::string> names;
    for (const auto& b : *boxes) {
        names.push_back(b.name);
        EXPECT_EQ(b.delimiter, '/');
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Archive", "Drafts", "INBOX", "Junk", "Sent", "Trash"}));
}

TEST_F(ImapAgainstDovecot, FetchesTheNewestFiftyOfAHundredAndTwenty) {
    std::string user = new_user();
    auto messages = integration::numbered_messages(120, user);
    for (std::size_t i = 0; i < messages.size(); ++i) {
        int k = static_cast<int>(i) + 1;
        messages[i].flags = std::string(k % 3 == 0 ? "S" : "") + (k % 5 == 0 ? "F" : "");
    }
    ASSERT_TRUE(server_->seed(user, "INBOX", messages).ok());

    auto c = signed_in(user);
    ASSERT_TRUE(c);
    auto info = c->select("INBOX");
    ASSERT_TRUE(info.ok()) << info.error();
    EXPECT_EQ(info->exists, 120u);
    EXPECT_FALSE(info->read_only);
    EXPECT_TRUE(info->uid_validity.has_value());

    auto all = c->uid_search("ALL");
    ASSERT_TRUE(all.ok()) << all.error();
    ASSERT_EQ(all->size(), 120u);
    std::vector<std::uint32_t> uids = *all;
    std::sort(uids.begin(), uids.end());
    EXPECT_EQ(uids.front(), 1u);
    EXPECT_EQ(uids.back(), 120u);
    std::vector<std::uint32_t> newest(uids.rbegin(), uids.rbegin() + 50);

    c->record_commands(true);
    auto started = std::chrono::steady_clock::now();
    auto fetched = c->uid_fetch(newest);
    auto took = std::chrono::steady_clock::now() - started;
    ASSERT_TRUE(fetched.ok()) << fetched.error();
    ASSERT_EQ(c->recorded_commands().size(), 1u);
    EXPECT_EQ(c->recorded_commands()[0].substr(c->recorded_commands()[0].find(' ') + 1),
              "UID FETCH 120,119,118,117,116,115,114,113,112,111,110,109,108,107,106,105,104,103,102,101,100,99,98,"
              "97,96,95,94,93,92,91,90,89,88,87,86,85,84,83,82,81,80,79,78,77,76,75,74,73,72,71 "
              "(UID FLAGS INTERNALDATE BODY.PEEK[])");
    std::cout << "UID FETCH of 50 bodies: "
              << std::chrono::duration_cast<std::chrono::microseconds>(took).count() / 1000.0 << " ms\n";

    ASSERT_EQ(fetched->size(), 50u);
    std::map<std::uint32_t, const lib::imap::FetchData*> by_uid;
    for (const auto& f : *fetched) {
        ASSERT_TRUE(f.uid.has_value());
        by_uid[*f.uid] = &f;
    }
    ASSERT_EQ(by_uid.size(), 50u);
    for (std::uint32_t uid : newest) {
        ASSERT_TRUE(by_uid.count(uid)) << uid;
        const auto& f = *by_uid[uid];
        int k = static_cast<int>(uid);  // seeded in order, so UID k is message k
        ASSERT_TRUE(f.body.has_value());
        EXPECT_EQ(*f.body, messages[static_cast<std::size_t>(k - 1)].content);
        EXPECT_EQ(f.has_flag("\\Seen"), k % 3 == 0) << uid;
        EXPECT_EQ(f.has_flag("\\Flagged"), k % 5 == 0) << uid;
        EXPECT_EQ(f.internal_date, 1700000000 + 60 * (k - 1)) << uid;
    }

    // BODY.PEEK leaves unread messages unread.
    auto flags = c->uid_fetch({118, 119}, "(UID FLAGS)");
    ASSERT_TRUE(flags.ok()) << flags.error();
    for (const auto& f : *flags) EXPECT_FALSE(f.has_flag("\\Seen")) << *f.uid;

    auto flagged = c->uid_search("FLAGGED");
    ASSERT_TRUE(flagged.ok()) << flagged.error();
    EXPECT_EQ(flagged->size(), 24u);
    for (auto u : *flagged) EXPECT_EQ(u % 5, 0u) << u;

    auto by_id = c->uid_search_header("MESSAGE-ID", user + "-77@example.test");
    ASSERT_TRUE(by_id.ok()) << by_id.error();
    EXPECT_EQ(*by_id, std::vector<std::uint32_t>{77});
    auto missing = c->uid_search_header("MESSAGE-ID", "nobody-sent-this@example.test");
    ASSERT_TRUE(missing.ok()) << missing.error();
    EXPECT_TRUE(missing->empty());

    auto nothing = c->uid_fetch({});
    ASSERT_TRUE(nothing.ok());
    EXPECT_TRUE(nothing->empty());
    EXPECT_EQ(c->recorded_commands().size(), 5u) << "an empty UID list must not be sent";
    EXPECT_TRUE(c->logout().ok());
}

TEST_F(ImapAgainstDovecot, LargeBodiesArriveWholeOrAreReportedAsOmitted) {
    std::string user = new_user();
    auto messages = integration::numbered_messages(3, user);
    std::string big_body;
    for (int line = 0; big_body.size() < (24u << 20); ++line) big_body += "line " + std::to_string(line) + " of a big one\r\n";
    messages[1].content = integration::make_message("Big", user + "-big@example.test", big_body);
    ASSERT_TRUE(server_->seed(user, "INBOX", messages).ok());

    // Under the default limit the 24 MiB body arrives byte for byte.
    auto c = signed_in(user);
    ASSERT_TRUE(c && c->select("INBOX").ok());
    auto whole = c->uid_fetch({1, 2, 3});
    ASSERT_TRUE(whole.ok()) << whole.error();
    ASSERT_EQ(whole->size(), 3u);
    for (const auto& f : *whole) {
        ASSERT_TRUE(f.body.has_value()) << *f.uid;
        EXPECT_TRUE(*f.body == messages[*f.uid - 1].content) << "body of UID " << *f.uid << " differs";
    }

    // With a 1 MiB limit it is read past and reported; its neighbours and
    // the connection are unaffected.
    ClientOptions o;
    o.host = server_->host();
    o.port = server_->port();
    o.limits.max_literal = 1u << 20;
    auto small = Client::connect(o);
    ASSERT_TRUE(small.ok()) << small.error();
    ASSERT_TRUE((*small)->login(user, "pw-1").ok());
    ASSERT_TRUE((*small)->select("INBOX").ok());
    auto capped = (*small)->uid_fetch({1, 2, 3});
    ASSERT_TRUE(capped.ok()) << capped.error();
    ASSERT_EQ(capped->size(), 3u);
    for (const auto& f : *capped) {
        if (*f.uid == 2) {
            EXPECT_FALSE(f.body.has_value());
            EXPECT_EQ(f.omitted_body_bytes, messages[1].content.size());
            EXPECT_TRUE(f.internal_date.has_value());
        } else {
            ASSERT_TRUE(f.body.has_value());
            EXPECT_EQ(*f.body, messages[*f.uid - 1].content);
        }
    }
    EXPECT_TRUE((*small)->logout().ok());
}

TEST_F(ImapAgainstDovecot, SelectOfAMissingMailboxGivesTheServersText) {
    auto c = signed_in(new_user());
    ASSERT_TRUE(c);
    auto info = c->select("No \"such\" box");
    ASSERT_FALSE(info.ok());
    EXPECT_EQ(info.error().rfind("Mailbox doesn't exist: No \"such\" box", 0), 0u) << info.error();
    // The failure is the server's answer, not a broken connection.
    EXPECT_TRUE(c->select("INBOX").ok());
}

TEST_F(ImapAgainstDovecot, StoreMoveAndExpungeChangeTheServer) {
    std::string user = new_user();
    ASSERT_TRUE(server_->seed(user, "INBOX", integration::numbered_messages(5, user)).ok());
    auto c = signed_in(user);
    ASSERT_TRUE(c);
    ASSERT_TRUE(c->select("INBOX").ok());

    auto flags_of = [&](std::uint32_t uid) {
        auto f = c->uid_fetch({uid}, "(UID FLAGS)");
        EXPECT_TRUE(f.ok()) << f.error();
        std::vector<std::string> out;
        if (f.ok() && !f->empty() && (*f)[0].flags) out = *(*f)[0].flags;
        out.erase(std::remove(out.begin(), out.end(), "\\Recent"), out.end());
        std::sort(out.begin(), out.end());
        return out;
    };
    ASSERT_TRUE(c->uid_store(1, StoreAction::add, "(\\Seen)").ok());
    ASSERT_TRUE(c->uid_store(1, StoreAction::add, "(\\Flagged)").ok());
    EXPECT_EQ(flags_of(1), (std::vector<std::string>{"\\Flagged", "\\Seen"}));
    ASSERT_TRUE(c->uid_store(1, StoreAction::remove, "(\\Seen)").ok());
    EXPECT_EQ(flags_of(1), (std::vector<std::string>{"\\Flagged"}));

    ASSERT_TRUE(c->uid_move(2, "Archive").ok());
    auto left = c->uid_search("ALL");
    ASSERT_TRUE(left.ok());
    EXPECT_EQ(*left, (std::vector<std::uint32_t>{1, 3, 4, 5}));

    auto moved_nowhere = c->uid_move(3, "Nope");
    ASSERT_FALSE(moved_nowhere.ok());
    EXPECT_NE(moved_nowhere.error().find("[TRYCREATE]"), std::string::npos) << moved_nowhere.error();

    // Purge: only the expunged UID goes, other \Deleted messages stay.
    ASSERT_TRUE(c->uid_store(3, StoreAction::add_silent, "(\\Deleted)").ok());
    ASSERT_TRUE(c->uid_store(4, StoreAction::add_silent, "(\\Deleted)").ok());
    ASSERT_TRUE(c->uid_expunge(3).ok());
    left = c->uid_search("ALL");
    ASSERT_TRUE(left.ok());
    EXPECT_EQ(*left, (std::vector<std::uint32_t>{1, 4, 5}));
    EXPECT_TRUE(c->logout().ok());

    // What the server has on disk agrees.
    EXPECT_EQ(server_->message_files(user, "INBOX").size(), 3u);
    auto archived = server_->message_files(user, "Archive");
    ASSERT_EQ(archived.size(), 1u);
    auto text = integration::read_file(archived[0]);
    ASSERT_TRUE(text.ok());
    EXPECT_NE(text->find("Message-ID: <" + user + "-2@example.test>"), std::string::npos);
    auto in_archive = signed_in(user);
    ASSERT_TRUE(in_archive && in_archive->select("Archive").ok());
    auto found = in_archive->uid_search_header("MESSAGE-ID", user + "-2@example.test");
    ASSERT_TRUE(found.ok());
    EXPECT_EQ(found->size(), 1u);
}

TEST_F(ImapAgainstDovecot, XOAuth2SignsInWithAnActiveToken) {
    auto c = connect();
    ASSERT_TRUE(c);
    auto before = http_->requests().size();
    auto s = c->authenticate_xoauth2("oauser", kGoodToken);
    ASSERT_TRUE(s.ok()) << s.error() << "\n" << server_->log();
    EXPECT_TRUE(c->select("INBOX").ok());
    auto requests = http_->requests();
    ASSERT_GT(requests.size(), before);
    EXPECT_EQ(integration::form_value(requests.back().body, "token"), kGoodToken);
    EXPECT_TRUE(c->logout().ok());
}

TEST_F(ImapAgainstDovecot, XOAuth2RefusalCarriesTheDecodedChallenge) {
    auto c = connect();
    ASSERT_TRUE(c);
    auto s = c->authenticate_xoauth2("oauser", "expired-token");
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(s.error().rfind("[AUTHENTICATIONFAILED] Authentication failed. (server said: {", 0), 0u) << s.error();
    EXPECT_NE(s.error().find("\"status\":\"401\""), std::string::npos) << s.error();
    // The exchange ended cleanly: the connection still works.
    EXPECT_TRUE(c->login("alice", "secret1").ok());
}

// The coroutine interface, as the engine uses it: one io_context, one
// request from connect to logout.
TEST_F(ImapAgainstDovecot, CoroutineSessionFromConnectToLogout) {
    std::string user = new_user();
    ASSERT_TRUE(server_->seed(user, "Sent", integration::numbered_messages(3, user)).ok());
    asio::io_context io;
    std::vector<std::string> log;
    asio::co_spawn(
        io,
        [&]() -> asio::awaitable<void> {
            lib::imap::Session s;
            lib::net::ConnectOptions o;
            o.host = server_->host();
            o.port = server_->port();
            auto step = [&](const char* name, const lib::Status& st) {
                log.push_back(std::string(name) + (st.ok() ? " ok" : " " + st.error()));
            };
            auto connected = co_await s.connect(o);
            step("connect", connected);
            auto signed_in = co_await s.login(user, "pw-1");
            step("login", signed_in);
            auto selected = co_await s.select("Sent");
            log.push_back("select " + std::to_string(selected ? selected->exists : 0));
            auto uids = co_await s.uid_search("ALL");
            std::vector<std::uint32_t> wanted = uids ? *uids : std::vector<std::uint32_t>{};
            auto bodies = co_await s.uid_fetch(wanted);
            log.push_back("fetch " + std::to_string(bodies ? bodies->size() : 0));
            auto out = co_await s.logout();
            step("logout", out);
        },
        asio::detached);
    io.run();
    EXPECT_EQ(log, (std::vector<std::string>{"connect ok", "login ok", "select 3", "fetch 3", "logout ok"}));
}

}  // namespace
