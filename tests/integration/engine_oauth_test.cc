// OAuth through the live engine: sign-in with a fake browser against a local
// token endpoint, the grant stored in the vault, XOAUTH2 against Dovecot's
// oauth2 passdb with a local introspection endpoint, and the refresh of an
// expiring token.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>
#include <set>

#include "engine/live_backend.h"
#include "lib/http/http.h"
#include "oauth/tokens.h"
#include "tests/integration/support/dovecot.h"
#include "tests/integration/support/http_server.h"
#include "tests/integration/support/process.h"

namespace {

using integration::Dovecot;
using integration::HttpReply;
using integration::HttpRequest;
using integration::HttpServer;
using mail::engine::Event;
using mail::engine::EventTag;
using mail::engine::Failed;
using mail::validate::OAuthTokens;
using runtime::accounts::AccountId;
using runtime::accounts::SecretVault;

std::string url_param(const std::string& url, const std::string& key) {
    const std::string needle = key + "=";
    auto q = url.find('?');
    std::string query = url.substr(q + 1);
    size_t pos = 0;
    while (pos <= query.size()) {
        auto amp = query.find('&', pos);
        std::string pair = query.substr(pos, amp == std::string::npos ? std::string::npos : amp - pos);
        if (pair.rfind(needle, 0) == 0) return integration::form_value(pair, key);
        if (amp == std::string::npos) break;
        pos = amp + 1;
    }
    return {};
}

// The provider's side: a token endpoint and the introspection endpoint
// that Dovecot asks about XOAUTH2 tokens.
struct Provider {
    std::mutex mutex;
    std::string expected_challenge;
    std::string expected_redirect;
    std::set<std::string> active_tokens;
    int exchanges = 0;
    int refreshes = 0;

    HttpReply answer(const HttpRequest& r) {
        std::lock_guard lock(mutex);
        if (r.path == "/introspect") {
            const std::string token = integration::form_value(r.body, "token");
            if (active_tokens.count(token)) return {200, R"({"active":true,"username":"oauser"})"};
            return {200, R"({"active":false})"};
        }
        if (r.path == "/token" && integration::form_value(r.body, "client_id") == "test-client") {
            const std::string grant = integration::form_value(r.body, "grant_type");
            if (grant == "authorization_code" && integration::form_value(r.body, "code") == "the-code" &&
                integration::form_value(r.body, "redirect_uri") == expected_redirect &&
                mail::oauth::challenge_for(integration::form_value(r.body, "code_verifier")) == expected_challenge) {
                ++exchanges;
                active_tokens.insert("access-1");
                return {200, R"({"access_token":"access-1","refresh_token":"refresh-1","expires_in":3600,"token_type":"Bearer"})"};
            }
            if (grant == "refresh_token" && integration::form_value(r.body, "refresh_token") == "refresh-1") {
                ++refreshes;
                active_tokens.clear();
                active_tokens.insert("access-2");
                return {200, R"({"access_token":"access-2","expires_in":3599})"};
            }
        }
        return {400, R"({"error":"invalid_grant"})"};
    }
};

class EngineOAuth : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (Dovecot::unavailable_reason()) return;
        provider_ = new Provider();
        auto http = HttpServer::start([](const HttpRequest& r) { return provider_->answer(r); });
        ASSERT_TRUE(http.ok()) << http.error();
        http_ = std::move(*http);
        integration::DovecotOptions options;
        options.users = {{"oauser", "not-the-password"}};
        options.oauth2_introspection_url = http_->url("/introspect");
        auto server = Dovecot::start(options);
        ASSERT_TRUE(server.ok()) << server.error();
        server_ = std::move(*server);
    }
    static void TearDownTestSuite() {
        server_.reset();
        http_.reset();
    }

    void SetUp() override {
        ZELK_SKIP_WITHOUT_DOVECOT();
        ASSERT_TRUE(server_);
        auto dir = integration::TempDir::create("zelk-oauth-vault");
        ASSERT_TRUE(dir.ok());
        vault_dir_ = std::make_unique<integration::TempDir>(std::move(*dir));
        const std::string base = "http://127.0.0.1:" + std::to_string(http_->port());
        ::setenv("ZELK_MAIL_GOOGLE_TOKEN_BASE", base.c_str(), 1);
        ::setenv("ZELK_MAIL_GOOGLE_AUTH_BASE", "https://accounts.example.test", 1);
        ::setenv("ZELK_MAIL_GOOGLE_CLIENT_ID", "test-client", 1);
    }
    void TearDown() override {
        ::unsetenv("ZELK_MAIL_GOOGLE_TOKEN_BASE");
        ::unsetenv("ZELK_MAIL_GOOGLE_AUTH_BASE");
        ::unsetenv("ZELK_MAIL_GOOGLE_CLIENT_ID");
    }

    mail::engine::LiveOptions options() {
        mail::engine::LiveOptions o;
        o.credentials = mail::engine::CredentialSource::standard(vault_dir_->path());
        o.sign_in_limit = std::chrono::seconds(20);
        return o;
    }

    mail::engine::StoredConfig oauth_account() {
        mail::engine::StoredConfig c;
        c.email = "oauser@gmail.com";
        c.username = "oauser";
        c.auth = mail::validate::AuthMethod::OAuth;
        c.imap_host = server_->host();
        c.imap_port = server_->port();
        return c;
    }

    std::vector<Event> run(mail::engine::Backend& backend, mail::engine::RequestPayload payload) {
        std::vector<Event> events;
        backend.handle(mail::engine::Request{*mail::engine::RequestId::random(), std::move(payload)},
                       [&](Event e) { events.push_back(std::move(e)); });
        return events;
    }

    std::optional<OAuthTokens> stored() {
        auto e = SecretVault::open_in(vault_dir_->path()).get(AccountId("oauser@gmail.com"));
        if (!e || !e->token) return std::nullopt;
        EXPECT_EQ(e->password, "");
        auto t = mail::validate::decode_tokens(*e->token);
        if (!t) return std::nullopt;
        return *t;
    }

    static Provider* provider_;
    static std::unique_ptr<HttpServer> http_;
    static std::unique_ptr<Dovecot> server_;
    std::unique_ptr<integration::TempDir> vault_dir_;
};

