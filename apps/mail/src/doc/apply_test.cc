#include "doc/apply.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "doc/test_support.h"

namespace mail::doc {
namespace {

using actions::MailAction;
using runtime::persist::Path;
using state::FolderRole;
using testing::change_ok;
using testing::TempDir;

const std::string kInbox1 = "00000000-0000-4000-8000-000000000001";
const std::string kInbox2 = "00000000-0000-4000-8000-000000000002";
const std::string kTrash1 = "00000000-0000-4000-8000-000000000003";
const std::string kTrash2 = "00000000-0000-4000-8000-000000000004";
const std::string kUnknown = "00000000-0000-4000-8000-00000000000f";

// Two messages in the Inbox, two in Trash, one purged earlier.
Doc mailbox() {
    Doc d = Doc::open_in_memory();
    auto status = d.change([](Tx& tx) {
        for (const std::string& id : {kInbox1, kInbox2}) {
            ensure_present(tx, id);
            set_folder(tx, id, FolderRole::Inbox);
            set_read(tx, id, false);
        }
        for (const std::string& id : {kTrash1, kTrash2}) {
            ensure_present(tx, id);
            set_folder(tx, id, FolderRole::Trash);
        }
        ensure_present(tx, "purged-before");
        set_folder(tx, "purged-before", FolderRole::Trash);
        purge(tx, "purged-before");
    });
    EXPECT_TRUE(status.ok()) << status.error();
    return d;
}

TEST(CleanIds, TrimsDropsAndBounds) {
    const std::string long128(128, 'x');
    const std::string accented128 = [] {
        std::string s;
        for (int i = 0; i < 128; ++i) s += "\xc3\xa9";  // 128 characters, 256 bytes
        return s;
    }();
    struct Case {
        const char* name;
        std::vector<std::string> ids;
        std::vector<std::string> cleaned;
    };
    const std::vector<Case> cases = {
        {"trimmed", {"  a\t", "\xc2\xa0" "b\xe3\x80\x80"}, {"a", "b"}},
        {"empty and blank dropped", {"", "   ", "c"}, {"c"}},
        {"repeat after trimming dropped", {"a", " a ", "b", "a"}, {"a", "b"}},
        {"128 characters kept, 129 dropped", {long128, long128 + "y"}, {long128}},
        {"characters, not bytes", {accented128}, {accented128}},
        {"inner spaces kept", {"a b"}, {"a b"}},
    };
    for (const auto& c : cases) EXPECT_EQ(clean_ids(c.ids), c.cleaned) << c.name;

    std::vector<std::string> many;
    for (int i = 0; i < 300; ++i) many.push_back(i == 0 ? "" : std::to_string(i));
    const auto cleaned = clean_ids(many);
    ASSERT_EQ(cleaned.size(), kMaxActionIds);
    EXPECT_EQ(cleaned.front(), "1");
    EXPECT_EQ(cleaned.back(), "256");
}

struct ActionCase {
    const char* name;
    MailAction action;
    std::string error;                             // empty: the action succeeds
    std::function<void(const Doc&)> check;         // nothing: the document is unchanged
};

TEST(ApplyAction, EachVariant) {
    const std::string id129(129, 'f');
    const std::string id128(128, 'f');
    const std::string label200(200, 'L');
    const std::vector<ActionCase> cases = {
        {"SetRead on present ids, skipping unknown and purged ones",
         actions::SetRead{{kInbox1, " " + kInbox2 + " ", kUnknown, "purged-before"}, true}, "",
         [](const Doc& d) {
             EXPECT_EQ(get_read(d, kInbox1), true);
             EXPECT_EQ(get_read(d, kInbox2), true);
             EXPECT_FALSE(has_flags(d, kUnknown));
             EXPECT_EQ(get_read(d, "purged-before"), std::nullopt);
         }},
        {"SetStarred false is written", actions::SetStarred{{kTrash1}, false}, "",
         [](const Doc& d) { EXPECT_EQ(get_starred(d, kTrash1), false); }},
        {"Move to a role key", actions::Move{{kInbox1, kTrash1}, "archive"}, "",
         [](const Doc& d) {
             EXPECT_EQ(get_folder(d, kInbox1), FolderRole::Archive);
             EXPECT_EQ(get_folder(d, kTrash1), FolderRole::Archive);
         }},
        {"Move to a display name is nothing", actions::Move{{kInbox1}, "Trash"}, "", nullptr},
        {"Move to an unknown folder is nothing", actions::Move{{kInbox1}, "f1"}, "", nullptr},
        {"Purge messages in Trash", actions::Purge{{kTrash1, kTrash2}}, "",
         [](const Doc& d) {
             EXPECT_TRUE(is_purged(d, kTrash1));
             EXPECT_TRUE(is_purged(d, kTrash2));
             EXPECT_FALSE(present(d, kTrash1));
         }},
        {"Purge with one Inbox message among Trash ones", actions::Purge{{kTrash1, kInbox1, kTrash2}},
         std::string(kPurgeNeedsTrash), nullptr},
        {"Purge of an unknown id", actions::Purge{{kTrash1, kUnknown}}, std::string(kPurgeNeedsTrash), nullptr},
        {"Purge of an already purged id", actions::Purge{{"purged-before"}}, std::string(kPurgeNeedsTrash),
         nullptr},
        {"Purge of an empty cleaned list", actions::Purge{{" ", "", id129}}, std::string(kPurgeNeedsTrash),
         nullptr},
        {"AddLabel normalised", actions::AddLabel{{kInbox1}, "  work\x01 "}, "",
         [](const Doc& d) { EXPECT_EQ(get_labels(d, kInbox1), std::vector<std::string>{"work"}); }},
        {"AddLabel cut to 128 characters", actions::AddLabel{{kInbox1}, label200}, "",
         [](const Doc& d) { EXPECT_EQ(get_labels(d, kInbox1), std::vector<std::string>{std::string(128, 'L')}); }},
        {"AddLabel of only control characters is nothing", actions::AddLabel{{kInbox1}, "\x01\x02\t"}, "",
         nullptr},
        {"RemoveLabel of a label not present is nothing", actions::RemoveLabel{{kInbox1, kTrash1}, "work"}, "",
         nullptr},
        {"CreateFolder", actions::CreateFolder{"f1", "  Projects\n"}, "",
         [](const Doc& d) { EXPECT_EQ(list_folders(d), (std::vector<state::UserFolder>{{"f1", "Projects"}})); }},
        {"CreateFolder with a 128-character id", actions::CreateFolder{id128, "Long"}, "",
         [&](const Doc& d) { EXPECT_EQ(list_folders(d).size(), 1u); }},
        {"CreateFolder with a 129-character id is ignored", actions::CreateFolder{id129, "Long"}, "", nullptr},
        {"CreateFolder with a blank name is ignored", actions::CreateFolder{"f1", " \x7f "}, "", nullptr},
        {"RenameFolder of a missing folder is nothing", actions::RenameFolder{"f1", "Name"}, "", nullptr},
        {"DeleteFolder of a missing folder is nothing", actions::DeleteFolder{"f1"}, "", nullptr},
        {"DiscardDraft without a draft is nothing", actions::DiscardDraft{}, "", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Doc d = mailbox();
        const std::string before = dump_json(d);
        const auto changes = d.change_count();
        const lib::Status status = apply_action(d, c.action);
        if (c.error.empty()) {
            EXPECT_TRUE(status.ok()) << status.error();
        } else {
            EXPECT_EQ(status.error(), c.error);
        }
        if (c.check) {
            c.check(d);
            EXPECT_EQ(d.change_count(), changes + 1) << "one action is one change";
        } else {
            EXPECT_EQ(dump_json(d), before);
            EXPECT_EQ(d.change_count(), changes);
        }
    }
}

TEST(ApplyAction, FoldersWithLongIdsAreLeftAlone) {
    const std::string id129(129, 'f');
    Doc d = Doc::open_in_memory();
    change_ok(d, [&](Tx& tx) { create_folder(tx, id129, "Made elsewhere"); });
    const std::string before = dump_json(d);
    for (const MailAction& action : std::vector<MailAction>{actions::RenameFolder{id129, "New"},
                                                            actions::DeleteFolder{id129}}) {
        ASSERT_TRUE(apply_action(d, action).ok());
        EXPECT_EQ(dump_json(d), before) << actions::variant_name(action);
    }
    ASSERT_TRUE(apply_action(d, actions::RenameFolder{"f", "x"}).ok());
    ASSERT_TRUE(apply_action(d, actions::CreateFolder{"f", "Made"}).ok());
    ASSERT_TRUE(apply_action(d, actions::RenameFolder{"f", "Renamed"}).ok());
    EXPECT_EQ(list_folders(d), (std::vector<state::UserFolder>{{"f", "Renamed"}, {id129, "Made elsewhere"}}));
    ASSERT_TRUE(apply_action(d, actions::DeleteFolder{"f"}).ok());
    EXPECT_EQ(list_folders(d).size(), 1u);
}

TEST(ApplyAction, LabelsAddedTwiceAndRemoved) {
    Doc d = mailbox();
    ASSERT_TRUE(apply_action(d, actions::AddLabel{{kInbox1}, "work"}).ok());
    ASSERT_TRUE(apply_action(d, actions::AddLabel{{kInbox1, kInbox1}, " work "}).ok());
    EXPECT_EQ(get_labels(d, kInbox1), std::vector<std::string>{"work"});
    ASSERT_TRUE(apply_action(d, actions::RemoveLabel{{kInbox1}, "work\x02"}).ok());
    EXPECT_TRUE(get_labels(d, kInbox1).empty());
}

TEST(ApplyAction, SaveDraftNormalisesAndKeepsEarlierHtml) {
    Doc d = Doc::open_in_memory();
    compose::DraftData html;
    html.to = "  a@example.com\n";
    html.subject = std::string(1200, 's');
    html.body = " Hello \x01";
    html.html_body = "<p>Hello</p>";
    ASSERT_TRUE(apply_action(d, actions::SaveDraft{html}).ok());
    compose::DraftData stored = load_draft(d);
    EXPECT_EQ(stored.to, "a@example.com");
    EXPECT_EQ(stored.subject, std::string(998, 's'));
    EXPECT_EQ(stored.body, "Hello");

    compose::DraftData text;
    text.body = "Plain now";
    ASSERT_TRUE(apply_action(d, actions::SaveDraft{text}).ok());
    stored = load_draft(d);
    EXPECT_EQ(stored.body, "Plain now");
    EXPECT_EQ(stored.html_body, "<p>Hello</p>");

    ASSERT_TRUE(apply_action(d, actions::DiscardDraft{}).ok());
    EXPECT_EQ(load_draft(d), compose::DraftData{});
}

TEST(ApplyAction, AtMost256IdsAreActedOn) {
    Doc d = Doc::open_in_memory();
    std::vector<std::string> ids;
    for (int i = 0; i < 300; ++i) ids.push_back("m" + std::to_string(i));
    change_ok(d, [&](Tx& tx) {
        for (const auto& id : ids) ensure_present(tx, id);
    });
    ASSERT_TRUE(apply_action(d, actions::SetStarred{ids, true}).ok());
    EXPECT_EQ(get_starred(d, "m255"), true);
    EXPECT_EQ(get_starred(d, "m256"), std::nullopt);
}

TEST(ApplyAction, FailingChangeOfAFileDocumentLeavesTheFileAsItWas) {
    TempDir dir;
    std::string before;
    {
        auto opened = open_mailbox(dir.path());
        ASSERT_TRUE(opened.ok()) << opened.error();
        Doc d = std::move(opened).value();
        change_ok(d, [](Tx& tx) {
            ensure_present(tx, kTrash1);
            set_folder(tx, kTrash1, FolderRole::Trash);
            ensure_present(tx, kInbox1);
        });
        before = dump_json(d);
        EXPECT_EQ(apply_action(d, actions::Purge{{kTrash1, kInbox1}}).error(), kPurgeNeedsTrash);
        EXPECT_EQ(dump_json(d), before);
        ASSERT_TRUE(apply_action(d, actions::SetRead{{kInbox1, kTrash1}, true}).ok());
    }
    auto reopened = open_mailbox(dir.path());
    ASSERT_TRUE(reopened.ok()) << reopened.error();
    EXPECT_FALSE(is_purged(*reopened, kTrash1));
    EXPECT_EQ(get_read(*reopened, kInbox1), true);
    EXPECT_EQ(get_read(*reopened, kTrash1), true);
}

}  // namespace
}  // namespace mail::doc
