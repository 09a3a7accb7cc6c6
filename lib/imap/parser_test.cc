#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "lib/imap/command.h"
#include "lib/imap/parser.h"

namespace {

using namespace lib::imap;

std::string join(const std::vector<std::string>& v) {
    std::string out;
    for (const auto& s : v) out += (out.empty() ? "" : ",") + s;
    return out;
}

// One line per response, with every field the parser fills in, so that two
// runs over the same bytes can be compared.
std::string render(const Response& r) {
    struct V {
        std::string operator()(const StatusResponse& s) const {
            return "status tag=" + s.tag + " cond=" + std::string(condition_name(s.condition)) + " code=" +
                   s.code + " text=" + s.text;
        }
        std::string operator()(const Continuation& c) const { return "cont " + c.text; }
        std::string operator()(const CapabilityData& c) const { return "caps " + join(c.names); }
        std::string operator()(const ListData& l) const {
            return "list flags=" + join(l.flags) + " delim=" + std::string(l.delimiter ? 1 : 0, l.delimiter) +
                   " name=" + l.name + (l.lsub ? " lsub" : "");
        }
        std::string operator()(const SearchData& s) const {
            std::string out = "search";
            for (auto n : s.numbers) out += " " + std::to_string(n);
            return out;
        }
        std::string operator()(const CountData& c) const {
            return "count " + std::to_string(static_cast<int>(c.kind)) + " " + std::to_string(c.number);
        }
        std::string operator()(const FlagsData& f) const { return "flags " + join(f.flags); }
        std::string operator()(const FetchData& f) const {
            std::string out = "fetch " + std::to_string(f.sequence);
            if (f.uid) out += " uid=" + std::to_string(*f.uid);
            if (f.flags) out += " flags=" + join(*f.flags);
            if (f.internal_date) out += " date=" + std::to_string(*f.internal_date);
            if (f.rfc822_size) out += " size=" + std::to_string(*f.rfc822_size);
            if (f.body) out += " body=" + *f.body;
            if (f.omitted_body_bytes) out += " omitted=" + std::to_string(f.omitted_body_bytes);
            return out;
        }
        std::string operator()(const OtherData& o) const { return "other " + o.name; }
    };
    return std::visit(V{}, r);
}

// Feeds the pieces one after another, draining after each; stops at the
// first error and records it as the last line.
std::vector<std::string> run(const std::vector<std::string_view>& pieces, Limits limits = {}) {
    Parser p(limits);
    std::vector<std::string> out;
    for (auto piece : pieces) {
        p.feed(piece);
        while (true) {
            auto r = p.next();
            if (!r) {
                out.push_back("error: " + r.error());
                return out;
            }
            if (!r->has_value()) break;
            out.push_back(render(**r));
        }
    }
    return out;
}

std::vector<std::string> run_whole(std::string_view bytes, Limits limits = {}) {
    return run({bytes}, limits);
}

Response only(std::string_view bytes) {
    Parser p;
    p.feed(bytes);
    auto r = p.next();
    EXPECT_TRUE(r.ok()) << r.error() << " for " << bytes;
    EXPECT_TRUE(r.ok() && r->has_value()) << bytes;
    if (!r.ok() || !r->has_value()) return OtherData{"<none>"};
    auto rest = p.next();
    EXPECT_TRUE(rest.ok() && !rest->has_value()) << "more than one response in " << bytes;
    return std::move(**r);
}

// A session as Dovecot speaks it, with literals whose contents look like
// protocol (a line ending in "{5}", a ")" and a CRLF at the very end).
const std::string kSession =
    "* OK [CAPABILITY IMAP4rev1 SASL-IR LOGIN-REFERRALS ID ENABLE IDLE LITERAL+ AUTH=PLAIN] Dovecot ready.\r\n"
    "a1 OK [CAPABILITY IMAP4rev1 MOVE UIDPLUS] Logged in\r\n"
    "* LIST (\\HasNoChildren \\Sent) \"/\" Sent\r\n"
    "* LIST (\\HasNoChildren) \"/\" \"Sent \\\"Old\\\" \\\\ Items\"\r\n"
    "* LIST () \"/\" {9}\r\nodd{3}\r\nx\r\n"
    "a2 OK List completed (0.001 + 0.000 secs).\r\n"
    "* FLAGS (\\Answered \\Flagged \\Deleted \\Seen \\Draft)\r\n"
    "* OK [PERMANENTFLAGS (\\Answered \\Flagged \\Deleted \\Seen \\Draft \\*)] Flags permitted.\r\n"
    "* 120 EXISTS\r\n"
    "* 0 RECENT\r\n"
    "* OK [UIDVALIDITY 1700000000] UIDs valid\r\n"
    "a3 OK [READ-WRITE] Select completed (0.002 + 0.000 + 0.001 secs).\r\n"
    "* SEARCH 1 2 3 118 119 120\r\n"
    "a4 OK Search completed.\r\n"
    "* 119 FETCH (UID 119 FLAGS (\\Seen $Work) INTERNALDATE \"17-Jul-1996 02:44:25 -0700\" BODY[] {27}\r\n"
    "Subject: a\r\n\r\nline {5}\r\nend)\r\n"
    "* 120 FETCH (FLAGS () BODY[] {6}\r\nx)\r\n\r\n UID 120 RFC822.SIZE 4 INTERNALDATE \" 1-Jan-2024 00:00:00 +0000\")\r\n"
    "a5 OK Fetch completed.\r\n"
    "+ eyJzdGF0dXMiOiI0MDEifQ==\r\n"
    "* BYE Logging out\r\n"
    "a6 OK Logout completed.\r\n";

const std::vector<std::string> kSessionRendered = {
    "status tag= cond=OK code=CAPABILITY IMAP4rev1 SASL-IR LOGIN-REFERRALS ID ENABLE IDLE LITERAL+ AUTH=PLAIN "
    "text=Dovecot ready.",
    "status tag=a1 cond=OK code=CAPABILITY IMAP4rev1 MOVE UIDPLUS text=Logged in",
    "list flags=\\HasNoChildren,\\Sent delim=/ name=Sent",
    "list flags=\\HasNoChildren delim=/ name=Sent \"Old\" \\ Items",
    "list flags= delim=/ name=odd{3}\r\nx",
    "status tag=a2 cond=OK code= text=List completed (0.001 + 0.000 secs).",
    "flags \\Answered,\\Flagged,\\Deleted,\\Seen,\\Draft",
    "status tag= cond=OK code=PERMANENTFLAGS (\\Answered \\Flagged \\Deleted \\Seen \\Draft \\*) "
    "text=Flags permitted.",
    "count 0 120",
    "count 1 0",
    "status tag= cond=OK code=UIDVALIDITY 1700000000 text=UIDs valid",
    "status tag=a3 cond=OK code=READ-WRITE text=Select completed (0.002 + 0.000 + 0.001 secs).",
    "search 1 2 3 118 119 120",
    "status tag=a4 cond=OK code= text=Search completed.",
    "fetch 119 uid=119 flags=\\Seen,$Work date=837596665 body=Subject: a\r\n\r\nline {5}\r\nend",
    "fetch 120 uid=120 flags= date=1704067200 size=4 body=x)\r\n\r\n",
    "status tag=a5 cond=OK code= text=Fetch completed.",
    "cont eyJzdGF0dXMiOiI0MDEifQ==",
    "status tag= cond=BYE code= text=Logging out",
    "status tag=a6 cond=OK code= text=Logout completed.",
};

TEST(ImapParser, ReadsAWholeSession) { EXPECT_EQ(run_whole(kSession), kSessionRendered); }

TEST(ImapParser, SameResponsesWhereverTheBytesAreSplit) {
    const std::string_view all(kSession);
    for (std::size_t cut = 0; cut <= all.size(); ++cut) {
        ASSERT_EQ(run({all.substr(0, cut), all.substr(cut)}), kSessionRendered) << "split at " << cut;
    }
    std::vector<std::string_view> bytes;
    for (std::size_t i = 0; i < all.size(); ++i) bytes.push_back(all.substr(i, 1));
    EXPECT_EQ(run(bytes), kSessionRendered);
}

TEST(ImapParser, WaitsForTheWholeLiteral) {
    Parser p;
    p.feed("* 1 FETCH (UID 5 BODY[] {10}\r\n12345");
    auto r = p.next();
    ASSERT_TRUE(r.ok());
    EXPECT_FALSE(r->has_value());
    p.feed("67890)\r");
    EXPECT_FALSE(p.next()->has_value());
    p.feed("\n* 2 EXISTS\r\n");
    auto fetch = p.next();
    ASSERT_TRUE(fetch.ok() && fetch->has_value());
    EXPECT_EQ(render(**fetch), "fetch 1 uid=5 body=1234567890");
    EXPECT_EQ(render(**p.next()), "count 0 2");
    EXPECT_EQ(p.buffered(), 0u);
}

TEST(ImapParser, ReadsStraightIntoItsBuffer) {
    // Many responses through prepare/commit in odd-sized reads, as a socket
    // delivers them; exercises the buffer's reuse and growth.
    std::string stream;
    for (int i = 1; i <= 500; ++i) {
        std::string body(static_cast<std::size_t>(i * 7), static_cast<char>('a' + i % 26));
        stream += "* " + std::to_string(i) + " FETCH (UID " + std::to_string(1000 + i) + " BODY[] {" +
                  std::to_string(body.size()) + "}\r\n" + body + ")\r\n";
    }
    Parser p;
    std::size_t pos = 0, chunk = 1;
    int seen = 0;
    while (pos < stream.size()) {
        chunk = chunk * 7 % 5003 + 1;
        std::size_t n = std::min(chunk, stream.size() - pos);
        auto room = p.prepare(n);
        std::copy_n(stream.data() + pos, n, room.data());
        p.commit(n);
        pos += n;
        while (true) {
            auto r = p.next();
            ASSERT_TRUE(r.ok()) << r.error();
            if (!r->has_value()) break;
            auto* f = std::get_if<FetchData>(&**r);
            ASSERT_NE(f, nullptr);
            ++seen;
            EXPECT_EQ(f->sequence, static_cast<std::uint32_t>(seen));
            EXPECT_EQ(f->uid, 1000u + static_cast<std::uint32_t>(seen));
            ASSERT_TRUE(f->body);
            EXPECT_EQ(f->body->size(), static_cast<std::size_t>(seen * 7));
            EXPECT_EQ(f->body->front(), static_cast<char>('a' + seen % 26));
        }
    }
    EXPECT_EQ(seen, 500);
}

TEST(ImapParser, ListNamesInEveryForm) {
    struct Case {
        std::string line;
        std::string expected;
    } cases[] = {
        {"* LIST (\\Noselect) NIL \"\"\r\n", "list flags=\\Noselect delim= name="},
        {"* LIST () \"\\\\\" Foo\r\n", "list flags= delim=\\ name=Foo"},
        {"* LIST () \".\" INBOX.[Gmail]\r\n", "list flags= delim=. name=INBOX.[Gmail]"},
        {"* LIST () \"/\" {0}\r\n\r\n", "list flags= delim=/ name="},
        {"* LIST (\\Marked \\HasChildren) \"/\" \"Ent\xc3\xbcrfe\" (\"CHILDINFO\" (\"SUBSCRIBED\"))\r\n",
         "list flags=\\Marked,\\HasChildren delim=/ name=Ent\xc3\xbcrfe"},
        {"* LSUB () \"/\" Archive\r\n", "list flags= delim=/ name=Archive lsub"},
        {"* list () \"/\" inbox\r\n", "list flags= delim=/ name=inbox"},
    };
    for (const auto& c : cases) EXPECT_EQ(render(only(c.line)), c.expected) << c.line;
}

TEST(ImapParser, UntaggedDataOfEveryKindTheClientReads) {
    struct Case {
        std::string line;
        std::string expected;
    } cases[] = {
        {"* SEARCH\r\n", "search"},
        {"* SEARCH \r\n", "search"},
        {"* SEARCH 2 10 4294967295 (MODSEQ 917162500)\r\n", "search 2 10 4294967295"},
        {"* CAPABILITY IMAP4rev1 UIDPLUS  MOVE\r\n", "caps IMAP4rev1,UIDPLUS,MOVE"},
        {"* 3 EXPUNGE\r\n", "count 2 3"},
        {"* 22 exists\r\n", "count 0 22"},
        {"* PREAUTH [CAPABILITY IMAP4rev1] ready\r\n", "status tag= cond=PREAUTH code=CAPABILITY IMAP4rev1 text=ready"},
        {"* NO [ALERT] quota\r\n", "status tag= cond=NO code=ALERT text=quota"},
        {"* OK\r\n", "status tag= cond=OK code= text="},
        {"* OK [unclosed bracket\r\n", "status tag= cond=OK code= text=[unclosed bracket"},
        {"* STATUS \"x\" (MESSAGES 3)\r\n", "other STATUS"},
        {"* 4 XWEIRD whatever ( \"\r\n", "other XWEIRD"},
        {"* ESEARCH (TAG \"a1\") UID ALL 1:3\r\n", "other ESEARCH"},
        {"a7 NO [NONEXISTENT] Mailbox doesn't exist: Nope\r\n",
         "status tag=a7 cond=NO code=NONEXISTENT text=Mailbox doesn't exist: Nope"},
        {"a8 BAD Error in IMAP command: Unknown command\n", "status tag=a8 cond=BAD code= text=Error in IMAP command: Unknown command"},
        {"+\r\n", "cont "},
        {"+ Ready for literal data\r\n", "cont Ready for literal data"},
    };
    for (const auto& c : cases) EXPECT_EQ(render(only(c.line)), c.expected) << c.line;
}

TEST(ImapParser, FetchItemsTheClientDoesNotAskForAreSkipped) {
    std::string line =
        "* 7 FETCH (MODSEQ (12) BODYSTRUCTURE ((\"text\" \"plain\" (\"charset\" \"utf-8\") NIL NIL \"7bit\" 3 1)"
        " \"mixed\") BODY[HEADER.FIELDS (DATE FROM)] {7}\r\nab)\r\n\r\n ENVELOPE (NIL \"s\" ((\"n\" NIL \"a\" \"b\")))"
        " BODY[]<0> {2}\r\nzz UID 9 X-GM-LABELS (\\Inbox \"a b\") RFC822 NIL)\r\n";
    EXPECT_EQ(render(only(line)), "fetch 7 uid=9");
    EXPECT_EQ(render(only("* 8 FETCH (BODY[] NIL UID 3)\r\n")), "fetch 8 uid=3");
    EXPECT_EQ(render(only("* 9 FETCH (RFC822 \"a\\\"b\" INTERNALDATE NIL)\r\n")), "fetch 9 body=a\"b");
    auto f = std::get<FetchData>(only("* 1 FETCH (FLAGS (\\SEEN \\flagged))\r\n"));
    EXPECT_TRUE(f.has_flag("\\Seen"));
    EXPECT_TRUE(f.has_flag("\\Flagged"));
    EXPECT_FALSE(f.has_flag("\\Deleted"));
}

TEST(ImapParser, StatusResponseWording) {
    auto s = std::get<StatusResponse>(only("a2 NO [AUTHENTICATIONFAILED] Authentication failed.\r\n"));
    EXPECT_EQ(s.describe(), "[AUTHENTICATIONFAILED] Authentication failed.");
    EXPECT_EQ(s.code_name(), "AUTHENTICATIONFAILED");
    auto u = std::get<StatusResponse>(only("* OK [uidnext 121] Predicted next UID\r\n"));
    EXPECT_EQ(u.code_name(), "UIDNEXT");
    EXPECT_EQ(u.code_argument(), "121");
    EXPECT_EQ(std::get<StatusResponse>(only("a3 BAD\r\n")).describe(), "");
    EXPECT_EQ(std::get<StatusResponse>(only("a3 NO [TRYCREATE]\r\n")).describe(), "[TRYCREATE]");
}

TEST(ImapParser, InternalDates) {
    struct Case {
        const char* text;
        std::optional<std::int64_t> seconds;
    } cases[] = {
        {"17-Jul-1996 02:44:25 -0700", 837596665},
        {" 1-Jan-2024 00:00:00 +0000", 1704067200},
        {"1-jan-2024 00:00:00 +0000", 1704067200},
        {"01-Jan-1970 00:30:00 +0100", -1800},
        {"29-Feb-2024 23:59:59 +1345", 1709251199 - 13 * 3600 - 45 * 60},
        {"29-Feb-2023 10:00:00 +0000", std::nullopt},
        {"31-Apr-2024 10:00:00 +0000", std::nullopt},
        {"17-Jux-1996 02:44:25 -0700", std::nullopt},
        {"17-Jul-1996 24:00:00 +0000", std::nullopt},
        {"17-Jul-1996 02:44:25", std::nullopt},
        {"17-Jul-1996 02:44:25 0700", std::nullopt},
        {"17-Jul-1996 02:44:25 -07000", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(parse_internal_date(c.text), c.seconds) << c.text;
}

TEST(ImapParser, HostileInputFailsWithAMessage) {
    Limits small;
    small.max_literal = 10;
    small.max_text = 100;
    small.max_response = 300;
    small.max_depth = 8;
    struct Case {
        std::string bytes;
        Limits limits;
        std::string message_part;
    } cases[] = {
        {"* 1 FETCH (BODY[] {99999999999999999999999}\r\n", Limits{}, "literal size out of range"},
        {"* LIST () \"/\" {11}\r\n01234567890\r\n", small, "literal exceeds 10 bytes"},
        {"* 1 FETCH (BODY[HEADER] NIL UID {11}\r\n01234567890)\r\n", small, "expected a number"},
        {std::string(101, 'x'), small, "line exceeds 100 bytes"},
        {"* 1 FETCH (BODY[] {100}\r\n" + std::string(100, 'x') + " X {100}\r\n" + std::string(100, 'y') +
             " Y {100}\r\n",
         Limits{.max_literal = 100, .max_text = 1000, .max_response = 300}, "response exceeds 300 bytes"},
        {"* 1 FETCH (BODY[] {100}\r\n" + std::string(100, 'x') + " X {100}\r\n" + std::string(100, 'y') +
             std::string(120, ' '),
         Limits{.max_literal = 100, .max_text = 1000, .max_response = 300}, "response exceeds 300 bytes"},
        {"* 1 FETCH (BODYSTRUCTURE " + std::string(9, '(') + std::string(9, ')') + ")\r\n", small,
         "nested too deeply"},
        {"* LIST () \"/ foo\r\n", Limits{}, "unterminated quoted string"},
        {"* LIST () \"//\" foo\r\n", Limits{}, "delimiter"},
        {"* 4294967296 EXISTS\r\n", Limits{}, "out of range"},
        {"* 1 FETCH (UID 12a)\r\n", Limits{}, "expected a space"},
        {"* 1 FETCH (UID 1\r\n", Limits{}, "unterminated FETCH"},
        {"* 1 FETCH (BODY[] {3} x\r\n", Limits{}, "line break after a literal size"},
        {"* 1 FETCH (FLAGS (\\Seen \\)\r\n", Limits{}, "expected a flag"},
        {"a1 WHAT now\r\n", Limits{}, "expected OK, NO, BAD or BYE"},
        {"a1 PREAUTH now\r\n", Limits{}, "expected OK, NO, BAD or BYE"},
        {"hello\r\n", Limits{}, "expected a space"},
        {"\r\n", Limits{}, "expected a tag"},
        {"* \r\n", Limits{}, "expected an atom"},
    };
    for (const auto& c : cases) {
        Parser p(c.limits);
        p.feed(c.bytes);
        auto r = p.next();
        ASSERT_FALSE(r.ok()) << c.bytes;
        EXPECT_NE(r.error().find(c.message_part), std::string::npos) << c.bytes << " -> " << r.error();
        p.feed("* 1 EXISTS\r\n");
        auto again = p.next();
        EXPECT_FALSE(again.ok()) << "an error must stay: " << c.bytes;
    }
}

TEST(ImapParser, LimitErrorsDoNotDependOnHowBytesArrive) {
    // Past a literal, the response's total size runs out one byte before
    // its text allowance does; every way of splitting must say the same.
    const Limits l{.max_literal = 100, .max_text = 200, .max_response = 299};
    const std::string bytes = "* 1 FETCH (BODY[] {100}\r\n" + std::string(100, 'x') + std::string(300, ' ');
    const auto whole = run_whole(bytes, l);
    ASSERT_EQ(whole, std::vector<std::string>{"error: server response exceeds 299 bytes"});
    const std::string_view all(bytes);
    for (std::size_t cut = 1; cut < all.size(); ++cut) {
        ASSERT_EQ(run({all.substr(0, cut), all.substr(cut)}, l), whole) << "split at " << cut;
    }
}

TEST(ImapParser, BodiesOverTheLimitAreDroppedAsTheyArrive) {
    Limits l;
    l.max_literal = 1000;
    Parser p(l);
    p.feed("* 7 FETCH (UID 70 FLAGS (\\Seen) BODY[] {5000000}\r\n");
    const std::string chunk(4096, 'z');
    std::size_t sent = 0;
    while (sent < 5000000) {
        std::size_t n = std::min(chunk.size(), std::size_t{5000000} - sent);
        p.feed(std::string_view(chunk).substr(0, n));
        sent += n;
        auto r = p.next();
        ASSERT_TRUE(r.ok()) << r.error();
        ASSERT_FALSE(r->has_value());
        ASSERT_LT(p.buffered(), 200u) << "dropped bytes must not pile up";
    }
    p.feed(" INTERNALDATE \"17-Jul-1996 02:44:25 -0700\")\r\n* 8 FETCH (UID 80 BODY[] {3}\r\nabc)\r\n");
    auto first = p.next();
    ASSERT_TRUE(first.ok() && first->has_value());
    EXPECT_EQ(render(**first), "fetch 7 uid=70 flags=\\Seen date=837596665 omitted=5000000");
    auto second = p.next();
    ASSERT_TRUE(second.ok() && second->has_value());
    EXPECT_EQ(render(**second), "fetch 8 uid=80 body=abc");

    // Split anywhere, the same two responses.
    const std::string small = "* 1 FETCH (BODY[] {12}\r\n0123456789ab UID 3)\r\n* 2 FETCH (RFC822 {2}\r\nxy)\r\n";
    Limits tiny;
    tiny.max_literal = 10;
    const std::vector<std::string> expected = {"fetch 1 uid=3 omitted=12", "fetch 2 body=xy"};
    for (std::size_t cut = 0; cut <= small.size(); ++cut) {
        ASSERT_EQ(run({std::string_view(small).substr(0, cut), std::string_view(small).substr(cut)}, tiny), expected)
            << "split at " << cut;
    }
}

TEST(ImapParser, LiteralAtTheLimitIsAccepted) {
    Limits l;
    l.max_literal = 10;
    EXPECT_EQ(run_whole("* 1 FETCH (BODY[] {10}\r\n0123456789)\r\n", l),
              std::vector<std::string>{"fetch 1 body=0123456789"});
}

TEST(ImapParser, ManyFlagsAreCapped) {
    Limits l;
    l.max_list_items = 3;
    auto out = run_whole("* FLAGS (\\a \\b \\c \\d)\r\n", l);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_NE(out[0].find("too many flags"), std::string::npos) << out[0];
    EXPECT_EQ(run_whole("* FLAGS (\\a \\b \\c)\r\n", l), std::vector<std::string>{"flags \\a,\\b,\\c"});
}

TEST(ImapCommand, QuotedStrings) {
    struct Case {
        std::string text;
        std::string quoted;
    } cases[] = {
        {"", "\"\""},
        {"INBOX", "\"INBOX\""},
        {"Sent Items", "\"Sent Items\""},
        {"a\"b", "\"a\\\"b\""},
        {"back\\slash", "\"back\\\\slash\""},
        {"\\\"", "\"\\\\\\\"\""},
        {"Entw\xc3\xbcrfe", "\"Entw\xc3\xbcrfe\""},
    };
    for (const auto& c : cases) {
        auto q = quote(c.text);
        ASSERT_TRUE(q.ok()) << c.text;
        EXPECT_EQ(*q, c.quoted);
        // What the writer produces reads back as the same text.
        Parser p;
        p.feed("* LIST () \"/\" " + *q + "\r\n");
        auto r = p.next();
        ASSERT_TRUE(r.ok() && r->has_value()) << *q;
        EXPECT_EQ(std::get<ListData>(**r).name, c.text);
    }
    for (std::string bad : {std::string("a\r\nb"), std::string("a\nb"), std::string("a\rb"), std::string("a\0b", 3)}) {
        EXPECT_FALSE(quote(bad).ok());
    }
}

TEST(ImapCommand, CommandLines) {
    TagSource tags;
    EXPECT_EQ(tags.next(), "a1");
    EXPECT_EQ(tags.next(), "a2");
    EXPECT_EQ(*Command("SELECT").string("Archive \"2024\"").line("a3"), "a3 SELECT \"Archive \\\"2024\\\"\"\r\n");
    EXPECT_EQ(*Command("LIST").string("").raw("*").line("a4"), "a4 LIST \"\" *\r\n");
    const std::uint32_t uids[] = {120, 119, 7};
    EXPECT_EQ(*Command("UID FETCH").raw(sequence_set(uids)).raw("(UID FLAGS)").line("a5"),
              "a5 UID FETCH 120,119,7 (UID FLAGS)\r\n");
    EXPECT_EQ(*Command("UID STORE").number(4000000000u).raw("+FLAGS").raw("(\\Seen)").line("a6"),
              "a6 UID STORE 4000000000 +FLAGS (\\Seen)\r\n");

    // A bad argument fails the whole line and its text is not repeated in
    // the message (it may be a password).
    auto bad = Command("LOGIN").string("user").string("sec\r\nret").line("a7");
    ASSERT_FALSE(bad.ok());
    EXPECT_EQ(bad.error().find("sec"), std::string::npos) << bad.error();
    EXPECT_NE(bad.error().find("LOGIN"), std::string::npos);
    EXPECT_FALSE(Command("UID SEARCH").raw("ALL\r\na9 LOGOUT").line("a8").ok());
    EXPECT_FALSE(Command("NOOP").raw("").line("a9").ok());
}

}  // namespace
