#include "runtime/accounts/store.h"

#include <gtest/gtest.h>

#include "runtime/accounts/test_support.h"
#include "runtime/accounts/vault.h"

namespace {

using namespace runtime::accounts;
using namespace accounts_test;
using lib::json::Json;

const AccountTypeId kEmail = AccountTypeId::email();

AccountRecord record(std::string id, std::string label, std::uint8_t attribute = 0) {
    Json settings = Json::object();
    settings["display_name"] = label;
    settings["email"] = id;
    settings["imap_port"] = 993;
    settings["auth"] = "Password";
    return AccountRecord{AccountId(std::move(id)), kEmail, std::move(label), settings, attribute};
}

std::vector<std::string> ids(const std::vector<AccountRecord>& records) {
    std::vector<std::string> out;
    for (const auto& r : records) out.push_back(r.id.text());
    return out;
}

TEST(AccountStore, RoundTripKeepsOrderSettingsAttributeAndActive) {
    TempDir t;
    AccountStore store;
    store.upsert(record("zed@example.org", "Zed", 7));
    store.upsert(record("amy@example.org", "Amy", 255));
    store.upsert(AccountRecord{AccountId("cal-1"), AccountTypeId("calendar"), "Cal", Json::object(), 1});
    Json odd = Json::object();
    odd["z"] = Json::array({1, "two", nullptr});
    odd["a"] = Json::object({{"nested", true}});
    odd["ünï"] = "côdé ✓";
    store.upsert(AccountRecord{AccountId("odd@example.org"), kEmail, "", odd, 0});
    ASSERT_TRUE(store.set_active(kEmail, AccountId("amy@example.org")));
    ASSERT_TRUE(store.save_in(t.path()).ok());

    auto back = AccountStore::load_in(t.path());
    EXPECT_FALSE(back.load_failed());
    EXPECT_EQ(back.list(kEmail), store.list(kEmail));
    EXPECT_EQ(ids(back.list(kEmail)), (std::vector<std::string>{"zed@example.org", "amy@example.org", "odd@example.org"}));
    EXPECT_EQ(lib::json::dump(back.list(kEmail)[2].settings), lib::json::dump(odd)) << "key order must survive";
    EXPECT_EQ(back.list(kEmail)[1].attribute, 255);
    EXPECT_EQ(ids(back.list(AccountTypeId("calendar"))), std::vector<std::string>{"cal-1"});
    ASSERT_TRUE(back.active_id(kEmail).has_value());
    EXPECT_EQ(back.active_id(kEmail)->text(), "amy@example.org");
    EXPECT_FALSE(back.active_id(AccountTypeId("calendar")).has_value());
    EXPECT_EQ(mode_of(t.path() / kAccountStoreFile), 0600u);
}

TEST(AccountStore, UpsertReplacesInPlaceAndRemoveClearsActive) {
    AccountStore store;
    for (const char* id : {"a@x", "b@x", "c@x"}) store.upsert(record(id, id));
    store.upsert(record("b@x", "Bee", 9));
    auto list = store.list(kEmail);
    EXPECT_EQ(ids(list), (std::vector<std::string>{"a@x", "b@x", "c@x"}));
    EXPECT_EQ(list[1].label, "Bee");
    EXPECT_EQ(list[1].attribute, 9);

    EXPECT_FALSE(store.set_active(kEmail, AccountId("nobody@x")));
    EXPECT_FALSE(store.active_id(kEmail).has_value());
    ASSERT_TRUE(store.set_active(kEmail, AccountId("b@x")));
    EXPECT_EQ(store.remove(kEmail, AccountId("b@x")), 1u);
    EXPECT_EQ(ids(store.list(kEmail)), (std::vector<std::string>{"a@x", "c@x"}));
    EXPECT_FALSE(store.active_id(kEmail).has_value()) << "active id must not outlive its record";
    EXPECT_EQ(store.remove(AccountId("b@x")), 0u);

    // Removing by id alone reaches every type; the same id of another type
    // is a different record.
    store.upsert(AccountRecord{AccountId("a@x"), AccountTypeId("calendar"), "", Json::object(), 0});
    EXPECT_EQ(store.list(kEmail).size(), 2u);
    EXPECT_EQ(store.remove(AccountId("a@x")), 2u);
    EXPECT_EQ(ids(store.list(kEmail)), std::vector<std::string>{"c@x"});

    // A non-object settings value never gets stored.
    store.upsert(AccountRecord{AccountId("d@x"), kEmail, "", Json::array(), 0});
    EXPECT_TRUE(store.find(kEmail, AccountId("d@x"))->settings.is_object());
}

TEST(AccountStore, RecordsThatDoNotReadBackAreSkippedOthersLoad) {
    TempDir t;
    write_file(t.path() / kAccountStoreFile, R"({
      "version": 1,
      "accounts": [
        {"id": "first@x", "type": "email", "label": "First", "settings": {"k": 1}, "attribute": 3},
        {"id": "bad-settings@x", "type": "email", "label": "", "settings": [1, 2]},
        {"id": "text-settings@x", "type": "email", "label": "", "settings": "{}"},
        {"id": "no-settings@x", "type": "email", "label": ""},
        {"id": 42, "type": "email", "label": "", "settings": {}},
        {"id": "", "type": "email", "label": "", "settings": {}},
        {"id": "no-type@x", "label": "", "settings": {}},
        {"id": "bad-label@x", "type": "email", "label": 5, "settings": {}},
        {"id": "bad-attr@x", "type": "email", "label": "", "settings": {}, "attribute": 256},
        {"id": "neg-attr@x", "type": "email", "label": "", "settings": {}, "attribute": -1},
        "not an object",
        {"id": "first@x", "type": "email", "label": "Twice", "settings": {}},
        {"id": "last@x", "type": "email", "settings": {}}
      ],
      "active": {"email": "bad-settings@x"}
    })");
    testing::internal::CaptureStderr();
    auto store = AccountStore::load_in(t.path());
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(store.load_failed());
    auto list = store.list(kEmail);
    EXPECT_EQ(ids(list), (std::vector<std::string>{"first@x", "last@x"}));
    EXPECT_EQ(list[0].label, "First");
    EXPECT_EQ(list[0].attribute, 3);
    EXPECT_EQ(list[1].label, "");
    EXPECT_EQ(list[1].attribute, 0);
    // The active id named a skipped record.
    EXPECT_FALSE(store.active_id(kEmail).has_value());
    std::size_t lines = 0;
    for (std::size_t at = 0; (at = log.find("mail: skipped an account record", at)) != std::string::npos; ++at) ++lines;
    EXPECT_EQ(lines, 11u) << log;
}

