#include "doc/mailbox.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "doc/test_support.h"
#include "runtime/persist/document.h"

namespace mail::doc {
namespace {

using runtime::persist::Path;
using state::FolderRole;
using testing::change_ok;
using testing::TempDir;

constexpr std::string_view kId = "e71fa219-0541-574b-849d-e539a904eff8";

std::string digest(char c) { return std::string(64, c); }

compose::DraftAttachment attachment(char digit, std::string name, std::uint64_t size = 10) {
    return compose::DraftAttachment{compose::content_address(digest(digit)), std::move(name), "application/pdf",
                                    size};
}

const std::string kInvitation =
    "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nMETHOD:REQUEST\r\nBEGIN:VEVENT\r\nUID:1\r\nEND:VEVENT\r\n"
    "END:VCALENDAR\r\n";

struct PresentCase {
    const char* name;
    std::function<void(Tx&)> setup;
    bool present;
};

TEST(MailboxDocument, PresentFollowsMessagesEntryElseFlags) {
    const Path message{"messages", kId};
    const std::vector<PresentCase> cases = {
        {"nothing", [](Tx&) {}, false},
        {"only a flags entry", [](Tx& d) { d.get_or_create_map(Path{"flags", kId}); }, true},
        {"present", [&](Tx& d) { d.put_bool(message, "present", true); }, true},
        {"present and purged",
         [&](Tx& d) {
             d.put_bool(message, "present", true);
             d.put_bool(message, "purged", true);
         },
         false},
        {"messages entry without present wins over flags",
         [&](Tx& d) {
             d.get_or_create_map(message);
             d.get_or_create_map(Path{"flags", kId});
         },
         false},
        {"present stored as text", [&](Tx& d) { d.put_text(message, "present", "true"); }, false},
        {"flags entry that is not a map", [](Tx& d) { d.put_text(Path{"flags"}, kId, "x"); }, false},
        {"other id present", [](Tx& d) { d.put_bool(Path{"messages", "other"}, "present", true); }, false},
    };
    for (const auto& c : cases) {
        Doc d = Doc::open_in_memory();
        change_ok(d, c.setup);
        EXPECT_EQ(present(d, kId), c.present) << c.name;
    }
}

TEST(MailboxDocument, PurgeIsFinalAndEnsurePresentCreatesFlags) {
    Doc d = Doc::open_in_memory();
    change_ok(d, [](Tx& tx) { ensure_present(tx, kId); });
    EXPECT_TRUE(present(d, kId));
    EXPECT_TRUE(has_flags(d, kId));
    EXPECT_FALSE(is_purged(d, kId));

    change_ok(d, [](Tx& tx) { purge(tx, kId); });
    EXPECT_FALSE(present(d, kId));
    EXPECT_TRUE(is_purged(d, kId));

    const std::string before = dump_json(d);
    change_ok(d, [](Tx& tx) { ensure_present(tx, kId); });
    EXPECT_FALSE(present(d, kId));
    EXPECT_EQ(dump_json(d), before);
}

TEST(MailboxDocument, FlagsReadAsAbsentWhenMissingOrOfAnotherType) {
    Doc d = Doc::open_in_memory();
    EXPECT_EQ(get_read(d, kId), std::nullopt);
    EXPECT_EQ(get_folder(d, kId), std::nullopt);
    EXPECT_TRUE(get_labels(d, kId).empty());

    const Path flags{"flags", kId};
    change_ok(d, [&](Tx& tx) {
        tx.put_text(flags, "read", "true");
        tx.put_bool(flags, "starred", true);
        tx.put_text(flags, "folder", "Trash");  // the display name, not a role key
        tx.put_text(flags, "labels", "work");
    });
    EXPECT_EQ(get_read(d, kId), std::nullopt);
    EXPECT_EQ(get_starred(d, kId), true);
    EXPECT_EQ(get_folder(d, kId), std::nullopt);
    EXPECT_TRUE(get_labels(d, kId).empty());

    change_ok(d, [&](Tx& tx) {
        set_read(tx, kId, false);
        set_folder(tx, kId, FolderRole::Trash);
        add_label(tx, kId, "work");  // replaces the text with a list
    });
    EXPECT_EQ(get_read(d, kId), false);
    EXPECT_EQ(d.get_text(flags, "folder"), "trash");
    EXPECT_EQ(get_folder(d, kId), FolderRole::Trash);
    EXPECT_EQ(get_labels(d, kId), std::vector<std::string>{"work"});
}

TEST(MailboxDocument, LabelsKeepOrderWithoutRepeats) {
    struct Step {
        bool add;
        const char* label;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
        std::vector<std::string> labels;
    };
    const std::vector<Case> cases = {
        {"same label twice", {{true, "work"}, {true, "work"}}, {"work"}},
        {"order added", {{true, "b"}, {true, "a"}, {true, "c"}}, {"b", "a", "c"}},
        {"empty label ignored", {{true, ""}}, {}},
        {"exact comparison", {{true, "Work"}, {true, "work"}}, {"Work", "work"}},
        {"remove middle", {{true, "a"}, {true, "b"}, {true, "c"}, {false, "b"}}, {"a", "c"}},
        {"remove absent", {{true, "a"}, {false, "zzz"}}, {"a"}},
        {"remove then add goes last", {{true, "a"}, {true, "b"}, {false, "a"}, {true, "a"}}, {"b", "a"}},
    };
    for (const auto& c : cases) {
        Doc d = Doc::open_in_memory();
        change_ok(d, [&](Tx& tx) {
            ensure_present(tx, kId);
            for (const Step& s : c.steps) {
                if (s.add) {
                    add_label(tx, kId, s.label);
                } else {
                    remove_label(tx, kId, s.label);
                }
            }
        });
        EXPECT_EQ(get_labels(d, kId), c.labels) << c.name;
    }
}

TEST(MailboxDocument, RemovingALabelThatIsNotThereWritesNothing) {
    for (bool with_list : {false, true}) {
        Doc d = Doc::open_in_memory();
        change_ok(d, [&](Tx& tx) {
            ensure_present(tx, kId);
            if (with_list) add_label(tx, kId, "a");
        });
        const std::string before = dump_json(d);
        const auto changes = d.change_count();
        change_ok(d, [](Tx& tx) { remove_label(tx, kId, "absent"); });
        EXPECT_EQ(dump_json(d), before) << with_list;
        EXPECT_EQ(d.change_count(), changes) << with_list;
    }
}

TEST(MailboxDocument, UserFoldersListedByIdByteOrder) {
    Doc d = Doc::open_in_memory();
    change_ok(d, [](Tx& tx) {
        create_folder(tx, "b", "Beta");
        create_folder(tx, "a", "Alpha");
        create_folder(tx, "Z", "Zed");
        create_folder(tx, "\xc3\xa9", "Accent");
        create_folder(tx, "", "No id");
        create_folder(tx, "a", "Alpha again");  // overwrites
        rename_folder(tx, "b", "Beta 2");
        rename_folder(tx, "missing", "Ghost");  // not created
        delete_folder(tx, "Z");
        delete_folder(tx, "missing");
        tx.put_bool(Path{"folders"}, "flag", true);  // not a name
    });
    const std::vector<state::UserFolder> expected = {
        {"a", "Alpha again"}, {"b", "Beta 2"}, {"\xc3\xa9", "Accent"}};
    EXPECT_EQ(list_folders(d), expected);
}

TEST(MailboxDocument, DraftSlotRules) {
    compose::DraftData html;
    html.to = "a@example.com";
    html.subject = "Plan";
    html.body = "Hello";
    html.html_body = "<p>Hello</p>";
    html.calendar_ics = kInvitation;
    html.attachments = {attachment('a', "a.pdf")};

    compose::DraftData text = html;
    text.body = "Hello again";
    text.html_body.reset();
    text.calendar_ics.reset();
    text.attachments = {attachment('b', "b.pdf"), attachment('b', "dup.pdf"), attachment('c', "bad/name.pdf")};

    Doc d = Doc::open_in_memory();
    change_ok(d, [&](Tx& tx) { save_draft(tx, html); });
    EXPECT_EQ(load_draft(d), html);

    change_ok(d, [&](Tx& tx) { save_draft(tx, text); });
    const compose::DraftData loaded = load_draft(d);
    EXPECT_EQ(loaded.body, "Hello again");
    // A Text-mode save keeps the earlier HTML body; the invitation goes.
    EXPECT_EQ(loaded.html_body, "<p>Hello</p>");
    EXPECT_EQ(loaded.calendar_ics, std::nullopt);
    EXPECT_FALSE(d.has(Path{"draft"}, "calendar_ics"));
    // Stored normalised, as compact JSON.
    EXPECT_EQ(d.get_text(Path{"draft"}, "attachments"),
              R"([{"content_id":"mail-attachment:blake3:)" + digest('b') +
                  R"(","filename":"b.pdf","mime":"application/pdf","size":10}])");
    EXPECT_EQ(loaded.attachments, std::vector<compose::DraftAttachment>{attachment('b', "b.pdf")});

    change_ok(d, [](Tx& tx) {
        tx.put_text(Path{"draft"}, "other", "kept");
        discard_draft(tx);
    });
    EXPECT_EQ(load_draft(d), compose::DraftData{});
    EXPECT_EQ(d.keys(Path{"draft"}), std::vector<std::string>{"other"});
}

