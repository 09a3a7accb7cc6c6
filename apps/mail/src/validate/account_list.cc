#include "validate/account_list.h"

#include <set>
#include <string>

#include "lib/base/log.h"

namespace mail::validate {
namespace {

namespace ra = runtime::accounts;

}  // namespace

LoadedAccounts load_accounts(const ra::AccountStore& store, const ra::SecretVault& vault) {
    LoadedAccounts out;
    const auto active_id = store.active_id(ra::AccountTypeId::email());
    for (const auto& record : store.list(ra::AccountTypeId::email())) {
        auto settings = settings_from_json(record.settings);
        if (!settings) {
            lib::log::warn("skipped an account whose settings do not read",
                           {{"account", record.id.text()}, {"error", settings.error()}});
            continue;
        }
        AccountEntry entry;
        entry.id = record.id.text();
        entry.config = std::move(settings->config);
        entry.collapsed = settings->collapsed;
        entry.colour = record.attribute;
        if (auto secret = vault.get(record.id)) entry.config.password = secret->password;
        if (active_id && *active_id == record.id) out.active = out.accounts.size();
        out.accounts.push_back(std::move(entry));
    }
    return out;
}

LoadedAccounts load_accounts() { return load_accounts(ra::AccountStore::load(), ra::SecretVault::open()); }

LoadedAccounts load_accounts_in(const std::filesystem::path& dir) {
    return load_accounts(ra::AccountStore::load_in(dir), ra::SecretVault::open_in(dir));
}

ra::AccountRecord account_record(const AccountEntry& entry) {
    ra::AccountRecord record;
    record.id = ra::AccountId(entry.id);
    record.type = ra::AccountTypeId::email();
    record.label = account_label(entry.config);
    record.settings = settings_to_json(entry.config, entry.collapsed);
    record.attribute = entry.colour;
    return record;
}

lib::Status save_accounts(const std::optional<std::filesystem::path>& root, const std::vector<AccountEntry>& accounts,
                          std::optional<std::size_t> active) {
    if (!root) return {};
    std::set<std::string> current;
    for (const auto& entry : accounts) {
        if (entry.id.empty()) return lib::err("an account has no id");
        current.insert(entry.id);
    }

    auto store = ra::AccountStore::load_in(*root);
    auto vault = ra::SecretVault::open_in(*root);

    for (const auto& record : store.list(ra::AccountTypeId::email())) {
        if (current.count(record.id.text())) continue;
        store.remove(ra::AccountTypeId::email(), record.id);
        vault.remove(record.id);
    }

    for (const auto& entry : accounts) {
        const ra::AccountId id(entry.id);
        store.upsert(account_record(entry));
        if (entry.config.auth == AuthMethod::OAuth) {
            // The grant stays; a password never belongs to an OAuth account.
            if (auto secret = vault.get(id); secret && !secret->password.empty())
                vault.put(id, ra::SecretEntry{"", secret->token});
        } else if (!entry.config.password.empty()) {
            vault.put(id, ra::SecretEntry{entry.config.password, std::nullopt});
        } else {
            vault.remove(id);
        }
    }

    if (active && *active < accounts.size())
        store.set_active(ra::AccountTypeId::email(), ra::AccountId(accounts[*active].id));

    if (auto saved = vault.try_save(); !saved) return saved;
    return store.save_in(*root);
}

lib::Status save_active_account(const std::optional<std::filesystem::path>& root, std::string_view id) {
    if (!root) return {};
    auto store = ra::AccountStore::load_in(*root);
    if (!store.set_active(ra::AccountTypeId::email(), ra::AccountId(std::string(id))))
        return lib::err("no saved account has the id " + std::string(id));
    return store.save_in(*root);
}

}  // namespace mail::validate
