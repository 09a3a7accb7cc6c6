// A tiny plain-HTTP server on 127.0.0.1 for tests: OAuth token and
// introspection endpoints, discovery documents. One thread answers one
// request per connection (Connection: close) through a handler.
//
//   auto http = integration::HttpServer::start([](const integration::HttpRequest& r) {
//       if (r.path == "/introspect" && integration::form_value(r.body, "token") == "good")
//           return integration::HttpReply{200, R"({"active":true,"username":"alice"})"};
//       return integration::HttpReply{200, R"({"active":false})"};
//   });
//   (*http)->url("/introspect")  ->  "http://127.0.0.1:PORT/introspect"
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "lib/base/result.h"

namespace integration {

struct HttpRequest {
    std::string method;
    std::string path;  // with the query, as sent
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    // The first header of that name (case-insensitive), or "".
    std::string header(std::string_view name) const;
};

struct HttpReply {
    int status = 200;
    std::string body;
    std::string content_type = "application/json";
    std::vector<std::pair<std::string, std::string>> headers;
};

class HttpServer {
public:
    using Handler = std::function<HttpReply(const HttpRequest&)>;

    static lib::Result<std::unique_ptr<HttpServer>> start(Handler handler);
    ~HttpServer();  // stops the thread

    std::uint16_t port() const { return port_; }
    std::string url(std::string_view path) const;

    void set_handler(Handler handler);
    // Every request received so far, in order.
    std::vector<HttpRequest> requests() const;

private:
    HttpServer() = default;
    void serve();
    void answer(int fd);

    int listen_fd_ = -1;
    int wake_[2] = {-1, -1};
    std::uint16_t port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    Handler handler_;
    std::vector<HttpRequest> requests_;
};

// The value of `key` in an application/x-www-form-urlencoded body, decoded
// ("+" as space, %XX), or "" when absent.
std::string form_value(std::string_view body, std::string_view key);

}  // namespace integration
