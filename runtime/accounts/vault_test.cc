#include "runtime/accounts/vault.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "runtime/accounts/test_support.h"
#include "runtime/atomic_file/atomic_file.h"

namespace {

using namespace runtime::accounts;
using namespace accounts_test;

TEST(SecretVault, RoundTripsEntriesAndRemovals) {
    TempDir t;
    struct Case {
        std::string id;
        SecretEntry entry;
    } cases[] = {
        {"pw@x", {"hunter2", std::nullopt}},
        {"oauth@x", {"", R"({"access_token":"a","refresh_token":"","expires_in":0,"obtained_at":0})"}},
        {"both@x", {"p", "t"}},
        {"odd@x", {std::string("new\nline \"quoted\" \\ ünïcode \t"), std::string("")}},
    };
    {
        auto vault = SecretVault::open_in(t.path());
        EXPECT_EQ(vault.size(), 0u);
        for (const auto& c : cases) vault.put(AccountId(c.id), c.entry);
        vault.put(AccountId("gone@x"), {"x", std::nullopt});
        EXPECT_TRUE(vault.remove(AccountId("gone@x")));
        EXPECT_FALSE(vault.remove(AccountId("gone@x")));
        ASSERT_TRUE(vault.try_save().ok());
    }
    auto vault = SecretVault::open_in(t.path());
    EXPECT_FALSE(vault.load_failed());
    EXPECT_EQ(vault.size(), std::size(cases));
    for (const auto& c : cases) EXPECT_EQ(vault.get(AccountId(c.id)), c.entry) << c.id;
    EXPECT_FALSE(vault.get(AccountId("gone@x")).has_value());
    EXPECT_FALSE(vault.get(AccountId("")).has_value());
}

TEST(SecretVault, FileIs0600AndFolder0700WhateverTheUmask) {
    TempDir t;
    auto dir = t.path() / "conf" / "zelk-mail";
    mode_t old = ::umask(0);
    auto vault = SecretVault::open_in(dir);
    vault.put(AccountId("a@x"), {"secret", std::nullopt});
    auto saved = vault.try_save();
    ::umask(old);
    ASSERT_TRUE(saved.ok()) << saved.error();
    EXPECT_EQ(mode_of(dir / kSecretVaultFile), 0600u);
    EXPECT_EQ(mode_of(dir), 0700u);
    EXPECT_EQ(mode_of(t.path() / "conf"), 0700u);
}

// Others can never read the vault, not even during a save: the temporary file
// is private from the moment it is created. The writer is frozen as soon as
// its temporary file appears, and the file is inspected then.
TEST(SecretVault, TemporaryFileIsPrivateFromCreation) {
    TempDir t;
    auto vault = SecretVault::open_in(t.path());
    // Big enough that writing it takes a while.
    for (int i = 0; i < 32; ++i)
        vault.put(AccountId("account-" + std::to_string(i) + "@x"), {std::string(128 * 1024, 's'), std::nullopt});
    int watch = ::inotify_init1(IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, t.path().c_str(), IN_CREATE), 0);

    int inspected = 0;
    for (int round = 0; round < 10 && inspected == 0; ++round) {
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::umask(0);
            ::_exit(vault.try_save().ok() ? 0 : 1);
        }
        std::optional<std::string> temp;
        while (!temp) {
            pollfd p{watch, POLLIN, 0};
            if (::poll(&p, 1, 20000) <= 0) break;
            alignas(inotify_event) char buf[4096];
            ssize_t n = ::read(watch, buf, sizeof buf);
            for (ssize_t at = 0; at < n;) {
                auto* ev = reinterpret_cast<inotify_event*>(buf + at);
                if (ev->len > 0 && runtime::atomic_file::is_temporary_name(ev->name)) temp = std::string(ev->name);
                at += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
            }
        }
        ::kill(pid, SIGSTOP);
        if (temp) {
            struct stat st {};
            if (::stat((t.path() / *temp).c_str(), &st) == 0) {
                EXPECT_EQ(st.st_mode & 07777, 0600u);
                ++inspected;
            }
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        for (const auto& e : std::filesystem::directory_iterator(t.path())) {
            EXPECT_EQ(mode_of(e.path()), 0600u) << e.path();
            if (runtime::atomic_file::is_temporary_name(e.path().filename().string())) std::filesystem::remove(e.path());
        }
    }
    ::close(watch);
    EXPECT_GT(inspected, 0) << "the temporary file was never caught before its rename";
}

