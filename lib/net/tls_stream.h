// A TCP connection with TLS, for the protocol clients (IMAP, SMTP) and their
// callers' .cc files only: it exposes Asio coroutines. Include "lib/net/net.h"
// elsewhere.
//
// All operations of one Stream must run on one strand (or a single-threaded
// io_context); reads and writes may overlap each other but not themselves.
// Cancellation (an awaitable operator race, a cancellation slot) aborts the
// pending operation; close() from the same strand does too.
#pragma once

#include <asio/awaitable.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "lib/base/result.h"

namespace lib::net {

enum class Security {
    tls,    // TLS from the first byte
    plain,  // plain TCP; start_tls() may upgrade it later (STARTTLS)
};

struct ConnectOptions {
    std::string host;
    std::uint16_t port = 0;
    Security security = Security::tls;
    // Limit on resolving, connecting and the TLS handshake together; zero
    // for none.
    std::chrono::milliseconds timeout{0};
};

// Error wordings, each recognisable by its key words:
//   "could not resolve host name: host not found", "could not resolve to any
//   address", "could not connect to 127.0.0.1:1: Connection refused",
//   "connection timed out", "TLS handshake error: certificate verify error:
//   unable to get local issuer certificate" (or "hostname mismatch"),
//   "connection closed by server", "connection cancelled".
// None of them repeats the host name, so that a name never changes how an
// error reads.
class Stream {
public:
    // Resolves the host, connects to its addresses in turn, and for
    // Security::tls runs the handshake: SNI with the host name, the peer
    // certificate checked against OpenSSL's default verify paths (which
    // follow SSL_CERT_FILE and SSL_CERT_DIR) and against the host name or
    // IP address. A host that cannot be a TLS server name fails with the
    // text of check_server_name().
    static asio::awaitable<Result<std::unique_ptr<Stream>>> connect(ConnectOptions options);

    ~Stream();
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    // Upgrades a plain stream to TLS with the same checks as connect().
    asio::awaitable<Status> start_tls(std::chrono::milliseconds timeout = std::chrono::milliseconds(0));

    // Reads what is available (at least one byte) into the buffer.
    asio::awaitable<Result<std::size_t>> read_some(std::span<char> buffer);
    // Writes all bytes; the caller keeps them alive until it completes.
    asio::awaitable<Status> write_all(std::string_view bytes);

    // Closes the connection at once; pending operations end with an error.
    void close();
    bool is_open() const;
    bool encrypted() const;
    const std::string& host() const;

private:
    struct Impl;
    explicit Stream(std::unique_ptr<Impl> impl);
    static asio::awaitable<Status> connect_steps(ConnectOptions options, std::unique_ptr<Impl>& impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace lib::net