TEST(MailboxDocument, DraftReadBackIsBounded) {
    std::string seventeen = "[";
    for (int i = 0; i < 17; ++i) {
        const char hex = "0123456789abcdef"[i % 16];
        std::string id = std::string(63, 'a') + hex;
        if (i == 16) id = std::string(63, 'b') + '0';
        seventeen += std::string(i ? "," : "") + R"({"content_id":"mail-attachment:blake3:)" + id +
                     R"(","filename":"f.txt","mime":"text/plain","size":1})";
    }
    seventeen += "]";

    struct Case {
        const char* name;
        const char* key;
        std::string value;
        std::function<void(const compose::DraftData&)> check;
    };
    const std::vector<Case> cases = {
        {"invitation with LF line ends dropped", "calendar_ics",
         "BEGIN:VCALENDAR\nMETHOD:REQUEST\nBEGIN:VEVENT\nEND:VEVENT\nEND:VCALENDAR\n",
         [](const compose::DraftData& dr) { EXPECT_EQ(dr.calendar_ics, std::nullopt); }},
        {"valid invitation kept", "calendar_ics", kInvitation,
         [](const compose::DraftData& dr) { EXPECT_EQ(dr.calendar_ics, kInvitation); }},
        {"unreadable attachment text", "attachments", "[{\"content_id\":",
         [](const compose::DraftData& dr) { EXPECT_TRUE(dr.attachments.empty()); }},
        {"attachments not an array", "attachments", "{}",
         [](const compose::DraftData& dr) { EXPECT_TRUE(dr.attachments.empty()); }},
        {"seventeen entries keep sixteen", "attachments", seventeen,
         [](const compose::DraftData& dr) {
             ASSERT_EQ(dr.attachments.size(), 16u);
             EXPECT_EQ(dr.attachments[15].content_id,
                       compose::content_address(std::string(63, 'a') + 'f'));
         }},
    };
    for (const auto& c : cases) {
        Doc d = Doc::open_in_memory();
        change_ok(d, [&](Tx& tx) {
            tx.put_text(Path{"draft"}, "body", "x");
            tx.put_text(Path{"draft"}, c.key, c.value);
        });
        SCOPED_TRACE(c.name);
        c.check(load_draft(d));
    }

    // Texts of another type read as empty.
    Doc d = Doc::open_in_memory();
    change_ok(d, [](Tx& tx) { tx.put_bool(Path{"draft"}, "to", true); });
    EXPECT_EQ(load_draft(d).to, "");
}

