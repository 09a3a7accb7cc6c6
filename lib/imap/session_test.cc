// The session's command logic against a scripted loopback server (plain
// TCP): what it sends, and how it reads odd or broken answers.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <asio.hpp>
#include <functional>
#include <thread>

#include "lib/crypto/base64.h"
#include "lib/imap/session.h"

namespace {

using lib::imap::Session;

// Replies are sent in order; a reply with `read` first waits for one client
// line. "{tag}" in a reply is the tag of the last client command.
struct Step {
    std::string reply;
    bool read = true;
};

class ScriptedServer {
public:
    explicit ScriptedServer(std::vector<Step> script) : script_(std::move(script)) {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listen_, 1);
        socklen_t len = sizeof a;
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~ScriptedServer() {
        if (thread_.joinable()) thread_.join();
        ::close(listen_);
    }
    std::uint16_t port() const { return port_; }
    // Lines the client sent, without line ends; only read after the
    // session is done (the thread has ended by then or soon after).
    std::vector<std::string> received() {
        if (thread_.joinable()) thread_.join();
        return received_;
    }

private:
    bool read_line(int fd, std::string& line) {
        while (true) {
            auto end = buf_.find("\r\n");
            if (end != std::string::npos) {
                line = buf_.substr(0, end);
                buf_.erase(0, end + 2);
                return true;
            }
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 5000) <= 0) return false;
            char tmp[4096];
            ssize_t n = ::recv(fd, tmp, sizeof tmp, 0);
            if (n <= 0) return false;
            buf_.append(tmp, static_cast<std::size_t>(n));
        }
    }

    void serve() {
        pollfd p{listen_, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0) return;
        int fd = ::accept(listen_, nullptr, nullptr);
        std::string tag;
        for (const auto& step : script_) {
            if (step.read) {
                std::string line;
                if (!read_line(fd, line)) break;
                received_.push_back(line);
                if (line.find(' ') != std::string::npos) tag = line.substr(0, line.find(' '));
            }
            std::string reply = step.reply;
            for (auto at = reply.find("{tag}"); at != std::string::npos; at = reply.find("{tag}"))
                reply.replace(at, 5, tag);
            ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
        }
        // The script is over: close at once, so that a session expecting
        // more sees the end of the connection rather than waiting.
        ::shutdown(fd, SHUT_RDWR);
        ::close(fd);
    }

    std::vector<Step> script_;
    int listen_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
    std::string buf_;
    std::vector<std::string> received_;
};

const std::string kGreeting = "* OK [CAPABILITY IMAP4rev1 SASL-IR UIDPLUS MOVE] ready\r\n";

// Connects a session to the server, runs `body` on it, and returns the
// steps' outcomes that body recorded.
std::vector<std::string> drive(ScriptedServer& server,
                               std::function<asio::awaitable<void>(Session&, std::vector<std::string>&)> body) {
    asio::io_context io;
    std::vector<std::string> out;
    asio::co_spawn(
        io,
        [&]() -> asio::awaitable<void> {
            Session s;
            lib::net::ConnectOptions o{"127.0.0.1", server.port(), lib::net::Security::plain};
            auto c = co_await s.connect(o);
            out.push_back(c.ok() ? "connect ok" : "connect: " + c.error());
            if (c.ok()) co_await body(s, out);
        },
        asio::detached);
    io.run();
    return out;
}

std::string outcome(const lib::Status& s) { return s.ok() ? "ok" : s.error(); }

TEST(ImapSession, MoveUsesMoveElseCopyStoreExpunge) {
    struct Case {
        std::string caps;
        std::vector<Step> script;
        std::string result;
        std::vector<std::string> sent;
    } cases[] = {
        {"IMAP4rev1 MOVE UIDPLUS",
         {{"{tag} OK moved\r\n"}},
         "ok",
         {"a3 UID MOVE 7 \"Archive\""}},
        {"IMAP4rev1 UIDPLUS",
         {{"{tag} OK [COPYUID 1 7 3] copied\r\n"}, {"{tag} OK stored\r\n"}, {"* 3 EXPUNGE\r\n{tag} OK gone\r\n"}},
         "ok",
         {"a3 UID COPY 7 \"Archive\"", "a4 UID STORE 7 +FLAGS.SILENT (\\Deleted)", "a5 UID EXPUNGE 7"}},
        {"IMAP4rev1 UIDPLUS",
         {{"{tag} NO [TRYCREATE] no such mailbox\r\n"}},
         "[TRYCREATE] no such mailbox",
         {"a3 UID COPY 7 \"Archive\""}},
        {"IMAP4rev1", {}, "server offers neither MOVE nor UIDPLUS; the message was not moved", {}},
    };
    for (const auto& c : cases) {
        // Sign-in leaves the capabilities unknown, so the session asks.
        std::vector<Step> script = {{"* OK hello\r\n", false},
                                    {"{tag} OK logged in\r\n"},
                                    {"* CAPABILITY " + c.caps + "\r\n{tag} OK\r\n"}};
        script.insert(script.end(), c.script.begin(), c.script.end());
        ScriptedServer server(script);
        auto out = drive(server, [](Session& s, std::vector<std::string>& log) -> asio::awaitable<void> {
            auto in = co_await s.login("u", "p");
            log.push_back(outcome(in));
            auto moved = co_await s.uid_move(7, "Archive");
            log.push_back(outcome(moved));
        });
        EXPECT_EQ(out, (std::vector<std::string>{"connect ok", "ok", c.result})) << c.caps;
        std::vector<std::string> sent = {"a1 LOGIN \"u\" \"p\"", "a2 CAPABILITY"};
        sent.insert(sent.end(), c.sent.begin(), c.sent.end());
        EXPECT_EQ(server.received(), sent) << c.caps;
    }
}

