#include "engine/credentials.h"

#include "oauth/tokens.h"

namespace mail::engine {

using validate::AuthMethod;
using validate::OAuthTokens;

CredentialSource CredentialSource::standard(std::optional<std::filesystem::path> vault_dir) {
    CredentialSource s;
    s.open_vault = [vault_dir]() {
        return vault_dir ? runtime::accounts::SecretVault::open_in(*vault_dir) : runtime::accounts::SecretVault::open();
    };
    s.now_seconds = [] { return oauth::now_seconds(); };
    s.client_id = [](oauth::Provider p) { return oauth::client_id_for(p); };
    s.refresh = [](oauth::Provider p, const std::string& client_id, const OAuthTokens& stored) {
        return oauth::refresh_tokens(p, client_id, stored);
    };
    return s;
}

lib::Status store_tokens(runtime::accounts::SecretVault& vault, const std::string& address,
                         const OAuthTokens& tokens) {
    vault.put(runtime::accounts::AccountId(address),
              runtime::accounts::SecretEntry{std::string(), validate::encode_tokens(tokens)});
    return vault.try_save();
}

lib::Result<Credentials> resolve_credentials(const validate::StoredConfig& config, const CredentialSource& source) {
    Credentials c;
    c.login = validate::login_name(config);
    if (config.auth == AuthMethod::Password) {
        if (config.password.empty()) return lib::err("no password set for this account");
        c.kind = Credentials::Kind::Password;
        c.secret = config.password;
        return c;
    }

    c.kind = Credentials::Kind::OAuthToken;
    runtime::accounts::SecretVault vault = source.open_vault();
    auto entry = vault.get(runtime::accounts::AccountId(config.email));
    if (!entry || !entry->token) return lib::err("not signed in (no OAuth token in vault)");
    auto tokens = validate::decode_tokens(*entry->token);
    if (!tokens) return lib::err("stored credential is not an OAuth token");

    if (!oauth::token_needs_refresh(*tokens, source.now_seconds())) {
        c.secret = tokens->access_token;
        return c;
    }

    auto provider = oauth::provider_for_address(config.email);
    if (!provider) return lib::err("cannot refresh: unknown OAuth provider");
    auto client_id = source.client_id(*provider);
    if (!client_id)
        return lib::err("set " + std::string(oauth::client_id_variable(*provider)) + " to refresh the token");
    if (tokens->refresh_token.empty()) return lib::err("access token expired and no refresh token; sign in again");
    auto fresh = source.refresh(*provider, *client_id, *tokens);
    if (!fresh) return fresh.take_error();
    if (auto saved = store_tokens(vault, config.email, *fresh); !saved)
        return lib::err("could not save refreshed sign-in credentials: " + saved.error());
    c.secret = fresh->access_token;
    return c;
}

}  // namespace mail::engine
