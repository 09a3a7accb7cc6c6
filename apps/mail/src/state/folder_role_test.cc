#include <gtest/gtest.h>

#include "state/mail.h"

namespace mail::state {
namespace {

TEST(FolderRole, Table) {
    const struct {
        FolderRole role;
        int index;
        const char* key;
        const char* display;
        const char* mailbox;
        const char* criterion;
    } rows[] = {
        {FolderRole::Inbox, 0, "inbox", "Inbox", "INBOX", "ALL"},
        {FolderRole::Starred, 1, "starred", "Starred", "INBOX", "FLAGGED"},
        {FolderRole::Sent, 2, "sent", "Sent", "Sent", "ALL"},
        {FolderRole::Drafts, 3, "drafts", "Drafts", "Drafts", "ALL"},
        {FolderRole::Archive, 4, "archive", "Archive", "Archive", "ALL"},
        {FolderRole::Trash, 5, "trash", "Trash", "Trash", "ALL"},
        {FolderRole::Junk, 6, "junk", "Junk", "Junk", "ALL"},
    };
    ASSERT_EQ(std::size(rows), kFolderRoles.size());
    for (const auto& r : rows) {
        EXPECT_EQ(static_cast<int>(r.role), r.index);
        EXPECT_EQ(kFolderRoles[static_cast<std::size_t>(r.index)], r.role);
        EXPECT_EQ(folder_role_key(r.role), r.key);
        EXPECT_EQ(folder_role_display_name(r.role), r.display);
        EXPECT_EQ(folder_role_imap_mailbox(r.role), r.mailbox);
        EXPECT_EQ(folder_role_search_criterion(r.role), r.criterion);
        EXPECT_EQ(parse_folder_role_key(r.key), r.role);
        EXPECT_EQ(folder_role_from_index(static_cast<std::uint64_t>(r.index)), r.role);
    }
}

TEST(FolderRole, KeyParsingIsExact) {
    for (const char* text : {"Inbox", "INBOX", " inbox", "inbox ", "", "star", "starredx", "user"}) {
        EXPECT_FALSE(parse_folder_role_key(text).has_value()) << '"' << text << '"';
    }
    EXPECT_FALSE(folder_role_from_index(7).has_value());
    EXPECT_FALSE(folder_role_from_index(256).has_value());
}

TEST(UserFolder, Ids) {
    const std::string made = new_user_folder_id();
    EXPECT_TRUE(MessageId::parse(made).has_value()) << made;
    EXPECT_EQ(made[14], '4');
    EXPECT_NE(made, new_user_folder_id());
    const struct {
        std::string id;
        bool ok;
    } cases[] = {
        {made, true},
        {"work", true},
        {std::string(128, 'x'), true},
        {std::string(129, 'x'), false},
        {"", false},
        {"\xff", false},
    };
    std::string wide;
    for (int i = 0; i < 128; ++i) wide += "\xC3\xA9";  // 128 characters, 256 bytes
    EXPECT_TRUE(is_acceptable_user_folder_id(wide));
    for (const auto& c : cases) EXPECT_EQ(is_acceptable_user_folder_id(c.id), c.ok) << c.id;
}

}  // namespace
}  // namespace mail::state