TEST(ImapSession, XOAuth2InitialResponseInlineOrAfterContinuation) {
    const std::string initial = lib::crypto::base64_encode(std::string("user=me@example.com\x01" "auth=Bearer tok\x01\x01"));
    const std::string challenge = lib::crypto::base64_encode(std::string(R"({"status":"401","schemes":"bearer"})"));
    struct Case {
        std::string greeting;
        std::vector<Step> script;
        std::string result;
        std::vector<std::string> sent;
    } cases[] = {
        {"* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=XOAUTH2] hi\r\n",
         {{"{tag} OK [CAPABILITY IMAP4rev1 MOVE] welcome\r\n"}},
         "ok",
         {"a1 AUTHENTICATE XOAUTH2 " + initial}},
        {"* OK [CAPABILITY IMAP4rev1 AUTH=XOAUTH2] hi\r\n",
         {{"+ \r\n"}, {"{tag} OK welcome\r\n"}},
         "ok",
         {"a1 AUTHENTICATE XOAUTH2", initial}},
        {"* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=XOAUTH2] hi\r\n",
         {{"+ " + challenge + "\r\n"}, {"a1 NO [AUTHENTICATIONFAILED] Authentication failed.\r\n"}},
         "[AUTHENTICATIONFAILED] Authentication failed. (server said: {\"status\":\"401\",\"schemes\":\"bearer\"})",
         {"a1 AUTHENTICATE XOAUTH2 " + initial, ""}},
        // Without capabilities in the greeting the session asks first.
        {"* OK hi\r\n",
         {{"* CAPABILITY IMAP4rev1 SASL-IR\r\n{tag} OK\r\n"}, {"{tag} NO go away\r\n"}},
         "go away",
         {"a1 CAPABILITY", "a2 AUTHENTICATE XOAUTH2 " + initial}},
    };
    for (const auto& c : cases) {
        std::vector<Step> script = {{c.greeting, false}};
        script.insert(script.end(), c.script.begin(), c.script.end());
        ScriptedServer server(script);
        auto out = drive(server, [](Session& s, std::vector<std::string>& log) -> asio::awaitable<void> {
            auto in = co_await s.authenticate_xoauth2("me@example.com", "tok");
            log.push_back(outcome(in));
        });
        EXPECT_EQ(out, (std::vector<std::string>{"connect ok", c.result})) << c.greeting;
        EXPECT_EQ(server.received(), c.sent) << c.greeting;
    }
}

TEST(ImapSession, BrokenAnswersEndTheConnectionWithAReason) {
    struct Case {
        std::string name;
        std::vector<Step> script;
        std::string result;
    } cases[] = {
        {"bye greeting", {{"* BYE Too many connections\r\n", false}}, "connect: server refused the connection: Too many connections"},
        {"tagged greeting", {{"a1 OK hi\r\n", false}}, "connect: unexpected greeting from the server"},
        {"garbage greeting", {{"\x16\x03\x01 binary\r\n", false}}, "connect: malformed server response: expected a tag, \"*\" or \"+\" near \"??? binary\""},
        {"closed before greeting", {}, "connect: connection closed by server"},
        {"bye then close", {{kGreeting, false}, {"* BYE Shutting down\r\n"}}, "server closed the connection: Shutting down"},
        {"closed inside a literal", {{kGreeting, false}, {"* 1 FETCH (UID 1 BODY[] {100}\r\nabc"}}, "connection closed by server"},
        {"continuation for a plain command", {{kGreeting, false}, {"+ go on\r\n"}},
         "SELECT: server asked for data the command does not have"},
        {"answer to another tag", {{kGreeting, false}, {"zz9 OK what\r\n"}},
         "server answered a command that was not sent (tag zz9)"},
        {"no without text", {{kGreeting, false}, {"{tag} NO\r\n"}}, "SELECT refused by the server (NO)"},
    };
    for (const auto& c : cases) {
        ScriptedServer server(c.script);
        auto out = drive(server, [](Session& s, std::vector<std::string>& log) -> asio::awaitable<void> {
            auto sel = co_await s.select("INBOX");
            log.push_back(sel.ok() ? "ok" : sel.error());
            log.push_back(s.connected() ? "still connected" : "closed");
        });
        std::string joined;
        for (const auto& o : out) joined += (joined.empty() ? "" : " | ") + o;
        if (c.result.rfind("connect: ", 0) == 0) {
            EXPECT_EQ(joined, c.result) << c.name;
        } else if (c.name == "no without text") {
            EXPECT_EQ(joined, "connect ok | " + c.result + " | still connected") << c.name;
        } else {
            EXPECT_EQ(joined, "connect ok | " + c.result + " | closed") << c.name;
        }
    }
}

