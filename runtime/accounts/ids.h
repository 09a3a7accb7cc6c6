// Names shared by the account store, the secret vault and the sync reporter.
#pragma once

#include <compare>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>

namespace runtime::accounts {

// The kind of an account; every mail account is of type "email".
class AccountTypeId {
public:
    explicit AccountTypeId(std::string text) : text_(std::move(text)) {}
    static AccountTypeId email() { return AccountTypeId("email"); }
    const std::string& text() const { return text_; }
    auto operator<=>(const AccountTypeId&) const = default;

private:
    std::string text_;
};

// An account's id text (for mail accounts, the e-mail address).
class AccountId {
public:
    explicit AccountId(std::string text) : text_(std::move(text)) {}
    const std::string& text() const { return text_; }
    const std::string& to_string() const { return text_; }
    bool empty() const { return text_.empty(); }
    auto operator<=>(const AccountId&) const = default;

private:
    std::string text_;
};

std::ostream& operator<<(std::ostream& out, const AccountId& id);
std::ostream& operator<<(std::ostream& out, const AccountTypeId& type);

// The per-user configuration root (see lib::places::config_root); none
// without a home directory.
std::optional<std::filesystem::path> config_root();

}  // namespace runtime::accounts
