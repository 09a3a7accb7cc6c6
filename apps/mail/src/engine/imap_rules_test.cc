#include "engine/imap_rules.h"

#include <gtest/gtest.h>

#include <numeric>

#include "lib/imap/response.h"

namespace mail::engine {
namespace {

using lib::imap::FetchData;

TEST(NewestUids, HighestFiftyHighestFirst) {
    std::vector<std::uint32_t> hundred_twenty(120);
    std::iota(hundred_twenty.begin(), hundred_twenty.end(), 1u);
    std::vector<std::uint32_t> expected(50);
    for (int i = 0; i < 50; ++i) expected[i] = 120u - i;

    struct Case {
        std::vector<std::uint32_t> in;
        std::vector<std::uint32_t> out;
    };
    const Case cases[] = {
        {hundred_twenty, expected},
        {{7, 3, 9, 3}, {9, 7, 3}},
        {{}, {}},
        {{4000000000u, 2, 5}, {4000000000u, 5, 2}},
    };
    for (const Case& c : cases) EXPECT_EQ(newest_uids(c.in), c.out);
    EXPECT_EQ(newest_uids({1, 2, 3, 4}, 2), (std::vector<std::uint32_t>{4, 3}));
}

std::string message(const std::string& id, const std::string& date_header) {
    std::string m = "From: Ann <ann@example.test>\r\nTo: bob@example.test\r\nSubject: S " + id +
                    "\r\nMessage-ID: <" + id + "@example.test>\r\n";
    if (!date_header.empty()) m += "Date: " + date_header + "\r\n";
    return m + "\r\nHello " + id + "\r\n";
}

FetchData answer(std::uint32_t uid, std::optional<std::string> body, std::vector<std::string> flags,
                 std::optional<std::int64_t> internal) {
    FetchData d;
    d.uid = uid;
    d.body = std::move(body);
    d.flags = std::move(flags);
    d.internal_date = internal;
    return d;
}

TEST(RecordsFromFetch, OrderFlagsDatesAndSkips) {
    const std::vector<std::uint32_t> requested = {30, 20, 10, 5};
    // The server answers in ascending order, with an unsolicited flag update
    // and one body that is no message.
    const std::vector<FetchData> answers = {
        answer(5, std::string("\x00\x01 not a message", 16), {}, 600),
        answer(10, message("ten", ""), {"\\Seen"}, std::nullopt),
        answer(20, message("twenty", "Tue, 14 Nov 2023 22:13:20 +0000"), {"\\Flagged", "\\seen"}, std::nullopt),
        answer(20, std::nullopt, {"\\Deleted"}, std::nullopt),
        answer(30, message("thirty", "Tue, 14 Nov 2023 22:13:20 +0000"), {}, 1'700'000'059),
        answer(99, message("unasked", ""), {}, 60),
    };
    const auto records = records_from_fetch(answers, requested, state::FolderRole::Starred, 28'000'000);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].message_id, "thirty@example.test");
    EXPECT_EQ(records[1].message_id, "twenty@example.test");
    EXPECT_EQ(records[2].message_id, "ten@example.test");

    // INTERNALDATE wins, truncated to the minute.
    EXPECT_EQ(records[0].date, 1'700'000'059 / 60);
    // Without it the Date header.
    EXPECT_EQ(records[1].date, 1'700'000'000 / 60);
    // Without both the minute the fetch started.
    EXPECT_EQ(records[2].date, 28'000'000);

    EXPECT_FALSE(records[0].read);
    EXPECT_FALSE(records[0].starred);
    EXPECT_TRUE(records[1].read);
    EXPECT_TRUE(records[1].starred);
    EXPECT_TRUE(records[2].read);
    EXPECT_FALSE(records[2].starred);
    for (const auto& r : records) {
        EXPECT_EQ(r.folder, state::FolderRole::Starred);
        EXPECT_EQ(r.id, state::MessageId::from_message_id(*r.message_id));
    }
}

TEST(SearchMessageId, QuotesRemovedAndEmptyRefused) {
    struct Case {
        std::optional<std::string> stored;
        std::optional<std::string> searched;
    };
    const Case cases[] = {
        {"abc@example.test", "abc@example.test"},
        {"a\"b\"c@example.test", "abc@example.test"},
        {"<x\\y@host>", "<x\\y@host>"},
        {"", std::nullopt},
        {std::nullopt, std::nullopt},
        {"\"\"", std::nullopt},
        {" \" ", std::nullopt},
    };
    for (const Case& c : cases) {
        state::MailMessage m;
        m.message_id = c.stored;
        EXPECT_EQ(search_message_id(m), c.searched) << c.stored.value_or("(none)");
    }
}

}  // namespace
}  // namespace mail::engine
