// How connection failures read: each wording must carry the words by which
// the account checks classify it (resolve, refused, certificate, timed out).
#include <gtest/gtest.h>

#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "lib/imap/client.h"
#include "lib/imap/session.h"
#include "lib/net/net.h"
#include "tests/integration/support/loopback_peer.h"
#include "tests/integration/support/pki.h"
#include "tests/integration/support/process.h"

namespace {

using integration::LoopbackPeer;
using lib::imap::Client;
using lib::imap::ClientOptions;

// Sets SSL_CERT_FILE for one test and puts the old value back.
class CertFileScope {
public:
    explicit CertFileScope(const char* value) {
        const char* old = std::getenv("SSL_CERT_FILE");
        had_ = old != nullptr;
        if (had_) old_ = old;
        if (value) {
            ::setenv("SSL_CERT_FILE", value, 1);
        } else {
            ::unsetenv("SSL_CERT_FILE");
        }
    }
    ~CertFileScope() {
        if (had_) {
            ::setenv("SSL_CERT_FILE", old_.c_str(), 1);
        } else {
            ::unsetenv("SSL_CERT_FILE");
        }
    }

private:
    bool had_ = false;
    std::string old_;
};

lib::Result<std::unique_ptr<Client>> connect(const std::string& host, std::uint16_t port,
                                             std::chrono::milliseconds timeout = std::chrono::seconds(20),
                                             const std::atomic<bool>* cancel = nullptr) {
    ClientOptions o;
    o.host = host;
    o.port = port;
    o.timeout = timeout;
    o.cancel = cancel;
    return Client::connect(o);
}

class ImapTransport : public ::testing::Test {
protected:
    void SetUp() override {
        if (integration::find_program("openssl").empty()) GTEST_SKIP() << "the openssl command is not installed";
        auto pki = integration::shared_pki();
        ASSERT_TRUE(pki.ok()) << pki.error();
        pki_ = *pki;
    }
    integration::Pki pki_;
};

TEST_F(ImapTransport, TrustedPeerGreets) {
    CertFileScope trust(pki_.ca_cert.c_str());
    auto peer = LoopbackPeer::start({pki_.server_cert, pki_.server_key});
    ASSERT_TRUE(peer.ok()) << peer.error();
    for (const char* host : {"localhost", "127.0.0.1"}) {
        auto c = connect(host, (*peer)->port());
        EXPECT_TRUE(c.ok()) << host << ": " << c.error();
    }
}

TEST_F(ImapTransport, UntrustedCertificates) {
    auto other = integration::TempDir::create();
    ASSERT_TRUE(other.ok());
    auto other_ca = integration::make_pki(other->path());
    ASSERT_TRUE(other_ca.ok()) << other_ca.error();
    auto wrong_name_dir = integration::TempDir::create();
    ASSERT_TRUE(wrong_name_dir.ok());
    auto wrong_name = integration::make_pki(wrong_name_dir->path(), {"mail.example.test"});
    ASSERT_TRUE(wrong_name.ok()) << wrong_name.error();

    auto peer = LoopbackPeer::start({pki_.server_cert, pki_.server_key});
    ASSERT_TRUE(peer.ok()) << peer.error();
    auto misnamed = LoopbackPeer::start({wrong_name->server_cert, wrong_name->server_key});
    ASSERT_TRUE(misnamed.ok()) << misnamed.error();

    struct Case {
        const char* trust;  // SSL_CERT_FILE, or null for the system's store only
        std::string host;
        std::uint16_t port;
        std::string error;
    } cases[] = {
        {other_ca->ca_cert.c_str(), "localhost", (*peer)->port(),
         "TLS handshake error: certificate verify error: unable to get local issuer certificate"},
        {nullptr, "localhost", (*peer)->port(),
         "TLS handshake error: certificate verify error: unable to get local issuer certificate"},
        {wrong_name->ca_cert.c_str(), "localhost", (*misnamed)->port(),
         "TLS handshake error: certificate verify error: hostname mismatch"},
        {wrong_name->ca_cert.c_str(), "127.0.0.1", (*misnamed)->port(),
         "TLS handshake error: certificate verify error: IP address mismatch"},
    };
    for (const auto& c : cases) {
        CertFileScope trust(c.trust);
        auto r = connect(c.host, c.port);
        ASSERT_FALSE(r.ok()) << c.host;
        EXPECT_EQ(r.error(), c.error);
    }
}

TEST_F(ImapTransport, NetworkFailuresNameTheirCause) {
    std::uint16_t closed = integration::free_loopback_port();
    auto refused = connect("127.0.0.1", closed);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error(), "could not connect to 127.0.0.1:" + std::to_string(closed) + ": Connection refused");

