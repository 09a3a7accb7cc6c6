#include "lib/net/tls_stream.h"

#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <asio.hpp>
#include <asio/experimental/awaitable_operators.hpp>
#include <asio/ssl.hpp>
#include <cstdlib>
#include <mutex>

#include "lib/net/net.h"

namespace lib::net {

namespace {

using asio::ip::tcp;
using namespace asio::experimental::awaitable_operators;

inline auto use_ec(asio::error_code& ec) { return asio::redirect_error(asio::use_awaitable, ec); }

// One client context per trust setting: loading the default verify paths
// reads the whole CA bundle, so it is done once per SSL_CERT_FILE/DIR value.
std::shared_ptr<asio::ssl::context> client_context() {
    static std::mutex mutex;
    static std::string key;
    static std::shared_ptr<asio::ssl::context> cached;
    const char* file = std::getenv("SSL_CERT_FILE");
    const char* dir = std::getenv("SSL_CERT_DIR");
    std::string now = std::string(file ? file : "\x01") + '\n' + (dir ? dir : "\x01");
    std::lock_guard lock(mutex);
    if (!cached || key != now) {
        auto ctx = std::make_shared<asio::ssl::context>(asio::ssl::context::tls_client);
        asio::error_code ec;
        ctx->set_default_verify_paths(ec);
        ctx->set_verify_mode(asio::ssl::verify_peer, ec);
        cached = std::move(ctx);
        key = std::move(now);
    }
    return cached;
}

std::string resolve_message(const asio::error_code& ec) {
    // Own words: the system's texts mention "authoritative", which reads
    // like a sign-in problem to anyone scanning for "auth".
    if (ec == asio::error::host_not_found) return "could not resolve host name: host not found";
    if (ec == asio::error::host_not_found_try_again)
        return "could not resolve host name: name server did not answer, try again later";
    if (ec == asio::error::no_data) return "could not resolve host name: no address for this name";
    if (ec == asio::error::no_recovery) return "could not resolve host name: name server error";
    return "could not resolve host name: " + ec.message();
}

std::string io_message(const asio::error_code& ec) {
    if (ec == asio::error::eof || ec == asio::ssl::error::stream_truncated ||
        ec == asio::error::connection_reset)
        return "connection closed by server";
    if (ec == asio::error::operation_aborted) return "connection cancelled";
    if (ec == asio::error::timed_out) return "connection timed out";
    return "connection error: " + ec.message();
}

std::string endpoint_text(const tcp::endpoint& ep) {
    std::string addr = ep.address().to_string();
    if (ep.address().is_v6()) addr = "[" + addr + "]";
    return addr + ":" + std::to_string(ep.port());
}

}  // namespace

struct Stream::Impl {
    explicit Impl(const asio::any_io_executor& ex) : socket(ex) {}
    tcp::socket socket;
    std::shared_ptr<asio::ssl::context> context;
    std::unique_ptr<asio::ssl::stream<tcp::socket&>> tls;
    std::string host;