TEST(AccountStore, UnreadableFileGivesEmptyStoreAndIsKeptAsideAtSave) {
    const std::string cases[] = {
        "not json at all",
        R"({"accounts": [], "accounts": []})",
        R"([{"id": "a@x"}])",
        R"({"accounts": {"id": "a@x"}})",
        R"({"version": 2, "accounts": []})",
        "{\"accounts\": [{\"id\": \"\xff\"}]}",
    };
    for (const auto& content : cases) {
        TempDir t;
        auto file = t.path() / kAccountStoreFile;
        write_file(file, content);
        testing::internal::CaptureStderr();
        auto store = AccountStore::load_in(t.path());
        std::string log = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(store.load_failed()) << content;
        EXPECT_TRUE(store.list(kEmail).empty());
        EXPECT_NE(log.find("could not read the account store"), std::string::npos) << log;
        EXPECT_EQ(read_file(file), content) << "loading must not touch the file";

        store.upsert(record("new@x", "New"));
        ASSERT_TRUE(store.save_in(t.path()).ok());
        ASSERT_TRUE(store.save_in(t.path()).ok());  // a second save keeps the copy
        EXPECT_EQ(read_file(t.path() / "accounts.json.unreadable"), content);
        EXPECT_EQ(ids(AccountStore::load_in(t.path()).list(kEmail)), std::vector<std::string>{"new@x"});
    }
}

TEST(AccountStore, DefaultPlaceFollowsTheConfigurationRoot) {
    TempDir t;
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", t.path().c_str());
        auto store = AccountStore::load();
        EXPECT_TRUE(store.list(kEmail).empty());
        store.upsert(record("a@x", "A"));
        ASSERT_TRUE(store.save().ok());
        auto root = t.path() / "zelk-mail";
        EXPECT_EQ(mode_of(root), 0700u);
        EXPECT_EQ(ids(AccountStore::load().list(kEmail)), std::vector<std::string>{"a@x"});
    }
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
        ScopedEnv home("HOME", nullptr);
        ASSERT_FALSE(config_root().has_value());
        auto store = AccountStore::load();
        store.upsert(record("b@x", "B"));
        EXPECT_TRUE(store.save().ok());
    }
    // Nothing appeared anywhere but the root used above.
    std::size_t entries = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(t.path())) entries += e.is_regular_file();
    EXPECT_EQ(entries, 1u);
}

