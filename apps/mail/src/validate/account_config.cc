#include "validate/account_config.h"

#include <charconv>

#include "lib/crypto/random.h"
#include "lib/json/strict.h"
#include "state/text_rules.h"

namespace mail::validate {
namespace {

using lib::json::Json;

bool blank(std::string_view s) { return state::trim_white_space(s).empty(); }

lib::Result<std::uint16_t> port_field(const Json& object, std::string_view name) {
    auto f = lib::json::field(object, name);
    if (!f) return f.take_error();
    const Json& v = **f;
    if (v.is_number_unsigned() || (v.is_number_integer() && v.get<std::int64_t>() >= 0)) {
        const auto n = v.get<std::uint64_t>();
        if (n <= 65535) return static_cast<std::uint16_t>(n);
        return lib::err("invalid value: " + std::to_string(n) + ", expected a port number at `" + std::string(name) +
                        "`");
    }
    if (v.is_number_integer())
        return lib::err("invalid value: " + std::to_string(v.get<std::int64_t>()) + ", expected a port number at `" +
                        std::string(name) + "`");
    return lib::err("invalid type: " + lib::json::type_name(v) + ", expected a port number at `" + std::string(name) +
                    "`");
}

// The reader's parse messages end with the bytes it last read; for a secret
// text those bytes may be part of the secret, so they are cut off.
std::string without_quoted_input(const std::string& message) {
    auto at = message.find("; last read:");
    return at == std::string::npos ? message : message.substr(0, at);
}

// A value quoted in a message, cut to 64 bytes on a character boundary.
std::string short_text(std::string_view text) {
    constexpr std::size_t kMax = 64;
    if (text.size() <= kMax) return std::string(text);
    std::size_t cut = kMax;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return std::string(text.substr(0, cut)) + "…";
}

lib::Result<std::uint64_t> u64_element(const Json& v, const char* name) {
    if (v.is_number_unsigned()) return v.get<std::uint64_t>();
    if (v.is_number_integer() && v.get<std::int64_t>() >= 0) return v.get<std::uint64_t>();
    return lib::err("invalid type: " + lib::json::type_name(v) + ", expected an unsigned integer at `" + name + "`");
}

}  // namespace

std::string_view auth_method_name(AuthMethod method) {
    return method == AuthMethod::OAuth ? "OAuth" : "Password";
}

std::string login_name(const StoredConfig& config) {
    return blank(config.username) ? config.email : config.username;
}

std::string account_label(const StoredConfig& config) {
    if (!config.display_name.empty()) return config.display_name;
    if (!config.email.empty()) return config.email;
    return "New account";
}

lib::Result<std::string> account_id_for(const StoredConfig& config, std::string_view current_id) {
    if (!config.email.empty()) return config.email;
    if (!current_id.empty()) return std::string(current_id);
    auto uuid = lib::crypto::random_uuid_v4();
    if (!uuid) return uuid.take_error();
    return "account-" + *uuid;
}

lib::Result<AccountEntry> make_account_entry(StoredConfig config) {
    auto id = account_id_for(config, "");
    if (!id) return id.take_error();
    return AccountEntry{std::move(*id), std::move(config), false, 0};
}

nlohmann::ordered_json settings_to_json(const StoredConfig& c, bool collapsed) {
    Json o = Json::object();
    o["display_name"] = c.display_name;
    o["email"] = c.email;
    o["imap_host"] = c.imap_host;
    o["imap_port"] = c.imap_port;
    o["imap_tls"] = c.imap_tls;
    o["smtp_host"] = c.smtp_host;
    o["smtp_port"] = c.smtp_port;
    o["smtp_tls"] = c.smtp_tls;
    o["username"] = c.username;
    o["auth"] = std::string(auth_method_name(c.auth));
    o["collapsed"] = collapsed;
    return o;
}

lib::Result<Settings> settings_from_json(const nlohmann::ordered_json& v) {
    auto is_obj = lib::json::expect_object(v);
    if (!is_obj) return is_obj.take_error();
    Settings s;
    StoredConfig& c = s.config;
    struct Text {
        const char* key;
        std::string* into;
    } texts[] = {{"display_name", &c.display_name}, {"email", &c.email}, {"imap_host", &c.imap_host}};
    for (auto& t : texts) {
        auto r = lib::json::string_field(v, t.key);
        if (!r) return r.take_error();
        *t.into = std::move(*r);
    }
    auto imap_port = port_field(v, "imap_port");
    if (!imap_port) return imap_port.take_error();
    c.imap_port = *imap_port;
    auto imap_tls = lib::json::bool_field(v, "imap_tls");
    if (!imap_tls) return imap_tls.take_error();
    c.imap_tls = *imap_tls;
    auto smtp_host = lib::json::string_field(v, "smtp_host");
    if (!smtp_host) return smtp_host.take_error();
    c.smtp_host = std::move(*smtp_host);
    auto smtp_port = port_field(v, "smtp_port");
    if (!smtp_port) return smtp_port.take_error();
    c.smtp_port = *smtp_port;
    auto smtp_tls = lib::json::bool_field(v, "smtp_tls");
    if (!smtp_tls) return smtp_tls.take_error();
    c.smtp_tls = *smtp_tls;
    auto username = lib::json::string_field(v, "username");
    if (!username) return username.take_error();
    c.username = std::move(*username);

    if (v.contains("auth")) {
        auto auth = lib::json::string_field(v, "auth");
        if (!auth) return auth.take_error();
        if (*auth == "Password")
            c.auth = AuthMethod::Password;
        else if (*auth == "OAuth")
            c.auth = AuthMethod::OAuth;
        else
            return lib::err("unknown variant `" + short_text(*auth) + "`, expected `Password` or `OAuth` at `auth`");
    }
    if (v.contains("collapsed")) {
        auto collapsed = lib::json::bool_field(v, "collapsed");
        if (!collapsed) return collapsed.take_error();
        s.collapsed = *collapsed;
    }
    return s;
}

lib::Result<Settings> decode_settings(std::string_view text) {
    auto parsed = lib::json::parse_strict(text);
    if (!parsed) return lib::err(without_quoted_input(parsed.error()));
    return settings_from_json(*parsed);
}

std::string encode_tokens(const OAuthTokens& t) {
    Json o = Json::object();
    o["access_token"] = t.access_token;
    o["refresh_token"] = t.refresh_token;
    o["expires_in"] = t.expires_in;
    o["obtained_at"] = t.obtained_at;
    return lib::json::dump(o);
}

lib::Result<OAuthTokens> decode_tokens(std::string_view text) {
    auto parsed = lib::json::parse_strict(text);
    if (!parsed) return lib::err(without_quoted_input(parsed.error()));
    const Json& v = *parsed;
    OAuthTokens t;
    if (v.is_array()) {
        if (v.empty() || v.size() > 4)
            return lib::err("invalid length " + std::to_string(v.size()) + ", expected 1 to 4 token elements");
        if (!v[0].is_string())
            return lib::err("invalid type: " + lib::json::type_name(v[0]) + ", expected a string at `access_token`");
        t.access_token = v[0].get<std::string>();
        if (v.size() > 1) {
            if (!v[1].is_string())
                return lib::err("invalid type: " + lib::json::type_name(v[1]) +
                                ", expected a string at `refresh_token`");
            t.refresh_token = v[1].get<std::string>();
        }
        if (v.size() > 2) {
            auto n = u64_element(v[2], "expires_in");
            if (!n) return n.take_error();
            t.expires_in = *n;
        }
        if (v.size() > 3) {
            auto n = u64_element(v[3], "obtained_at");
            if (!n) return n.take_error();
            t.obtained_at = *n;
        }
        return t;
    }
    auto is_obj = lib::json::expect_object(v, "an object or an array");
    if (!is_obj) return is_obj.take_error();
    auto access = lib::json::string_field(v, "access_token");
    if (!access) return access.take_error();
    t.access_token = std::move(*access);
    if (v.contains("refresh_token")) {
        auto r = lib::json::string_field(v, "refresh_token");
        if (!r) return r.take_error();
        t.refresh_token = std::move(*r);
    }
    if (v.contains("expires_in")) {
        auto n = lib::json::u64_field(v, "expires_in");
        if (!n) return n.take_error();
        t.expires_in = *n;
    }
    if (v.contains("obtained_at")) {
        auto n = lib::json::u64_field(v, "obtained_at");
        if (!n) return n.take_error();
        t.obtained_at = *n;
    }
    return t;
}

std::optional<std::uint16_t> parse_port(std::string_view text) {
    const std::string trimmed = state::trim_white_space(text);
    std::string_view s = trimmed;
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    if (s.empty()) return std::nullopt;
    for (char c : s)
        if (c < '0' || c > '9') return std::nullopt;
    std::uint16_t value = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc{} || end != s.data() + s.size()) return std::nullopt;
    return value;
}

