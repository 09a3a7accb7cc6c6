#include "state/message_id.h"

#include <gtest/gtest.h>

#include <set>

namespace mail::state {
namespace {

TEST(Fnv1a64, KnownVectors) {
    const struct {
        const char* input;
        std::uint64_t hash;
    } cases[] = {
        {"", 0xcbf29ce484222325ULL},
        {"a", 0xaf63dc4c8601ec8cULL},
        {"abc", 0xe71fa2190541574bULL},
        {"foobar", 0x85944171f73967e8ULL},
    };
    for (const auto& c : cases) EXPECT_EQ(fnv1a64(c.input), c.hash) << c.input;
    EXPECT_EQ(fnv1a64("abc", 0x0102030405060708ULL), 0x849de539a904eff8ULL);
}

TEST(MessageId, DerivedFromMessageIdHeader) {
    const struct {
        const char* header;
        const char* text;
    } cases[] = {
        {"<abc>", "e71fa219-0541-574b-849d-e539a904eff8"},
        {"abc", "e71fa219-0541-574b-849d-e539a904eff8"},
        {"  <<abc>> ", "e71fa219-0541-574b-849d-e539a904eff8"},
        {"\t<abc>\r\n", "e71fa219-0541-574b-849d-e539a904eff8"},
        // Letter case matters; inner brackets and spaces are part of the value.
        {"<ABC>", nullptr},
        {"< abc >", nullptr},
    };
    for (const auto& c : cases) {
        const std::string got = MessageId::from_message_id(c.header).text();
        if (c.text != nullptr) {
            EXPECT_EQ(got, c.text) << c.header;
        } else {
            EXPECT_NE(got, "e71fa219-0541-574b-849d-e539a904eff8") << c.header;
            EXPECT_EQ(got, MessageId::from_message_id(c.header).text()) << "stable: " << c.header;
        }
    }
}

TEST(MessageId, BlankHeaderGivesFreshRandomVersion4) {
    for (const char* header : {"<>", "", "   ", "<<<>>>", " <> "}) {
        const MessageId a = MessageId::from_message_id(header);
        const MessageId b = MessageId::from_message_id(header);
        EXPECT_NE(a, b) << header;
        const std::string t = a.text();
        EXPECT_EQ(t[14], '4') << t;
        EXPECT_NE(std::string("89ab").find(t[19]), std::string::npos) << t;
    }
}

TEST(MessageId, RandomIdsDiffer) {
    std::set<MessageId> seen;
    for (int i = 0; i < 1000; ++i) seen.insert(MessageId::random());
    EXPECT_EQ(seen.size(), 1000u);
}

TEST(MessageId, TextFormRoundTrip) {
    for (int i = 0; i < 50; ++i) {
        const MessageId id = MessageId::random();
        const std::string t = id.text();
        ASSERT_EQ(t.size(), 36u);
        EXPECT_EQ(t.find_first_not_of("0123456789abcdef-"), std::string::npos) << t;
        const auto back = MessageId::parse(t);
        ASSERT_TRUE(back.has_value()) << t;
        EXPECT_EQ(*back, id);
    }
}

TEST(MessageId, ParseRejectsMalformedText) {
    const struct {
        const char* text;
        bool ok;
    } cases[] = {
        {"e71fa219-0541-574b-849d-e539a904eff8", true},
        {"E71FA219-0541-574B-849D-E539A904EFF8", true},
        {"e71fa219-0541-574b-849d-e539a904eff", false},
        {"e71fa219-0541-574b-849d-e539a904eff80", false},
        {"e71fa2190-541-574b-849d-e539a904eff8", false},
        {"e71fa219+0541-574b-849d-e539a904eff8", false},
        {"g71fa219-0541-574b-849d-e539a904eff8", false},
        {"e71fa219054157 4b849de539a904eff8abc", false},
        {"", false},
    };
    for (const auto& c : cases) {
        const auto id = MessageId::parse(c.text);
        EXPECT_EQ(id.has_value(), c.ok) << c.text;
        if (id) {
            EXPECT_EQ(id->text(), "e71fa219-0541-574b-849d-e539a904eff8");
        }
    }
}

}  // namespace
}  // namespace mail::state