Provider* EngineOAuth::provider_ = nullptr;
std::unique_ptr<HttpServer> EngineOAuth::http_;
std::unique_ptr<Dovecot> EngineOAuth::server_;

// The browser: after the user consents, the provider redirects to the
// loopback listener with the code and the state it was given.
lib::Status redirect_back(const std::string& url, const std::string& code) {
    const std::string redirect = url_param(url, "redirect_uri");
    const auto port_at = redirect.find(':', 7) + 1;
    const int port = std::stoi(redirect.substr(port_at));
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return lib::err("browser could not reach the listener");
    }
    const std::string request = "GET /oauth?code=" + code + "&state=" +
                                lib::http::form_encode_component(url_param(url, "state")) +
                                " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    ::close(fd);
    return lib::ok_status();
}

TEST_F(EngineOAuth, SignInStoresTheGrantAndXoauth2SignsIn) {
    auto opts = options();
    std::string opened;
    opts.open_browser = [&](const std::string& url) {
        opened = url;
        {
            std::lock_guard lock(provider_->mutex);
            provider_->expected_challenge = url_param(url, "code_challenge");
            provider_->expected_redirect = url_param(url, "redirect_uri");
        }
        return redirect_back(url, "the-code");
    };
    auto backend = mail::engine::make_live_backend(opts);
    ASSERT_TRUE(backend.ok());

    auto events = run(**backend, mail::engine::SignInRequest{"oauser@gmail.com", mail::oauth::Provider::Google});
    ASSERT_EQ(events.size(), 1u);
    ASSERT_EQ(events[0].tag(), EventTag::SignedIn)
        << (events[0].tag() == EventTag::Failed ? std::get<Failed>(events[0].payload).message : "");
    EXPECT_EQ(std::get<mail::engine::SignedIn>(events[0].payload).account, "oauser@gmail.com");
    EXPECT_EQ(opened.rfind("https://accounts.example.test/o/oauth2/v2/auth?client_id=test-client&", 0), 0u) << opened;
    EXPECT_EQ(url_param(opened, "login_hint"), "oauser@gmail.com");

    auto tokens = stored();
    ASSERT_TRUE(tokens);
    EXPECT_EQ(tokens->access_token, "access-1");
    EXPECT_EQ(tokens->refresh_token, "refresh-1");
    EXPECT_EQ(tokens->expires_in, 3600u);
    EXPECT_NEAR(static_cast<double>(tokens->obtained_at), static_cast<double>(mail::oauth::now_seconds()), 30.0);

    // The stored token signs in over XOAUTH2.
    auto connect = run(**backend, mail::engine::ConnectRequest{oauth_account()});
    ASSERT_EQ(connect.size(), 2u) << std::get<Failed>(connect[0].payload).message << "\n" << server_->log();
    EXPECT_EQ(connect[0].tag(), EventTag::Connected);
}

