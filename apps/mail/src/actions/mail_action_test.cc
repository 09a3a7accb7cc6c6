#include "actions/mail_action.h"

#include <gtest/gtest.h>

#include <string>

#include "state/text_rules.h"

namespace {

using namespace mail::actions;

const std::string kId = "e71fa219-0541-574b-849d-e539a904eff8";

const char* kDraftJson =
    R"({"to":"a@example.org","cc":"","bcc":"","subject":"Hi","body":"x","html_body":null,"calendar_ics":null,)"
    R"("attachments":[{"content_id":"mail-attachment:blake3:0000000000000000000000000000000000000000000000000000000000000001",)"
    R"("filename":"r.pdf","mime":"application/pdf","size":12}]})";

mail::compose::DraftData sample_draft() {
    mail::compose::DraftData d;
    d.to = "a@example.org";
    d.subject = "Hi";
    d.body = "x";
    d.attachments = {{"mail-attachment:blake3:" + std::string(63, '0') + "1", "r.pdf", "application/pdf", 12}};
    return d;
}

// Every variant, its exact compact JSON, and back.
TEST(MailActionJson, EveryVariantHasItsExactForm) {
    struct Case {
        MailAction action;
        std::string json;
    } cases[] = {
        {SetRead{{"a", "b"}, true}, R"({"SetRead":{"ids":["a","b"],"read":true}})"},
        {SetRead{{kId}, false}, R"({"SetRead":{"ids":[")" + kId + R"("],"read":false}})"},
        {SetStarred{{}, true}, R"({"SetStarred":{"ids":[],"starred":true}})"},
        {Move{{"a"}, "trash"}, R"({"Move":{"ids":["a"],"folder":"trash"}})"},
        {Purge{{"a"}}, R"({"Purge":{"ids":["a"]}})"},
        {AddLabel{{"a"}, "Work \"Q3\""}, R"({"AddLabel":{"ids":["a"],"label":"Work \"Q3\""}})"},
        {RemoveLabel{{"a"}, "ü"}, "{\"RemoveLabel\":{\"ids\":[\"a\"],\"label\":\"ü\"}}"},
        {CreateFolder{"f1", "Receipts"}, R"({"CreateFolder":{"id":"f1","name":"Receipts"}})"},
        {RenameFolder{"f1", "Bills"}, R"({"RenameFolder":{"id":"f1","name":"Bills"}})"},
        {DeleteFolder{"f1"}, R"({"DeleteFolder":{"id":"f1"}})"},
        {SaveDraft{sample_draft()}, std::string(R"({"SaveDraft":)") + kDraftJson + "}"},
        {DiscardDraft{}, R"("DiscardDraft")"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(action_json(c.action), c.json);
        auto back = decode_mail_action(c.json);
        ASSERT_TRUE(back.ok()) << c.json << ": " << back.error();
        EXPECT_TRUE(*back == c.action) << c.json;
    }
    EXPECT_EQ(encode_mail_action(DiscardDraft{}), (EncodedMail{"mail.action", R"("DiscardDraft")"}));
}

