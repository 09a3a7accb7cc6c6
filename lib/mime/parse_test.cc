#include "lib/mime/parse.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "lib/mime/utf8.h"

namespace lib::mime {
namespace {

// Header-derived text never carries a line break or control character.
void expect_clean(const std::string& s, const std::string& what) {
    EXPECT_TRUE(detail::is_valid_utf8(s)) << what << ": " << s;
    for (const char c : s) {
        EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 || c == 0x7F) << what << ": " << s;
    }
}

void expect_invariants(const ParsedMessage& m) {
    for (const auto* list : {&m.from, &m.to, &m.cc}) {
        for (const Address& a : *list) {
            expect_clean(a.name, "name");
            expect_clean(a.address, "address");
        }
    }
    if (m.subject) expect_clean(*m.subject, "subject");
    if (m.message_id) expect_clean(*m.message_id, "message id");
    for (const auto& r : m.references) expect_clean(r, "reference");
    for (const auto& r : m.in_reply_to) expect_clean(r, "in-reply-to");
    for (const auto& a : m.attachments) {
        if (a.filename) expect_clean(*a.filename, "filename");
    }
    if (m.text_body) {
        EXPECT_TRUE(detail::is_valid_utf8(*m.text_body));
    }
    if (m.html_body) {
        EXPECT_TRUE(detail::is_valid_utf8(*m.html_body));
    }
}

ParsedMessage parse_ok(const std::string& raw) {
    auto r = parse(raw);
    EXPECT_TRUE(r.ok()) << r.error() << "\n" << raw;
    if (!r.ok()) return {};
    expect_invariants(*r);
    return *r;
}

std::string as_text(const std::vector<std::uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST(MimeParse, MultipartAlternative) {
    const auto m = parse_ok(
        "From: \"Ann Example\" <ann@example.com>\r\n"
        "To: bob@example.com\r\n"
        "Subject: Plans\r\n"
        "Message-ID: <plans-1@example.com>\r\n"
        "Date: Tue, 02 Jan 2024 10:00:30 +0100\r\n"
        "MIME-Version: 1.0\r\n"
        "Content-Type: multipart/alternative; boundary=\"b1\"\r\n"
        "\r\n"
        "--b1\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nSee you at 10.\r\nAnn\r\n"
        "--b1\r\nContent-Type: text/html; charset=utf-8\r\n\r\n<p>See you at <b>10</b>.</p>\r\n"
        "--b1--\r\n");
    ASSERT_EQ(m.from.size(), 1u);
    EXPECT_EQ(m.from[0].name, "Ann Example");
    EXPECT_EQ(m.from[0].address, "ann@example.com");
    ASSERT_EQ(m.to.size(), 1u);
    EXPECT_EQ(m.to[0].name, "");
    EXPECT_EQ(m.subject, "Plans");
    EXPECT_EQ(m.message_id, "plans-1@example.com");
    EXPECT_EQ(m.date, 1704186030);
    EXPECT_EQ(m.text_body, "See you at 10.\nAnn");  // the last CRLF belongs to the boundary
    EXPECT_EQ(m.html_body, "<p>See you at <b>10</b>.</p>");
    EXPECT_TRUE(m.attachments.empty());
    EXPECT_EQ(readable_body(m), "See you at 10.\nAnn");
}

TEST(MimeParse, HtmlOnlyGetsReadableBody) {
    const auto m = parse_ok(
        "From: a@example.com\nSubject: News\nContent-Type: text/html; charset=iso-8859-1\n\n"
        "<html><head><style>p{color:red}</style></head><body><h1>Caf\xE9</h1><p>Open &amp; ready</p>"
        "<ul><li>one</li><li>two</li></ul></body></html>\n");
    EXPECT_FALSE(m.text_body.has_value());
    ASSERT_TRUE(m.html_body.has_value());
    EXPECT_NE(m.html_body->find("Caf\xC3\xA9"), std::string::npos);
    EXPECT_EQ(readable_body(m), "Caf\xC3\xA9\n\nOpen & ready\n\n\xE2\x80\xA2 one\n\xE2\x80\xA2 two");
}

TEST(MimeParse, BlankTextPartFallsBackToHtml) {
    const auto m = parse_ok(
        "From: a@example.com\nContent-Type: multipart/alternative; boundary=b\n\n"
        "--b\nContent-Type: text/plain\n\n \n"
        "--b\nContent-Type: text/html\n\n  \n"
        "--b\nContent-Type: text/html\n\n<p>Second</p>\n--b--\n");
    EXPECT_EQ(m.html_body, "<p>Second</p>");
    EXPECT_EQ(readable_body(m), "Second");
}

TEST(MimeParse, Charsets) {
    const struct {
        const char* what;
        std::string content_type;
        std::string encoding;
        std::string body;
        std::string text;
    } cases[] = {
        {"iso-8859-1", "text/plain; charset=ISO-8859-1", "8bit", "caf\xE9", "caf\xC3\xA9"},
        {"windows-1252 quotes", "text/plain; charset=windows-1252", "8bit", "\x93hi\x94 \x80",
         "\xE2\x80\x9Chi\xE2\x80\x9D \xE2\x82\xAC"},
        {"latin-1 label with 1252 bytes", "text/plain; charset=\"iso-8859-1\"", "8bit", "\x96",
         "\xE2\x80\x93"},
        {"quoted-printable latin-1", "text/plain; charset=iso-8859-1", "quoted-printable",
         "caf=E9 =\r\nau lait", "caf\xC3\xA9 au lait"},
        {"koi8-r through iconv", "text/plain; charset=koi8-r", "8bit", "\xF0\xD2\xC9", "\xD0\x9F\xD1\x80\xD0\xB8"},
        {"no charset, utf-8 bytes", "text/plain", "8bit", "\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9"},
        {"no charset, latin-1 bytes", "text/plain", "8bit", "\xE9t\xE9", "\xC3\xA9t\xC3\xA9"},
        {"utf-8 with an invalid byte", "text/plain; charset=utf-8", "8bit", "a\xFF" "b", "a\xEF\xBF\xBD" "b"},
        {"unknown charset", "text/plain; charset=x-no-such", "8bit", "ok", "ok"},
        {"base64 utf-16", "text/plain; charset=utf-16le", "base64", "aADpAA==", "h\xC3\xA9"},
        {"NUL and escape dropped", "text/plain; charset=utf-8", "8bit", std::string("a\0b\x1b" "c", 5), "abc"},
    };
    for (const auto& c : cases) {
        const auto m = parse_ok("From: a@example.com\r\nContent-Type: " + c.content_type +
                                "\r\nContent-Transfer-Encoding: " + c.encoding + "\r\n\r\n" + c.body);
        EXPECT_EQ(m.text_body.value_or("<none>"), c.text) << c.what;
    }
}

TEST(MimeParse, AddressesAndGroups) {
    const auto m = parse_ok(
        "From: Friends: ann@example.com;, Bob <bob@example.com>\n"
        "To: Team: \"Carl C\" <carl@example.com>, dee@example.com;, eve@example.com\n"
        "Cc: =?utf-8?q?J=C3=B6rg?= <joerg@example.com>, undisclosed-recipients:;\n"
        "\nbody\n");
    ASSERT_EQ(m.from.size(), 2u);
    EXPECT_EQ(m.from[0].address, "ann@example.com");
    ASSERT_EQ(m.to.size(), 3u);
    EXPECT_EQ(m.to[0].name, "Carl C");
    EXPECT_EQ(m.to[0].address, "carl@example.com");
    EXPECT_EQ(m.to[1].address, "dee@example.com");
    EXPECT_EQ(m.to[2].address, "eve@example.com");
    ASSERT_EQ(m.cc.size(), 1u);
    EXPECT_EQ(m.cc[0].name, "J\xC3\xB6rg");
}

TEST(MimeParse, LineBreaksNeverSurviveInHeaders) {
    const auto m = parse_ok(
        "From: =?utf-8?q?Eve=0D=0ABcc=3A_x=40evil?= <eve@example.com>\r\n"
        "Subject: =?utf-8?q?Hi=0D=0AX-Injected=3A_1?=\r\n"
        " and more =?utf-8?b?DQoNCg==?= end\r\n"
        "Message-ID: <id=0D=0A@example.com>\r\n"
        "Content-Type: application/pdf; name=\"=?utf-8?q?a=0Db=0A.pdf?=\"\r\n"
        "Content-Disposition: attachment\r\n\r\nx\r\n");
    ASSERT_TRUE(m.subject.has_value());
    EXPECT_EQ(m.subject->find("Hi"), 0u);
    EXPECT_NE(m.subject->find("end"), std::string::npos);
    ASSERT_EQ(m.from.size(), 1u);
    EXPECT_EQ(m.from[0].address, "eve@example.com");
    ASSERT_EQ(m.attachments.size(), 1u);
    EXPECT_TRUE(m.attachments[0].filename.has_value());
}

TEST(MimeParse, Attachments) {
    const auto m = parse_ok(
        "From: a@example.com\nContent-Type: multipart/mixed; boundary=\"outer\"\n\n"
        "--outer\nContent-Type: text/plain\n\nBody text\n"
        "--outer\nContent-Type: application/pdf\nContent-Transfer-Encoding: base64\n"
        "Content-Disposition: attachment;\n filename*0*=utf-8''R%C3%A9sum;\n filename*1*=%C3%A9.pdf\n\n"
        "JVBERi0=\n"
        "--outer\nContent-Type: image/png; name=\"=?utf-8?b?w6lsw6kucG5n?=\"\n\nPNG\n"
        "--outer\nContent-Type: text/plain\nContent-Disposition: inline; filename=notes.txt\n\nnotes\n"
        "--outer\nContent-Type: application/octet-stream\n\n\n"
        "--outer\nContent-Type: message/rfc822\n\nFrom: inner@example.com\nSubject: Inner\n\nInner body\n"
        "--outer--\n");
    EXPECT_EQ(m.text_body, "Body text");
    ASSERT_EQ(m.attachments.size(), 5u);
    EXPECT_EQ(m.attachments[0].filename, "R\xC3\xA9sum\xC3\xA9.pdf");
    EXPECT_EQ(m.attachments[0].content_type, "application/pdf");
    EXPECT_EQ(as_text(m.attachments[0].content), "%PDF-");
    EXPECT_EQ(m.attachments[1].filename, "\xC3\xA9l\xC3\xA9.png");
    EXPECT_EQ(m.attachments[2].filename, "notes.txt");
    EXPECT_EQ(as_text(m.attachments[2].content), "notes");
    EXPECT_FALSE(m.attachments[3].filename.has_value());
    EXPECT_TRUE(m.attachments[3].content.empty());
    EXPECT_EQ(m.attachments[4].content_type, "message/rfc822");
    EXPECT_NE(as_text(m.attachments[4].content).find("Inner body"), std::string::npos);
}

TEST(MimeParse, TopLevelTextWithFileNameIsTheBody) {
    const auto m = parse_ok(
        "From: a@example.com\nContent-Type: text/plain; name=msg.txt\n"
        "Content-Disposition: inline; filename=msg.txt\n\nhello\n");
    EXPECT_EQ(m.text_body, "hello\n");
    EXPECT_TRUE(m.attachments.empty());
}

TEST(MimeParse, ReferencesAndDates) {
    const struct {
        std::string headers;
        std::vector<std::string> references;
        std::vector<std::string> in_reply_to;
        std::optional<std::int64_t> date;
    } cases[] = {
        {"References: <r1@x> <r2@x>\nIn-Reply-To: <r2@x>\nDate: Thu, 01 Jan 1970 00:01:00 +0000\n",
         {"r1@x", "r2@x"}, {"r2@x"}, 60},
        {"References:\nIn-Reply-To: <a@x> <b@x>\n", {}, {"a@x", "b@x"}, std::nullopt},
        {"Date: not a date\n", {}, {}, std::nullopt},
        {"Date: Wed, 31 Dec 1969 23:59:00 +0000\n", {}, {}, -60},
        {"References: bare@x\nIn-Reply-To: also-bare@x\n", {"bare@x"}, {"also-bare@x"}, std::nullopt},
        {"In-Reply-To: Your message of Tuesday\n", {}, {}, std::nullopt},
    };
    for (const auto& c : cases) {
        const auto m = parse_ok("From: a@x\n" + c.headers + "\nbody\n");
        EXPECT_EQ(m.references, c.references) << c.headers;
        EXPECT_EQ(m.in_reply_to, c.in_reply_to) << c.headers;
        EXPECT_EQ(m.date, c.date) << c.headers;
    }
}

TEST(MimeParse, MissingHeadersAreAbsent) {
    const auto m = parse_ok("X-Only: 1\n\nbody\n");
    EXPECT_TRUE(m.from.empty());
    EXPECT_FALSE(m.subject.has_value());
    EXPECT_FALSE(m.message_id.has_value());
    EXPECT_FALSE(m.date.has_value());
    EXPECT_EQ(m.text_body, "body\n");
}

std::string repeat(std::string_view s, std::size_t n) {
    std::string out;
    out.reserve(s.size() * n);
    for (std::size_t i = 0; i < n; ++i) out += s;
    return out;
}

TEST(MimeParse, RejectsWhatIsNotAMessageOrTooBig) {
    ParseLimits small;
    small.max_input_bytes = 1000;
    const struct {
        const char* what;
        std::string raw;
        ParseLimits limits;
        const char* error;
    } cases[] = {
        {"empty", "", {}, "empty message"},
        {"binary", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), {}, "not a message: no header block"},
        {"prose", "hello world\nno headers\n", {}, "not a message: no header block"},
        {"leading blank line", "\nFrom: a@x\n\nbody", {}, "not a message: no header block"},
        {"too large", "From: a@x\n\n" + std::string(2000, 'x'), small, "message too large"},
        {"header flood", "From: a@x\n" + repeat("X: y\n", 30000) + "\nbody", {}, "message has too many header fields"},
        {"part flood", "From: a@x\nContent-Type: multipart/mixed; boundary=b\n\n" + repeat("--b\n\nx\n", 30000),
         {}, "message has too many parts"},
        {"huge address list", "From: a@x\nTo: " + repeat("a@b,", 300000) + "\n\nbody", {}, "message headers too large"},
        {"huge message id", "From: a@x\nMessage-ID: <" + std::string(2u << 20, 'a') + ">\n\nbody", {},
         "message headers too large"},
        {"folded huge address list", "From: a@x\nTo: " + repeat("a@b,\n ", 250000) + "c@d\n\nbody", {},
         "message headers too large"},
    };
    for (const auto& c : cases) {
        const auto r = parse(c.raw, c.limits);
        ASSERT_FALSE(r.ok()) << c.what;
        EXPECT_EQ(r.error(), c.error) << c.what;
    }
}

TEST(MimeParse, DeepNestingIsBoundedNotFatal) {
    std::string raw = "From: a@x\nContent-Type: multipart/mixed; boundary=b0\n\n";
    for (int i = 1; i < 3000; ++i) {
        raw += "--b" + std::to_string(i - 1) + "\nContent-Type: multipart/mixed; boundary=b" + std::to_string(i) + "\n\n";
    }
    raw += "--b2999\nContent-Type: text/plain\n\ndeep\n";
    const auto m = parse_ok(raw);
    EXPECT_FALSE(m.text_body.has_value());
}

TEST(MimeParse, ParsesConcurrently) {
    const std::string raw =
        "From: =?koi8-r?b?8NLJ?= <a@x>\nSubject: =?iso-8859-1?q?caf=E9?=\n"
        "Content-Type: multipart/alternative; boundary=b\n\n"
        "--b\nContent-Type: text/plain; charset=koi8-r\n\n\xF0\xD2\xC9\n"
        "--b\nContent-Type: text/html; charset=windows-1252\n\n<p>\x93x\x94</p>\n--b--\n";
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 300; ++i) {
                auto r = parse(raw);
                if (!r.ok() || r->subject != "caf\xC3\xA9" || r->text_body != "\xD0\x9F\xD1\x80\xD0\xB8" ||
                    r->from.empty() || r->from[0].name != "\xD0\x9F\xD1\x80\xD0\xB8" ||
                    readable_body(*r) != "\xD0\x9F\xD1\x80\xD0\xB8") {
                    ++wrong;
                }
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace lib::mime
