#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "lib/http/http.h"

namespace {

// Serves one canned answer per connection on 127.0.0.1 and keeps the last request.
class OneShotServer {
public:
    explicit OneShotServer(std::string answer) : answer_(std::move(answer)) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd_, 4);
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] {
            int c = ::accept(fd_, nullptr, nullptr);
            if (c < 0) return;
            std::string req;
            char buf[4096];
            // Read headers, then the body by Content-Length.
            while (req.find("\r\n\r\n") == std::string::npos) {
                ssize_t n = ::read(c, buf, sizeof buf);
                if (n <= 0) break;
                req.append(buf, static_cast<size_t>(n));
            }
            auto cl = req.find("Content-Length: ");
            if (cl != std::string::npos) {
                size_t want = std::stoul(req.substr(cl + 16));
                size_t have = req.size() - (req.find("\r\n\r\n") + 4);
                while (have < want) {
                    ssize_t n = ::read(c, buf, sizeof buf);
                    if (n <= 0) break;
                    req.append(buf, static_cast<size_t>(n));
                    have += static_cast<size_t>(n);
                }
            }
            request_ = req;
            ::write(c, answer_.data(), answer_.size());
            ::close(c);
        });
    }
    ~OneShotServer() {
        ::shutdown(fd_, SHUT_RDWR);
        ::close(fd_);
        if (thread_.joinable()) thread_.join();
    }
    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
    std::string request() {
        if (thread_.joinable()) thread_.join();
        return request_;
    }

private:
    int fd_ = -1;
    int port_ = 0;
    std::string answer_;
    std::string request_;
    std::thread thread_;
};

std::string answer(int status, const std::string& body, const std::string& extra = "") {
    return "HTTP/1.1 " + std::to_string(status) + " X\r\nContent-Type: application/json\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n" + extra + "Connection: close\r\n\r\n" + body;
}

TEST(Http, FormEncodingMatchesBrowsers) {
    EXPECT_EQ(lib::http::form_encode({{"redirect_uri", "http://127.0.0.1:5/oauth"},
                                      {"scope", "offline_access https://x/IMAP.AccessAsUser.All"},
                                      {"k", "a*b-c.d_e~é"}}),
              "redirect_uri=http%3A%2F%2F127.0.0.1%3A5%2Foauth"
              "&scope=offline_access+https%3A%2F%2Fx%2FIMAP.AccessAsUser.All"
              "&k=a*b-c.d_e%7E%C3%A9");
}

TEST(Http, PostsFormAndReturnsAnyStatusWithBody) {
    OneShotServer server(answer(400, R"({"error":"invalid_grant"})"));
    auto r = lib::http::post_form(server.url("/token"), {{"grant_type", "refresh_token"}, {"refresh_token", "r t"}});
    ASSERT_TRUE(r.ok()) << r.error();
    EXPECT_EQ(r->status, 400);
    EXPECT_EQ(r->body, R"({"error":"invalid_grant"})");
    std::string req = server.request();
    EXPECT_EQ(req.rfind("POST /token HTTP/1.1\r\n", 0), 0u) << req;
    EXPECT_NE(req.find("Content-Type: application/x-www-form-urlencoded"), std::string::npos);
    EXPECT_EQ(req.substr(req.find("\r\n\r\n") + 4), "grant_type=refresh_token&refresh_token=r+t");
}

TEST(Http, RedirectsAreNotFollowedUnlessAsked) {
    OneShotServer server(answer(302, "", "Location: file:///etc/passwd\r\n"));
    lib::http::Request req;
    req.url = server.url("/x");
    auto r = lib::http::perform(req);
    ASSERT_TRUE(r.ok()) << r.error();
    EXPECT_EQ(r->status, 302);
}

TEST(Http, RedirectToAnotherSchemeIsRefused) {
    OneShotServer server(answer(302, "", "Location: file:///etc/passwd\r\n"));
    lib::http::Request req;
    req.url = server.url("/x");
    req.max_redirects = 3;
    auto r = lib::http::perform(req);
    EXPECT_FALSE(r.ok());
}

TEST(Http, FailuresAreValues) {
    OneShotServer big(answer(200, std::string(10000, 'x')));
    lib::http::Request req;
    req.url = big.url("/big");
    req.max_body = 1000;
    auto r = lib::http::perform(req);
    ASSERT_FALSE(r.ok());
    EXPECT_NE(r.error().find("too large"), std::string::npos) << r.error();

    req = {};
    req.url = "file:///etc/passwd";
    EXPECT_FALSE(lib::http::perform(req).ok());

    // A port nobody listens on.
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    int port = ntohs(a.sin_port);
    ::close(fd);
    req.url = "http://127.0.0.1:" + std::to_string(port) + "/";
    auto refused = lib::http::perform(req);
    ASSERT_FALSE(refused.ok());
    EXPECT_NE(refused.error().find("onnect"), std::string::npos) << refused.error();
}

}  // namespace
