#include "lib/http/http.h"

#include <curl/curl.h>

#include <cstdlib>
#include <mutex>

namespace lib::http {
namespace {

void global_init() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Sink {
    std::string* body;
    std::size_t cap;
    bool overflow = false;
};

size_t write_cb(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    size_t n = size * count;
    if (sink->body->size() + n > sink->cap) {
        sink->overflow = true;
        return 0;  // makes curl stop with CURLE_WRITE_ERROR
    }
    sink->body->append(data, n);
    return n;
}

struct Easy {
    CURL* h = curl_easy_init();
    curl_slist* headers = nullptr;
    ~Easy() {
        if (headers) curl_slist_free_all(headers);
        if (h) curl_easy_cleanup(h);
    }
};

}  // namespace

Result<Response> perform(const Request& request) {
    global_init();
    if (request.url.rfind("http://", 0) != 0 && request.url.rfind("https://", 0) != 0)
        return err("unsupported URL scheme: " + request.url.substr(0, request.url.find(':')));
    Easy easy;
    if (!easy.h) return err("could not start an HTTP request");
    CURL* h = easy.h;
    char errbuf[CURL_ERROR_SIZE] = {0};
    Response response;
    Sink sink{&response.body, request.max_body};

    curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errbuf);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(request.timeout.count()));
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request.timeout.count()));
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, write_cb);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(h, CURLOPT_USERAGENT, "zelk-mail");
    if (request.max_redirects > 0) {
        curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(h, CURLOPT_MAXREDIRS, static_cast<long>(request.max_redirects));
    }
    // libcurl does not read SSL_CERT_FILE on its own; honour it like OpenSSL does.
    if (const char* ca = std::getenv("SSL_CERT_FILE"); ca && *ca)
        curl_easy_setopt(h, CURLOPT_CAINFO, ca);
    for (const auto& [name, value] : request.headers)
        easy.headers = curl_slist_append(easy.headers, (name + ": " + value).c_str());
    if (request.method == "POST") {
        curl_easy_setopt(h, CURLOPT_POST, 1L);
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.data());
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
        // No "Expect: 100-continue" round trip.
        easy.headers = curl_slist_append(easy.headers, "Expect:");
    } else if (request.method != "GET") {
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, request.method.c_str());
        if (!request.body.empty()) {
            curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.data());
            curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
        }
    }
    if (easy.headers) curl_easy_setopt(h, CURLOPT_HTTPHEADER, easy.headers);

    CURLcode rc = curl_easy_perform(h);
    if (sink.overflow) return err("response too large (over " + std::to_string(request.max_body) + " bytes)");
    if (rc != CURLE_OK) {
        std::string text = errbuf[0] ? std::string(errbuf) : std::string(curl_easy_strerror(rc));
        if (rc == CURLE_OPERATION_TIMEDOUT && text.find("timed out") == std::string::npos)
            text += " (timed out)";
        return err(text);
    }
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &response.status);
    char* ct = nullptr;
    if (curl_easy_getinfo(h, CURLINFO_CONTENT_TYPE, &ct) == CURLE_OK && ct) response.content_type = ct;
    return response;
}

Result<Response> post_form(const std::string& url, const Pairs& form, std::chrono::milliseconds timeout) {
    Request r;
    r.method = "POST";
    r.url = url;
    r.headers = {{"Content-Type", "application/x-www-form-urlencoded"}, {"Accept", "application/json"}};
    r.body = form_encode(form);
    r.timeout = timeout;
    return perform(r);
}

std::string form_encode_component(std::string_view text) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '*' ||
            c == '-' || c == '.' || c == '_') {
            out += static_cast<char>(c);
        } else if (c == ' ') {
            out += '+';
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string form_encode(const Pairs& pairs) {
    std::string out;
    for (const auto& [k, v] : pairs) {
        if (!out.empty()) out += '&';
        out += form_encode_component(k);
        out += '=';
        out += form_encode_component(v);
    }
    return out;
}

}  // namespace lib::http
