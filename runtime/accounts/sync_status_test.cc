#include "runtime/accounts/sync_status.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "runtime/accounts/test_support.h"

namespace {

using namespace runtime::accounts;
using namespace accounts_test;

std::int64_t now_seconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

TEST(SyncStatus, EachReportIsPersistedPerAccount) {
    TempDir t;
    using Call = lib::Status (*)(AccountSyncReporter&);
    struct Case {
        Call call;
        SyncState state;
        std::optional<std::string> message;
    } cases[] = {
        {[](AccountSyncReporter& r) { return r.started(); }, SyncState::started, std::nullopt},
        {[](AccountSyncReporter& r) { return r.succeeded(); }, SyncState::succeeded, std::nullopt},
        {[](AccountSyncReporter& r) { return r.offline(); }, SyncState::offline, std::nullopt},
        {[](AccountSyncReporter& r) { return r.needs_authentication(); }, SyncState::needs_authentication,
         std::nullopt},
        {[](AccountSyncReporter& r) { return r.failed("connect: Connection refused"); }, SyncState::failed,
         "connect: Connection refused"},
        {[](AccountSyncReporter& r) { return r.failed(); }, SyncState::failed, std::nullopt},
    };
    AccountSyncReporter other(AccountId("other@x"), t.path());
    ASSERT_TRUE(other.offline().ok());
    AccountSyncReporter reporter(AccountId("me@x"), t.path());
    for (const auto& c : cases) {
        auto before = now_seconds();
        ASSERT_TRUE(c.call(reporter).ok());
        auto all = read_sync_statuses(t.path());
        ASSERT_EQ(all.count("me@x"), 1u);
        const auto& s = all.at("me@x");
        EXPECT_EQ(s.state, c.state) << sync_state_name(c.state);
        EXPECT_EQ(s.message, c.message);
        EXPECT_GE(s.at, before);
        EXPECT_LE(s.at, now_seconds());
        // The other account's entry is untouched.
        ASSERT_EQ(all.count("other@x"), 1u);
        EXPECT_EQ(all.at("other@x").state, SyncState::offline);
    }
    EXPECT_EQ(mode_of(t.path() / kSyncStatusFile), 0600u);
}

TEST(SyncStatus, EmptyIdOrNoRootWritesNothingAndSucceeds) {
    TempDir t;
    AccountSyncReporter empty(AccountId(""), t.path());
    EXPECT_TRUE(empty.started().ok());
    EXPECT_TRUE(empty.failed("x").ok());
    AccountSyncReporter rootless(AccountId("me@x"), std::nullopt);
    EXPECT_TRUE(rootless.succeeded().ok());
    EXPECT_TRUE(std::filesystem::is_empty(t.path()));
}

TEST(SyncStatus, FailureIsAValueAndTheHelperLogsIt) {
    TempDir t;
    write_file(t.path() / "file", "in the way");
    AccountSyncReporter reporter(AccountId("me@x"), t.path() / "file" / "root");
    auto s = reporter.failed("boom");
    ASSERT_FALSE(s.ok());
    testing::internal::CaptureStderr();
    log_if_failed(s, reporter.id());
    log_if_failed(lib::ok_status(), reporter.id());
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(log.rfind("mail: could not persist sync status error=", 0), 0u) << log;
    EXPECT_NE(log.find(" account=me@x\n"), std::string::npos) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
}

TEST(SyncStatus, UnreadableFileIsReplaced) {
    TempDir t;
    for (const char* content : {"garbage", "[1,2]", R"({"me@x": {"state": "flying"}})"}) {
        write_file(t.path() / kSyncStatusFile, content);
        EXPECT_TRUE(read_sync_statuses(t.path()).empty()) << content;
        testing::internal::CaptureStderr();
        auto s = AccountSyncReporter(AccountId("me@x"), t.path()).succeeded();
        testing::internal::GetCapturedStderr();
        ASSERT_TRUE(s.ok()) << s.error();
        EXPECT_EQ(read_sync_statuses(t.path()).at("me@x").state, SyncState::succeeded) << content;
    }
}

TEST(SyncStatus, ReportsFromSeveralThreadsAreAllKept) {
    TempDir t;
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&, i] {
            AccountSyncReporter r(AccountId("user" + std::to_string(i) + "@x"), t.path());
            for (int n = 0; n < 15; ++n) EXPECT_TRUE((n % 2 ? r.started() : r.succeeded()).ok());
        });
    }
    for (auto& th : threads) th.join();
    auto all = read_sync_statuses(t.path());
    EXPECT_EQ(all.size(), 4u);
    // Each thread's last report (n = 14) was succeeded.
    for (const auto& [id, s] : all) EXPECT_EQ(s.state, SyncState::succeeded) << id;
}

TEST(SyncStatus, StateNamesRoundTrip) {
    for (auto s : {SyncState::started, SyncState::succeeded, SyncState::offline, SyncState::needs_authentication,
                   SyncState::failed})
        EXPECT_EQ(sync_state_from_name(sync_state_name(s)), s);
    EXPECT_FALSE(sync_state_from_name("Started").has_value());
}

}  // namespace
