#include "tests/integration/support/http_server.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace integration {

namespace {

constexpr std::size_t kMaxRequest = 1 << 20;

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool iequal(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

std::string trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return std::string(s);
}

// Reads with a time limit so that a silent client cannot stall the server.
bool read_more(int fd, std::string& buf) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 5000) <= 0) return false;
    char tmp[8192];
    ssize_t n = ::recv(fd, tmp, sizeof tmp, 0);
    if (n <= 0) return false;
    buf.append(tmp, static_cast<std::size_t>(n));
    return buf.size() <= kMaxRequest;
}

void send_all(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            return;
        }
        done += static_cast<std::size_t>(n);
    }
}

const char* reason(int status) {
    switch (status) {
        case 200: return "OK";
        case 201: return "Created";
        case 204: return "No Content";
        case 302: return "Found";
        case 400: return "Bad Request";
        case 401: return "Unauthorized";
        case 403: return "Forbidden";
        case 404: return "Not Found";
        case 411: return "Length Required";
        case 500: return "Internal Server Error";
        default: return "Status";
    }
}

int hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string form_decode(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '+') {
            out.push_back(' ');
        } else if (s[i] == '%' && i + 2 < s.size() && hex(s[i + 1]) >= 0 && hex(s[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hex(s[i + 1]) * 16 + hex(s[i + 2])));
            i += 2;
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

}  // namespace

std::string HttpRequest::header(std::string_view name) const {
    for (const auto& [k, v] : headers) {
        if (iequal(k, name)) return v;
    }
    return "";
}

std::string form_value(std::string_view body, std::string_view key) {
    while (!body.empty()) {
        auto amp = body.find('&');
        auto pair = body.substr(0, amp);
        auto eq = pair.find('=');
        if (form_decode(pair.substr(0, eq)) == key)
            return eq == std::string_view::npos ? "" : form_decode(pair.substr(eq + 1));
        if (amp == std::string_view::npos) break;
        body.remove_prefix(amp + 1);
    }
    return "";
}

lib::Result<std::unique_ptr<HttpServer>> HttpServer::start(Handler handler) {
    std::unique_ptr<HttpServer> s(new HttpServer());
    s->handler_ = std::move(handler);
    s->listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s->listen_fd_ < 0) return lib::err("socket: " + std::string(std::strerror(errno)));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(s->listen_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(s->listen_fd_, 16) != 0)
        return lib::err("bind/listen: " + std::string(std::strerror(errno)));
    socklen_t len = sizeof a;
    ::getsockname(s->listen_fd_, reinterpret_cast<sockaddr*>(&a), &len);
    s->port_ = ntohs(a.sin_port);
    if (::pipe2(s->wake_, O_CLOEXEC) != 0) return lib::err("pipe: " + std::string(std::strerror(errno)));
    s->thread_ = std::thread([p = s.get()] { p->serve(); });
    return s;
}

HttpServer::~HttpServer() {
    if (thread_.joinable()) {
        char c = 'x';
        [[maybe_unused]] auto n = ::write(wake_[1], &c, 1);
        thread_.join();
    }
    for (int fd : {listen_fd_, wake_[0], wake_[1]}) {
        if (fd >= 0) ::close(fd);
    }
}

std::string HttpServer::url(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

void HttpServer::set_handler(Handler handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
}

std::vector<HttpRequest> HttpServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void HttpServer::serve() {
    while (true) {
        pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents) return;
        if (fds[0].revents & POLLIN) {
            int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            answer(fd);
            ::close(fd);
        }
    }
}

void HttpServer::answer(int fd) {
    std::string buf;
    std::size_t head_end;
    while ((head_end = buf.find("\r\n\r\n")) == std::string::npos) {
        if (!read_more(fd, buf)) return;
    }
    HttpRequest req;
    std::string_view head(buf.data(), head_end);
    auto line_end = head.find("\r\n");
    std::string_view request_line = head.substr(0, line_end);
    auto sp1 = request_line.find(' ');
    auto sp2 = request_line.find(' ', sp1 == std::string_view::npos ? sp1 : sp1 + 1);
    if (sp1 == std::string_view::npos || sp2 == std::string_view::npos) {
        send_all(fd, "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        return;
    }
    req.method = std::string(request_line.substr(0, sp1));
    req.path = std::string(request_line.substr(sp1 + 1, sp2 - sp1 - 1));
    std::string_view rest = line_end == std::string_view::npos ? std::string_view() : head.substr(line_end + 2);
    while (!rest.empty()) {
        auto e = rest.find("\r\n");
        auto line = rest.substr(0, e);
        auto colon = line.find(':');
        if (colon != std::string_view::npos) req.headers.emplace_back(trim(line.substr(0, colon)), trim(line.substr(colon + 1)));
        if (e == std::string_view::npos) break;
        rest.remove_prefix(e + 2);
    }
    if (!req.header("Transfer-Encoding").empty()) {
        send_all(fd, "HTTP/1.1 411 Length Required\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        return;
    }
    std::size_t length = 0;
    std::string cl = req.header("Content-Length");
    if (!cl.empty()) length = static_cast<std::size_t>(std::strtoull(cl.c_str(), nullptr, 10));
    if (length > kMaxRequest) return;
    std::size_t body_start = head_end + 4;
    while (buf.size() < body_start + length) {
        if (!read_more(fd, buf)) return;
    }
    req.body = buf.substr(body_start, length);

    Handler handler;
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(req);
        handler = handler_;
    }
    HttpReply reply = handler ? handler(req) : HttpReply{404, ""};
    std::string out = "HTTP/1.1 " + std::to_string(reply.status) + " " + reason(reply.status) + "\r\n";
    out += "Content-Type: " + reply.content_type + "\r\n";
    out += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
    for (const auto& [k, v] : reply.headers) out += k + ": " + v + "\r\n";
    out += "Connection: close\r\n\r\n";
    out += reply.body;
    send_all(fd, out);
    ::shutdown(fd, SHUT_WR);
}

}  // namespace integration