TEST_F(EngineOAuth, ExpiringTokenIsRefreshedStoredAndUsed) {
    {
        std::lock_guard lock(provider_->mutex);
        provider_->active_tokens = {"access-1"};
    }
    // 50 seconds of life left: inside the one-minute margin.
    SecretVault v = SecretVault::open_in(vault_dir_->path());
    const OAuthTokens old{"access-1", "refresh-1", 3600, mail::oauth::now_seconds() - 3550};
    ASSERT_TRUE(mail::engine::store_tokens(v, "oauser@gmail.com", old).ok());
    auto backend = mail::engine::make_live_backend(options());
    ASSERT_TRUE(backend.ok());

    auto events = run(**backend, mail::engine::FetchRequest{oauth_account(), mail::state::FolderRole::Inbox});
    ASSERT_EQ(events.size(), 1u);
    ASSERT_EQ(events[0].tag(), EventTag::Fetched) << std::get<Failed>(events[0].payload).message;

    auto tokens = stored();
    ASSERT_TRUE(tokens);
    EXPECT_EQ(tokens->access_token, "access-2");
    EXPECT_EQ(tokens->refresh_token, "refresh-1");  // the answer had none: the old one is kept
    EXPECT_EQ(tokens->expires_in, 3599u);

    // The refreshed token is fresh now: the next request uses it as is.
    int refreshes_before;
    {
        std::lock_guard lock(provider_->mutex);
        refreshes_before = provider_->refreshes;
    }
    auto again = run(**backend, mail::engine::ConnectRequest{oauth_account()});
    EXPECT_EQ(again.size(), 2u);
    std::lock_guard lock(provider_->mutex);
    EXPECT_EQ(provider_->refreshes, refreshes_before);
}

TEST_F(EngineOAuth, RefusedTokensAndRefusedRefresh) {
    {
        std::lock_guard lock(provider_->mutex);
        provider_->active_tokens = {};
    }
    SecretVault v = SecretVault::open_in(vault_dir_->path());
    ASSERT_TRUE(mail::engine::store_tokens(v, "oauser@gmail.com",
                                           {"revoked", "refresh-1", 3600, mail::oauth::now_seconds()})
                    .ok());
    auto backend = mail::engine::make_live_backend(options());
    ASSERT_TRUE(backend.ok());
    auto events = run(**backend, mail::engine::ConnectRequest{oauth_account()});
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(std::get<Failed>(events[0].payload).message,
              "authentication failed \xE2\x80\x94 check the username and password");

    ASSERT_TRUE(mail::engine::store_tokens(v, "oauser@gmail.com", {"old", "unknown-refresh", 0, 0}).ok());
    events = run(**backend, mail::engine::ConnectRequest{oauth_account()});
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(std::get<Failed>(events[0].payload).message, "token refresh rejected: {\"error\":\"invalid_grant\"}");
    EXPECT_EQ(stored()->access_token, "old");
}

}  // namespace