TEST(MailOperationJson, EveryVariantHasItsExactForm) {
    struct Case {
        MailOperation operation;
        std::string json;
    } cases[] = {
        {ComposeNew{}, R"("ComposeNew")"},
        {RefreshCurrentFolder{}, R"("RefreshCurrentFolder")"},
        {RevealFolder{"inbox"}, R"({"RevealFolder":{"folder":"inbox"}})"},
        {RevealAccount{"ann@example.org"}, R"({"RevealAccount":{"id":"ann@example.org"}})"},
        {RevealMessage{kId}, R"({"RevealMessage":{"id":")" + kId + R"("}})"},
        {InspectMessage{"m"}, R"({"InspectMessage":{"id":"m"}})"},
        {Reply{"m"}, R"({"Reply":{"id":"m"}})"},
        {ReplyAll{"m"}, R"({"ReplyAll":{"id":"m"}})"},
        {Forward{"m"}, R"({"Forward":{"id":"m"}})"},
        {RevealDraft{}, R"("RevealDraft")"},
        {SaveAttachment{"m", 0}, R"({"SaveAttachment":{"message_id":"m","index":0}})"},
        {SaveAttachment{"m", UINT64_MAX}, R"({"SaveAttachment":{"message_id":"m","index":18446744073709551615}})"},
        {PrepareCalendarInvitation{"a@example.org", "S", "B", "BEGIN:VCALENDAR\r\n"},
         R"({"PrepareCalendarInvitation":{"to":"a@example.org","subject":"S","body":"B","calendar_ics":"BEGIN:VCALENDAR\r\n"}})"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(operation_json(c.operation), c.json);
        auto back = decode_operation_payload(c.json);
        ASSERT_TRUE(back.ok()) << c.json << ": " << back.error();
        EXPECT_TRUE(*back == c.operation) << c.json;
    }
}

TEST(MailActionJson, RejectsEveryOtherFormWithTheReadersMessage) {
    struct Case {
        std::string json;
        std::string error;
    } cases[] = {
        {R"({"DiscardDraft":null})", "invalid type: object, expected unit variant `DiscardDraft`"},
        {R"({"DiscardDraft":{}})", "invalid type: object, expected unit variant `DiscardDraft`"},
        {R"("SetRead")", "invalid type: unit variant, expected struct variant `SetRead`"},
        {R"({"Foo":{}})", "unknown variant `Foo`"},
        {R"("discardDraft")", "unknown variant `discardDraft`"},
        {R"({"SetRead":{"read":true}})", "missing field `ids`"},
        {R"({"SetRead":{"ids":["a"]}})", "missing field `read`"},
        {R"({"SetRead":{"ids":"a","read":true}})", "invalid type: string, expected an array at `ids`"},
        {R"({"SetRead":{"ids":["a",7],"read":true}})", "invalid type: number, expected a string at `ids[1]`"},
        {R"({"SetRead":{"ids":["a"],"read":"true"}})", "invalid type: string, expected a boolean at `read`"},
        {R"({"SetRead":{"ids":["a"],"read":1}})", "invalid type: number, expected a boolean at `read`"},
        {R"({"SetRead":{"ids":[],"ids":[],"read":true}})", "duplicate key \"ids\""},
        {R"({"Move":["a","trash"]})", "invalid type: array, expected an object of fields for `Move`"},
        {R"({"Move":{"ids":["a"]},"Purge":{"ids":["a"]}})",
         "invalid length 2, expected an object with exactly one member naming the variant"},
        {R"({})", "invalid length 0, expected an object with exactly one member naming the variant"},
        {R"(7)", "invalid type: number, expected a variant name or an object with one member"},
        {R"({"SaveDraft":{"to":"","cc":"","bcc":"","subject":"","body":""}})", "missing field `attachments`"},
        {R"({"SaveDraft":"x"})", "invalid type: string, expected an object"},
        {R"({"DeleteFolder":{"id":null}})", "invalid type: null, expected a string at `id`"},
        {"{\"Move\":{\"ids\":[\"\xff\"],\"folder\":\"trash\"}}", "ill-formed UTF-8"},
        {R"({"Move":{"ids":["a"],"folder":"trash"}} x)", "syntax error"},
        {std::string(20, '[') + std::string(20, ']'), "JSON nested too deeply"},
        {R"({"SaveDraft":{"to":"","cc":"","bcc":"","subject":"","body":"","attachments":[],"x":)" +
             std::string(15, '[') + std::string(15, ']') + "}}",
         "JSON nested too deeply"},
    };
    for (const auto& c : cases) {
        auto r = decode_mail_action(c.json);
        ASSERT_FALSE(r.ok()) << c.json;
        EXPECT_NE(r.error().find(c.error), std::string::npos) << c.json << " gave: " << r.error();
        EXPECT_TRUE(mail::state::is_valid_utf8(r.error())) << c.json;
    }
}

TEST(MailActionJson, IdListsAreBounded) {
    auto ids_payload = [](std::size_t n) {
        std::string s = R"({"Purge":{"ids":[)";
        for (std::size_t i = 0; i < n; ++i) s += i ? ",\"x\"" : "\"x\"";
        return s + "]}}";
    };
    auto at_limit = decode_mail_action(ids_payload(10'000));
    ASSERT_TRUE(at_limit.ok()) << at_limit.error();
    EXPECT_EQ(std::get<Purge>(*at_limit).ids.size(), 10'000u);
    auto over = decode_mail_action(ids_payload(10'001));
    ASSERT_FALSE(over.ok());
    EXPECT_EQ(over.error(), "invalid length 10001, expected at most 10000 ids at `ids`");
}

TEST(MailActionJson, UnknownFieldsInsideAVariantAreSkipped) {
    auto r = decode_mail_action(R"({"Move":{"folder":"archive","extra":[1],"ids":["b","a"]}})");
    ASSERT_TRUE(r.ok()) << r.error();
    EXPECT_EQ(std::get<Move>(*r), (Move{{"b", "a"}, "archive"}));
}

TEST(MailActionJson, LongUnknownNamesAreCutInTheMessage) {
    auto r = decode_mail_action("\"" + std::string(62, 'x') + "\xC3\xA9\xC3\xA9" + std::string(5000, 'y') + "\"");
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error(), "unknown variant `" + std::string(62, 'x') + "\xC3\xA9…`");
}

TEST(DecodeMailOperation, KindDecidesWhetherItIsAnOperation) {
    struct Case {
        std::string kind;
        std::string payload;
        enum { NotOperation, Error, Operation } expect;
    } cases[] = {
        {"mail.operation", R"("ComposeNew")", Case::Operation},
        {"mail.operation ", R"("ComposeNew")", Case::NotOperation},
        {"mail.operations", R"("ComposeNew")", Case::NotOperation},
        {"Mail.operation", R"("ComposeNew")", Case::NotOperation},
        {"mail.action", R"("DiscardDraft")", Case::NotOperation},
        {"mail.action", "not json at all", Case::NotOperation},
        {"mail.operation", R"("DiscardDraft")", Case::Error},
        {"mail.operation", R"({"ComposeNew":{}})", Case::Error},
        {"mail.operation", R"({"SaveAttachment":{"message_id":"m","index":"0"}})", Case::Error},
        {"mail.operation", R"({"SaveAttachment":{"message_id":"m","index":-1}})", Case::Error},
        {"mail.operation", R"({"SaveAttachment":{"message_id":"m","index":1.5}})", Case::Error},
        {"mail.operation", R"({"SaveAttachment":{"message_id":"m","index":18446744073709551616}})", Case::Error},
        {"mail.operation", R"({"PrepareCalendarInvitation":{"to":"a","subject":"s","body":"b"}})", Case::Error},
    };
    for (const auto& c : cases) {
        auto r = decode_mail_operation(c.kind, c.payload);
        switch (c.expect) {
            case Case::NotOperation:
                ASSERT_TRUE(r.ok()) << c.kind << " " << c.payload;
                EXPECT_FALSE(r->has_value()) << c.kind;
                break;
            case Case::Error:
                EXPECT_FALSE(r.ok()) << c.payload;
                break;
            case Case::Operation:
                ASSERT_TRUE(r.ok()) << r.error();
                EXPECT_TRUE(r->has_value());
                break;
        }
    }
    auto index = decode_mail_operation("mail.operation", R"({"SaveAttachment":{"message_id":"m","index":"0"}})");
    EXPECT_EQ(index.error(), "invalid type: string, expected an unsigned integer at `index`");
    auto missing = decode_mail_operation("mail.operation", R"({"PrepareCalendarInvitation":{"to":"a","subject":"s","body":"b"}})");
    EXPECT_EQ(missing.error(), "missing field `calendar_ics`");
}

TEST(InvitationHandoff, EncodesTheFourTextsOrRefuses) {
    auto ok = encode_invitation_handoff("a@example.org", "Plan", "Come", "BEGIN:VCALENDAR\r\n");
    ASSERT_TRUE(std::holds_alternative<EncodedMail>(ok));
    const auto& encoded = std::get<EncodedMail>(ok);
    EXPECT_EQ(encoded.kind, "mail.operation");
    auto back = decode_mail_operation(encoded.kind, encoded.payload);
    ASSERT_TRUE(back.ok() && back->has_value());
    EXPECT_EQ(std::get<PrepareCalendarInvitation>(**back),
              (PrepareCalendarInvitation{"a@example.org", "Plan", "Come", "BEGIN:VCALENDAR\r\n"}));

    for (int bad = 0; bad < 4; ++bad) {
        std::string texts[4] = {"a", "b", "c", "d"};
        texts[bad] = "x\xC3";  // cut two-byte sequence
        auto r = encode_invitation_handoff(texts[0], texts[1], texts[2], texts[3]);
        ASSERT_TRUE(std::holds_alternative<HandoffError>(r)) << bad;
        EXPECT_EQ(std::get<HandoffError>(r).code, "zelk.invalid_arguments");
        EXPECT_EQ(std::get<HandoffError>(r).message, "Mail invitation handoff could not be encoded");
    }
}

}  // namespace
