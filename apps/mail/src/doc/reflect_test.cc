#include "doc/reflect.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "doc/apply.h"
#include "doc/test_support.h"

namespace mail::doc {
namespace {

using state::FolderRole;
using state::MailMessage;
using state::MessageId;
using testing::change_ok;

MailMessage fetched(std::string_view message_id, bool read = false, bool starred = false,
                    FolderRole folder = FolderRole::Inbox) {
    MailMessage m;
    m.message_id = std::string(message_id);
    m.id = MessageId::from_message_id(message_id);
    m.from = {"Ann", "ann@example.com"};
    m.subject = "Hello";
    m.read = read;
    m.starred = starred;
    m.folder = folder;
    m.date = 29'000'000;
    return m;
}

// How many store revisions were taken while fn ran (no other store is
// changed meanwhile in this test process).
std::uint64_t revisions_taken(const std::function<void()>& fn) {
    const std::uint64_t before = state::next_revision();
    fn();
    return state::next_revision() - before - 1;
}

TEST(UpsertFetched, LocalDecisionsWin) {
    const MailMessage unread = fetched("<a@example.com>", false, true, FolderRole::Inbox);
    const std::string id = unread.id.text();
    struct Case {
        const char* name;
        std::function<void(Tx&)> local;
        std::optional<bool> read;
        std::optional<bool> starred;
        std::optional<FolderRole> folder;
    };
    const std::vector<Case> cases = {
        {"nothing local: the server's values", [](Tx&) {}, false, true, FolderRole::Inbox},
        {"read by the user stays read", [&](Tx& d) { set_read(d, id, true); }, true, true, FolderRole::Inbox},
        {"unstarred by the user stays unstarred", [&](Tx& d) { set_starred(d, id, false); }, false, false,
         FolderRole::Inbox},
        {"moved by the user stays moved", [&](Tx& d) { set_folder(d, id, FolderRole::Archive); }, false, true,
         FolderRole::Archive},
        {"a folder text that is no role key is replaced",
         [&](Tx& d) { d.put_text(runtime::persist::Path{"flags", id}, "folder", "Archive"); }, false, true,
         FolderRole::Inbox},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Doc d = Doc::open_in_memory();
        change_ok(d, c.local);
        ASSERT_TRUE(upsert_fetched(d, {unread}).ok());
        EXPECT_TRUE(present(d, id));
        EXPECT_EQ(get_read(d, id), c.read);
        EXPECT_EQ(get_starred(d, id), c.starred);
        EXPECT_EQ(get_folder(d, id), c.folder);
    }
}

TEST(UpsertFetched, PurgedMessageNeverReturns) {
    Doc d = Doc::open_in_memory();
    state::MessageStore store;
    Reflector reflector;
    const MailMessage m = fetched("<gone@example.com>", false, false, FolderRole::Trash);
    store.upsert(m);
    ASSERT_TRUE(reflector.reflect(d, store, {}).ok());
    ASSERT_TRUE(apply_action(d, actions::Purge{{m.id.text()}}).ok());
    ASSERT_TRUE(reflector.reflect(d, store, {}).ok());
    EXPECT_FALSE(store.contains(m.id));

    // The server still lists it (the deletion has not reached it yet).
    const std::string before = dump_json(d);
    ASSERT_TRUE(upsert_fetched(d, {m}).ok());
    EXPECT_EQ(dump_json(d), before);
    store.upsert(m);
    ASSERT_TRUE(reflector.reflect(d, store, {}).ok());
    EXPECT_FALSE(store.contains(m.id));
    EXPECT_FALSE(present(d, m.id.text()));
}

TEST(Reflector, FirstUpdateSeedsThenDocumentDecisionsReachTheStore) {
    Doc d = Doc::open_in_memory();
    state::MessageStore store;
    const MailMessage a = fetched("<a@example.com>", true, false);
    const MailMessage b = fetched("<b@example.com>", false, true);
    const MailMessage c = fetched("<c@example.com>");
    store.upsert(a);
    store.upsert(b);
    store.upsert(c);

    Reflector reflector;
    EXPECT_FALSE(reflector.initialised());
    EXPECT_EQ(revisions_taken([&] { ASSERT_TRUE(reflector.reflect(d, store, {}).ok()); }), 0u);
    EXPECT_TRUE(reflector.initialised());
    EXPECT_EQ(get_read(d, a.id.text()), true);
    EXPECT_EQ(get_starred(d, b.id.text()), true);
    EXPECT_EQ(get_folder(d, c.id.text()), FolderRole::Inbox);

    // Several decisions about a, one about b, none about c.
    ASSERT_TRUE(apply_action(d, actions::SetRead{{a.id.text()}, false}).ok());
    ASSERT_TRUE(apply_action(d, actions::Move{{a.id.text()}, "archive"}).ok());
    ASSERT_TRUE(apply_action(d, actions::AddLabel{{a.id.text()}, "work"}).ok());
    ASSERT_TRUE(apply_action(d, actions::SetStarred{{b.id.text()}, false}).ok());

    EXPECT_EQ(revisions_taken([&] { ASSERT_TRUE(reflector.reflect(d, store, {}).ok()); }), 2u);
    EXPECT_FALSE(store.get(a.id)->read);
    EXPECT_EQ(store.get(a.id)->folder, FolderRole::Archive);
    EXPECT_EQ(store.get(a.id)->labels, std::vector<std::string>{"work"});
    EXPECT_FALSE(store.get(b.id)->starred);
    EXPECT_EQ(*store.get(c.id), c);
    // Store order is kept.
    EXPECT_EQ(store.ids(), (std::vector<MessageId>{a.id, b.id, c.id}));

    // Nothing new: no new revision, and the seeding is not repeated.
    const std::string before = dump_json(d);
    store.upsert(fetched("<d@example.com>"));
    EXPECT_EQ(revisions_taken([&] { ASSERT_TRUE(reflector.reflect(d, store, {}).ok()); }), 0u);
    EXPECT_EQ(dump_json(d), before);
}

TEST(Reflector, DraftMessageKeepsOneIdAndFollowsTheStoredDraft) {
    Doc d = Doc::open_in_memory();
    state::MessageStore store;
    Reflector reflector;
    Reflector::Context context{{"Me", "me@example.com"}, std::nullopt, 29'000'000};

    ASSERT_TRUE(reflector.reflect(d, store, context).ok());
    EXPECT_TRUE(store.empty()) << "no stored draft, no draft message";

    compose::DraftData draft;
    draft.to = "\"Bob B\" <bob@example.com>; carol@example.com,,";
    draft.subject = "   ";
    draft.body = "Hi";
    draft.attachments = {{compose::content_address(std::string(64, 'a')), "a.pdf", "application/pdf", 5}};
    ASSERT_TRUE(apply_action(d, actions::SaveDraft{draft}).ok());

    ASSERT_TRUE(reflector.reflect(d, store, context).ok());
    ASSERT_EQ(store.size(), 1u);
    ASSERT_TRUE(reflector.draft_id().has_value());
    const MessageId first = *reflector.draft_id();
    const MailMessage* m = store.get(first);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->folder, FolderRole::Drafts);
    EXPECT_TRUE(m->read);
    EXPECT_EQ(m->from, (state::MailAddress{"Me", "me@example.com"}));
    EXPECT_EQ(m->to, (std::vector<state::MailAddress>{{"Bob B", "bob@example.com"}, {"", "carol@example.com"}}));
    EXPECT_EQ(m->subject, state::kNoSubject);
    EXPECT_EQ(m->date, 29'000'000);
    EXPECT_EQ(m->message_id, std::nullopt);
    ASSERT_EQ(m->attachments.size(), 1u);
    EXPECT_EQ(m->attachments[0].content_id, draft.attachments[0].content_id);
    EXPECT_TRUE(present(d, first.text()));

