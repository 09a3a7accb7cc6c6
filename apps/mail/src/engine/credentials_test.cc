#include "engine/credentials.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <optional>

#include "oauth/tokens.h"

namespace mail::engine {
namespace {

namespace fs = std::filesystem;
using runtime::accounts::AccountId;
using runtime::accounts::SecretEntry;
using runtime::accounts::SecretVault;
using validate::OAuthTokens;

constexpr std::uint64_t kNow = 1'700'000'000;

class Credentials_ : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("zelk-cred-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        source = CredentialSource::standard(dir);
        source.now_seconds = [] { return kNow; };
        source.client_id = [this](oauth::Provider) { return client_id; };
        source.refresh = [this](oauth::Provider p, const std::string& id, const OAuthTokens& stored)
            -> lib::Result<OAuthTokens> {
            ++refreshes;
            seen_provider = p;
            seen_client = id;
            seen_refresh = stored.refresh_token;
            return refresh_answer;
        };
    }
    void TearDown() override { fs::remove_all(dir); }

    void store(const std::string& address, std::optional<std::string> token) {
        SecretVault v = SecretVault::open_in(dir);
        v.put(AccountId(address), SecretEntry{"", std::move(token)});
        ASSERT_TRUE(v.try_save().ok());
    }
    std::optional<OAuthTokens> stored(const std::string& address) {
        auto e = SecretVault::open_in(dir).get(AccountId(address));
        if (!e || !e->token) return std::nullopt;
        auto t = validate::decode_tokens(*e->token);
        if (!t) return std::nullopt;
        return *t;
    }
    static validate::StoredConfig oauth_account(std::string email) {
        validate::StoredConfig c;
        c.email = std::move(email);
        c.auth = validate::AuthMethod::OAuth;
        return c;
    }

    fs::path dir;
    CredentialSource source;
    std::optional<std::string> client_id = "client-123";
    lib::Result<OAuthTokens> refresh_answer = OAuthTokens{"fresh-access", "fresh-refresh", 3600, kNow};
    int refreshes = 0;
    std::optional<oauth::Provider> seen_provider;
    std::string seen_client, seen_refresh;
};

TEST_F(Credentials_, PasswordAccounts) {
    validate::StoredConfig c;
    c.email = "alice@example.test";
    c.password = "pw";
    auto r = resolve_credentials(c, source);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r->kind, Credentials::Kind::Password);
    EXPECT_EQ(r->login, "alice@example.test");
    EXPECT_EQ(r->secret, "pw");

    c.username = "alice-login";
    EXPECT_EQ(resolve_credentials(c, source)->login, "alice-login");
    c.username = "   ";
    EXPECT_EQ(resolve_credentials(c, source)->login, "alice@example.test");

    c.password.clear();
    auto none = resolve_credentials(c, source);
    ASSERT_FALSE(none.ok());
    EXPECT_EQ(none.error(), "no password set for this account");
}

TEST_F(Credentials_, TokenLifetimeDecidesOnRefresh) {
    struct Case {
        std::uint64_t expires_in;
        std::uint64_t age;  // seconds since obtained
        bool refreshed;
    };
    const Case cases[] = {
        {3600, 3600 - 61, false},  // expires in 61 s: used as is
        {3600, 3600 - 59, true},   // expires in 59 s: refreshed
        {3600, 3600 - 60, true},   // exactly the margin
        {0, 0, true},              // no lifetime: always refreshed
        {3600, 7200, true},
    };
    for (const Case& c : cases) {
        refreshes = 0;
        store("bob@gmail.com", validate::encode_tokens({"old-access", "old-refresh", c.expires_in, kNow - c.age}));
        auto r = resolve_credentials(oauth_account("bob@gmail.com"), source);
        ASSERT_TRUE(r.ok()) << r.error();
        EXPECT_EQ(r->kind, Credentials::Kind::OAuthToken);
        EXPECT_EQ(refreshes, c.refreshed ? 1 : 0) << c.expires_in << "/" << c.age;
        EXPECT_EQ(r->secret, c.refreshed ? "fresh-access" : "old-access");
        auto kept = stored("bob@gmail.com");
        ASSERT_TRUE(kept);
        EXPECT_EQ(kept->access_token, c.refreshed ? "fresh-access" : "old-access");
    }
    EXPECT_EQ(seen_provider, oauth::Provider::Google);
    EXPECT_EQ(seen_client, "client-123");
    EXPECT_EQ(seen_refresh, "old-refresh");
}

TEST_F(Credentials_, OAuthFailures) {
    const std::string expired = validate::encode_tokens({"a", "r", 3600, kNow - 4000});
    struct Case {
        std::string address;
        std::optional<std::string> token;  // nullopt: no vault entry
        bool client_id_set;
        std::optional<std::string> refresh_error;
        std::string message;
    };
    const Case cases[] = {
        {"bob@gmail.com", std::nullopt, true, std::nullopt, "not signed in (no OAuth token in vault)"},
        {"bob@gmail.com", std::string("not json"), true, std::nullopt, "stored credential is not an OAuth token"},
        {"bob@example.test", expired, true, std::nullopt, "cannot refresh: unknown OAuth provider"},
        {"bob@gmail.com", expired, false, std::nullopt, "set ZELK_MAIL_GOOGLE_CLIENT_ID to refresh the token"},
        {"bob@outlook.com", expired, false, std::nullopt, "set ZELK_MAIL_MICROSOFT_CLIENT_ID to refresh the token"},
        {"bob@gmail.com", validate::encode_tokens({"a", "", 3600, kNow - 4000}), true, std::nullopt,
         "access token expired and no refresh token; sign in again"},
        {"bob@gmail.com", expired, true, std::string("token refresh rejected: {\"error\":\"invalid_grant\"}"),
         "token refresh rejected: {\"error\":\"invalid_grant\"}"},
    };
    for (const Case& c : cases) {
        fs::remove(dir / "secrets.json");
        if (c.token) store(c.address, c.token);
        client_id = c.client_id_set ? std::optional<std::string>("client-123") : std::nullopt;
        refresh_answer = c.refresh_error ? lib::Result<OAuthTokens>(lib::err(*c.refresh_error))
                                         : lib::Result<OAuthTokens>(OAuthTokens{"fresh", "", 3600, kNow});
        auto r = resolve_credentials(oauth_account(c.address), source);
        ASSERT_FALSE(r.ok()) << c.message;
        EXPECT_EQ(r.error(), c.message);
        if (c.token) {
            EXPECT_EQ(SecretVault::open_in(dir).get(AccountId(c.address))->token, c.token) << c.message;
        }
    }
}

TEST_F(Credentials_, RefreshedTokenThatCannotBeSavedIsNotUsed) {
    store("bob@gmail.com", validate::encode_tokens({"old", "r", 0, kNow}));
    // A vault whose file cannot be replaced: its place is taken by a folder.
    source.open_vault = [this] {
        SecretVault v = SecretVault::open_in(dir);
        fs::remove(dir / "secrets.json");
        fs::create_directories(dir / "secrets.json" / "blocked");
        return v;
    };
    auto r = resolve_credentials(oauth_account("bob@gmail.com"), source);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().rfind("could not save refreshed sign-in credentials: ", 0), 0u) << r.error();
    EXPECT_EQ(refreshes, 1);
}

}  // namespace
}  // namespace mail::engine
