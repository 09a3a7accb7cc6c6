#include "state/store.h"

#include <gtest/gtest.h>

#include <functional>

namespace mail::state {
namespace {

MailMessage message(const char* message_id, std::int64_t date, FolderRole folder = FolderRole::Inbox) {
    MailMessage m;
    m.message_id = message_id;
    m.id = MessageId::from_message_id(message_id);
    m.subject = message_id;
    m.date = date;
    m.folder = folder;
    return m;
}

std::vector<std::string> subjects(const std::vector<const MailMessage*>& list) {
    std::vector<std::string> out;
    for (const MailMessage* m : list) out.push_back(m->subject);
    return out;
}

TEST(MessageStore, NewStoreHasRevisionZero) {
    MessageStore store;
    EXPECT_EQ(store.revision(), 0u);
    EXPECT_TRUE(store.empty());
}

TEST(MessageStore, ReinsertReplacesInPlaceWithHigherRevision) {
    MessageStore store;
    EXPECT_TRUE(store.upsert(message("a", 10)));
    EXPECT_TRUE(store.upsert(message("b", 20)));
    EXPECT_TRUE(store.upsert(message("c", 30)));
    const std::uint64_t before = store.revision();

    MailMessage again = message("a", 10);
    again.subject = "a, fetched again";
    EXPECT_FALSE(store.upsert(again));

    EXPECT_GT(store.revision(), before);
    ASSERT_EQ(store.ids().size(), 3u);
    EXPECT_EQ(store.ids()[0], again.id);
    EXPECT_EQ(store.get(again.id)->subject, "a, fetched again");
    // Re-inserting an identical record is still a change.
    const std::uint64_t r = store.revision();
    EXPECT_FALSE(store.upsert(again));
    EXPECT_GT(store.revision(), r);
}

TEST(MessageStore, RevisionsGrowAcrossStores) {
    MessageStore one;
    MessageStore two;
    one.upsert(message("a", 1));
    two.upsert(message("a", 1));
    EXPECT_GT(two.revision(), one.revision());
    one.set_read(MessageId::from_message_id("a"), true);
    EXPECT_GT(one.revision(), two.revision());
}

TEST(MessageStore, FieldChangesBumpOnlyWhenSomethingChanges) {
    MessageStore store;
    const MailMessage m = message("a", 1);
    store.upsert(m);
    const MessageId unknown = MessageId::from_message_id("nope");

    struct Step {
        const char* what;
        std::function<bool()> apply;
        bool changes;
    };
    const Step steps[] = {
        {"read on", [&] { return store.set_read(m.id, true); }, true},
        {"read on again", [&] { return store.set_read(m.id, true); }, false},
        {"starred on", [&] { return store.set_starred(m.id, true); }, true},
        {"starred same", [&] { return store.set_starred(m.id, true); }, false},
        {"to trash", [&] { return store.set_folder(m.id, FolderRole::Trash); }, true},
        {"trash again", [&] { return store.set_folder(m.id, FolderRole::Trash); }, false},
        {"labels", [&] { return store.set_labels(m.id, {"work"}); }, true},
        {"same labels", [&] { return store.set_labels(m.id, {"work"}); }, false},
        {"unknown read", [&] { return store.set_read(unknown, true); }, false},
        {"unknown folder", [&] { return store.set_folder(unknown, FolderRole::Junk); }, false},
        {"remove unknown", [&] { return store.remove(unknown); }, false},
        {"remove", [&] { return store.remove(m.id); }, true},
    };
    for (const Step& s : steps) {
        const std::uint64_t before = store.revision();
        EXPECT_EQ(s.apply(), s.changes) << s.what;
        if (s.changes) {
            EXPECT_GT(store.revision(), before) << s.what;
        } else {
            EXPECT_EQ(store.revision(), before) << s.what;
        }
    }
    EXPECT_TRUE(store.empty());
    EXPECT_EQ(store.get(m.id), nullptr);
}

TEST(MessageStore, RemoveKeepsOrderOfOthers) {
    MessageStore store;
    for (const char* id : {"a", "b", "c", "d"}) store.upsert(message(id, 0));
    store.remove(MessageId::from_message_id("b"));
    EXPECT_EQ(subjects(store.all()), (std::vector<std::string>{"a", "c", "d"}));
    store.upsert(message("b", 0));
    EXPECT_EQ(subjects(store.all()), (std::vector<std::string>{"a", "c", "d", "b"}));
}

TEST(MessageStore, FolderListNewestFirstStableOnTies) {
    MessageStore store;
    store.upsert(message("old", 100));
    store.upsert(message("tie-1", 200));
    store.upsert(message("other-folder", 999, FolderRole::Starred));
    store.upsert(message("new", 300));
    store.upsert(message("tie-2", 200));
    store.upsert(message("tie-3", 200));
    EXPECT_EQ(subjects(store.messages_in(FolderRole::Inbox)),
              (std::vector<std::string>{"new", "tie-1", "tie-2", "tie-3", "old"}));
    EXPECT_EQ(subjects(store.messages_in(FolderRole::Starred)),
              (std::vector<std::string>{"other-folder"}));
    EXPECT_TRUE(store.messages_in(FolderRole::Junk).empty());
}

}  // namespace
}  // namespace mail::state