    // Later updates: same id, and an unchanged draft is no change of the store.
    context.now_minute += 5;
    EXPECT_EQ(revisions_taken([&] { ASSERT_TRUE(reflector.reflect(d, store, context).ok()); }), 0u);
    EXPECT_EQ(store.size(), 1u);
    EXPECT_EQ(*reflector.draft_id(), first);

    // The user's decisions about the draft message stick.
    ASSERT_TRUE(apply_action(d, actions::SetStarred{{first.text()}, true}).ok());
    ASSERT_TRUE(reflector.reflect(d, store, context).ok());
    EXPECT_TRUE(store.get(first)->starred);
    EXPECT_EQ(revisions_taken([&] { ASSERT_TRUE(reflector.reflect(d, store, context).ok()); }), 0u);

    // The composer's current draft id replaces the remembered one.
    const MessageId editing = MessageId::random();
    context.current_draft = editing;
    ASSERT_TRUE(reflector.reflect(d, store, context).ok());
    EXPECT_EQ(store.ids(), std::vector<MessageId>{editing});
    EXPECT_EQ(store.get(editing)->body, "Hi");
    context.current_draft.reset();
    ASSERT_TRUE(reflector.reflect(d, store, context).ok());
    EXPECT_EQ(store.ids(), std::vector<MessageId>{editing});

    // Discarded: the draft message goes.
    ASSERT_TRUE(apply_action(d, actions::DiscardDraft{}).ok());
    ASSERT_TRUE(reflector.reflect(d, store, context).ok());
    EXPECT_TRUE(store.empty());
    EXPECT_FALSE(reflector.draft_id().has_value());
}

TEST(Reflector, PurgedDraftMessageStaysOut) {
    Doc d = Doc::open_in_memory();
    state::MessageStore store;
    Reflector reflector;
    compose::DraftData draft;
    draft.subject = "Draft";
    ASSERT_TRUE(apply_action(d, actions::SaveDraft{draft}).ok());
    ASSERT_TRUE(reflector.reflect(d, store, {}).ok());
    const MessageId id = *reflector.draft_id();
    ASSERT_TRUE(apply_action(d, actions::Move{{id.text()}, "trash"}).ok());
    ASSERT_TRUE(apply_action(d, actions::Purge{{id.text()}}).ok());
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(reflector.reflect(d, store, {}).ok());
        EXPECT_TRUE(store.empty());
    }
}

TEST(ParseRecipients, Forms) {
    using A = state::MailAddress;
    struct Case {
        const char* field;
        std::vector<A> parsed;
    };
    const std::vector<Case> cases = {
        {"\"Ann Lee\" <ann@example.com>; bob@example.com,,", {{"Ann Lee", "ann@example.com"}, {"", "bob@example.com"}}},
        {"   ", {}},
        {"<only@example.com>", {{"", "only@example.com"}}},
        {"Name < spaced@example.com >", {{"Name", "spaced@example.com"}}},
        {"broken <no-close", {{"", "broken <no-close"}}},
        {"a > b <c>", {{"a > b", "c"}}},
    };
    for (const auto& c : cases) EXPECT_EQ(parse_recipients(c.field), c.parsed) << c.field;
}

}  // namespace
}  // namespace mail::doc
