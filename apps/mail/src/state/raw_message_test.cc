#include "state/raw_message.h"

#include <gtest/gtest.h>

namespace mail::state {
namespace {

const char* kFull =
    "From: \"Ann Example\" <ann@example.com>\r\n"
    "To: Bob <bob@example.com>, carl@example.com\r\n"
    "Cc: Team: dee@example.com, eve@example.com;\r\n"
    "Subject: =?utf-8?q?Quarterly_r=C3=A9port?=\r\n"
    "Message-ID: <abc>\r\n"
    "References: <root@x> <mid@x>\r\n"
    "In-Reply-To: <mid@x>\r\n"
    "Date: Thu, 01 Jan 1970 01:00:59 +0000\r\n"
    "Content-Type: multipart/mixed; boundary=m\r\n\r\n"
    "--m\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nNumbers attached.\r\n"
    "--m\r\nContent-Type: application/octet-stream\r\nContent-Transfer-Encoding: base64\r\n"
    "Content-Disposition: attachment; filename=\"../folder/Report.PDF\"\r\n\r\nJVBERi0=\r\n"
    "--m\r\nContent-Type: application/octet-stream\r\nContent-Disposition: attachment\r\n\r\n\r\n"
    "--m--\r\n";

TEST(RawMessage, FieldsOfAFullMessage) {
    const auto parsed = parse_raw_message(kFull);
    ASSERT_TRUE(parsed.ok()) << parsed.error();
    const MailMessage& m = parsed->message;
    EXPECT_EQ(m.from, (MailAddress{"Ann Example", "ann@example.com"}));
    EXPECT_EQ(m.to, (std::vector<MailAddress>{{"Bob", "bob@example.com"}, {"", "carl@example.com"}}));
    EXPECT_EQ(m.cc, (std::vector<MailAddress>{{"", "dee@example.com"}, {"", "eve@example.com"}}));
    EXPECT_EQ(m.subject, "Quarterly r\xC3\xA9port");
    EXPECT_EQ(m.body, "Numbers attached.");
    EXPECT_EQ(m.message_id, "abc");
    EXPECT_EQ(m.parent, "root@x");
    EXPECT_FALSE(m.html_body.has_value());
    EXPECT_EQ(m.id.text(), "e71fa219-0541-574b-849d-e539a904eff8");
    EXPECT_TRUE(m.labels.empty());
    EXPECT_EQ(parsed->date_header_seconds, 3659);
    EXPECT_EQ(m.date, 60);

    ASSERT_EQ(m.attachments.size(), 2u);
    const MessageAttachment& pdf = m.attachments[0];
    EXPECT_EQ(pdf.filename, "Report.PDF");
    EXPECT_EQ(pdf.mime, "application/pdf");
    EXPECT_EQ(pdf.size, 5u);
    EXPECT_EQ(std::string(pdf.content.begin(), pdf.content.end()), "%PDF-");
    EXPECT_TRUE(pdf.downloaded);
    EXPECT_FALSE(pdf.content_id.has_value());
    const MessageAttachment& unnamed = m.attachments[1];
    EXPECT_EQ(unnamed.filename, "attachment.bin");
    EXPECT_EQ(unnamed.mime, "application/octet-stream");
    EXPECT_EQ(unnamed.size, 0u);
    EXPECT_FALSE(unnamed.downloaded);
}

TEST(RawMessage, HeaderRules) {
    const struct {
        const char* what;
        std::string headers;
        MailAddress from;
        std::string subject;
        std::optional<std::string> parent;
    } cases[] = {
        {"no From", "Subject: s\n", {"", "unknown@invalid"}, "s", std::nullopt},
        {"From without address", "From: Just A Name\n", {"", "unknown@invalid"}, "(no subject)", std::nullopt},
        {"first From address", "From: a@x, b@x\n", {"", "a@x"}, "(no subject)", std::nullopt},
        {"blank subject", "From: a@x\nSubject:   \n", {"", "a@x"}, "(no subject)", std::nullopt},
        {"In-Reply-To when no References", "From: a@x\nIn-Reply-To: <p1@x> <p2@x>\n", {"", "a@x"},
         "(no subject)", "p2@x"},
        {"empty References", "From: a@x\nReferences:\nIn-Reply-To: <p@x>\n", {"", "a@x"}, "(no subject)", "p@x"},
        {"References first", "From: a@x\nReferences: <r1@x> <r2@x>\nIn-Reply-To: <p@x>\n", {"", "a@x"},
         "(no subject)", "r1@x"},
    };
    for (const auto& c : cases) {
        const auto parsed = parse_raw_message(c.headers + "\nbody\n");
        ASSERT_TRUE(parsed.ok()) << c.what << ": " << parsed.error();
        EXPECT_EQ(parsed->message.from, c.from) << c.what;
        EXPECT_EQ(parsed->message.subject, c.subject) << c.what;
        EXPECT_EQ(parsed->message.parent, c.parent) << c.what;
    }
}

TEST(RawMessage, WithoutMessageIdEachParseGetsAFreshId) {
    const auto a = parse_raw_message("From: a@x\n\nbody\n");
    const auto b = parse_raw_message("From: a@x\n\nbody\n");
    ASSERT_TRUE(a.ok() && b.ok());
    EXPECT_FALSE(a->message.message_id.has_value());
    EXPECT_NE(a->message.id, b->message.id);
    const auto again1 = parse_raw_message("From: a@x\nMessage-ID: <same@x>\n\nbody\n");
    const auto again2 = parse_raw_message("From: a@x\nMessage-ID: <same@x>\n\nother body\n");
    ASSERT_TRUE(again1.ok() && again2.ok());
    EXPECT_EQ(again1->message.id, again2->message.id);
}

TEST(RawMessage, HtmlOnlyMessageHasReadableBody) {
    const auto parsed = parse_raw_message(
        "From: a@x\nContent-Type: text/html; charset=utf-8\n\n<p>Hello <b>there</b></p><p>Bye</p>");
    ASSERT_TRUE(parsed.ok());
    EXPECT_EQ(parsed->message.body, "Hello there\n\nBye");
    EXPECT_EQ(parsed->message.html_body, "<p>Hello <b>there</b></p><p>Bye</p>");
}

TEST(RawMessage, NotAMessageIsAnError) {
    EXPECT_FALSE(parse_raw_message("").ok());
    EXPECT_FALSE(parse_raw_message(std::string("\x00\x01\x02 binary", 10)).ok());
}

TEST(RawMessage, DateRule) {
    const struct {
        std::optional<std::int64_t> internal;
        std::optional<std::int64_t> header;
        std::int64_t fallback;
        std::int64_t minutes;
    } cases[] = {
        {119, 6000, 7, 1},          // INTERNALDATE wins; remainder dropped
        {-61, 6000, 7, -1},         // toward zero, not down
        {std::nullopt, 6000, 7, 100},
        {std::nullopt, -59, 7, 0},
        {std::nullopt, std::nullopt, 7, 7},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(message_date_minutes(c.internal, c.header, c.fallback), c.minutes);
    }
}

TEST(RawMessage, FetchAppliesServerFacts) {
    FetchedFacts facts;
    facts.folder = FolderRole::Starred;
    facts.read = true;
    facts.starred = true;
    facts.fallback_minutes = 42;
    auto m = message_from_fetch("From: a@x\n\nbody\n", facts);
    ASSERT_TRUE(m.ok());
    EXPECT_EQ(m->folder, FolderRole::Starred);
    EXPECT_TRUE(m->read);
    EXPECT_TRUE(m->starred);
    EXPECT_EQ(m->date, 42);
    facts.internal_date_seconds = 600;
    m = message_from_fetch(kFull, facts);
    ASSERT_TRUE(m.ok());
    EXPECT_EQ(m->date, 10);
    EXPECT_FALSE(message_from_fetch("no header here", facts).ok());
}

}  // namespace
}  // namespace mail::state
