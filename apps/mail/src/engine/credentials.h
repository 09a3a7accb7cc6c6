// Sign-in credentials of a request, resolved on the worker thread from the
// account's config: the password of a password account, or the OAuth access
// token from the secret vault, refreshed (and stored again) when it expires
// within a minute.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "lib/base/result.h"
#include "oauth/pkce.h"
#include "runtime/accounts/vault.h"
#include "validate/account_config.h"

namespace mail::engine {

struct Credentials {
    enum class Kind { Password, OAuthToken };
    Kind kind = Kind::Password;
    std::string login;   // the user name, or the address when it is blank
    std::string secret;  // password or access token; never logged
};

// Where credential resolution gets what it needs; replaceable for tests.
struct CredentialSource {
    std::function<runtime::accounts::SecretVault()> open_vault;
    std::function<std::uint64_t()> now_seconds;
    std::function<std::optional<std::string>(oauth::Provider)> client_id;
    std::function<lib::Result<validate::OAuthTokens>(oauth::Provider, const std::string& client_id,
                                                     const validate::OAuthTokens& stored)>
        refresh;

    // The real pieces: the vault in `vault_dir` (the configuration root when
    // none), the system clock, the client id variables, the token endpoint.
    static CredentialSource standard(std::optional<std::filesystem::path> vault_dir = std::nullopt);
};

lib::Result<Credentials> resolve_credentials(const validate::StoredConfig& config, const CredentialSource& source);

// Stores a grant as the vault entry of the address (empty password, token
// text) and saves the vault.
lib::Status store_tokens(runtime::accounts::SecretVault& vault, const std::string& address,
                         const validate::OAuthTokens& tokens);

}  // namespace mail::engine
