// One mail account's settings (StoredConfig), its OAuth grant (OAuthTokens),
// the client's account entry around them, their stored JSON forms, the
// account form's eight text fields and the form's validation rules.
#pragma once

#include <array>
#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lib/base/result.h"

namespace mail::validate {

enum class AuthMethod : std::uint8_t { Password, OAuth };

// "Password" or "OAuth".
std::string_view auth_method_name(AuthMethod method);

inline constexpr std::uint16_t kDefaultImapPort = 993;
inline constexpr std::uint16_t kDefaultSmtpPort = 465;

struct StoredConfig {
    std::string display_name;
    std::string email;  // also the account's id once saved
    std::string imap_host;
    std::uint16_t imap_port = kDefaultImapPort;
    bool imap_tls = true;
    std::string smtp_host;
    std::uint16_t smtp_port = kDefaultSmtpPort;
    bool smtp_tls = true;
    std::string username;  // empty after trimming: the address is the login name
    AuthMethod auth = AuthMethod::Password;
    // Held in the secret vault, never in the settings object.
    std::string password;

    bool operator==(const StoredConfig&) const = default;
};

// The login name: the user name, or the address when the user name is blank.
std::string login_name(const StoredConfig& config);

struct OAuthTokens {
    std::string access_token;
    std::string refresh_token;     // empty when the provider issued none
    std::uint64_t expires_in = 0;  // seconds; 0 when none was given
    std::uint64_t obtained_at = 0; // seconds since the Unix epoch

    bool operator==(const OAuthTokens&) const = default;
};

// One account of the client's list.
struct AccountEntry {
    std::string id;
    StoredConfig config;  // password included
    bool collapsed = false;
    std::uint8_t colour = 0;  // the store record's attribute byte, kept unchanged

    bool operator==(const AccountEntry&) const = default;
};

// Display name, else address, else "New account".
std::string account_label(const StoredConfig& config);

// The id an account gets when it is saved from the form: its address when
// that is not empty; otherwise the id it already has; otherwise (a new account
// without an address) "account-" and a fresh random version 4 UUID.
lib::Result<std::string> account_id_for(const StoredConfig& config, std::string_view current_id);

// A new entry for this config: id by account_id_for, not collapsed, colour 0.
lib::Result<AccountEntry> make_account_entry(StoredConfig config);

// --- Settings object -----------------------------------------------------------

// The object stored with the account record: display_name, email, imap_host,
// imap_port, imap_tls, smtp_host, smtp_port, smtp_tls, username, auth,
// collapsed, in that order. The password is never part of it.
nlohmann::ordered_json settings_to_json(const StoredConfig& config, bool collapsed);

struct Settings {
    StoredConfig config;  // password empty
    bool collapsed = false;
    bool operator==(const Settings&) const = default;
};

// The nine keys other than "auth" are required; "auth" defaults to Password
// and must otherwise be "Password" or "OAuth"; "collapsed" defaults to false;
// other keys are ignored.
lib::Result<Settings> settings_from_json(const nlohmann::ordered_json& value);
// Strict parse (a key given twice fails), then settings_from_json.
lib::Result<Settings> decode_settings(std::string_view text);

// --- Token text ------------------------------------------------------------------

// {"access_token":...,"refresh_token":...,"expires_in":...,"obtained_at":...}
// compact. The text is a secret: never log it.
std::string encode_tokens(const OAuthTokens& tokens);

// The object form ("access_token" required, "refresh_token" defaults to "",
// the numbers to 0; a key given twice fails; other keys are ignored) or the
// positional array [access_token, refresh_token, expires_in, obtained_at],
// whose elements after the first may be left off. Error messages never quote
// the text.
lib::Result<OAuthTokens> decode_tokens(std::string_view text);

// --- Account form -------------------------------------------------------------------

// The eight text inputs of the account form, by number.
enum class FormField : std::uint8_t {
    DisplayName = 0,
    Email = 1,
    Username = 2,
    Password = 3,
    ImapHost = 4,
    ImapPort = 5,
    SmtpHost = 6,
    SmtpPort = 7,
};
inline constexpr std::size_t kFormFieldCount = 8;

struct AccountForm {
    std::array<std::string, kFormFieldCount> fields;
    bool imap_tls = true;
    bool smtp_tls = true;
    AuthMethod auth = AuthMethod::Password;

    std::string& operator[](FormField f) { return fields[static_cast<std::size_t>(f)]; }
    const std::string& operator[](FormField f) const { return fields[static_cast<std::size_t>(f)]; }
    bool operator==(const AccountForm&) const = default;
};

// A port field: trimmed, optional leading "+", decimal digits, at most 65535.
// Nothing when it does not read.
std::optional<std::uint16_t> parse_port(std::string_view text);

// Texts exactly as typed; a port that does not read becomes 993 (IMAP) or
// 465 (SMTP); an OAuth account's password is empty whatever field 3 holds.
StoredConfig form_to_config(const AccountForm& form);
// Texts as stored, ports in decimal.
AccountForm config_to_form(const StoredConfig& config);

// --- Validation ------------------------------------------------------------------------

struct FieldProblem {
    std::string field;    // "email", "imap_host", "smtp_host", "username", "imap_port", "smtp_port"
    std::string message;  // e.g. "Port must be 1-65535"
    bool operator==(const FieldProblem&) const = default;
};

// Every rule, in order: address without "@", blank IMAP host, blank SMTP host,
// blank user name, IMAP port 0, SMTP port 0. Empty when acceptable.
std::vector<FieldProblem> validate_config(const StoredConfig& config);

}  // namespace mail::validate
