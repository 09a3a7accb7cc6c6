#include "lib/imap/parser.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace lib::imap {

namespace {

char to_upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = to_upper(c);
    return out;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool is_atom_char(char ch) {
    auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7f) return false;
    switch (c) {
        case '(': case ')': case '{': case ' ': case '%': case '*': case '"': case '\\': case ']':
            return false;
        default:
            return true;
    }
}

bool is_astring_char(char c) { return is_atom_char(c) || c == ']'; }

// Reads one complete response. The range holds the response without its
// final line break; literals inside it still carry their own line breaks.
// Literal over Limits::max_literal whose bytes were not kept: where its
// data would start (offset in the response) and its announced size.
struct DroppedLiteral {
    std::size_t offset = 0;
    std::uint64_t size = 0;
};

class Cursor {
public:
    Cursor(const char* begin, const char* end, const Limits& limits, const std::vector<DroppedLiteral>& dropped)
        : base_(begin), p_(begin), end_(end), limits_(limits), dropped_(dropped) {}

    bool at_end() const { return p_ == end_; }
    char peek() const { return at_end() ? '\0' : *p_; }
    char peek_at(std::size_t k) const {
        return static_cast<std::size_t>(end_ - p_) > k ? p_[k] : '\0';
    }
    bool eat(char c) {
        if (!at_end() && *p_ == c) {
            ++p_;
            return true;
        }
        return false;
    }
    void skip_spaces() {
        while (eat(' ')) {
        }
    }

    bool fail(std::string_view what) {
        if (error_.empty()) {
            error_ = "malformed server response: ";
            error_ += what;
            error_ += near();
        }
        return false;
    }
    const std::string& error() const { return error_; }

    bool space() { return eat(' ') || fail("expected a space"); }
    const Limits& limits() const { return limits_; }

    // "[CODE args]" at the cursor, up to the first "]" on the line; the
    // cursor stays put when there is no closing bracket.
    bool bracket_code(std::string& code) {
        const char* start = p_;
        if (!eat('[')) return false;
        const char* q = p_;
        while (q != end_ && *q != ']' && *q != '\r' && *q != '\n') ++q;
        if (q == end_ || *q != ']') {
            p_ = start;
            return false;
        }
        code.assign(p_, q);
        p_ = q + 1;
        return true;
    }

    // The rest of the current line (up to a line break or the end).
    std::string rest_of_line() {
        const char* start = p_;
        while (!at_end() && *p_ != '\r' && *p_ != '\n') ++p_;
        return std::string(start, p_);
    }

    bool atom(std::string_view& out) {
        const char* start = p_;
        while (!at_end() && is_atom_char(*p_)) ++p_;
        if (p_ == start) return fail("expected an atom");
        out = std::string_view(start, static_cast<std::size_t>(p_ - start));
        return true;
    }

    bool tag(std::string_view& out) {
        const char* start = p_;
        while (!at_end() && is_astring_char(*p_) && *p_ != '+') ++p_;
        if (p_ == start) return fail("expected a tag, \"*\" or \"+\"");
        out = std::string_view(start, static_cast<std::size_t>(p_ - start));
        return true;
    }

    bool number64(std::uint64_t& out, std::uint64_t max) {
        if (!is_digit(peek())) return fail("expected a number");
        std::uint64_t v = 0;
        while (is_digit(peek())) {
            auto d = static_cast<std::uint64_t>(*p_ - '0');
            if (v > (max - d) / 10) return fail("number out of range");
            v = v * 10 + d;
            ++p_;
        }
        out = v;
        return true;
    }

    bool number32(std::uint32_t& out) {
        std::uint64_t v = 0;
        if (!number64(v, 0xffffffffu)) return false;
        out = static_cast<std::uint32_t>(v);
        return true;
    }

    bool quoted(std::string& out) {
        if (!eat('"')) return fail("expected a quoted string");
        out.clear();
        while (true) {
            if (at_end()) return fail("unterminated quoted string");
            char c = *p_++;
            if (c == '"') return true;
            if (c == '\r' || c == '\n') return fail("line break inside a quoted string");
            if (c == '\\') {
                if (at_end()) return fail("unterminated quoted string");
                c = *p_++;
                if (c == '\r' || c == '\n') return fail("line break inside a quoted string");
            }
            out.push_back(c);
        }
    }

