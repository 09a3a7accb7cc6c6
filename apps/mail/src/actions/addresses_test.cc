#include "actions/addresses.h"

#include <gtest/gtest.h>

namespace {

using namespace mail::actions;

const std::string kId = "e71fa219-0541-574b-849d-e539a904eff8";

TEST(ResourceAddress, FormsAndParsesEveryKind) {
    struct Case {
        std::string text;
        ResourceAddress address;
    } cases[] = {
        {"mail.mailbox", MailboxAddress{}},
        {"mail.accounts", AccountsAddress{}},
        {"mail.account:ann@example.org", AccountAddress{"ann@example.org"}},
        {"mail.folder:inbox", FolderAddress{"inbox"}},
        {"mail.folder:0b6c2a9e-4f1d-4c55-9a7e-1f0e2d3c4b5a", FolderAddress{"0b6c2a9e-4f1d-4c55-9a7e-1f0e2d3c4b5a"}},
        {"mail.thread:inbox:abc@example.org", ThreadAddress{"inbox", "abc@example.org"}},
        {"mail.thread:sent:key:with:colons", ThreadAddress{"sent", "key:with:colons"}},
        {"mail.message:" + kId, MessageAddress{kId}},
        {"mail.attachment:" + kId + ":0", AttachmentAddress{kId, 0}},
        {"mail.attachment:" + kId + ":12", AttachmentAddress{kId, 12}},
        {"mail.draft:current", CurrentDraftAddress{}},
        {"mail.search-status", SearchStatusAddress{}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(format_address(c.address), c.text);
        auto parsed = parse_address(c.text);
        ASSERT_TRUE(parsed.has_value()) << c.text;
        EXPECT_TRUE(*parsed == c.address) << c.text;
    }
    EXPECT_EQ(message_address(kId), "mail.message:" + kId);
    EXPECT_EQ(attachment_address(kId, 3), "mail.attachment:" + kId + ":3");
    EXPECT_EQ(thread_address("inbox", "k"), "mail.thread:inbox:k");
    EXPECT_EQ(folder_address("inbox"), "mail.folder:inbox");
    EXPECT_EQ(account_address("a@b"), "mail.account:a@b");
}

TEST(ResourceAddress, OtherTextsAreNoAddress) {
    const std::string rejected[] = {
        "",
        "mail.message:",
        "mail.account:",
        "mail.folder:",
        "mail.thread:inbox",
        "mail.thread::key",
        "mail.thread:inbox:",
        "mail.attachment:" + kId,
        "mail.attachment:" + kId + ":",
        "mail.attachment:" + kId + ":-1",
        "mail.attachment:" + kId + ":+1",
        "mail.attachment:" + kId + ":01",
        "mail.attachment:" + kId + ": 1",
        "mail.attachment:" + kId + ":18446744073709551616",
        "mail.attachment::0",
        "mail.draft:other",
        "mail.mailbox ",
        "Mail.message:" + kId,
        "mail.messages:" + kId,
    };
    for (const auto& text : rejected) EXPECT_FALSE(parse_address(text).has_value()) << text;
}

TEST(RemoveLabelActionName, PositionInDecimal) {
    EXPECT_EQ(remove_label_action_name(2), "remove-label-2");
    EXPECT_EQ(remove_label_action_name(10), "remove-label-10");
    struct Case {
        std::string name;
        std::optional<std::uint64_t> position;
    } cases[] = {
        {"remove-label-0", 0},   {"remove-label-2", 2},   {"remove-label-10", 10},
        {"remove-label-", {}},   {"remove-label-02", {}}, {"remove-label--1", {}},
        {"remove-label-2x", {}}, {"add-label", {}},       {"remove-label-99999999999999999999", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(parse_remove_label_action_name(c.name), c.position) << c.name;
}

}  // namespace