    auto unknown = connect("no-such-host.invalid", 993);
    ASSERT_FALSE(unknown.ok());
    EXPECT_EQ(unknown.error().rfind("could not resolve host name: ", 0), 0u) << unknown.error();
    // Nothing in it may read like a sign-in failure.
    EXPECT_EQ(unknown.error().find("auth"), std::string::npos) << unknown.error();

    auto bad_name = connect("imap example.com", 993);
    ASSERT_FALSE(bad_name.ok());
    EXPECT_EQ(bad_name.error(), lib::net::check_server_name("imap example.com").error());

    // A TLS client talking to a plain-text server.
    auto plain = LoopbackPeer::start({});
    ASSERT_TRUE(plain.ok()) << plain.error();
    auto mixed = connect("127.0.0.1", (*plain)->port());
    ASSERT_FALSE(mixed.ok());
    EXPECT_EQ(mixed.error().rfind("TLS handshake error: ", 0), 0u) << mixed.error();
}

TEST_F(ImapTransport, SilentServersTimeOutOrAreCancelled) {
    auto silent = LoopbackPeer::start({.silent = true});
    ASSERT_TRUE(silent.ok()) << silent.error();

    auto started = std::chrono::steady_clock::now();
    auto timed = connect("127.0.0.1", (*silent)->port(), std::chrono::milliseconds(300));
    auto took = std::chrono::steady_clock::now() - started;
    ASSERT_FALSE(timed.ok());
    EXPECT_EQ(timed.error(), "IMAP operation timed out");
    EXPECT_LT(took, std::chrono::seconds(3));

    std::atomic<bool> cancel{false};
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        cancel = true;
    });
    started = std::chrono::steady_clock::now();
    auto cancelled = connect("127.0.0.1", (*silent)->port(), std::chrono::milliseconds(0), &cancel);
    took = std::chrono::steady_clock::now() - started;
    canceller.join();
    ASSERT_FALSE(cancelled.ok());
    EXPECT_EQ(cancelled.error(), "IMAP operation cancelled");
    EXPECT_LT(took, std::chrono::seconds(3));

    // The transport's own limit on connect and handshake.
    asio::io_context io;
    std::string error;
    asio::co_spawn(
        io,
        [&]() -> asio::awaitable<void> {
            lib::net::ConnectOptions o{"127.0.0.1", (*silent)->port(), lib::net::Security::tls,
                                       std::chrono::milliseconds(300)};
            auto r = co_await lib::net::Stream::connect(o);
            error = r.ok() ? "connected" : r.error();
        },
        asio::detached);
    io.run();
    EXPECT_EQ(error, "connection timed out");
}

// A plain connection upgraded in place, as SMTP's STARTTLS needs: the same
// certificate checks apply after the upgrade.
TEST_F(ImapTransport, PlainStreamUpgradesToTls) {
    auto peer = LoopbackPeer::start({.cert_file = pki_.server_cert,
                                     .key_file = pki_.server_key,
                                     .greeting = "250 secret hello\r\n",
                                     .plain_greeting = "220 plain hello\r\n"});
    ASSERT_TRUE(peer.ok()) << peer.error();
    struct Case {
        const char* trust;
        std::string upgraded;
    } cases[] = {
        {pki_.ca_cert.c_str(), "220 plain hello\r\n|220 go ahead\r\n|ok|250 secret hello\r\n"},
        {nullptr, "220 plain hello\r\n|220 go ahead\r\n|"
                  "TLS handshake error: certificate verify error: unable to get local issuer certificate"},
    };
    for (const auto& c : cases) {
        CertFileScope trust(c.trust);
        asio::io_context io;
        std::string log;
        asio::co_spawn(
            io,
            [&]() -> asio::awaitable<void> {
                lib::net::ConnectOptions o{"localhost", (*peer)->port(), lib::net::Security::plain};
                auto s = co_await lib::net::Stream::connect(o);
                if (!s) {
                    log = s.error();
                    co_return;
                }
                auto& stream = **s;
                char buf[256];
                auto read_line = [&]() -> asio::awaitable<std::string> {
                    auto n = co_await stream.read_some(std::span<char>(buf, sizeof buf));
                    co_return n ? std::string(buf, *n) : "read: " + n.error();
                };
                log += co_await read_line();
                log += "|";
                std::string request = "STARTTLS\r\n";
                auto wrote = co_await stream.write_all(request);
                if (!wrote) co_return;
                log += co_await read_line();
                log += "|";
                bool plain_before = !stream.encrypted();
                auto upgraded = co_await stream.start_tls();
                log += upgraded ? "ok" : upgraded.error();
                if (!upgraded) co_return;
                log += "|";
                log += co_await read_line();
                if (!plain_before || !stream.encrypted()) log += " (encryption state wrong)";
            },
            asio::detached);
        io.run();
        EXPECT_EQ(log, c.upgraded);
        EXPECT_EQ((*peer)->upgrade_request(), "STARTTLS\r\n");
    }
}

}  // namespace