    bool skip_quoted() {
        ++p_;  // opening quote
        while (true) {
            if (at_end()) return fail("unterminated quoted string");
            char c = *p_++;
            if (c == '"') return true;
            if (c == '\r' || c == '\n') return fail("line break inside a quoted string");
            if (c == '\\') {
                if (at_end() || *p_ == '\r' || *p_ == '\n') return fail("unterminated quoted string");
                ++p_;
            }
        }
    }

    bool at_literal() const { return peek() == '{' || (peek() == '~' && peek_at(1) == '{'); }

    // A literal's bytes. `omitted` is set (and data null) for one that was
    // too large to keep.
    bool literal(const char*& data, std::size_t& size, std::uint64_t& omitted) {
        eat('~');
        if (!eat('{')) return fail("expected a literal");
        std::uint64_t n = 0;
        if (!number64(n, UINT64_MAX)) return fail("literal size out of range");
        eat('+');
        if (!eat('}')) return fail("expected \"}\" after a literal size");
        eat('\r');
        if (!eat('\n')) return fail("expected a line break after a literal size");
        omitted = 0;
        auto offset = static_cast<std::size_t>(p_ - base_);
        for (const auto& d : dropped_) {
            if (d.offset == offset && d.size == n) {
                data = nullptr;
                size = 0;
                omitted = n;
                return true;
            }
        }
        if (static_cast<std::uint64_t>(end_ - p_) < n) return fail("literal runs past the response");
        data = p_;
        size = static_cast<std::size_t>(n);
        p_ += size;
        return true;
    }

    // A quoted string or a literal, copied into out.
    bool string(std::string& out) {
        if (peek() == '"') return quoted(out);
        if (at_literal()) {
            const char* data = nullptr;
            std::size_t size = 0;
            std::uint64_t omitted = 0;
            if (!literal(data, size, omitted)) return false;
            if (omitted) return fail("literal exceeds " + std::to_string(limits_.max_literal) + " bytes");
            out.assign(data, size);
            return true;
        }
        return fail("expected a string");
    }

    bool nstring(std::optional<std::string>& out) {
        if (peek() == '"' || at_literal()) {
            std::string s;
            if (!string(s)) return false;
            out = std::move(s);
            return true;
        }
        std::string_view word;
        if (!atom(word)) return false;
        if (!iequals(word, "NIL")) return fail("expected a string or NIL");
        out.reset();
        return true;
    }

    bool astring(std::string& out) {
        if (peek() == '"' || at_literal()) return string(out);
        const char* start = p_;
        while (!at_end() && is_astring_char(*p_)) ++p_;
        if (p_ == start) return fail("expected a string");
        out.assign(start, p_);
        return true;
    }

    // "(\Seen $Label \*)"
    bool flag_list(std::vector<std::string>& out) {
        if (!eat('(')) return fail("expected a flag list");
        out.clear();
        while (true) {
            skip_spaces();
            if (eat(')')) return true;
            if (at_end()) return fail("unterminated flag list");
            if (out.size() >= limits_.max_list_items) return fail("too many flags");
            const char* start = p_;
            if (eat('\\')) {
                if (!eat('*')) {
                    while (!at_end() && is_atom_char(*p_)) ++p_;
                }
            } else {
                while (!at_end() && is_atom_char(*p_)) ++p_;
            }
            if (p_ == start || (p_ - start == 1 && *start == '\\')) return fail("expected a flag");
            out.emplace_back(start, p_);
        }
    }

    // Any value: atom, number, string, literal, NIL or a nested list.
    bool skip_value(std::size_t depth) {
        if (eat('(')) {
            if (depth + 1 > limits_.max_depth) return fail("lists nested too deeply");
            while (true) {
                skip_spaces();
                if (eat(')')) return true;
                if (at_end()) return fail("unterminated list");
                if (!skip_value(depth + 1)) return false;
            }
        }
        if (peek() == '"') return skip_quoted();
        if (at_literal()) {
            const char* data = nullptr;
            std::size_t size = 0;
            std::uint64_t omitted = 0;
            return literal(data, size, omitted);
        }
        const char* start = p_;
        while (!at_end()) {
            char c = *p_;
            if (c == ' ' || c == '(' || c == ')' || c == '"' || c == '\r' || c == '\n') break;
            ++p_;
            if (c == '[' && !skip_section()) return false;
        }
        if (p_ == start) return fail("unexpected character");
        return true;
    }

    // After "[": up to and including the matching "]" of a section such as
    // "HEADER.FIELDS (DATE FROM)".
    bool skip_section() {
        while (!at_end() && *p_ != ']' && *p_ != '\r' && *p_ != '\n') ++p_;
        return eat(']') || fail("unterminated section");
    }

