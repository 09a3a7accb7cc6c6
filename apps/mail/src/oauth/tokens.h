// The OAuth token side: reading a token endpoint's answer, deciding when a
// stored grant needs refreshing, and the two token requests (code exchange
// and refresh) over HTTPS. Both requests block for at most 20 seconds.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "lib/base/result.h"
#include "oauth/pkce.h"
#include "validate/account_config.h"

namespace mail::oauth {

using validate::OAuthTokens;

// Seconds since the Unix epoch; 0 when the clock reads before the epoch.
std::uint64_t now_seconds();

// A token endpoint's JSON object: "access_token" must be a non-empty string;
// "refresh_token" is taken when it is a string (else empty); "expires_in"
// when it is a non-negative integer (else 0); other members are ignored.
// `obtained_at` is `now`. The error never quotes the body.
lib::Result<OAuthTokens> parse_token_response(std::string_view body, std::uint64_t now);

// True when `expires_in` is 0, or when now + 60 is at least
// obtained_at + expires_in (the sum saturating).
bool token_needs_refresh(const OAuthTokens& tokens, std::uint64_t now);

// POST grant_type=authorization_code, client_id, redirect_uri, code,
// code_verifier to the provider's token endpoint. A transport failure is its
// text; an answer that does not read as tokens is "token endpoint rejected
// exchange: <body>".
lib::Result<OAuthTokens> exchange_code(Provider provider, std::string_view client_id, std::string_view redirect,
                                       std::string_view code, std::string_view verifier);

// POST grant_type=refresh_token, client_id, refresh_token. An answer without
// a refresh token keeps the stored one. Unreadable answer: "token refresh
// rejected: <body>".
lib::Result<OAuthTokens> refresh_tokens(Provider provider, std::string_view client_id, const OAuthTokens& stored);

}  // namespace mail::oauth