TEST(MailboxDocument, DumpWritesTheWholeTreeInByteOrder) {
    Doc d = Doc::open_in_memory();
    change_ok(d, [](Tx& tx) {
        tx.put_text(Path{"folders"}, "b", "Beta \"q\"");
        tx.put_text(Path{"folders"}, "B", "Upper");
        tx.put_bool(Path{"messages", "m"}, "present", true);
        tx.list_append_text(Path{"flags", "m", "labels"}, "x");
        tx.list_append_text(Path{"flags", "m", "labels"}, "a");
        tx.put_text(Path{"draft"}, "bad", std::string("\xff", 1));
    });
    EXPECT_EQ(dump_json(d),
              R"({"draft":{"bad":"�"},"flags":{"m":{"labels":["x","a"]}},)"
              R"("folders":{"B":"Upper","b":"Beta \"q\""},"messages":{"m":{"present":true}}})");
    EXPECT_EQ(dump_json(Doc::open_in_memory()), "{}");
}

TEST(MailboxDocument, SurvivesReopen) {
    TempDir dir;
    std::string before;
    {
        auto opened = open_mailbox(dir.path());
        ASSERT_TRUE(opened.ok()) << opened.error();
        Doc d = std::move(opened).value();
        compose::DraftData draft;
        draft.subject = "Kept";
        draft.html_body = "<b>x</b>";
        change_ok(d, [&](Tx& tx) {
            ensure_present(tx, kId);
            set_read(tx, kId, true);
            set_folder(tx, kId, FolderRole::Archive);
            add_label(tx, kId, "work");
            create_folder(tx, "f1", "Projects");
            purge(tx, "gone");
            save_draft(tx, draft);
        });
        before = dump_json(d);
    }
    EXPECT_TRUE(std::filesystem::exists(dir.path() / kMailboxFileName));
    auto reopened = open_mailbox(dir.path());
    ASSERT_TRUE(reopened.ok()) << reopened.error();
    EXPECT_EQ(dump_json(*reopened), before);
    EXPECT_EQ(get_folder(*reopened, kId), FolderRole::Archive);
    EXPECT_TRUE(is_purged(*reopened, "gone"));
    EXPECT_EQ(load_draft(*reopened).html_body, "<b>x</b>");
}

}  // namespace
}  // namespace mail::doc
