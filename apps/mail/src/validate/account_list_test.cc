#include "validate/account_list.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

namespace {

namespace fs = std::filesystem;
namespace ra = runtime::accounts;
using namespace mail::validate;

class TempDir {
public:
    TempDir() {
        std::string tmpl = (fs::temp_directory_path() / "mail-accounts-XXXXXX").string();
        path_ = ::mkdtemp(tmpl.data());
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

AccountEntry password_account(std::string email, std::string password) {
    AccountEntry e;
    e.id = email;
    e.config.display_name = "User " + email;
    e.config.email = email;
    e.config.imap_host = "imap.example.org";
    e.config.smtp_host = "smtp.example.org";
    e.config.username = email;
    e.config.password = std::move(password);
    return e;
}

AccountEntry oauth_account(std::string email) {
    AccountEntry e = password_account(std::move(email), "");
    e.config.auth = AuthMethod::OAuth;
    e.collapsed = true;
    e.colour = 7;
    return e;
}

std::vector<std::string> stored_ids(const fs::path& dir) {
    std::vector<std::string> ids;
    for (const auto& r : ra::AccountStore::load_in(dir).list(ra::AccountTypeId::email())) ids.push_back(r.id.text());
    return ids;
}

TEST(AccountList, SavedListLoadsBackWithPasswordsAndActiveAccount) {
    TempDir dir;
    const std::vector<AccountEntry> accounts{password_account("ann@example.org", "pw-ann"),
                                             oauth_account("bob@example.org")};
    ASSERT_TRUE(save_accounts(dir.path(), accounts, 1).ok());

    const LoadedAccounts loaded = load_accounts_in(dir.path());
    EXPECT_EQ(loaded.accounts, accounts);
    EXPECT_EQ(loaded.active, 1u);

    const auto store = ra::AccountStore::load_in(dir.path());
    const auto record = store.find(ra::AccountTypeId::email(), ra::AccountId("bob@example.org"));
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->label, "User bob@example.org");
    EXPECT_EQ(record->attribute, 7);
    EXPECT_FALSE(record->settings.contains("password"));

    const auto vault = ra::SecretVault::open_in(dir.path());
    EXPECT_EQ(vault.get(ra::AccountId("ann@example.org")), (ra::SecretEntry{"pw-ann", std::nullopt}));
    EXPECT_FALSE(vault.get(ra::AccountId("bob@example.org")).has_value());
}

TEST(AccountList, SavingRemovesStaleRecordsAndFollowsTheVaultRules) {
    TempDir dir;
    ASSERT_TRUE(save_accounts(dir.path(),
                              {password_account("old@example.org", "pw-old"), password_account("keep@example.org", "pw"),
                               oauth_account("oauth@example.org")},
                              0)
                    .ok());
    // The OAuth grant arrives later, as sign-in writes it; and someone left a
    // password beside it.
    {
        auto vault = ra::SecretVault::open_in(dir.path());
        vault.put(ra::AccountId("oauth@example.org"), {"leftover", std::string("TOKEN")});
        ASSERT_TRUE(vault.try_save().ok());
    }

    // The first address changed (so its id did), the second lost its password.
    AccountEntry renamed = password_account("new@example.org", "pw-new");
    AccountEntry no_password = password_account("keep@example.org", "");
    ASSERT_TRUE(save_accounts(dir.path(), {renamed, no_password, oauth_account("oauth@example.org")}, 0).ok());

    EXPECT_EQ(stored_ids(dir.path()),
              (std::vector<std::string>{"keep@example.org", "oauth@example.org", "new@example.org"}));
    const auto vault = ra::SecretVault::open_in(dir.path());
    EXPECT_FALSE(vault.get(ra::AccountId("old@example.org")).has_value()) << "stale vault entry removed";
    EXPECT_FALSE(vault.get(ra::AccountId("keep@example.org")).has_value()) << "empty password removes the entry";
    EXPECT_EQ(vault.get(ra::AccountId("new@example.org")), (ra::SecretEntry{"pw-new", std::nullopt}));
    EXPECT_EQ(vault.get(ra::AccountId("oauth@example.org")), (ra::SecretEntry{"", std::string("TOKEN")}))
        << "the grant stays, the password goes";
    EXPECT_EQ(ra::AccountStore::load_in(dir.path()).active_id(ra::AccountTypeId::email()),
              ra::AccountId("new@example.org"));
}

TEST(AccountList, ActiveIndexOnlyWhenValid) {
    TempDir dir;
    const std::vector<AccountEntry> two{password_account("a@example.org", "x"), password_account("b@example.org", "y")};
    ASSERT_TRUE(save_accounts(dir.path(), two, 1).ok());
    struct Case {
        std::optional<std::size_t> active;
        std::string stored_active;
    } cases[] = {{5, "b@example.org"}, {std::nullopt, "b@example.org"}, {0, "a@example.org"}};
    for (const auto& c : cases) {
        ASSERT_TRUE(save_accounts(dir.path(), two, c.active).ok());
        EXPECT_EQ(ra::AccountStore::load_in(dir.path()).active_id(ra::AccountTypeId::email()),
                  ra::AccountId(c.stored_active));
    }
    ASSERT_TRUE(save_active_account(dir.path(), "b@example.org").ok());
    EXPECT_EQ(load_accounts_in(dir.path()).active, 1u);
    EXPECT_FALSE(save_active_account(dir.path(), "nobody@example.org").ok());
}

TEST(AccountList, RecordThatDoesNotReadIsSkipped) {
    TempDir dir;
    ASSERT_TRUE(save_accounts(dir.path(),
                              {password_account("a@example.org", "pa"), password_account("b@example.org", "pb"),
                               password_account("c@example.org", "pc")},
                              2)
                    .ok());
    auto store = ra::AccountStore::load_in(dir.path());
    auto broken = *store.find(ra::AccountTypeId::email(), ra::AccountId("b@example.org"));
    broken.settings.erase("imap_tls");
    store.upsert(broken);
    auto no_auth = *store.find(ra::AccountTypeId::email(), ra::AccountId("c@example.org"));
    no_auth.settings.erase("auth");
    store.upsert(no_auth);
    ASSERT_TRUE(store.save_in(dir.path()).ok());

    const LoadedAccounts loaded = load_accounts_in(dir.path());
    ASSERT_EQ(loaded.accounts.size(), 2u);
    EXPECT_EQ(loaded.accounts[0].id, "a@example.org");
    EXPECT_EQ(loaded.accounts[0].config.password, "pa");
    EXPECT_EQ(loaded.accounts[1].id, "c@example.org");
    EXPECT_EQ(loaded.accounts[1].config.auth, AuthMethod::Password);
    EXPECT_EQ(loaded.active, 1u) << "the active position follows the skipped record";
}

TEST(AccountList, VaultFailureLeavesTheStoreUnwritten) {
    TempDir dir;
    ASSERT_TRUE(save_accounts(dir.path(), {password_account("a@example.org", "pa")}, 0).ok());
    // A password that is not text cannot be written faithfully.
    auto r = save_accounts(dir.path(), {password_account("a@example.org", "pa"), password_account("b@example.org", "\xFF")}, 1);
    ASSERT_FALSE(r.ok());
    EXPECT_NE(r.error().find("secret vault"), std::string::npos) << r.error();
    EXPECT_EQ(r.error().find("\xFF"), std::string::npos);
    EXPECT_EQ(stored_ids(dir.path()), (std::vector<std::string>{"a@example.org"}));
}

TEST(AccountList, NothingWrittenWithoutARootAndNoIdRefused) {
    EXPECT_TRUE(save_accounts(std::nullopt, {password_account("a@example.org", "pa")}, 0).ok());
    EXPECT_TRUE(save_active_account(std::nullopt, "a@example.org").ok());
    TempDir dir;
    AccountEntry no_id = password_account("", "pw");
    auto r = save_accounts(dir.path(), {no_id}, 0);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error(), "an account has no id");
    EXPECT_FALSE(fs::exists(dir.path() / ra::kAccountStoreFile));
    EXPECT_FALSE(fs::exists(dir.path() / ra::kSecretVaultFile));
}

}  // namespace
