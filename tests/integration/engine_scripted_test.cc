// The live backend against a scripted IMAP server over TLS, for answers a
// real server will not give on demand: a refused \Deleted store.
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <thread>

#include "engine/live_backend.h"
#include "tests/integration/support/pki.h"

namespace {

using mail::engine::Event;
using mail::engine::EventTag;
using mail::engine::Failed;

// Accepts one TLS connection, greets, and answers each command line with
// what the script returns for it (untagged lines and the tagged status,
// "{tag}" replaced by the command's tag). Records every line received.
class ScriptedImap {
public:
    using Script = std::function<std::string(const std::string& command)>;

    explicit ScriptedImap(Script script) : script_(std::move(script)) {}
    ~ScriptedImap() {
        if (thread_.joinable()) thread_.join();
        if (listen_fd_ >= 0) ::close(listen_fd_);
        if (ctx_) SSL_CTX_free(ctx_);
    }

    lib::Status start() {
        auto pki = integration::shared_pki();
        if (!pki) return pki.take_error();
        if (auto trusted = integration::trust_shared_ca(); !trusted) return trusted;
        ctx_ = SSL_CTX_new(TLS_server_method());
        if (!ctx_ || SSL_CTX_use_certificate_chain_file(ctx_, pki->server_cert.c_str()) != 1 ||
            SSL_CTX_use_PrivateKey_file(ctx_, pki->server_key.c_str(), SSL_FILETYPE_PEM) != 1)
            return lib::err("cannot load the test certificate");
        listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listen_fd_, 1) != 0 ||
            ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            return lib::err("cannot listen");
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { serve(); });
        return lib::ok_status();
    }

    std::uint16_t port() const { return port_; }
    std::vector<std::string> received() {
        std::lock_guard lock(mutex_);
        return received_;
    }

private:
    void serve() {
        const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) return;
        timeval tv{10, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        SSL* ssl = SSL_new(ctx_);
        SSL_set_fd(ssl, fd);
        if (SSL_accept(ssl) == 1) {
            write(ssl, "* OK [CAPABILITY IMAP4rev1 UIDPLUS MOVE] scripted\r\n");
            std::string buffer;
            char chunk[4096];
            for (;;) {
                const int n = SSL_read(ssl, chunk, sizeof chunk);
                if (n <= 0) break;
                buffer.append(chunk, static_cast<std::size_t>(n));
                std::size_t eol;
                bool done = false;
                while ((eol = buffer.find("\r\n")) != std::string::npos) {
                    const std::string line = buffer.substr(0, eol);
                    buffer.erase(0, eol + 2);
                    {
                        std::lock_guard lock(mutex_);
                        received_.push_back(line);
                    }
                    const std::string tag = line.substr(0, line.find(' '));
                    const std::string command = line.substr(line.find(' ') + 1);
                    std::string reply = script_(command);
                    for (std::size_t p; (p = reply.find("{tag}")) != std::string::npos;) reply.replace(p, 5, tag);
                    write(ssl, reply);
                    if (command.rfind("LOGOUT", 0) == 0) done = true;
                }
                if (done) break;
            }
        }
        SSL_shutdown(ssl);
        SSL_free(ssl);
        ::close(fd);
    }
    static void write(SSL* ssl, const std::string& bytes) { SSL_write(ssl, bytes.data(), static_cast<int>(bytes.size())); }

    Script script_;
    SSL_CTX* ctx_ = nullptr;
    int listen_fd_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::vector<std::string> received_;
};

TEST(ScriptedImapServer, RefusedDeletedStoreSendsNoExpunge) {
    ScriptedImap server([](const std::string& command) -> std::string {
        if (command.rfind("LOGIN", 0) == 0) return "{tag} OK [CAPABILITY IMAP4rev1 UIDPLUS MOVE] signed in\r\n";
        if (command.rfind("SELECT", 0) == 0) return "* 2 EXISTS\r\n{tag} OK [READ-WRITE] selected\r\n";
        if (command.rfind("UID SEARCH", 0) == 0) return "* SEARCH 4 9\r\n{tag} OK done\r\n";
        if (command.rfind("UID STORE", 0) == 0) return "{tag} NO [CANNOT] flags are frozen\r\n";
        if (command.rfind("LOGOUT", 0) == 0) return "* BYE bye\r\n{tag} OK bye\r\n";
        return "{tag} OK\r\n";
    });
    ASSERT_TRUE(server.start().ok());

    auto backend = mail::engine::make_live_backend({});
    ASSERT_TRUE(backend.ok());
    mail::engine::StoredConfig config;
    config.email = "dave@example.test";
    config.imap_host = "localhost";
    config.imap_port = server.port();
    config.password = "pw";
    mail::state::MailMessage m;
    m.message_id = "gone@example.test";
    m.folder = mail::state::FolderRole::Trash;
    std::vector<Event> events;
    (*backend)->handle(mail::engine::Request{*mail::engine::RequestId::random(), mail::engine::PurgeRequest{config, m}},
                       [&](Event e) { events.push_back(std::move(e)); });

    ASSERT_EQ(events.size(), 1u);
    ASSERT_EQ(events[0].tag(), EventTag::Failed);
    EXPECT_EQ(std::get<Failed>(events[0].payload).label, "purge");
    EXPECT_EQ(std::get<Failed>(events[0].payload).message,
              "server cannot safely expunge this message: [CANNOT] flags are frozen");
    const auto lines = server.received();
    bool stored_highest = false;
    for (const auto& l : lines) {
        EXPECT_EQ(l.find("EXPUNGE"), std::string::npos) << l;
        if (l.find("UID STORE 9 +FLAGS.SILENT (\\Deleted)") != std::string::npos) stored_highest = true;
    }
    EXPECT_TRUE(stored_highest) << ::testing::PrintToString(lines);
}

}  // namespace
