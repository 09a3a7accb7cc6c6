#include "oauth/tokens.h"

#include <chrono>
#include <limits>

#include "lib/http/http.h"
#include "lib/json/strict.h"

namespace mail::oauth {
namespace {

constexpr std::chrono::milliseconds kTokenTimeout{20000};

}  // namespace

std::uint64_t now_seconds() {
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    const auto s = std::chrono::duration_cast<std::chrono::seconds>(since).count();
    return s < 0 ? 0 : static_cast<std::uint64_t>(s);
}

lib::Result<OAuthTokens> parse_token_response(std::string_view body, std::uint64_t now) {
    auto parsed = lib::json::parse_strict(body);
    if (!parsed) return lib::err("token response is not JSON");
    const lib::json::Json& j = *parsed;
    if (!j.is_object()) return lib::err("token response is not an object");
    auto access = j.find("access_token");
    if (access == j.end() || !access->is_string() || access->get_ref<const std::string&>().empty())
        return lib::err("token response has no access token");
    OAuthTokens t;
    t.access_token = access->get<std::string>();
    if (auto r = j.find("refresh_token"); r != j.end() && r->is_string()) t.refresh_token = r->get<std::string>();
    if (auto e = j.find("expires_in"); e != j.end()) {
        if (e->is_number_unsigned()) t.expires_in = e->get<std::uint64_t>();
        else if (e->is_number_integer() && e->get<std::int64_t>() >= 0)
            t.expires_in = static_cast<std::uint64_t>(e->get<std::int64_t>());
    }
    t.obtained_at = now;
    return t;
}

bool token_needs_refresh(const OAuthTokens& tokens, std::uint64_t now) {
    if (tokens.expires_in == 0) return true;
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    const std::uint64_t expiry =
        tokens.obtained_at > kMax - tokens.expires_in ? kMax : tokens.obtained_at + tokens.expires_in;
    const std::uint64_t soon = now > kMax - 60 ? kMax : now + 60;
    return soon >= expiry;
}

lib::Result<OAuthTokens> exchange_code(Provider provider, std::string_view client_id, std::string_view redirect,
                                       std::string_view code, std::string_view verifier) {
    const lib::http::Pairs form = {
        {"grant_type", "authorization_code"},
        {"client_id", std::string(client_id)},
        {"redirect_uri", std::string(redirect)},
        {"code", std::string(code)},
        {"code_verifier", std::string(verifier)},
    };
    auto response = lib::http::post_form(token_endpoint(provider), form, kTokenTimeout);
    if (!response) return response.take_error();
    auto tokens = parse_token_response(response->body, now_seconds());
    if (!tokens) return lib::err("token endpoint rejected exchange: " + response->body);
    return tokens;
}

lib::Result<OAuthTokens> refresh_tokens(Provider provider, std::string_view client_id, const OAuthTokens& stored) {
    const lib::http::Pairs form = {
        {"grant_type", "refresh_token"},
        {"client_id", std::string(client_id)},
        {"refresh_token", stored.refresh_token},
    };
    auto response = lib::http::post_form(token_endpoint(provider), form, kTokenTimeout);
    if (!response) return response.take_error();
    auto tokens = parse_token_response(response->body, now_seconds());
    if (!tokens) return lib::err("token refresh rejected: " + response->body);
    if (tokens->refresh_token.empty()) tokens->refresh_token = stored.refresh_token;
    return tokens;
}

}  // namespace mail::oauth