    asio::awaitable<Status> handshake() {
        if (auto name = check_server_name(host); !name) co_return name;
        std::string name = host;
        if (!name.empty() && name.back() == '.') name.pop_back();
        context = client_context();
        tls = std::make_unique<asio::ssl::stream<tcp::socket&>>(socket, *context);
        SSL* ssl = tls->native_handle();
        X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        if (is_ip_address(name)) {
            if (X509_VERIFY_PARAM_set1_ip_asc(param, name.c_str()) != 1)
                co_return err("TLS handshake error: cannot check the certificate against this address");
        } else {
            if (SSL_set_tlsext_host_name(ssl, name.c_str()) != 1 || SSL_set1_host(ssl, name.c_str()) != 1)
                co_return err("TLS handshake error: cannot use this host name");
        }
        asio::error_code ec;
        co_await tls->async_handshake(asio::ssl::stream_base::client, use_ec(ec));
        if (!ec) co_return ok_status();
        long verify = SSL_get_verify_result(ssl);
        tls.reset();
        if (verify != X509_V_OK)
            co_return err(std::string("TLS handshake error: certificate verify error: ") +
                          X509_verify_cert_error_string(verify));
        if (ec == asio::error::operation_aborted) co_return err("connection cancelled");
        if (ec == asio::error::eof || ec == asio::ssl::error::stream_truncated)
            co_return err("TLS handshake error: connection closed by server");
        co_return err("TLS handshake error: " + ec.message());
    }
};

namespace {

asio::awaitable<Result<std::unique_ptr<tcp::socket>>> open_socket(const std::string& host, std::uint16_t port) {
    auto ex = co_await asio::this_coro::executor;
    tcp::resolver resolver(ex);
    asio::error_code ec;
    std::string name = host;
    if (!name.empty() && name.back() == '.' && !is_ip_address(name)) name.pop_back();
    auto results = co_await resolver.async_resolve(name, std::to_string(port), tcp::resolver::numeric_service,
                                                   use_ec(ec));
    if (ec == asio::error::operation_aborted) co_return err("connection cancelled");
    if (ec) co_return err(resolve_message(ec));
    if (results.empty()) co_return err("could not resolve to any address");
    auto socket = std::make_unique<tcp::socket>(ex);
    std::string last;
    for (const auto& entry : results) {
        asio::error_code ignored;
        socket->close(ignored);
        asio::error_code cec;
        co_await socket->async_connect(entry.endpoint(), use_ec(cec));
        if (!cec) {
            socket->set_option(tcp::no_delay(true), ignored);
            co_return std::move(socket);
        }
        if (cec == asio::error::operation_aborted) co_return err("connection cancelled");
        last = "could not connect to " + endpoint_text(entry.endpoint()) + ": " + cec.message();
    }
    co_return err(last);
}

}  // namespace

asio::awaitable<Status> Stream::connect_steps(ConnectOptions options, std::unique_ptr<Impl>& impl) {
    if (options.security == Security::tls) {
        if (auto name = check_server_name(options.host); !name) co_return name;
    }
    auto socket = co_await open_socket(options.host, options.port);
    if (!socket) co_return socket.take_error();
    auto ex = co_await asio::this_coro::executor;
    impl = std::make_unique<Stream::Impl>(ex);
    impl->socket = std::move(**socket);
    impl->host = options.host;
    if (options.security == Security::tls) {
        auto shaken = co_await impl->handshake();
        if (!shaken) co_return shaken;
    }
    co_return ok_status();
}

Stream::Stream(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Stream::~Stream() { close(); }

asio::awaitable<Result<std::unique_ptr<Stream>>> Stream::connect(ConnectOptions options) {
    try {
        std::unique_ptr<Impl> impl;
        auto timeout = options.timeout;
        if (timeout.count() <= 0) {
            auto done = co_await connect_steps(std::move(options), impl);
            if (!done) co_return done.take_error();
        } else {
            auto ex = co_await asio::this_coro::executor;
            asio::steady_timer timer(ex, timeout);
            auto raced = co_await (connect_steps(std::move(options), impl) || timer.async_wait(asio::use_awaitable));
            if (raced.index() == 1) co_return err("connection timed out");
            auto& done = std::get<0>(raced);
            if (!done) co_return done.take_error();
        }
        co_return std::unique_ptr<Stream>(new Stream(std::move(impl)));
    } catch (const std::exception& e) {
        co_return err(std::string("connection error: ") + e.what());
    }
}

asio::awaitable<Status> Stream::start_tls(std::chrono::milliseconds timeout) {
    try {
        if (impl_->tls) co_return err("connection is already encrypted");
        if (timeout.count() <= 0) {
            auto done = co_await impl_->handshake();
            co_return done;
        }
        auto ex = co_await asio::this_coro::executor;
        asio::steady_timer timer(ex, timeout);
        auto raced = co_await (impl_->handshake() || timer.async_wait(asio::use_awaitable));
        if (raced.index() == 1) {
            close();
            co_return err("connection timed out");
        }
        co_return std::get<0>(raced);
    } catch (const std::exception& e) {
        co_return err(std::string("TLS handshake error: ") + e.what());
    }
}

asio::awaitable<Result<std::size_t>> Stream::read_some(std::span<char> buffer) {
    asio::error_code ec;
    std::size_t n = 0;
    try {
        if (impl_->tls) {
            n = co_await impl_->tls->async_read_some(asio::buffer(buffer.data(), buffer.size()), use_ec(ec));
        } else {
            n = co_await impl_->socket.async_read_some(asio::buffer(buffer.data(), buffer.size()), use_ec(ec));
        }
    } catch (const std::system_error& e) {
        ec = e.code();
    }
    if (ec) co_return err(io_message(ec));
    co_return n;
}

asio::awaitable<Status> Stream::write_all(std::string_view bytes) {
    asio::error_code ec;
    try {
        if (impl_->tls) {
            co_await asio::async_write(*impl_->tls, asio::buffer(bytes.data(), bytes.size()), use_ec(ec));
        } else {
            co_await asio::async_write(impl_->socket, asio::buffer(bytes.data(), bytes.size()), use_ec(ec));
        }
    } catch (const std::system_error& e) {
        ec = e.code();
    }
    if (ec) co_return err(io_message(ec));
    co_return ok_status();
}

void Stream::close() {
    if (!impl_) return;
    asio::error_code ignored;
    impl_->socket.shutdown(tcp::socket::shutdown_both, ignored);
    impl_->socket.close(ignored);
}

bool Stream::is_open() const { return impl_ && impl_->socket.is_open(); }
bool Stream::encrypted() const { return impl_ && impl_->tls != nullptr; }
const std::string& Stream::host() const { return impl_->host; }

}  // namespace lib::net
