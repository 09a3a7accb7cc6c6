#include "oauth/sign_in.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace mail::oauth {
namespace {

using Clock = std::chrono::steady_clock;

// Closes the descriptor when the sign-in returns, whatever the outcome.
struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

void write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // the browser went away; nothing more to say
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

struct Waited {
    bool ok = false;
    std::string value;  // the code, or the error text
};

// Accepts browser requests until one carries a code or an error, or the
// deadline passes.
Waited wait_for_redirect(int listener, std::string_view expected_state, Clock::time_point deadline) {
    for (;;) {
        if (Clock::now() >= deadline) return {false, "timed out waiting for the sign-in redirect"};
        const int conn = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (conn < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                continue;
            }
            return {false, std::strerror(errno)};
        }
        Fd c(conn);
        // The accepted socket may inherit non-blocking mode; reads wait up
        // to two seconds for the request.
        const int flags = ::fcntl(conn, F_GETFL);
        if (flags >= 0) ::fcntl(conn, F_SETFL, flags & ~O_NONBLOCK);
        timeval tv{2, 0};
        ::setsockopt(conn, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        char buffer[4096];
        ssize_t n;
        do {
            n = ::recv(conn, buffer, sizeof buffer, 0);
        } while (n < 0 && errno == EINTR);
        const std::string_view request(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
        const RedirectOutcome outcome = handle_redirect_request(request, expected_state);
        write_all(conn, outcome.page);
        switch (outcome.kind) {
            case RedirectOutcome::Kind::Code:
                return {true, outcome.value};
            case RedirectOutcome::Kind::Denied:
                return {false, "authorization denied: " + outcome.value};
            case RedirectOutcome::Kind::StateMismatch:
                return {false, "authorization state mismatch (possible CSRF)"};
            case RedirectOutcome::Kind::KeepWaiting:
                break;
        }
    }
}

}  // namespace

lib::Result<OAuthTokens> sign_in(Provider provider, std::string_view client_id, std::string_view login_hint,
                                 std::chrono::milliseconds limit, const BrowserOpener& open_browser) {
    Fd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (listener.fd < 0) return lib::err(std::string("could not bind loopback: ") + std::strerror(errno));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (::bind(listener.fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listener.fd, 8) != 0)
        return lib::err(std::string("could not bind loopback: ") + std::strerror(errno));
    socklen_t len = sizeof addr;
    if (::getsockname(listener.fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return lib::err(std::string("could not bind loopback: ") + std::strerror(errno));
    const int port = ntohs(addr.sin_port);

    const std::string redirect = redirect_uri(port);
    auto secrets = make_secrets();
    if (!secrets) return secrets.take_error();
    const std::string url = authorization_url(provider, client_id, redirect, *secrets, login_hint);

    if (!open_browser) return lib::err("could not open sign-in browser: no browser opener");
    if (auto opened = open_browser(url); !opened) return lib::err("could not open sign-in browser: " + opened.error());

    const Waited waited = wait_for_redirect(listener.fd, secrets->state, Clock::now() + limit);
    if (!waited.ok) return lib::err(waited.value);

    auto tokens = exchange_code(provider, client_id, redirect, waited.value, secrets->verifier);
    if (!tokens) return tokens;
    tokens->obtained_at = now_seconds();
    return tokens;
}

}  // namespace mail::oauth
