#include "engine/sample_mailbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace mail::engine {
namespace {

using state::FolderRole;
using state::MailMessage;

TEST(SampleMailbox, AccountsHaveTheirShape) {
    const std::vector<validate::AccountEntry> accounts = sample_accounts();
    ASSERT_EQ(accounts.size(), 2u);
    const std::uint16_t smtp_ports[] = {465, 587};
    std::set<std::string> addresses;
    for (std::size_t i = 0; i < 2; ++i) {
        const validate::StoredConfig& c = accounts[i].config;
        EXPECT_EQ(c.auth, validate::AuthMethod::Password);
        EXPECT_EQ(c.imap_port, 993);
        EXPECT_TRUE(c.imap_tls);
        EXPECT_EQ(c.smtp_port, smtp_ports[i]);
        EXPECT_TRUE(c.smtp_tls);
        EXPECT_EQ(c.password.size(), 8u);
        EXPECT_EQ(c.username, c.email);
        EXPECT_EQ(accounts[i].id, c.email);
        EXPECT_NE(c.email.find("example."), std::string::npos);
        addresses.insert(c.email);
    }
    EXPECT_EQ(addresses.size(), 2u);
    EXPECT_EQ(accounts[1].config.display_name.rfind(accounts[0].config.display_name, 0), 0u);
    EXPECT_EQ(accounts[0].config.password, accounts[1].config.password);
}

TEST(SampleMailbox, FifteenMessagesInTheTableShape) {
    const std::vector<MailMessage> m = sample_messages();
    ASSERT_EQ(m.size(), 15u) << "a raw sample text no longer parses";
    struct Row {
        FolderRole folder;
        bool read;
        bool starred;
        std::int64_t age;
        std::size_t attachments;
    };
    using F = FolderRole;
    const Row rows[15] = {
        {F::Inbox, true, true, 206, 0},   {F::Inbox, true, false, 179, 0},   {F::Inbox, false, false, 138, 1},
        {F::Inbox, false, false, 14, 1},  {F::Inbox, true, true, 300, 1},    {F::Inbox, false, false, 3, 0},
        {F::Inbox, true, false, 1560, 0}, {F::Inbox, false, false, 540, 1},  {F::Sent, true, false, 50, 0},
        {F::Sent, true, false, 270, 0},   {F::Archive, true, false, 12960, 1}, {F::Junk, false, false, 420, 0},
        {F::Inbox, false, false, 30, 0},  {F::Inbox, true, false, 420, 0},   {F::Inbox, false, true, 52, 0},
    };
    for (std::size_t i = 0; i < 15; ++i) {
        SCOPED_TRACE("message " + std::to_string(i + 1));
        EXPECT_EQ(m[i].folder, rows[i].folder);
        EXPECT_EQ(m[i].read, rows[i].read);
        EXPECT_EQ(m[i].starred, rows[i].starred);
        EXPECT_EQ(m[i].date, kSampleReferenceMinute - rows[i].age);
        EXPECT_EQ(m[i].attachments.size(), rows[i].attachments);
        EXPECT_FALSE(m[i].subject.empty());
        EXPECT_FALSE(m[i].body.empty());
        EXPECT_EQ(m[i].html_body.has_value(), i == 14);
        for (const state::MessageAttachment& a : m[i].attachments) {
            EXPECT_TRUE(a.content.empty());
            EXPECT_FALSE(a.content_id.has_value());
            EXPECT_FALSE(a.downloaded);
        }
    }
    // The planning conversation: two replies whose parent is the first
    // message's Message-ID, each with an id of its own.
    ASSERT_TRUE(m[0].message_id && m[1].message_id && m[2].message_id);
    EXPECT_EQ(m[1].parent, m[0].message_id);
    EXPECT_EQ(m[2].parent, m[0].message_id);
    EXPECT_EQ(m[1].subject, "Re: " + m[0].subject);
    EXPECT_EQ(m[8].subject, "Re: " + m[0].subject);
    EXPECT_EQ(m[1].to.size(), 2u);
    EXPECT_EQ(m[8].to.size(), 2u);
    const std::pair<std::size_t, std::pair<const char*, std::uint64_t>> attached[] = {
        {2, {"application/pdf", 184320}}, {3, {"text/plain", 28716}}, {4, {"text/csv", 9204}},
        {7, {"text/calendar", 1842}},     {10, {"application/pdf", 512000}},
    };
    for (const auto& [i, what] : attached) {
        EXPECT_EQ(m[i].attachments[0].mime, what.first) << i;
        EXPECT_EQ(m[i].attachments[0].size, what.second) << i;
    }
    EXPECT_EQ(m[7].attachments[0].filename, "invite.ics");
    // Subjects with the search word: 1, 12 and 15.
    for (std::size_t i : {0u, 11u, 14u}) EXPECT_NE(m[i].subject.find(kSampleSearchWord), std::string::npos) << i;
    EXPECT_EQ(m[14].from.address, kSampleNewsletterSender);

    // Random ids for the built ones, Message-ID ids for the raw ones.
    std::set<state::MessageId> ids;
    for (std::size_t i = 0; i < 15; ++i) {
        ids.insert(m[i].id);
        if (i >= 12) {
            ASSERT_TRUE(m[i].message_id.has_value());
            EXPECT_EQ(m[i].id, state::MessageId::from_message_id(*m[i].message_id)) << i;
        } else {
            EXPECT_EQ(m[i].id.bytes[6] >> 4, 4) << "version 4 id for message " << i + 1;
        }
    }
    EXPECT_EQ(ids.size(), 15u);
}

TEST(SampleMailbox, StateSelectsTheFirstConversationWithReplies) {
    const state::MailState s = sample_mail_state();
    EXPECT_EQ(s.store.size(), 15u);
    EXPECT_EQ(s.accounts.size(), 2u);
    EXPECT_EQ(s.active, 0u);
    EXPECT_EQ(s.folder, FolderRole::Inbox);
    EXPECT_EQ(s.now_minute, kSampleReferenceMinute);
    EXPECT_TRUE(s.search_query.empty());
    EXPECT_FALSE(s.bulk_mode);
    EXPECT_TRUE(s.status.empty());
    ASSERT_TRUE(s.selected.has_value());
    const MailMessage* selected = s.store.get(*s.selected);
    // The planning conversation's item is its oldest message, the first one.
    EXPECT_EQ(selected->message_id, sample_messages()[0].message_id);
    const std::vector<state::ListItem> list = s.visible_list();
    const auto it = std::find_if(list.begin(), list.end(), [&](const state::ListItem& i) { return i.id == *s.selected; });
    ASSERT_NE(it, list.end());
    EXPECT_EQ(it->size, 3u);
}

TEST(SampleMailbox, SelectionRuleFallbacks) {
    state::MailState s = state::MailState::with_accounts({}, 0, 0);
    EXPECT_FALSE(sample_selection(s).has_value()) << "empty list: nothing";
    MailMessage a;
    a.id = state::MessageId::random();
    a.date = 5;
    MailMessage b;
    b.id = state::MessageId::random();
    b.date = 9;
    s.store.upsert(a);
    s.store.upsert(b);
    EXPECT_EQ(sample_selection(s), b.id) << "no conversation with replies: the first item";
}

}  // namespace
}  // namespace mail::engine