TEST(ImapSession, AfterAFailureNothingMoreIsSent) {
    ScriptedServer server({{kGreeting, false}, {"* BYE bye\r\n"}});
    auto out = drive(server, [](Session& s, std::vector<std::string>& log) -> asio::awaitable<void> {
        auto sel = co_await s.select("INBOX");
        log.push_back(sel.ok() ? "ok" : sel.error());
        auto again = co_await s.uid_search("ALL");
        log.push_back(again.ok() ? "ok" : again.error());
    });
    EXPECT_EQ(out, (std::vector<std::string>{"connect ok", "server closed the connection: bye", "not connected"}));
    EXPECT_EQ(server.received(), (std::vector<std::string>{"a1 SELECT \"INBOX\""}));
}

TEST(ImapSession, SignInTextsThatCannotBeSentAreRefusedLocally) {
    ScriptedServer server({{kGreeting, false}, {"{tag} OK fine\r\n"}});
    auto out = drive(server, [](Session& s, std::vector<std::string>& log) -> asio::awaitable<void> {
        s.record_commands(true);
        auto bad = co_await s.login("u", "pa\r\nss");
        log.push_back(outcome(bad));
        auto oauth = co_await s.authenticate_xoauth2("u\x01", "t");
        log.push_back(outcome(oauth));
        auto good = co_await s.login("u", "secret \"x\"");
        log.push_back(outcome(good));
        for (const auto& line : s.recorded_commands()) log.push_back("recorded " + line);
    });
    EXPECT_EQ(out, (std::vector<std::string>{
                       "connect ok",
                       "LOGIN: text with a line break or NUL character cannot be sent as an IMAP string",
                       "user name or access token contains a control character", "ok", "recorded a2 LOGIN ***"}));
    // The refused texts never reached the wire; the password did once, quoted.
    EXPECT_EQ(server.received(), (std::vector<std::string>{"a2 LOGIN \"u\" \"secret \\\"x\\\"\""}));
}

TEST(ImapSession, FetchSkipsUnsolicitedDataAndSelectReadsTheMailboxState) {
    ScriptedServer server({
        {kGreeting, false},
        {"* FLAGS (\\Seen \\Flagged)\r\n* 3 EXISTS\r\n* 0 RECENT\r\n* OK [UIDVALIDITY 42] ok\r\n"
         "* OK [UIDNEXT 9] ok\r\n{tag} OK [READ-ONLY] done\r\n"},
        {"* 4 EXISTS\r\n* 2 FETCH (UID 8 FLAGS (\\Seen) BODY[] {5}\r\nhello)\r\n* 1 FETCH (FLAGS (\\Deleted) UID 2)\r\n"
         "* 1 FETCH (UID 7 BODY[] {3}\r\nabc FLAGS ())\r\n{tag} OK done\r\n"},
        {"* BYE logging out\r\n{tag} OK bye\r\n"},
    });
    auto out = drive(server, [](Session& s, std::vector<std::string>& log) -> asio::awaitable<void> {
        auto info = co_await s.select("INBOX");
        if (info) {
            log.push_back("exists " + std::to_string(info->exists) + " validity " +
                          std::to_string(info->uid_validity.value_or(0)) + " next " +
                          std::to_string(info->uid_next.value_or(0)) + (info->read_only ? " read-only" : "") +
                          " flags " + std::to_string(info->flags.size()));
        }
        std::vector<std::uint32_t> wanted = {8, 7};
        auto f = co_await s.uid_fetch(wanted);
        if (f) {
            for (const auto& m : *f)
                log.push_back("uid " + std::to_string(m.uid.value_or(0)) + " body " + (m.body ? *m.body : std::string("-")));
        }
        auto out = co_await s.logout();
        log.push_back(outcome(out));
    });
    EXPECT_EQ(out, (std::vector<std::string>{"connect ok", "exists 3 validity 42 next 9 read-only flags 2",
                                             "uid 8 body hello", "uid 2 body -", "uid 7 body abc", "ok"}));
    EXPECT_EQ(server.received(), (std::vector<std::string>{"a1 SELECT \"INBOX\"",
                                                           "a2 UID FETCH 8,7 (UID FLAGS INTERNALDATE BODY.PEEK[])",
                                                           "a3 LOGOUT"}));
}

TEST(ImapSession, LogoutAcceptsAServerThatHangsUpAfterBye) {
    ScriptedServer server({{kGreeting, false}, {"* BYE see you\r\n"}});
    auto out = drive(server, [](Session& s, std::vector<std::string>& log) -> asio::awaitable<void> {
        log.push_back(outcome(co_await s.logout()));
        log.push_back(s.connected() ? "connected" : "closed");
    });
    EXPECT_EQ(out, (std::vector<std::string>{"connect ok", "ok", "closed"}));
}

}  // namespace
