#include "state/mail_state.h"

#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

namespace mail::state {
namespace {

struct Row {
    std::string subject;
    std::int64_t date = 0;
    FolderRole folder = FolderRole::Inbox;
    std::optional<std::string> message_id = std::nullopt;
    std::optional<std::string> parent = std::nullopt;
    std::string body = {};
    MailAddress from = {"Sender", "sender@example.net"};
    bool read = false;
};

MailMessage make(const Row& s) {
    MailMessage m;
    m.subject = s.subject;
    m.date = s.date;
    m.folder = s.folder;
    m.message_id = s.message_id;
    m.parent = s.parent;
    m.body = s.body;
    m.from = s.from;
    m.read = s.read;
    m.id = MessageId::random();
    return m;
}

validate::AccountEntry account(std::string email) {
    validate::AccountEntry e;
    e.id = email.empty() ? "local" : email;
    e.config.email = std::move(email);
    e.config.display_name = "Someone";
    return e;
}

// A state with the given messages inserted in order; returns their ids in the
// same order.
MailState with(const std::vector<Row>& rows, std::vector<MessageId>& ids, std::string email = "me@example.com") {
    MailState s = MailState::with_accounts({account(std::move(email))}, 0, 1000);
    for (const Row& row : rows) {
        MailMessage m = make(row);
        ids.push_back(m.id);
        s.store.upsert(std::move(m));
    }
    return s;
}

std::vector<std::string> subjects(const MailState& s) {
    std::vector<std::string> out;
    for (const ListItem& item : s.visible_list()) out.push_back(s.store.get(item.id)->subject + "/" + std::to_string(item.size));
    return out;
}

TEST(MailStateList, ConversationsNewestFirstShowingTheirOldestMessage) {
    std::vector<MessageId> ids;
    MailState s = with(
        {
            {.subject = "start", .date = 100, .message_id = "<a@x>"},
            {.subject = "lonely", .date = 250},
            {.subject = "reply one", .date = 200, .message_id = "<b@x>", .parent = "<a@x>"},
            {.subject = "reply two", .date = 300, .message_id = "<c@x>", .parent = "<b@x>"},
            {.subject = "old", .date = 50},
            {.subject = "archived", .date = 999, .folder = FolderRole::Archive},
        },
        ids);
    // The chain of three sorts by its newest message (300) and shows its
    // oldest one with the count.
    EXPECT_EQ(subjects(s), (std::vector<std::string>{"start/3", "lonely/1", "old/1"}));
    s.folder = FolderRole::Archive;
    EXPECT_EQ(subjects(s), (std::vector<std::string>{"archived/1"}));
    s.folder = FolderRole::Trash;
    EXPECT_TRUE(s.visible_list().empty());
}

TEST(MailStateList, SearchRules) {
    struct Case {
        const char* query;
        std::vector<std::string> expected;
    };
    const std::vector<Row> rows = {
        {.subject = "Spatial index", .date = 10},
        {.subject = "plain", .date = 30, .body = "the SPATIAL word in the body"},
        {.subject = "trashed spatial", .date = 40, .folder = FolderRole::Trash},
        {.subject = "from name", .date = 20, .from = {"Spatial Weekly", "w@example.com"}},
        {.subject = "from address", .date = 5, .from = {"", "news@spatial.example"}},
        {.subject = "Ünïcode", .date = 1},
        {.subject = "junk spatial", .date = 3, .folder = FolderRole::Junk},
    };
    const Case cases[] = {
        {"spatial", {"plain/1", "from name/1", "Spatial index/1", "from address/1", "junk spatial/1"}},
        {"  SPATIAL  ", {"plain/1", "from name/1", "Spatial index/1", "from address/1", "junk spatial/1"}},
        {"trashed", {}},                // Trash is never searched
        {"ünïcode", {}},                // only ASCII letters are folded
        {"Ünïcode", {"Ünïcode/1"}},
        {"nothing like it", {}},
        {"   ", {"plain/1", "from name/1", "Spatial index/1", "from address/1", "Ünïcode/1"}},  // folder list
    };
    for (const Case& c : cases) {
        std::vector<MessageId> ids;
        MailState s = with(rows, ids);
        s.set_search_query(c.query);
        EXPECT_EQ(subjects(s), c.expected) << "query \"" << c.query << "\"";
    }
}

TEST(MailStateList, SearchStopsAtTwoHundredResults) {
    std::vector<Row> rows;
    for (int i = 0; i < 250; ++i) rows.push_back({.subject = "match " + std::to_string(i), .date = i});
    std::vector<MessageId> ids;
    MailState s = with(rows, ids);
    s.set_search_query("match");
    const std::vector<ListItem> list = s.visible_list();
    ASSERT_EQ(list.size(), kSearchResultLimit);
    // Walked from the most recently added: the newest 200 are found.
    EXPECT_EQ(s.store.get(list.front().id)->subject, "match 249");
    EXPECT_EQ(s.store.get(list.back().id)->subject, "match 50");
}

TEST(MailStateChanges, OneMessageChangesRecordActionsAndIntents) {
    std::vector<MessageId> ids;
    MailState s = with({{.subject = "a", .date = 1}, {.subject = "b", .date = 2, .read = true}}, ids);
    s.open_message(ids[0]);
    EXPECT_EQ(s.selected, ids[0]);
    EXPECT_TRUE(s.store.get(ids[0])->read);
    s.open_message(ids[1]);  // already read: nothing to record
    EXPECT_TRUE(s.set_starred(ids[1], true));
    EXPECT_FALSE(s.set_starred(ids[1], true));
    EXPECT_TRUE(s.move_to(ids[0], FolderRole::Trash));
    EXPECT_FALSE(s.purge(ids[1]));  // not in Trash
    EXPECT_TRUE(s.purge(ids[0]));
    EXPECT_FALSE(s.store.contains(ids[0]));

    const std::vector<actions::MailAction> acts = s.take_actions();
    const std::vector<actions::MailAction> expected = {
        actions::SetRead{{ids[0].text()}, true},
        actions::SetStarred{{ids[1].text()}, true},
        actions::Move{{ids[0].text()}, "trash"},
        actions::Purge{{ids[0].text()}},
    };
    EXPECT_EQ(acts, expected);
    EXPECT_TRUE(s.take_actions().empty());

    const std::vector<EngineIntent> intents = s.take_intents();
    ASSERT_EQ(intents.size(), 4u);
    EXPECT_EQ(intents[0].kind, EngineIntent::Kind::Flag);
    EXPECT_TRUE(intents[0].message->read);
    EXPECT_EQ(intents[0].config.email, "me@example.com");
    EXPECT_EQ(intents[2].kind, EngineIntent::Kind::Move);
    EXPECT_EQ(intents[2].message->folder, FolderRole::Inbox) << "a move carries the record before it";
    EXPECT_EQ(intents[2].folder, FolderRole::Trash);
    EXPECT_EQ(intents[3].kind, EngineIntent::Kind::Purge);
    EXPECT_EQ(intents[3].message->folder, FolderRole::Trash);
}

TEST(MailStateChanges, NoServerWorkWithoutAnAddress) {
    std::vector<MessageId> ids;
    MailState s = with({{.subject = "a", .date = 1}}, ids, "");
    EXPECT_TRUE(s.set_read(ids[0], true));
    s.show_folder(FolderRole::Sent);
    EXPECT_TRUE(s.take_intents().empty());
    EXPECT_EQ(s.take_actions().size(), 1u) << "the local document still hears of it";

    MailState none = MailState::with_accounts({}, 3, 0);
    EXPECT_EQ(none.active_account(), nullptr);
    none.show_folder(FolderRole::Sent);
    EXPECT_TRUE(none.take_intents().empty());
}

TEST(MailStateChanges, PreviewKeepsReadStateAndFolderSwitchClearsSelection) {
    std::vector<MessageId> ids;
    MailState s = with({{.subject = "a", .date = 1}}, ids);
    s.preview_message(ids[0]);
    EXPECT_EQ(s.selected, ids[0]);
    EXPECT_FALSE(s.store.get(ids[0])->read);
    EXPECT_TRUE(s.take_actions().empty());
    s.set_search_query("a");
    s.show_folder(FolderRole::Sent);
    EXPECT_FALSE(s.selected.has_value());
    EXPECT_TRUE(s.search_query.empty());
    const std::vector<EngineIntent> intents = s.take_intents();
    ASSERT_EQ(intents.size(), 1u);
    EXPECT_EQ(intents[0].kind, EngineIntent::Kind::Fetch);
    EXPECT_EQ(intents[0].folder, FolderRole::Sent);
}

TEST(MailStateBulk, ActionsCountsAndSelectionAfterwards) {
    struct Case {
        BulkActionKind kind;
        std::vector<FolderRole> folders;  // of the two selected messages
        std::size_t n;
        bool selection_kept;
        std::vector<FolderRole> after;
    };
    using F = FolderRole;
    const Case cases[] = {
        {BulkActionKind::Archive, {F::Inbox, F::Archive}, 2, false, {F::Archive, F::Archive}},
        {BulkActionKind::MoveToTrash, {F::Inbox, F::Trash}, 1, false, {F::Trash, F::Trash}},
        {BulkActionKind::MoveToTrash, {F::Trash, F::Trash}, 0, false, {F::Trash, F::Trash}},
        {BulkActionKind::DeletePermanently, {F::Trash, F::Inbox}, 0, true, {F::Trash, F::Inbox}},
        {BulkActionKind::MarkRead, {F::Inbox, F::Sent}, 2, true, {F::Inbox, F::Sent}},
        {BulkActionKind::MarkUnread, {F::Inbox, F::Sent}, 2, true, {F::Inbox, F::Sent}},
    };
    for (const Case& c : cases) {
        std::vector<MessageId> ids;
        MailState s = with({{.subject = "a", .date = 1, .folder = c.folders[0]},
                            {.subject = "b", .date = 2, .folder = c.folders[1]}},
                           ids);
        s.toggle_bulk(ids[0]);
        s.toggle_bulk(ids[1]);
        EXPECT_EQ(s.apply_bulk(c.kind), c.n) << static_cast<int>(c.kind);
        EXPECT_EQ(s.bulk.size(), c.selection_kept ? 2u : 0u) << static_cast<int>(c.kind);
        for (std::size_t i = 0; i < 2; ++i) EXPECT_EQ(s.store.get(ids[i])->folder, c.after[i]);
        EXPECT_EQ(s.take_actions().empty(), c.n == 0) << static_cast<int>(c.kind);
    }
}

TEST(MailStateBulk, PermanentDeletionChecksAndConfirmation) {
    std::vector<MessageId> ids;
    MailState s = with({{.subject = "a", .date = 1, .folder = FolderRole::Trash},
                        {.subject = "b", .date = 2, .folder = FolderRole::Inbox}},
                       ids);
    s.set_bulk_mode(true);
    EXPECT_FALSE(s.request_purge());
    EXPECT_EQ(s.status, "Select messages before deleting them permanently");
    s.toggle_bulk(ids[0]);
    s.toggle_bulk(ids[1]);
    EXPECT_FALSE(s.request_purge());
    EXPECT_EQ(s.status, "Permanent deletion requires an all-Trash selection");
    EXPECT_EQ(s.bulk.size(), 2u);

    s.toggle_bulk(ids[1]);
    ASSERT_TRUE(s.request_purge());
    EXPECT_EQ(s.overlay.kind, Overlay::Kind::PurgeConfirmation);
    EXPECT_EQ(s.overlay.count, 1u);
    // Restored from Trash before the confirmation: nothing is deleted.
    s.store.set_folder(ids[0], FolderRole::Inbox);
    EXPECT_EQ(s.confirm_purge(), 0u);
    EXPECT_EQ(s.status, "Nothing was deleted; the selected messages changed before confirmation");
    EXPECT_FALSE(s.overlay.open());
    EXPECT_TRUE(s.store.contains(ids[0]));

    s.store.set_folder(ids[0], FolderRole::Trash);
    ASSERT_TRUE(s.request_purge());
    EXPECT_EQ(s.confirm_purge(), 1u);
    EXPECT_EQ(s.status, "Permanently deleted 1 trashed message");
    EXPECT_FALSE(s.store.contains(ids[0]));
}

TEST(MailStateBulk, SelectAllAndLeavingSelectionMode) {
    std::vector<MessageId> ids;
    MailState s = with({{.subject = "a", .date = 1}, {.subject = "b", .date = 2}}, ids);
    s.select_all_visible();
    EXPECT_TRUE(s.bulk_mode);
    EXPECT_EQ(s.bulk, (std::vector<MessageId>{ids[1], ids[0]}));
    EXPECT_EQ(s.shown_message(), nullptr) << "selection mode shows no message";
    s.set_bulk_mode(false);
    EXPECT_TRUE(s.bulk.empty());
}

TEST(MailStateCell, BorrowsConflictAsFailures) {
    SharedMailState cell = make_shared_state(MailState{});
    {
        auto r1 = cell->try_borrow();
        auto r2 = cell->try_borrow();
        ASSERT_TRUE(r1.ok());
        ASSERT_TRUE(r2.ok());
        EXPECT_FALSE(cell->try_borrow_mut().ok());
    }
    {
        auto w = cell->try_borrow_mut();
        ASSERT_TRUE(w.ok());
        (*w)->status = "changed";
        EXPECT_FALSE(cell->try_borrow().ok());
        EXPECT_FALSE(cell->try_borrow_mut().ok());
    }
    EXPECT_FALSE(cell->borrowed());
    EXPECT_EQ(cell->borrow()->status, "changed");
}

TEST(MailStateCell, OverlappingMutableBorrowEndsTheProgram) {
    SharedMailState cell = make_shared_state(MailState{});
    EXPECT_DEATH(
        {
            auto a = cell->borrow_mut();
            auto b = cell->borrow_mut();
        },
        "borrow conflict");
}

}  // namespace
}  // namespace mail::state
