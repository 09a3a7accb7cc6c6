#include "oauth/pkce.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using mail::oauth::Provider;
using Kind = mail::oauth::RedirectOutcome::Kind;

TEST(Pkce, ChallengeMatchesRfc7636Vector) {
    EXPECT_EQ(mail::oauth::challenge_for("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
              "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
}

TEST(Pkce, FreshSecretsHaveTheirShapes) {
    auto a = mail::oauth::make_secrets();
    auto b = mail::oauth::make_secrets();
    ASSERT_TRUE(a.ok() && b.ok());
    EXPECT_EQ(a->verifier.size(), 43u);
    EXPECT_EQ(a->state.size(), 22u);
    EXPECT_EQ(a->challenge, mail::oauth::challenge_for(a->verifier));
    EXPECT_NE(a->verifier, b->verifier);
    EXPECT_NE(a->state, b->state);
    for (char c : a->verifier + a->state + a->challenge)
        EXPECT_TRUE(isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') << c;
}

std::string tail_keys(const std::string& url) {
    std::string keys;
    auto q = url.find('?');
    std::string query = url.substr(q + 1);
    size_t pos = 0;
    while (pos < query.size()) {
        auto eq = query.find('=', pos);
        auto amp = query.find('&', pos);
        keys += query.substr(pos, eq - pos) + ",";
        if (amp == std::string::npos) break;
        pos = amp + 1;
    }
    return keys;
}

TEST(Pkce, AuthorizationUrlPairsInOrder) {
    mail::oauth::PkceSecrets s{"v", "CH", "ST"};
    std::string redirect = mail::oauth::redirect_uri(4711);
    EXPECT_EQ(redirect, "http://127.0.0.1:4711/oauth");
    auto google = mail::oauth::authorization_url(Provider::Google, "cid", redirect, s, "ann@gmail.com");
    EXPECT_EQ(tail_keys(google),
              "client_id,response_type,redirect_uri,scope,code_challenge,code_challenge_method,state,"
              "access_type,prompt,login_hint,");
    EXPECT_NE(google.find("access_type=offline&prompt=consent&login_hint=ann%40gmail.com"), std::string::npos);
    EXPECT_NE(google.find("/o/oauth2/v2/auth?client_id=cid&response_type=code&redirect_uri=http%3A%2F%2F127.0.0.1%3A4711%2Foauth"),
              std::string::npos);
    auto ms = mail::oauth::authorization_url(Provider::Microsoft, "cid", redirect, s, "bo@outlook.com");
    EXPECT_NE(ms.find("&state=ST&login_hint=bo%40outlook.com"), std::string::npos) << ms;
    EXPECT_NE(ms.find("scope=offline_access+https%3A%2F%2F"), std::string::npos);
    auto no_hint = mail::oauth::authorization_url(Provider::Microsoft, "cid", redirect, s, "");
    EXPECT_EQ(no_hint.find("login_hint"), std::string::npos);
    EXPECT_EQ(no_hint.substr(no_hint.size() - 9), "&state=ST");
}

TEST(Pkce, RedirectRequestsAreJudged) {
    struct Case {
        const char* request;
        Kind kind;
        const char* value;
        const char* page_text;
    } cases[] = {
        {"GET /oauth?code=abc&state=ST HTTP/1.1\r\nHost: x\r\n\r\n", Kind::Code, "abc", "Signed in."},
        {"GET /any/other/path?state=ST&code=a%2Fb+c HTTP/1.1\r\n\r\n", Kind::Code, "a/b c", "Signed in."},
        {"GET /oauth?code=abc&error=access_denied&state=ST HTTP/1.1\r\n\r\n", Kind::Denied, "access_denied",
         "Sign-in failed."},
        {"GET /oauth?code=abc&state=BAD&state=ST HTTP/1.1\r\n\r\n", Kind::Code, "abc", "Signed in."},
        {"GET /oauth?code=abc&state=ST&state=BAD HTTP/1.1\r\n\r\n", Kind::StateMismatch, "", "state mismatch"},
        {"GET /oauth?code=abc HTTP/1.1\r\n\r\n", Kind::StateMismatch, "", "state mismatch"},
        {"GET /favicon.ico HTTP/1.1\r\n\r\n", Kind::KeepWaiting, "", "Waiting for sign-in\xE2\x80\xA6"},
        {"\xff\xfe garbage", Kind::KeepWaiting, "", "Waiting"},
    };
    for (const auto& c : cases) {
        auto out = mail::oauth::handle_redirect_request(c.request, "ST");
        EXPECT_EQ(out.kind, c.kind) << c.request;
        EXPECT_EQ(out.value, c.value) << c.request;
        EXPECT_NE(out.page.find(c.page_text), std::string::npos) << out.page;
    }
}

TEST(Pkce, AnswerPageIsWholeHttpResponse) {
    std::string page = mail::oauth::http_page("Waiting for sign-in\xE2\x80\xA6");
    auto body_at = page.find("\r\n\r\n") + 4;
    std::string body = page.substr(body_at);
    EXPECT_EQ(page.substr(0, body_at),
              "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                  std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(body,
              "<!doctype html><html><head><meta charset=utf-8><title>Zelk Mail</title></head>"
              "<body style=\"font-family:system-ui;padding:3rem;text-align:center\">Waiting for sign-in\xE2\x80\xA6"
              "</body></html>");
}

TEST(Pkce, ProvidersAndClientIds) {
    EXPECT_EQ(mail::oauth::provider_for_address("a@GMail.com"), Provider::Google);
    EXPECT_EQ(mail::oauth::provider_for_address("a@hotmail.com"), Provider::Microsoft);
    EXPECT_EQ(mail::oauth::provider_for_address("a@example.com"), std::nullopt);
    EXPECT_EQ(mail::oauth::provider_for_address("gmail.com"), std::nullopt);
    setenv("ZELK_MAIL_GOOGLE_CLIENT_ID", "", 1);
    EXPECT_EQ(mail::oauth::client_id_for(Provider::Google), std::nullopt);
    setenv("ZELK_MAIL_GOOGLE_CLIENT_ID", "\xff", 1);
    EXPECT_EQ(mail::oauth::client_id_for(Provider::Google), std::nullopt);
    setenv("ZELK_MAIL_GOOGLE_CLIENT_ID", "id-1", 1);
    EXPECT_EQ(mail::oauth::client_id_for(Provider::Google), "id-1");
    unsetenv("ZELK_MAIL_GOOGLE_CLIENT_ID");
}

}  // namespace