TEST(AccountStore, SaveFailureLeavesTheOldFile) {
    TempDir t;
    AccountStore store;
    store.upsert(record("a@x", "A"));
    ASSERT_TRUE(store.save_in(t.path()).ok());
    std::string before = read_file(t.path() / kAccountStoreFile);
    write_file(t.path() / "blocker", "x");
    EXPECT_FALSE(store.save_in(t.path() / "blocker").ok());
    // A folder where the file should be cannot be replaced.
    std::filesystem::create_directories(t.path() / "d" / kAccountStoreFile / "inside");
    EXPECT_FALSE(store.save_in(t.path() / "d").ok());
    EXPECT_EQ(read_file(t.path() / kAccountStoreFile), before);
}

// The order in which the client saves its account list: stale records and
// their secrets go, each account is written with its secret (password in the
// vault, never in the store), and the store is saved only after the vault.
TEST(AccountStore, ClientSaveSequenceKeepsSecretsOutOfTheStore) {
    TempDir t;
    const std::string password = "pa55-Wörd\"with'quotes";
    const std::string token = R"({"access_token":"ya29.tok","refresh_token":"1//r","expires_in":3599,"obtained_at":1700000000})";
    {
        auto store = AccountStore::load_in(t.path());
        auto vault = SecretVault::open_in(t.path());
        store.upsert(record("old@x", "Old"));
        vault.put(AccountId("old@x"), {"old-secret", std::nullopt});
        ASSERT_TRUE(vault.try_save().ok());
        ASSERT_TRUE(store.save_in(t.path()).ok());
    }
    {
        auto store = AccountStore::load_in(t.path());
        auto vault = SecretVault::open_in(t.path());
        const std::vector<std::string> current = {"pw@x", "oauth@x"};
        for (const auto& r : store.list(kEmail)) {
            if (std::find(current.begin(), current.end(), r.id.text()) == current.end()) {
                store.remove(kEmail, r.id);
                vault.remove(r.id);
            }
        }
        store.upsert(record("pw@x", "Password account"));
        vault.put(AccountId("pw@x"), {password, std::nullopt});
        store.upsert(record("oauth@x", "OAuth account"));
        vault.put(AccountId("oauth@x"), {"", token});
        ASSERT_TRUE(store.set_active(kEmail, AccountId("oauth@x")));
        ASSERT_TRUE(vault.try_save().ok());
        ASSERT_TRUE(store.save_in(t.path()).ok());
    }
    std::string store_text = read_file(t.path() / kAccountStoreFile);
    for (const std::string& secret : {password, std::string("ya29.tok"), std::string("old-secret")})
        EXPECT_EQ(store_text.find(secret), std::string::npos) << secret;

    auto store = AccountStore::load_in(t.path());
    auto vault = SecretVault::open_in(t.path());
    EXPECT_EQ(ids(store.list(kEmail)), (std::vector<std::string>{"pw@x", "oauth@x"}));
    EXPECT_EQ(store.active_id(kEmail)->text(), "oauth@x");
    EXPECT_EQ(vault.get(AccountId("pw@x")), (SecretEntry{password, std::nullopt}));
    EXPECT_EQ(vault.get(AccountId("oauth@x")), (SecretEntry{"", token}));
    EXPECT_FALSE(vault.get(AccountId("old@x")).has_value());
    EXPECT_EQ(read_file(t.path() / kSecretVaultFile).find("old-secret"), std::string::npos);
}

TEST(AccountIds, DisplayAsTheirText) {
    std::ostringstream out;
    out << AccountId("me@example.org") << " " << AccountTypeId::email();
    EXPECT_EQ(out.str(), "me@example.org email");
    EXPECT_TRUE(AccountId("").empty());
    EXPECT_EQ(AccountTypeId::email(), AccountTypeId("email"));
}

}  // namespace