TEST(SecretVault, ReadableByOthersIsNarrowedAtOpen) {
    TempDir t;
    auto file = t.path() / kSecretVaultFile;
    write_file(file, R"({"version":1,"entries":{"a@x":{"password":"p"}}})");
    ::chmod(file.c_str(), 0644);
    auto vault = SecretVault::open_in(t.path());
    EXPECT_EQ(mode_of(file), 0600u);
    EXPECT_EQ(vault.get(AccountId("a@x")), (SecretEntry{"p", std::nullopt}));
}

TEST(SecretVault, UnreadableVaultIsKeptAsideAndItsSecretsNeverLogged) {
    const std::string secret = "Tr0ub4dor&3-unique";
    const std::string cases[] = {
        "{\"entries\":{\"a@x\":{\"password\":\"" + secret + "\"}}",             // cut short
        "{\"entries\":{\"a@x\":{\"password\":" + secret + "}}}",                // bare word
        "{\"entries\":{\"a@x\":{\"password\":\"" + secret + "\",\"password\":\"x\"}}}",  // key twice
        "{\"entries\":[\"" + secret + "\"]}",
        "{\"version\":9,\"entries\":{}} " + secret,
    };
    for (const auto& content : cases) {
        TempDir t;
        auto file = t.path() / kSecretVaultFile;
        write_file(file, content);
        ::chmod(file.c_str(), 0600);
        testing::internal::CaptureStderr();
        auto vault = SecretVault::open_in(t.path());
        vault.put(AccountId("new@x"), {"fresh", std::nullopt});
        auto saved = vault.try_save();
        std::string log = testing::internal::GetCapturedStderr();
        ASSERT_TRUE(saved.ok()) << saved.error();
        EXPECT_TRUE(vault.load_failed()) << content;
        EXPECT_NE(log.find("could not read the secret vault"), std::string::npos) << log;
        EXPECT_EQ(log.find(secret), std::string::npos) << log;
        auto aside = t.path() / "secrets.json.unreadable";
        EXPECT_EQ(read_file(aside), content);
        EXPECT_EQ(mode_of(aside), 0600u);
        EXPECT_EQ(SecretVault::open_in(t.path()).get(AccountId("new@x")), (SecretEntry{"fresh", std::nullopt}));
    }
}

TEST(SecretVault, MalformedEntriesAreSkippedQuietly) {
    TempDir t;
    write_file(t.path() / kSecretVaultFile, R"({"version":1,"entries":{
        "ok@x": {"password": "p1"},
        "no-password@x": {"token": "t"},
        "number@x": {"password": 5},
        "bad-token@x": {"password": "p", "token": 7},
        "null-token@x": {"password": "p3", "token": null},
        "flat@x": "p4"}})");
    testing::internal::CaptureStderr();
    auto vault = SecretVault::open_in(t.path());
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(vault.load_failed());
    EXPECT_EQ(vault.size(), 2u);
    EXPECT_EQ(vault.get(AccountId("ok@x")), (SecretEntry{"p1", std::nullopt}));
    EXPECT_EQ(vault.get(AccountId("null-token@x")), (SecretEntry{"p3", std::nullopt}));
    for (const char* value : {"p1", "p3", "p4"}) EXPECT_EQ(log.find(value), std::string::npos) << log;
}

TEST(SecretVault, FailedSaveKeepsThePreviousVault) {
    TempDir t;
    auto vault = SecretVault::open_in(t.path());
    vault.put(AccountId("a@x"), {"first", std::nullopt});
    ASSERT_TRUE(vault.try_save().ok());
    std::string before = read_file(t.path() / kSecretVaultFile);
    // Bytes that are not UTF-8 cannot be stored faithfully as JSON text.
    vault.put(AccountId("a@x"), {std::string("bad\xff"), std::nullopt});
    auto s = vault.try_save();
    EXPECT_FALSE(s.ok());
    EXPECT_EQ(s.error().find("bad"), std::string::npos) << "the message must not quote the secret";
    EXPECT_EQ(read_file(t.path() / kSecretVaultFile), before);
}

TEST(SecretVault, WithoutAConfigurationRootNothingIsWritten) {
    TempDir t;
    ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
    ScopedEnv home("HOME", nullptr);
    auto vault = SecretVault::open();
    vault.put(AccountId("a@x"), {"p", std::nullopt});
    EXPECT_TRUE(vault.try_save().ok());
    EXPECT_EQ(vault.get(AccountId("a@x")), (SecretEntry{"p", std::nullopt}));
}

}  // namespace
