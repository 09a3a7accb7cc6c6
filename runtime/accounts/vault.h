// The secret vault: one entry per account id holding the account's password
// and, for OAuth accounts, its token text. Kept in "secrets.json" in the
// configuration root, a file that is mode 0600 from the moment it exists
// (the folder is created 0700). Secret values are never logged.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "lib/base/result.h"
#include "runtime/accounts/ids.h"

namespace runtime::accounts {

inline constexpr const char* kSecretVaultFile = "secrets.json";

struct SecretEntry {
    std::string password;
    std::optional<std::string> token;

    bool operator==(const SecretEntry&) const = default;
};

class SecretVault {
public:
    // An empty vault that saves nowhere.
    SecretVault() = default;

    // From the configuration root; without one, an empty vault whose
    // try_save() writes nothing and succeeds.
    static SecretVault open();
    // From "<dir>/secrets.json"; a missing file is an empty vault. A file that
    // others can read is narrowed to 0600 on the spot.
    static SecretVault open_in(const std::filesystem::path& dir);

    std::optional<SecretEntry> get(const AccountId& id) const;
    void put(const AccountId& id, SecretEntry entry);
    bool remove(const AccountId& id);

    // Writes the vault where it was opened. An unreadable file found at open
    // is moved aside ("secrets.json.unreadable", still 0600) rather than lost.
    lib::Status try_save() const;

    bool load_failed() const { return unreadable_; }
    std::size_t size() const { return entries_.size(); }

private:
    std::map<std::string, SecretEntry> entries_;
    std::optional<std::filesystem::path> dir_;
    bool unreadable_ = false;
    // Set while an unreadable file still has to be moved aside before a save.
    mutable bool move_aside_pending_ = false;
};

}  // namespace runtime::accounts