    // A FETCH item name: "UID", "BODY[]", "BODY[HEADER.FIELDS (A B)]<0>".
    bool fetch_item_name(std::string_view& out) {
        const char* start = p_;
        while (!at_end()) {
            char c = *p_;
            if (c == '[') {
                ++p_;
                if (!skip_section()) return false;
                continue;
            }
            if (!is_atom_char(c)) break;
            ++p_;
        }
        if (p_ == start) return fail("expected a FETCH item");
        out = std::string_view(start, static_cast<std::size_t>(p_ - start));
        return true;
    }

private:
    std::string near() const {
        if (at_end()) return " at the end";
        std::string out = " near \"";
        const char* stop = p_ + std::min<std::ptrdiff_t>(24, end_ - p_);
        for (const char* q = p_; q < stop; ++q) {
            auto c = static_cast<unsigned char>(*q);
            out.push_back(c >= 0x20 && c < 0x7f && c != '"' ? static_cast<char>(c) : '?');
        }
        out += "\"";
        return out;
    }

    const char* base_;
    const char* p_;
    const char* end_;
    const Limits& limits_;
    const std::vector<DroppedLiteral>& dropped_;
    std::string error_;
};

void parse_resp_text(Cursor& c, StatusResponse& s) {
    if (c.at_end()) return;
    c.eat(' ');
    if (c.bracket_code(s.code)) c.eat(' ');
    s.text = c.rest_of_line();
}

bool parse_condition(std::string_view word, Condition& out) {
    static const std::pair<std::string_view, Condition> table[] = {
        {"OK", Condition::ok},   {"NO", Condition::no},           {"BAD", Condition::bad},
        {"BYE", Condition::bye}, {"PREAUTH", Condition::preauth},
    };
    for (const auto& [name, cond] : table) {
        if (iequals(word, name)) {
            out = cond;
            return true;
        }
    }
    return false;
}

bool parse_fetch(Cursor& c, std::uint32_t sequence, Response& out) {
    if (!c.eat('(')) return c.fail("expected \"(\" after FETCH");
    FetchData f;
    f.sequence = sequence;
    while (true) {
        c.skip_spaces();
        if (c.eat(')')) break;
        if (c.at_end()) return c.fail("unterminated FETCH data");
        std::string_view raw_name;
        if (!c.fetch_item_name(raw_name) || !c.space()) return false;
        std::string name = upper(raw_name);
        if (name == "UID") {
            std::uint32_t uid = 0;
            if (!c.number32(uid)) return false;
            f.uid = uid;
        } else if (name == "FLAGS") {
            std::vector<std::string> flags;
            if (!c.flag_list(flags)) return false;
            f.flags = std::move(flags);
        } else if (name == "INTERNALDATE") {
            std::optional<std::string> text;
            if (!c.nstring(text)) return false;
            f.internal_date = text ? parse_internal_date(*text) : std::nullopt;
        } else if (name == "RFC822.SIZE") {
            std::uint64_t size = 0;
            if (!c.number64(size, UINT64_MAX)) return false;
            f.rfc822_size = size;
        } else if (name == "BODY[]" || name == "RFC822") {
            if (c.at_literal()) {
                const char* data = nullptr;
                std::size_t size = 0;
                std::uint64_t omitted = 0;
                if (!c.literal(data, size, omitted)) return false;
                f.omitted_body_bytes = omitted;
                if (omitted) {
                    f.body.reset();
                } else {
                    f.body = std::string(data, size);
                }
            } else {
                std::optional<std::string> body;
                if (!c.nstring(body)) return false;
                f.body = std::move(body);
            }
        } else {
            if (!c.skip_value(0)) return false;
        }
    }
    out = std::move(f);
    return true;
}

bool parse_list(Cursor& c, bool lsub, Response& out) {
    ListData l;
    l.lsub = lsub;
    if (!c.space() || !c.flag_list(l.flags) || !c.space()) return false;
    if (c.peek() == '"') {
        std::string d;
        if (!c.quoted(d)) return false;
        if (d.size() != 1) return c.fail("hierarchy delimiter is not one character");
        l.delimiter = d[0];
    } else {
        std::string_view word;
        if (!c.atom(word)) return false;
        if (!iequals(word, "NIL")) return c.fail("expected a delimiter or NIL");
    }
    if (!c.space() || !c.astring(l.name)) return false;
    out = std::move(l);
    return true;
}

