#include "tests/integration/support/loopback_peer.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace integration {

lib::Result<std::unique_ptr<LoopbackPeer>> LoopbackPeer::start(Options options) {
    std::unique_ptr<LoopbackPeer> p(new LoopbackPeer());
    p->options_ = std::move(options);
    if (!p->options_.silent && !p->options_.cert_file.empty()) {
        SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
        if (!ctx) return lib::err("SSL_CTX_new failed");
        p->ctx_ = ctx;
        if (SSL_CTX_use_certificate_chain_file(ctx, p->options_.cert_file.c_str()) != 1 ||
            SSL_CTX_use_PrivateKey_file(ctx, p->options_.key_file.c_str(), SSL_FILETYPE_PEM) != 1)
            return lib::err("cannot load the test peer's certificate or key");
    }
    p->listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(p->listen_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(p->listen_fd_, 8) != 0)
        return lib::err("bind/listen: " + std::string(std::strerror(errno)));
    socklen_t len = sizeof a;
    ::getsockname(p->listen_fd_, reinterpret_cast<sockaddr*>(&a), &len);
    p->port_ = ntohs(a.sin_port);
    if (::pipe2(p->wake_, O_CLOEXEC) != 0) return lib::err("pipe: " + std::string(std::strerror(errno)));
    p->thread_ = std::thread([raw = p.get()] { raw->serve(); });
    return p;
}

LoopbackPeer::~LoopbackPeer() {
    if (thread_.joinable()) {
        char c = 'x';
        [[maybe_unused]] auto n = ::write(wake_[1], &c, 1);
        thread_.join();
    }
    for (int fd : {listen_fd_, wake_[0], wake_[1]}) {
        if (fd >= 0) ::close(fd);
    }
    if (ctx_) SSL_CTX_free(static_cast<SSL_CTX*>(ctx_));
}

std::string LoopbackPeer::upgrade_request() const {
    std::lock_guard lock(mutex_);
    return upgrade_request_;
}

// Waits until fd is readable; false when the peer is being destroyed.
bool LoopbackPeer::wait_readable(int fd) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    while (::poll(fds, 2, -1) < 0) {
        if (errno != EINTR) return false;
    }
    return fds[1].revents == 0;
}

void LoopbackPeer::serve() {
    while (wait_readable(listen_fd_)) {
        int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        ++connections_;
        handle(fd);
        ::close(fd);
    }
}

void LoopbackPeer::handle(int fd) {
    char buf[4096];
    if (options_.silent) {
        while (wait_readable(fd)) {
            if (::recv(fd, buf, sizeof buf, 0) <= 0) return;
        }
        return;
    }
    if (!ctx_) {
        ::send(fd, options_.greeting.data(), options_.greeting.size(), MSG_NOSIGNAL);
        while (wait_readable(fd)) {
            if (::recv(fd, buf, sizeof buf, 0) <= 0) return;
        }
        return;
    }
    timeval tv{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    if (!options_.plain_greeting.empty()) {
        ::send(fd, options_.plain_greeting.data(), options_.plain_greeting.size(), MSG_NOSIGNAL);
        // One byte at a time, so that nothing of the TLS handshake that
        // follows the line is swallowed here.
        std::string line;
        char c = 0;
        while (line.find("\r\n") == std::string::npos && ::recv(fd, &c, 1, 0) == 1) line.push_back(c);
        {
            std::lock_guard lock(mutex_);
            upgrade_request_ = line;
        }
        ::send(fd, options_.upgrade_reply.data(), options_.upgrade_reply.size(), MSG_NOSIGNAL);
    }
    SSL* ssl = SSL_new(static_cast<SSL_CTX*>(ctx_));
    SSL_set_fd(ssl, fd);
    if (SSL_accept(ssl) == 1) {
        SSL_write(ssl, options_.greeting.data(), static_cast<int>(options_.greeting.size()));
        while (wait_readable(fd)) {
            if (SSL_read(ssl, buf, sizeof buf) <= 0) break;
        }
    }
    ERR_clear_error();
    SSL_free(ssl);
}

}  // namespace integration