StoredConfig form_to_config(const AccountForm& form) {
    StoredConfig c;
    c.display_name = form[FormField::DisplayName];
    c.email = form[FormField::Email];
    c.username = form[FormField::Username];
    c.imap_host = form[FormField::ImapHost];
    c.imap_port = parse_port(form[FormField::ImapPort]).value_or(kDefaultImapPort);
    c.imap_tls = form.imap_tls;
    c.smtp_host = form[FormField::SmtpHost];
    c.smtp_port = parse_port(form[FormField::SmtpPort]).value_or(kDefaultSmtpPort);
    c.smtp_tls = form.smtp_tls;
    c.auth = form.auth;
    c.password = form.auth == AuthMethod::OAuth ? std::string() : form[FormField::Password];
    return c;
}

AccountForm config_to_form(const StoredConfig& c) {
    AccountForm f;
    f[FormField::DisplayName] = c.display_name;
    f[FormField::Email] = c.email;
    f[FormField::Username] = c.username;
    f[FormField::Password] = c.password;
    f[FormField::ImapHost] = c.imap_host;
    f[FormField::ImapPort] = std::to_string(c.imap_port);
    f[FormField::SmtpHost] = c.smtp_host;
    f[FormField::SmtpPort] = std::to_string(c.smtp_port);
    f.imap_tls = c.imap_tls;
    f.smtp_tls = c.smtp_tls;
    f.auth = c.auth;
    return f;
}

std::vector<FieldProblem> validate_config(const StoredConfig& c) {
    std::vector<FieldProblem> problems;
    if (c.email.find('@') == std::string::npos) problems.push_back({"email", "Enter a valid email address"});
    if (blank(c.imap_host)) problems.push_back({"imap_host", "IMAP host is required"});
    if (blank(c.smtp_host)) problems.push_back({"smtp_host", "SMTP host is required"});
    if (blank(c.username)) problems.push_back({"username", "Username is required"});
    if (c.imap_port == 0) problems.push_back({"imap_port", "Port must be 1-65535"});
    if (c.smtp_port == 0) problems.push_back({"smtp_port", "Port must be 1-65535"});
    return problems;
}

}  // namespace mail::validate