bool parse_untagged(Cursor& c, Response& out) {
    if (is_digit(c.peek())) {
        std::uint32_t n = 0;
        std::string_view word;
        if (!c.number32(n) || !c.space() || !c.atom(word)) return false;
        std::string name = upper(word);
        if (name == "EXISTS" || name == "RECENT" || name == "EXPUNGE") {
            CountData d;
            d.kind = name == "EXISTS"   ? CountData::Kind::exists
                     : name == "RECENT" ? CountData::Kind::recent
                                        : CountData::Kind::expunge;
            d.number = n;
            out = d;
            return true;
        }
        if (name == "FETCH") return c.space() && parse_fetch(c, n, out);
        out = OtherData{std::move(name)};
        return true;
    }
    std::string_view word;
    if (!c.atom(word)) return false;
    std::string name = upper(word);
    Condition cond{};
    if (parse_condition(name, cond)) {
        StatusResponse s;
        s.condition = cond;
        parse_resp_text(c, s);
        out = std::move(s);
        return true;
    }
    if (name == "CAPABILITY") {
        CapabilityData d;
        while (c.eat(' ')) {
            c.skip_spaces();
            if (c.at_end()) break;
            if (d.names.size() >= c.limits().max_list_items) return c.fail("too many capabilities");
            std::string_view cap;
            if (!c.atom(cap)) return false;
            d.names.emplace_back(cap);
        }
        out = std::move(d);
        return true;
    }
    if (name == "LIST" || name == "LSUB") return parse_list(c, name == "LSUB", out);
    if (name == "SEARCH") {
        SearchData d;
        while (c.eat(' ')) {
            c.skip_spaces();
            if (c.at_end()) break;
            if (c.peek() == '(') {
                if (!c.skip_value(0)) return false;
                continue;
            }
            std::uint32_t n = 0;
            if (!c.number32(n)) return false;
            d.numbers.push_back(n);
        }
        out = std::move(d);
        return true;
    }
    if (name == "FLAGS") {
        FlagsData d;
        if (!c.space() || !c.flag_list(d.flags)) return false;
        out = std::move(d);
        return true;
    }
    out = OtherData{std::move(name)};
    return true;
}

}  // namespace

struct Parser::State {
    Limits limits;
    std::unique_ptr<char[]> data;
    std::size_t capacity = 0;
    std::size_t begin = 0;  // first byte of the current response
    std::size_t end = 0;    // one past the last received byte
    // Framing of the current response, as offsets from begin.
    std::size_t scan = 0;          // next byte to look at
    std::size_t line_start = 0;    // start of the current line (after a literal)
    std::size_t literal_left = 0;  // literal bytes still to come
    std::size_t text_bytes = 0;    // bytes outside literals so far
    bool dropping = false;         // the pending literal is too large: its bytes are discarded
    std::vector<DroppedLiteral> dropped;
    std::optional<std::string> failure;

    void reset_frame() {
        scan = line_start = literal_left = text_bytes = 0;
        dropping = false;
        dropped.clear();
    }

    Error fail(std::string message) {
        failure = std::move(message);
        return err(*failure);
    }
};

Parser::Parser(Limits limits) : s_(std::make_unique<State>()) { s_->limits = limits; }
Parser::~Parser() = default;
Parser::Parser(Parser&&) noexcept = default;
Parser& Parser::operator=(Parser&&) noexcept = default;

std::size_t Parser::buffered() const { return s_->end - s_->begin; }

std::span<char> Parser::prepare(std::size_t n) {
    State& s = *s_;
    if (s.begin == s.end) s.begin = s.end = 0;
    if (s.capacity - s.end < n) {
        std::size_t used = s.end - s.begin;
        if (s.begin > 0 && s.capacity - used >= n && s.begin >= used) {
            std::memmove(s.data.get(), s.data.get() + s.begin, used);
        } else {
            std::size_t cap = std::max({used + n, s.capacity * 2, std::size_t{4096}});
            auto fresh = std::make_unique<char[]>(cap);
            if (used) std::memcpy(fresh.get(), s.data.get() + s.begin, used);
            s.data = std::move(fresh);
            s.capacity = cap;
        }
        s.begin = 0;
        s.end = used;
    }
    return {s.data.get() + s.end, n};
}

void Parser::commit(std::size_t k) {
    State& s = *s_;
    s.end = std::min(s.end + k, s.capacity);
}

void Parser::feed(std::string_view bytes) {
    if (bytes.empty()) return;
    auto room = prepare(bytes.size());
    std::memcpy(room.data(), bytes.data(), bytes.size());
    commit(bytes.size());
}

