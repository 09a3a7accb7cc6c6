// Blocking HTTP(S) requests on libcurl, for short exchanges such as token
// endpoints and discovery documents. Only http and https are spoken, also
// across redirects; bodies are capped; the trust store is the system's, or
// the file named by SSL_CERT_FILE when set.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "lib/base/result.h"

namespace lib::http {

using Pairs = std::vector<std::pair<std::string, std::string>>;

struct Request {
    std::string method = "GET";
    std::string url;
    Pairs headers;
    std::string body;
    std::chrono::milliseconds timeout{20000};
    std::size_t max_body = 4 * 1024 * 1024;
    int max_redirects = 0;  // 0: redirects are returned, not followed
};

struct Response {
    long status = 0;
    std::string body;
    std::string content_type;
};

// Performs the request. A transport failure (resolve, connect, TLS, time
// limit, oversized body) is an error whose text reads like
// "Could not resolve host: example.invalid"; any HTTP status is a response.
Result<Response> perform(const Request& request);

// A POST with an application/x-www-form-urlencoded body.
Result<Response> post_form(const std::string& url, const Pairs& form,
                           std::chrono::milliseconds timeout = std::chrono::milliseconds(20000));

// application/x-www-form-urlencoded: alphanumerics and "*-._" kept, space as
// "+", every other byte as %XX (upper-case hex).
std::string form_encode_component(std::string_view text);
std::string form_encode(const Pairs& pairs);

}  // namespace lib::http
