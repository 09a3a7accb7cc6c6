// The pieces of an OAuth authorization-code sign-in with PKCE that need no
// network: providers and their endpoints, the verifier, challenge and state,
// the authorization URL, and reading the browser's redirect.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "lib/base/result.h"

namespace mail::oauth {

enum class Provider { Google, Microsoft };

// The lower-cased domain decides: Google's and Microsoft's mail domains.
std::optional<Provider> provider_for_address(std::string_view address);

std::string_view display_name(Provider p);       // "Google", "Microsoft"
std::string_view client_id_variable(Provider p);  // "ZELK_MAIL_GOOGLE_CLIENT_ID", ...

// The configured client id: the variable set, valid UTF-8 and not empty.
std::optional<std::string> client_id_for(Provider p);

// Endpoint bases default to the providers' published hosts; the variables
// ZELK_MAIL_GOOGLE_AUTH_BASE, ZELK_MAIL_GOOGLE_TOKEN_BASE,
// ZELK_MAIL_MICROSOFT_AUTH_BASE and ZELK_MAIL_MICROSOFT_TOKEN_BASE replace
// them (for tests against a local endpoint).
std::string authorization_endpoint(Provider p);
std::string token_endpoint(Provider p);
std::string scope(Provider p);

struct PkceSecrets {
    std::string verifier;   // 43 characters
    std::string challenge;  // base64url(SHA-256(verifier))
    std::string state;      // 22 characters
};

// The S256 challenge of a verifier.
std::string challenge_for(std::string_view verifier);

// Fresh secrets from three random version-4 UUIDs.
lib::Result<PkceSecrets> make_secrets();

std::string redirect_uri(int port);

std::string authorization_url(Provider p, std::string_view client_id, std::string_view redirect,
                              const PkceSecrets& secrets, std::string_view login_hint);

// What the loopback listener does with one browser request.
struct RedirectOutcome {
    enum class Kind { Code, Denied, StateMismatch, KeepWaiting } kind = Kind::KeepWaiting;
    std::string value;  // the code, or the error value when denied
    std::string page;   // the complete HTTP answer to write back
};

// Reads the request line of one browser request (at most 4096 bytes,
// invalid UTF-8 replaced) and decides against the expected state.
RedirectOutcome handle_redirect_request(std::string_view request_bytes, std::string_view expected_state);

// The whole HTTP answer for a page message.
std::string http_page(std::string_view message);

}  // namespace mail::oauth
