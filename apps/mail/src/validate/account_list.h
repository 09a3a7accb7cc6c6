// Loading and saving the client's account list: one record of type "email"
// per account in the account store (id, label, settings object, colour
// attribute) plus the active id, and one secret vault entry per account
// (the password of a password account, the token text of an OAuth account).
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "lib/base/result.h"
#include "runtime/accounts/store.h"
#include "runtime/accounts/vault.h"
#include "validate/account_config.h"

namespace mail::validate {

struct LoadedAccounts {
    std::vector<AccountEntry> accounts;  // in stored order
    // Position of the store's active id in `accounts`; 0 when there is none
    // or it names no loaded account.
    std::size_t active = 0;
};

// The "email" records in stored order. A record whose settings object does
// not read is skipped (and logged); the others load normally. The vault
// entry's password, when there is an entry, becomes the config's password.
LoadedAccounts load_accounts(const runtime::accounts::AccountStore& store,
                             const runtime::accounts::SecretVault& vault);
// From the default places (the configuration root), as at start-up.
LoadedAccounts load_accounts();
// From a given directory.
LoadedAccounts load_accounts_in(const std::filesystem::path& dir);

// The store record of an entry (type "email", label, settings, attribute).
runtime::accounts::AccountRecord account_record(const AccountEntry& entry);

// Saves the list into `root`, in this order: load the store and open the
// vault there; remove from both every "email" record whose id is not in the
// list; upsert each account; store its password when not empty, else remove
// its vault entry unless it signs in with OAuth; make the account at
// `active` the active one when that position is valid; save the vault and,
// only when that succeeded, the store. The first error is the result.
//
// An OAuth account keeps its token; a password is never stored for it (an
// entry still holding one is rewritten with an empty password and the same
// token). Without a root nothing is written and the result is success. An
// entry without an id is refused before anything is written.
lib::Status save_accounts(const std::optional<std::filesystem::path>& root, const std::vector<AccountEntry>& accounts,
                          std::optional<std::size_t> active);

// Records only the active account choice (no other change) in `root`.
// Without a root nothing is written and the result is success. Fails when
// the store has no "email" record with that id.
lib::Status save_active_account(const std::optional<std::filesystem::path>& root, std::string_view id);

}  // namespace mail::validate
