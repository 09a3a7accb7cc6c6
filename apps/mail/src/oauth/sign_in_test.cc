// The loopback side of sign-in: what ends the wait before any token request.
// The code exchange itself runs against a local token endpoint in the
// integration tests.
#include "oauth/sign_in.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace mail::oauth {
namespace {

std::string query_value(const std::string& url, const std::string& key) {
    auto q = url.find('?');
    std::string query = url.substr(q + 1);
    std::string needle = key + "=";
    size_t pos = 0;
    while (pos < query.size()) {
        auto amp = query.find('&', pos);
        std::string pair = query.substr(pos, amp == std::string::npos ? std::string::npos : amp - pos);
        if (pair.rfind(needle, 0) == 0) return pair.substr(needle.size());
        if (amp == std::string::npos) break;
        pos = amp + 1;
    }
    return {};
}

int redirect_port(const std::string& url) {
    // redirect_uri=http%3A%2F%2F127.0.0.1%3APORT%2Foauth
    std::string r = query_value(url, "redirect_uri");
    auto colon = r.find("%3A", r.find("127.0.0.1"));
    return std::stoi(r.substr(colon + 3));
}

// A browser that sends the given request lines to the listener in turn and
// keeps each connection so the test can read what the listener answered.
struct FakeBrowser {
    std::vector<std::string> targets;  // "$STATE" is replaced by the real state
    std::vector<int> connections;
    std::string opened_url;

    ~FakeBrowser() {
        for (int fd : connections) ::close(fd);
    }

    BrowserOpener opener() {
        return [this](const std::string& url) -> lib::Status {
            opened_url = url;
            const std::string state = query_value(url, "state");
            for (std::string target : targets) {
                if (auto p = target.find("$STATE"); p != std::string::npos) target.replace(p, 6, state);
                int fd = ::socket(AF_INET, SOCK_STREAM, 0);
                sockaddr_in addr{};
                addr.sin_family = AF_INET;
                addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                addr.sin_port = htons(static_cast<std::uint16_t>(redirect_port(url)));
                if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
                    ::close(fd);
                    return lib::err("fake browser could not connect");
                }
                std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
                ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
                connections.push_back(fd);
            }
            return lib::ok_status();
        };
    }

    std::string answer(std::size_t i) {
        std::string out;
        char buffer[4096];
        ssize_t n;
        while ((n = ::recv(connections.at(i), buffer, sizeof buffer, 0)) > 0) out.append(buffer, n);
        return out;
    }
};

TEST(SignIn, RedirectsThatEndTheWait) {
    struct Case {
        std::vector<std::string> targets;
        std::string error;
        std::string last_page;
    };
    const Case cases[] = {
        // The browser's icon request is answered and ignored; the denial ends it.
        {{"/favicon.ico", "/oauth?error=access_denied&code=abc&state=$STATE"},
         "authorization denied: access_denied",
         "Sign-in failed. You can close this tab."},
        {{"/oauth?code=abc&state=wrong"},
         "authorization state mismatch (possible CSRF)",
         "Sign-in state mismatch. Please try again from Mail."},
        // Of two state pairs the last one counts.
        {{"/oauth?state=$STATE&code=abc&state=other"},
         "authorization state mismatch (possible CSRF)",
         "Sign-in state mismatch. Please try again from Mail."},
        {{"/oauth?code=abc"},
         "authorization state mismatch (possible CSRF)",
         "Sign-in state mismatch. Please try again from Mail."},
    };
    for (const Case& c : cases) {
        FakeBrowser browser;
        browser.targets = c.targets;
        auto result = sign_in(Provider::Google, "client-1", "alice@gmail.com", std::chrono::seconds(10),
                              browser.opener());
        ASSERT_FALSE(result.ok()) << c.targets.back();
        EXPECT_EQ(result.error(), c.error);
        if (c.targets.size() > 1) {
            EXPECT_NE(browser.answer(0).find("Waiting for sign-in\xE2\x80\xA6"), std::string::npos);
        }
        const std::string last = browser.answer(c.targets.size() - 1);
        EXPECT_EQ(last.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << last;
        EXPECT_NE(last.find(c.last_page), std::string::npos) << last;
        EXPECT_NE(browser.opened_url.find("login_hint=alice%40gmail.com"), std::string::npos);
    }
}

TEST(SignIn, TimesOutWhenNoBrowserComes) {
    FakeBrowser browser;  // opens nothing
    const auto start = std::chrono::steady_clock::now();
    auto result = sign_in(Provider::Microsoft, "client-1", "", std::chrono::milliseconds(300), browser.opener());
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error(), "timed out waiting for the sign-in redirect");
    EXPECT_GE(took, std::chrono::milliseconds(300));
    EXPECT_LT(took, std::chrono::milliseconds(1500));
}

TEST(SignIn, BrowserThatCannotOpen) {
    auto result = sign_in(Provider::Google, "client-1", "a@gmail.com", std::chrono::seconds(5),
                          [](const std::string&) { return lib::Status(lib::err("Operation not supported")); });
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error(), "could not open sign-in browser: Operation not supported");
}

TEST(SignIn, ListenerIsClosedAfterwards) {
    FakeBrowser browser;
    browser.targets = {"/oauth?error=x"};
    auto result = sign_in(Provider::Google, "c", "", std::chrono::seconds(5), browser.opener());
    ASSERT_FALSE(result.ok());
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(redirect_port(browser.opened_url)));
    EXPECT_NE(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::close(fd);
}

}  // namespace
}  // namespace mail::oauth