Result<std::optional<Response>> Parser::next() {
    State& s = *s_;
    if (s.failure) return err(*s.failure);
    const Limits& lim = s.limits;
    while (true) {
        const char* base = s.data.get() + s.begin;
        std::size_t avail = s.end - s.begin;
        if (s.literal_left > 0) {
            std::size_t take = std::min(s.literal_left, avail - s.scan);
            if (s.dropping) {
                // Cut the literal's bytes out; what follows them moves up.
                char* at = s.data.get() + s.begin + s.scan;
                std::memmove(at, at + take, avail - s.scan - take);
                s.end -= take;
                avail -= take;
            } else {
                s.scan += take;
            }
            s.literal_left -= take;
            if (s.literal_left > 0) return std::optional<Response>{};
            s.dropping = false;
        }
        const void* found = s.scan < avail ? std::memchr(base + s.scan, '\n', avail - s.scan) : nullptr;
        std::size_t nl = found ? static_cast<std::size_t>(static_cast<const char*>(found) - base) : 0;
        std::size_t segment_end = found ? nl + 1 : avail;
        // Of the two size limits, the one the earlier byte breaks is
        // reported, so the outcome does not depend on how bytes arrive.
        {
            constexpr std::size_t none = static_cast<std::size_t>(-1);
            std::size_t text_over = none, total_over = none;
            if (s.text_bytes + (segment_end - s.scan) > lim.max_text) text_over = s.scan + (lim.max_text - s.text_bytes);
            if (segment_end > lim.max_response) total_over = std::max(s.scan, lim.max_response);
            if (text_over != none && text_over <= total_over)
                return s.fail("server response line exceeds " + std::to_string(lim.max_text) + " bytes");
            if (total_over != none)
                return s.fail("server response exceeds " + std::to_string(lim.max_response) + " bytes");
        }
        s.text_bytes += segment_end - s.scan;
        if (!found) {
            s.scan = avail;
            return std::optional<Response>{};
        }
        std::size_t content_end = nl;
        if (content_end > s.line_start && base[content_end - 1] == '\r') --content_end;

        // A line ending in "{n}" announces n bytes of literal data.
        if (content_end > s.line_start && base[content_end - 1] == '}') {
            std::size_t k = content_end - 1;
            if (k > s.line_start && base[k - 1] == '+') --k;
            std::size_t digits_end = k;
            while (k > s.line_start && is_digit(base[k - 1])) --k;
            if (k < digits_end && k > s.line_start && base[k - 1] == '{') {
                std::uint64_t n = 0;
                for (std::size_t i = k; i < digits_end; ++i) {
                    auto d = static_cast<std::uint64_t>(base[i] - '0');
                    if (n > (UINT64_MAX - d) / 10) return s.fail("server literal size out of range");
                    n = n * 10 + d;
                }
                s.scan = nl + 1;
                s.literal_left = static_cast<std::size_t>(n);
                if (n > lim.max_literal) {
                    // Too large to keep: its bytes are read and discarded,
                    // and the response says how many there were.
                    s.dropping = true;
                    s.dropped.push_back({s.scan, n});
                    s.line_start = s.scan;
                } else {
                    s.line_start = s.scan + s.literal_left;
                    if (s.scan + s.literal_left > lim.max_response)
                        return s.fail("server response exceeds " + std::to_string(lim.max_response) + " bytes");
                }
                continue;
            }
        }

        // A complete response: [0, content_end) without its final line break.
        Response response;
        Cursor c(base, base + content_end, lim, s.dropped);
        bool ok = false;
        if (c.eat('+')) {
            c.eat(' ');
            response = Continuation{c.rest_of_line()};
            ok = true;
        } else if (c.eat('*')) {
            ok = c.space() && parse_untagged(c, response);
        } else {
            std::string_view tag, word;
            Condition cond{};
            if (c.tag(tag) && c.space() && c.atom(word)) {
                if (parse_condition(word, cond) && cond != Condition::preauth) {
                    StatusResponse st;
                    st.tag = std::string(tag);
                    st.condition = cond;
                    parse_resp_text(c, st);
                    response = std::move(st);
                    ok = true;
                } else {
                    c.fail("expected OK, NO, BAD or BYE after a tag");
                }
            }
        }
        if (!ok) return s.fail(c.error());

        s.begin += nl + 1;
        s.reset_frame();
        if (s.begin == s.end) {
            s.begin = s.end = 0;
            if (s.capacity > (8u << 20)) {
                s.data.reset();
                s.capacity = 0;
            }
        }
        return std::optional<Response>(std::move(response));
    }
}

}  // namespace lib::imap
