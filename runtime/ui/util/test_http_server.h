// A tiny HTTP/1.1 server on 127.0.0.1 for tests (header-only; test code only).
// It answers one request per connection from a route table and counts the
// requests it received, so a test can prove that something was or was not
// fetched.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace runtime::ui::testing {

struct HttpReply {
    int status = 200;
    std::string content_type = "application/octet-stream";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;  // extra headers, e.g. Location
    bool send_length = true;  // false: no Content-Length, the body ends when the connection closes
};

class LoopbackHttpServer {
public:
    LoopbackHttpServer() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        int one = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd_, 64) != 0) {
            ::close(fd_);
            fd_ = -1;
            return;
        }
        socklen_t len = sizeof addr;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        if (::pipe2(stop_pipe_, O_CLOEXEC) != 0) stop_pipe_[0] = stop_pipe_[1] = -1;
        thread_ = std::thread([this] { run(); });
    }

    ~LoopbackHttpServer() {
        if (thread_.joinable()) {
            const char b = 1;
            [[maybe_unused]] auto n = ::write(stop_pipe_[1], &b, 1);
            thread_.join();
        }
        for (int f : {fd_, stop_pipe_[0], stop_pipe_[1]}) {
            if (f >= 0) ::close(f);
        }
    }

    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    bool listening() const { return fd_ >= 0; }
    std::uint16_t port() const { return port_; }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

    // Answers requests for exactly this path (query included) with the reply.
    void route(const std::string& path, HttpReply reply) {
        std::lock_guard<std::mutex> lock(mu_);
        routes_[path] = std::move(reply);
    }
    // Holds requests for this path this long before answering (for timeouts).
    void delay(const std::string& path, int milliseconds) {
        std::lock_guard<std::mutex> lock(mu_);
        delays_[path] = milliseconds;
    }

    int requests() const { return total_.load(); }
    // Accepted connections, whether or not a request followed.
    int connections() const { return connections_.load(); }
    int requests_for(const std::string& path) const {
        std::lock_guard<std::mutex> lock(mu_);
        auto it = counts_.find(path);
        return it == counts_.end() ? 0 : it->second;
    }

private:
    void run() {
        std::vector<std::thread> workers;
        for (;;) {
            pollfd fds[2] = {{fd_, POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) continue;
            if (fds[1].revents) break;
            if (!(fds[0].revents & POLLIN)) continue;
            const int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0) continue;
            connections_.fetch_add(1);
            workers.emplace_back([this, c] { serve(c); });
        }
        for (auto& w : workers) w.join();
    }

    void serve(int c) {
        std::string request;
        char buf[4096];
        while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
            pollfd p{c, POLLIN, 0};
            if (::poll(&p, 1, 5000) <= 0) break;
            const ssize_t n = ::read(c, buf, sizeof buf);
            if (n <= 0) break;
            request.append(buf, static_cast<std::size_t>(n));
        }
        std::string path;
        const std::size_t sp1 = request.find(' ');
        const std::size_t sp2 = sp1 == std::string::npos ? sp1 : request.find(' ', sp1 + 1);
        if (sp2 != std::string::npos) path = request.substr(sp1 + 1, sp2 - sp1 - 1);
        HttpReply reply{404, "text/plain", "not found", {}};
        int delay_ms = 0;
        {
            std::lock_guard<std::mutex> lock(mu_);
            ++counts_[path];
            auto it = routes_.find(path);
            if (it != routes_.end()) reply = it->second;
            auto d = delays_.find(path);
            if (d != delays_.end()) delay_ms = d->second;
        }
        total_.fetch_add(1);
        if (delay_ms > 0) {
            pollfd p{stop_pipe_[0], POLLIN, 0};
            ::poll(&p, 1, delay_ms);
        }
        std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " X\r\nContent-Type: " +
                           reply.content_type + "\r\nConnection: close\r\n";
        if (reply.send_length) head += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
        for (const auto& [k, v] : reply.headers) head += k + ": " + v + "\r\n";
        head += "\r\n";
        const std::string out = head + reply.body;
        std::size_t sent = 0;
        while (sent < out.size()) {
            const ssize_t n = ::send(c, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += static_cast<std::size_t>(n);
        }
        ::shutdown(c, SHUT_WR);
        ::close(c);
    }

    int fd_ = -1;
    int stop_pipe_[2] = {-1, -1};
    std::uint16_t port_ = 0;
    std::thread thread_;
    mutable std::mutex mu_;
    std::map<std::string, HttpReply> routes_;
    std::map<std::string, int> delays_;
    std::map<std::string, int> counts_;
    std::atomic<int> total_{0};
    std::atomic<int> connections_{0};
};

}  // namespace runtime::ui::testing
