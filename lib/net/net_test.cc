#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <asio.hpp>

#include "lib/net/net.h"
#include "lib/net/tls_stream.h"

namespace {

using lib::net::check_server_name;

TEST(ServerName, ValidNames) {
    for (const char* host : {"imap.example.com", "localhost", "127.0.0.1", "::1", "2001:db8::5",
                             "mail.example.com.", "xn--bcher-kva.example", "a_b.example", "1.example",
                             "a-b.c-d.e"}) {
        EXPECT_TRUE(check_server_name(host).ok()) << host << ": " << check_server_name(host).error();
    }
}

TEST(ServerName, InvalidNamesSayWhy) {
    struct Case {
        std::string host;
        std::string message_part;
    } cases[] = {
        {"", "empty"},
        {"imap example.com", "character"},
        {"imap..example.com", "empty label"},
        {".example.com", "empty label"},
        {"-imap.example.com", "\"-\""},
        {"imap-.example.com", "\"-\""},
        {std::string(64, 'a') + ".com", "63"},
        {std::string(127, 'a') + "." + std::string(127, 'b'), "253"},
        {"1.2.3", "IP address"},
        {"999.1.1.1", "IP address"},
        {"[::1]", "character"},
        {"imap.example.com:993", "character"},
        {"b\xc3\xbc" "cher.example", "character"},
        {".", "\".\""},
    };
    for (const auto& c : cases) {
        auto s = check_server_name(c.host);
        ASSERT_FALSE(s.ok()) << c.host;
        EXPECT_NE(s.error().find(c.message_part), std::string::npos) << c.host << " -> " << s.error();
    }
}

// A loopback port with nobody listening: bound, then closed.
std::uint16_t closed_port() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

lib::Result<std::unique_ptr<lib::net::Stream>> connect(lib::net::ConnectOptions o) {
    asio::io_context io;
    lib::Result<std::unique_ptr<lib::net::Stream>> out = lib::err("not run");
    asio::co_spawn(io, [&]() -> asio::awaitable<void> {
        auto r = co_await lib::net::Stream::connect(o);
        out = std::move(r);
    }, asio::detached);
    io.run();
    return out;
}

TEST(Stream, RefusedAndInvalidNamesFailWithTheirOwnWords) {
    auto port = closed_port();
    auto refused = connect({"127.0.0.1", port, lib::net::Security::tls});
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error(), "could not connect to 127.0.0.1:" + std::to_string(port) + ": Connection refused");
    auto plain = connect({"127.0.0.1", port, lib::net::Security::plain});
    ASSERT_FALSE(plain.ok());
    EXPECT_NE(plain.error().find("Connection refused"), std::string::npos);

    auto bad = connect({"bad host", 993, lib::net::Security::tls});
    ASSERT_FALSE(bad.ok());
    EXPECT_EQ(bad.error(), check_server_name("bad host").error());
}

}  // namespace
