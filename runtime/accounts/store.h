// The account store: records of the user's accounts, grouped by type and kept
// in the order they were added, plus one active account per type. Secrets are
// never kept here; they belong in the secret vault (vault.h).
//
// On disk: "accounts.json" in the configuration root, mode 0600, replaced
// atomically on every save. A record that does not read back is skipped at
// load with a log line; an unreadable file gives an empty store and is moved
// aside ("accounts.json.unreadable") by the next save instead of being lost.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "lib/base/result.h"
#include "lib/json/strict.h"
#include "runtime/accounts/ids.h"

namespace runtime::accounts {

inline constexpr const char* kAccountStoreFile = "accounts.json";

struct AccountRecord {
    AccountId id{""};
    AccountTypeId type = AccountTypeId::email();
    std::string label;
    // Always a JSON object.
    lib::json::Json settings = lib::json::Json::object();
    std::uint8_t attribute = 0;

    bool operator==(const AccountRecord&) const = default;
};

class AccountStore {
public:
    AccountStore() = default;

    // From the configuration root; without one, an empty store whose save()
    // writes nothing and succeeds.
    static AccountStore load();
    // From "<dir>/accounts.json"; a missing file is an empty store.
    static AccountStore load_in(const std::filesystem::path& dir);

    // Writes "<dir>/accounts.json" (creating dir with mode 0700 if needed).
    lib::Status save_in(const std::filesystem::path& dir) const;
    // Writes to the folder this store was loaded from; success without
    // writing when it came from nowhere (no configuration root).
    lib::Status save() const;

    // The records of a type in stored order.
    std::vector<AccountRecord> list(const AccountTypeId& type) const;
    std::optional<AccountRecord> find(const AccountTypeId& type, const AccountId& id) const;
    std::optional<AccountId> active_id(const AccountTypeId& type) const;

    // Inserts at the end, or replaces the record with the same type and id in
    // its place. A settings value that is not an object is stored as {}.
    void upsert(AccountRecord record);
    // Removes the record(s) with this id (of any type, or of one type); an
    // active id pointing at a removed record is cleared. Gives the count removed.
    std::size_t remove(const AccountId& id);
    std::size_t remove(const AccountTypeId& type, const AccountId& id);
    // Makes an existing record the active one of its type; false (and no
    // change) when there is no such record.
    bool set_active(const AccountTypeId& type, const AccountId& id);
    void clear_active(const AccountTypeId& type);

    // Whether the last load found a file it could not read at all.
    bool load_failed() const { return unreadable_; }

private:
    std::vector<AccountRecord> records_;
    std::map<std::string, std::string> active_;  // type text -> id text
    std::optional<std::filesystem::path> origin_;
    bool unreadable_ = false;
    // Set while an unreadable file still has to be moved aside before a save.
    mutable bool move_aside_pending_ = false;
};

}  // namespace runtime::accounts
