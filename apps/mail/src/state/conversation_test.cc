#include "state/conversation.h"

#include <gtest/gtest.h>

#include <deque>

namespace mail::state {
namespace {

TEST(NormalizeReference, Cases) {
    const struct {
        const char* in;
        const char* out;  // nullptr: absent
    } cases[] = {
        {"<a@x>", "a@x"},        {"  <<a@x>>  ", "a@x"}, {"< a@x >", "a@x"},
        {"A@X", "A@X"},          {"<>", nullptr},        {"   ", nullptr},
        {"", nullptr},           {"< >", nullptr},       {"<a <b>", "a <b"},
    };
    for (const auto& c : cases) {
        const auto got = normalize_reference(c.in);
        if (c.out == nullptr) {
            EXPECT_FALSE(got.has_value()) << c.in;
        } else {
            ASSERT_TRUE(got.has_value()) << c.in;
            EXPECT_EQ(*got, c.out) << c.in;
        }
    }
}

class Conversation : public ::testing::Test {
protected:
    // Adds a message; `mid` or `parent` nullptr means absent.
    const MailMessage* add(const char* mid, const char* parent) {
        MailMessage m;
        if (mid != nullptr) m.message_id = mid;
        if (parent != nullptr) m.parent = parent;
        m.id = mid != nullptr ? MessageId::from_message_id(mid) : MessageId::random();
        messages_.push_back(m);
        list_.push_back(&messages_.back());
        return &messages_.back();
    }
    std::string key(const MailMessage* m) const { return conversation_key(*m, list_); }

    std::deque<MailMessage> messages_;
    std::vector<const MailMessage*> list_;
};

TEST_F(Conversation, ChainSharesTheFirstMessageId) {
    const auto* root = add("<root@x>", nullptr);
    const auto* reply = add("<r1@x>", "<root@x>");
    const auto* reply2 = add("<r2@x>", " <r1@x> ");
    EXPECT_EQ(key(root), "root@x");
    EXPECT_EQ(key(reply), "root@x");
    EXPECT_EQ(key(reply2), "root@x");
}

TEST_F(Conversation, ReplyCycleEndsWithOwnIds) {
    const auto* a = add("<a@x>", "<b@x>");
    const auto* b = add("<b@x>", "<a@x>");
    EXPECT_EQ(key(a), "a@x");
    EXPECT_EQ(key(b), "b@x");
    const auto* self = add("<self@x>", "<self@x>");
    EXPECT_EQ(key(self), "self@x");
}

TEST_F(Conversation, RepliesToAbsentParentShareItsReference) {
    const auto* r1 = add("<r1@x>", "<gone@x>");
    const auto* r2 = add("<r2@x>", "<<gone@x>>");
    const auto* r3 = add("<r3@x>", "<r2@x>");
    EXPECT_EQ(key(r1), "gone@x");
    EXPECT_EQ(key(r2), "gone@x");
    EXPECT_EQ(key(r3), "gone@x");
}

TEST_F(Conversation, MessageWithoutIdsUsesItsIdText) {
    const auto* lone = add(nullptr, nullptr);
    EXPECT_EQ(key(lone), lone->id.text());
    const auto* blank = add("<>", "  ");
    EXPECT_EQ(key(blank), blank->id.text());
}

TEST_F(Conversation, IndexCanBeReused) {
    const auto* root = add("<root@x>", nullptr);
    const auto* reply = add("<r@x>", "<root@x>");
    const auto* other = add("<o@x>", nullptr);
    const ConversationIndex index(list_);
    EXPECT_EQ(index.key(*root), index.key(*reply));
    EXPECT_NE(index.key(*root), index.key(*other));
}

}  // namespace
}  // namespace mail::state
