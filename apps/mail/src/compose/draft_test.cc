#include "compose/draft.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace mail::compose;

const std::string kDigest(64, 'a');
const std::string kAddress = "mail-attachment:blake3:" + kDigest;

std::string address_of(int n) {
    std::string digest = std::to_string(n);
    return "mail-attachment:blake3:" + std::string(64 - digest.size(), '0') + digest;
}

DraftAttachment entry(std::string content_id, std::uint64_t size = 10, std::string filename = "a.pdf") {
    return DraftAttachment{std::move(content_id), std::move(filename), "application/pdf", size};
}

std::string repeat(std::string_view unit, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) out += unit;
    return out;
}

const std::string kInvitation =
    "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nMETHOD:REQUEST\r\nBEGIN:VEVENT\r\nUID:1\r\n"
    "SUMMARY:Planning\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";

TEST(ContentAddress, OnlyLowerCaseHexDigestsOfExactLength) {
    struct Case {
        std::string text;
        bool valid;
    } cases[] = {
        {kAddress, true},
        {"mail-attachment:blake3:" + std::string(32, '0') + "0123456789abcdef0123456789abcdef", true},
        {"mail-attachment:blake3:" + std::string(63, 'a') + "A", false},
        {"mail-attachment:blake3:" + std::string(63, 'a'), false},
        {"mail-attachment:blake3:" + std::string(65, 'a'), false},
        {"mail-attachment:blake3:" + std::string(63, 'a') + "g", false},
        {"mail-attachment:sha256:" + kDigest, false},
        {"Mail-attachment:blake3:" + kDigest, false},
        {kDigest, false},
        {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(is_content_address(c.text), c.valid) << c.text;
    EXPECT_EQ(content_address(kDigest), kAddress);
}

TEST(DraftAttachmentValidity, EachRuleRejectsItsCase) {
    const DraftAttachment good = entry(kAddress);
    struct Case {
        const char* what;
        DraftAttachment a;
        bool valid;
    } cases[] = {
        {"plain entry", good, true},
        {"upper-case digest", {"mail-attachment:blake3:" + std::string(64, 'A'), "a.pdf", "application/pdf", 1}, false},
        {"backslash in name", {kAddress, "dir\\a.pdf", "application/pdf", 1}, false},
        {"slash in name", {kAddress, "dir/a.pdf", "application/pdf", 1}, false},
        {"empty name", {kAddress, "", "application/pdf", 1}, false},
        {"line feed in name", {kAddress, "a\n.pdf", "application/pdf", 1}, false},
        {"C1 control in name", {kAddress, "a\xC2\x85.pdf", "application/pdf", 1}, false},
        {"name of 180 two-byte characters", {kAddress, repeat("\xC3\xA9", 180), "application/pdf", 1}, true},
        {"name of 181 characters", {kAddress, std::string(181, 'n'), "application/pdf", 1}, false},
        {"name that is not UTF-8", {kAddress, "a\xFF.pdf", "application/pdf", 1}, false},
        {"media type without slash", {kAddress, "a.pdf", "pdf", 1}, false},
        {"media type of 127 characters", {kAddress, "a.pdf", "a/" + std::string(125, 'b'), 1}, true},
        {"media type of 128 characters", {kAddress, "a.pdf", "a/" + std::string(126, 'b'), 1}, false},
        {"media type carrying a header", {kAddress, "a.pdf", "text/plain\r\nX-Injected: 1", 1}, false},
        {"exactly 32 MiB", {kAddress, "a.pdf", "application/pdf", 33'554'432}, true},
        {"one byte over 32 MiB", {kAddress, "a.pdf", "application/pdf", 33'554'433}, false},
        {"empty content", {kAddress, "a.pdf", "application/pdf", 0}, true},
    };
    for (const auto& c : cases) EXPECT_EQ(is_valid_attachment(c.a), c.valid) << c.what;
}

TEST(AttachmentList, NormalisationKeepsOnlyWhatFits) {
    constexpr std::uint64_t MiB32 = 33'554'432;
    std::vector<DraftAttachment> seventeen;
    for (int i = 0; i < 17; ++i) seventeen.push_back(entry(address_of(i)));

    std::vector<DraftAttachment> invalid_then_sixteen{entry("mail-attachment:blake3:BAD")};
    for (int i = 0; i < 16; ++i) invalid_then_sixteen.push_back(entry(address_of(i)));

    struct Case {
        const char* what;
        std::vector<DraftAttachment> in;
        std::vector<std::string> kept_ids;
    } cases[] = {
        {"17th entry dropped", seventeen,
         [] {
             std::vector<std::string> ids;
             for (int i = 0; i < 16; ++i) ids.push_back(address_of(i));
             return ids;
         }()},
        {"invalid entry does not take a place", invalid_then_sixteen,
         [] {
             std::vector<std::string> ids;
             for (int i = 0; i < 16; ++i) ids.push_back(address_of(i));
             return ids;
         }()},
        {"same address twice keeps the first",
         {entry(address_of(1), 5, "first.pdf"), entry(address_of(2)), entry(address_of(1), 7, "second.pdf")},
         {address_of(1), address_of(2)}},
        {"exactly 128 MiB fits, more is dropped, a later small entry still fits",
         {entry(address_of(1), MiB32), entry(address_of(2), MiB32), entry(address_of(3), MiB32),
          entry(address_of(4), MiB32 - 1), entry(address_of(5), 2), entry(address_of(6), 1)},
         {address_of(1), address_of(2), address_of(3), address_of(4), address_of(6)}},
        {"oversized entry is invalid, not a wrap-around", {entry(address_of(1), UINT64_MAX), entry(address_of(2), 1)},
         {address_of(2)}},
        {"empty list", {}, {}},
    };
    for (const auto& c : cases) {
        auto out = normalize_attachments(c.in);
        std::vector<std::string> ids;
        for (const auto& a : out) ids.push_back(a.content_id);
        EXPECT_EQ(ids, c.kept_ids) << c.what;
    }
    auto dup = normalize_attachments({entry(address_of(1), 5, "first.pdf"), entry(address_of(1), 7, "second.pdf")});
    ASSERT_EQ(dup.size(), 1u);
    EXPECT_EQ(dup[0].filename, "first.pdf");
}

TEST(NormalizeDraft, TextFieldsFollowTheirRules) {
    struct Case {
        const char* what;
        std::string DraftData::*field;
        std::string in;
        std::string out;
    } cases[] = {
        {"subject cut to 998", &DraftData::subject, std::string(1200, 's'), std::string(998, 's')},
        {"cut counts characters", &DraftData::subject, repeat("\xC3\xA9", 1200), repeat("\xC3\xA9", 998)},
        {"four-byte characters stay whole", &DraftData::subject, repeat("\xF0\x9F\x98\x80", 999),
         repeat("\xF0\x9F\x98\x80", 998)},
        {"counted after removal", &DraftData::subject, "\x01" + std::string(998, 's') + "\x02", std::string(998, 's')},
        {"subject on one line", &DraftData::subject, " Re:\r\n\tplan\x07 ", "Re:plan"},
        {"white space behind a control", &DraftData::subject, "Hi \x07", "Hi"},
        {"C1 control dropped", &DraftData::to, "a@example.org\xC2\x85, b@example.org", "a@example.org, b@example.org"},
        {"recipients cut to 8192", &DraftData::bcc, std::string(9000, 'b'), std::string(8192, 'b')},
        {"body keeps tab and line breaks", &DraftData::body, "  Hi\r\n\tthere\x07\n  ", "Hi\r\n\tthere"},
        {"body cut to 262144", &DraftData::body, std::string(262'145, 'b'), std::string(262'144, 'b')},
        {"body white space behind DEL", &DraftData::body, "x\r\n\x7F", "x"},
        {"invalid UTF-8 repaired", &DraftData::body, "a\xFF" "b", "a\xEF\xBF\xBD" "b"},
    };
    for (const auto& c : cases) {
        DraftData d;
        d.*c.field = c.in;
        const DraftData n = normalize_draft(d);
        EXPECT_EQ(n.*c.field, c.out) << c.what;
        EXPECT_EQ(normalize_draft(n), n) << c.what << ": normalising twice changes nothing";
    }
}

TEST(InvitationCheck, AcceptsOnlyBoundedRequests) {
    std::string lf_only = kInvitation;
    for (std::size_t at; (at = lf_only.find("\r\n")) != std::string::npos;) lf_only.erase(at, 1);
    std::string two_events = kInvitation;
    two_events.insert(two_events.find("END:VCALENDAR"), "BEGIN:VEVENT\r\nUID:2\r\nEND:VEVENT\r\n");
    auto padded_to = [](std::size_t bytes) {
        std::string head = kInvitation.substr(0, kInvitation.find("END:VEVENT"));
        std::string tail = kInvitation.substr(kInvitation.find("END:VEVENT"));
        std::string filler = "X-PAD:" + std::string(bytes - head.size() - tail.size() - 8, 'p') + "\r\n";
        return head + filler + tail;
    };
    std::string with_nul = kInvitation;
    with_nul.insert(with_nul.find("SUMMARY:") + 8, std::string(1, '\0'));

    struct Case {
        const char* what;
        std::string ics;
        bool ok;
    } cases[] = {
        {"request", kInvitation, true},
        {"line feeds only", lf_only, false},
        {"two events", two_events, false},
        {"no event", "BEGIN:VCALENDAR\r\nMETHOD:REQUEST\r\nEND:VCALENDAR\r\n", false},
        {"publish, not request", std::string(kInvitation).replace(kInvitation.find("REQUEST"), 7, "PUBLISH"), false},
        {"method as the first line's tail", "BEGIN:VCALENDAR\r\nMETHOD:REQUEST\r\nBEGIN:VEVENT\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n",
         true},
        {"no final line break", kInvitation.substr(0, kInvitation.size() - 2), false},
        {"text before the calendar", " " + kInvitation, false},
        {"NUL byte", with_nul, false},
        {"not UTF-8", std::string(kInvitation).insert(kInvitation.find("Planning"), "\xFF"), false},
        {"exactly 262144 bytes", padded_to(262'144), true},
        {"262145 bytes", padded_to(262'145), false},
        {"empty", "", false},
    };
    for (const auto& c : cases) EXPECT_EQ(is_invitation_request(c.ics), c.ok) << c.what;
    EXPECT_EQ(padded_to(262'144).size(), 262'144u);
}

TEST(NormalizeDraft, BoundsEveryField) {
    DraftData d;
    d.to = "  ann@example.org;\nbob@example.org  ";
    d.html_body = std::nullopt;
    d.calendar_ics = "BEGIN:VCALENDAR\nMETHOD:REQUEST\nEND:VCALENDAR\n";
    d.attachments = {entry(address_of(1)), entry(address_of(1)), entry("bad")};

    const DraftData n = normalize_draft(d);
    EXPECT_EQ(n.to, "ann@example.org;bob@example.org");
    EXPECT_FALSE(n.html_body.has_value());
    EXPECT_FALSE(n.calendar_ics.has_value());
    ASSERT_EQ(n.attachments.size(), 1u);

    d.html_body = "<p>" + std::string(300'000, 'h') + "</p>";
    d.calendar_ics = kInvitation;
    const DraftData m = normalize_draft(d);
    ASSERT_TRUE(m.html_body.has_value());
    EXPECT_EQ(m.html_body->size(), 262'144u);
    EXPECT_EQ(m.calendar_ics, kInvitation);
    EXPECT_EQ(normalize_draft(m), m) << "normalising twice changes nothing";
}

TEST(DraftJson, WritesEveryKeyInOrderWithNulls) {
    DraftData d;
    d.to = "a@example.org";
    d.subject = " Hi ";
    d.body = "x\ny";
    d.attachments = {DraftAttachment{kAddress, "r.pdf", "application/pdf", 0}};
    EXPECT_EQ(encode_draft(d),
              R"({"to":"a@example.org","cc":"","bcc":"","subject":" Hi ","body":"x\ny","html_body":null,)"
              R"("calendar_ics":null,"attachments":[{"content_id":")" +
                  kAddress + R"(","filename":"r.pdf","mime":"application/pdf","size":0}]})");
    d.html_body = "<p>x</p>";
    auto back = decode_draft(encode_draft(d));
    ASSERT_TRUE(back.ok()) << back.error();
    EXPECT_EQ(*back, d);
}

TEST(DraftJson, ReadingRules) {
    const std::string att = R"({"content_id":"c","filename":"f","mime":"m/t","size":3})";
    const std::string base = R"("to":"t","cc":"","bcc":"","subject":"s","body":"b")";
    struct Case {
        const char* what;
        std::string json;
        std::string error;  // empty: reads
    } cases[] = {
        {"no html_body or calendar_ics", "{" + base + R"(,"attachments":[]})", ""},
        {"null optionals", "{" + base + R"(,"html_body":null,"calendar_ics":null,"attachments":[]})", ""},
        {"unknown keys skipped", "{" + base + R"(,"x":{"deep":[1,2]},"attachments":[)" + att + "]}", ""},
        {"no attachments", "{" + base + "}", "missing field `attachments`"},
        {"no subject", R"({"to":"","cc":"","bcc":"","body":"","attachments":[]})", "missing field `subject`"},
        {"duplicate key", "{" + base + R"(,"to":"again","attachments":[]})", "duplicate key \"to\""},
        {"duplicate key in an entry",
         "{" + base + R"(,"attachments":[{"content_id":"c","content_id":"d","filename":"f","mime":"m","size":1}]})",
         "duplicate key \"content_id\""},
        {"entry without size", "{" + base + R"(,"attachments":[{"content_id":"c","filename":"f","mime":"m"}]})",
         "missing field `size`"},
        {"size as text", "{" + base + R"(,"attachments":[{"content_id":"c","filename":"f","mime":"m","size":"3"}]})",
         "invalid type: string, expected an unsigned integer at `size`"},
        {"negative size", "{" + base + R"(,"attachments":[{"content_id":"c","filename":"f","mime":"m","size":-1}]})",
         "invalid value: -1, expected an unsigned integer at `size`"},
        {"html_body as number", "{" + base + R"(,"html_body":1,"attachments":[]})",
         "invalid type: number, expected a string or null at `html_body`"},
        {"attachments as object", "{" + base + R"(,"attachments":{}})",
         "invalid type: object, expected an array at `attachments`"},
        {"entry as text", "{" + base + R"(,"attachments":["x"]})",
         "invalid type: string, expected an object at `attachments[0]`"},
        {"not an object", R"(["to"])", "invalid type: array, expected an object"},
        {"not UTF-8", "{\"to\":\"\xC3\"}", "parse error at line 1, column 9: syntax error while parsing value - "
                                            "invalid string: ill-formed UTF-8 byte; last read: '\"\xEF\xBF\xBD\"'"},
        {"too many entries", "{" + base + R"(,"attachments":[)" + [&] {
             std::string s = att;
             for (int i = 0; i < 1024; ++i) s += "," + att;
             return s;
         }() + "]}",
         "invalid length 1025, expected at most 1024 entries at `attachments`"},
    };
    for (const auto& c : cases) {
        auto r = decode_draft(c.json);
        if (c.error.empty()) {
            EXPECT_TRUE(r.ok()) << c.what << ": " << r.error();
        } else {
            ASSERT_FALSE(r.ok()) << c.what;
            EXPECT_EQ(r.error(), c.error) << c.what;
        }
    }
    auto read = decode_draft("{" + base + R"(,"attachments":[)" + att + "]}");
    ASSERT_TRUE(read.ok());
    EXPECT_FALSE(read->html_body.has_value());
    EXPECT_EQ(read->attachments.at(0), (DraftAttachment{"c", "f", "m/t", 3}))
        << "entries are read as given; validity is a separate step";
}

}  // namespace
