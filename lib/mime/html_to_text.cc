#include "lib/mime/html_to_text.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "lib/mime/charset.h"
#include "lib/mime/utf8.h"

namespace lib::mime {
namespace {

using detail::append_utf8;

struct NamedEntity {
    std::string_view name;
    char32_t code;
};

// ISO-8859-1 names for U+00A0..U+00FF, in order.
constexpr std::array<std::string_view, 96> kLatin1Names = {
    "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",
    "uml",    "copy",   "ordf",   "laquo",  "not",    "shy",    "reg",    "macr",
    "deg",    "plusmn", "sup2",   "sup3",   "acute",  "micro",  "para",   "middot",
    "cedil",  "sup1",   "ordm",   "raquo",  "frac14", "frac12", "frac34", "iquest",
    "Agrave", "Aacute", "Acirc",  "Atilde", "Auml",   "Aring",  "AElig",  "Ccedil",
    "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave", "Iacute", "Icirc",  "Iuml",
    "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde", "Ouml",   "times",
    "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",  "szlig",
    "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil",
    "egrave", "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",
    "eth",    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide",
    "oslash", "ugrave", "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml",
};

constexpr NamedEntity kOtherEntities[] = {
    {"amp", '&'},        {"lt", '<'},         {"gt", '>'},         {"quot", '"'},
    {"apos", '\''},      {"hellip", 0x2026},  {"mdash", 0x2014},   {"ndash", 0x2013},
    {"lsquo", 0x2018},   {"rsquo", 0x2019},   {"sbquo", 0x201A},   {"ldquo", 0x201C},
    {"rdquo", 0x201D},   {"bdquo", 0x201E},   {"bull", 0x2022},    {"euro", 0x20AC},
    {"trade", 0x2122},   {"dagger", 0x2020},  {"Dagger", 0x2021},  {"permil", 0x2030},
    {"lsaquo", 0x2039},  {"rsaquo", 0x203A},  {"OElig", 0x0152},   {"oelig", 0x0153},
    {"Scaron", 0x0160},  {"scaron", 0x0161},  {"Yuml", 0x0178},    {"fnof", 0x0192},
    {"circ", 0x02C6},    {"tilde", 0x02DC},   {"ensp", 0x2002},    {"emsp", 0x2003},
    {"thinsp", 0x2009},  {"zwnj", 0x200C},    {"zwj", 0x200D},     {"lrm", 0x200E},
    {"rlm", 0x200F},     {"larr", 0x2190},    {"uarr", 0x2191},    {"rarr", 0x2192},
    {"darr", 0x2193},    {"harr", 0x2194},    {"minus", 0x2212},   {"prime", 0x2032},
    {"Prime", 0x2033},   {"check", 0x2713},   {"hearts", 0x2665},  {"star", 0x2606},
    {"nbsp", 0xA0},      {"NewLine", '\n'},   {"Tab", '\t'},
};

bool is_ascii_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }
bool is_ascii_alnum(char c) { return is_ascii_alpha(c) || is_ascii_digit(c); }
char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
bool is_html_space(char32_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

bool lookup_entity(std::string_view name, char32_t& out) {
    for (std::size_t i = 0; i < kLatin1Names.size(); ++i) {
        if (kLatin1Names[i] == name) {
            out = static_cast<char32_t>(0xA0 + i);
            return true;
        }
    }
    for (const NamedEntity& e : kOtherEntities) {
        if (e.name == name) {
            out = e.code;
            return true;
        }
    }
    return false;
}

// Decodes an entity at text[p] == '&'. On success, p is past it.
bool decode_entity(std::string_view text, std::size_t& p, char32_t& out) {
    std::size_t q = p + 1;
    if (q < text.size() && text[q] == '#') {
        ++q;
        const bool hex = q < text.size() && (text[q] == 'x' || text[q] == 'X');
        if (hex) ++q;
        std::uint32_t value = 0;
        std::size_t digits = 0;
        for (; q < text.size(); ++q, ++digits) {
            const char c = text[q];
            int d = -1;
            if (is_ascii_digit(c)) {
                d = c - '0';
            } else if (hex && c >= 'a' && c <= 'f') {
                d = c - 'a' + 10;
            } else if (hex && c >= 'A' && c <= 'F') {
                d = c - 'A' + 10;
            }
            if (d < 0) break;
            if (value <= 0x10FFFF) value = value * (hex ? 16 : 10) + static_cast<std::uint32_t>(d);
        }
        if (digits == 0) return false;
        if (q < text.size() && text[q] == ';') ++q;
        if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
            out = 0xFFFD;
        } else if (value >= 0x80 && value <= 0x9F) {
            out = detail::windows1252_c1(static_cast<unsigned char>(value));
        } else {
            out = value;
        }
        p = q;
        return true;
    }
    std::size_t len = 0;
    while (q + len < text.size() && len <= 10 && is_ascii_alnum(text[q + len])) ++len;
    if (len == 0 || len > 10 || q + len >= text.size() || text[q + len] != ';') return false;
    if (!lookup_entity(text.substr(q, len), out)) return false;
    p = q + len + 1;
    return true;
}

// Characters that take no room and only litter plain text.
bool is_invisible(char32_t c) {
    return c == 0xAD || c == 0x34F || c == 0x180E || (c >= 0x200B && c <= 0x200F) || c == 0x2060 ||
           c == 0xFEFF;
}

bool is_control(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

enum class Kind { none, paragraph, line, br, li, list, pre, link, cell, row, raw };

Kind kind_of(std::string_view name) {
    static constexpr std::string_view kParagraph[] = {
        "p", "h1", "h2", "h3", "h4", "h5", "h6", "blockquote", "table", "dl", "hr",
        "figure", "address", "fieldset", "form", "center"};
    static constexpr std::string_view kLine[] = {
        "div", "section", "article", "header", "footer", "nav", "aside", "main", "dt", "dd",
        "caption", "summary", "details", "option", "legend", "figcaption", "body", "html"};
    static constexpr std::string_view kRaw[] = {
        "script", "style", "title", "noscript", "template", "xml"};
    for (auto n : kParagraph) if (n == name) return Kind::paragraph;
    for (auto n : kLine) if (n == name) return Kind::line;
    for (auto n : kRaw) if (n == name) return Kind::raw;
    if (name == "br") return Kind::br;
    if (name == "li") return Kind::li;
    if (name == "ul" || name == "ol" || name == "menu") return Kind::list;
    if (name == "pre" || name == "textarea" || name == "listing" || name == "plaintext") return Kind::pre;
    if (name == "a") return Kind::link;
    if (name == "td" || name == "th") return Kind::cell;
    if (name == "tr") return Kind::row;
    return Kind::none;
}

constexpr std::size_t kMaxShownUrl = 200;
constexpr std::size_t kMaxListDepth = 16;

class Renderer {
public:
    Renderer(std::string_view html, const HtmlToTextOptions& options)
        : in_(html), options_(options) {}

    std::string run() {
        while (pos_ < in_.size() && !full_) {
            const char c = in_[pos_];
            if (c == '<') {
                tag();
            } else if (c == '&') {
                char32_t cp = 0;
                if (decode_entity(in_, pos_, cp)) {
                    text_char(cp);
                } else {
                    text_char('&');
                    ++pos_;
                }
            } else {
                char32_t cp = 0;
                const std::size_t n = detail::decode_utf8(in_, pos_, cp);
                pos_ += n == 0 ? 1 : n;
                text_char(n == 0 ? 0xFFFD : cp);
            }
        }
        return finish();
    }

private:
    // ----- output -----
    void flush() {
        if (out_.empty()) {
            pending_breaks_ = 0;
            pending_space_ = false;
            return;
        }
        if (pending_breaks_ > 0) {
            int have = 0;
            for (auto it = out_.rbegin(); it != out_.rend() && *it == '\n' && have < 2; ++it) ++have;
            for (int i = have; i < std::min(pending_breaks_, 2); ++i) out_.push_back('\n');
        } else if (pending_space_ && out_.back() != ' ' && out_.back() != '\n') {
            out_.push_back(' ');
        }
        pending_breaks_ = 0;
        pending_space_ = false;
    }

    void append(std::string_view s) {
        if (out_.size() + s.size() > options_.max_output_bytes) {
            full_ = true;
            return;
        }
        out_.append(s);
    }

    void append_char(char32_t c) {
        if (out_.size() + 4 > options_.max_output_bytes) {
            full_ = true;
            return;
        }
        append_utf8(out_, c);
    }

    void text_char(char32_t c) {
        if (is_invisible(c)) return;
        if (pre_depth_ > 0) {
            if (c == '\r') return;
            if (c == '\n') {
                flush();
                append("\n");
                return;
            }
            if (c == '\t' || c == 0xA0) c = c == 0xA0 ? U' ' : U'\t';
            if (is_control(c) && c != '\t') return;
            flush();
            append_char(c);
            return;
        }
        if (is_html_space(c) || c == 0xA0) {
            pending_space_ = true;
            return;
        }
        if (is_control(c)) return;
        flush();
        append_char(c);
    }

    void block(int breaks) { pending_breaks_ = std::max(pending_breaks_, breaks); }

    // ----- tags -----
    void skip_past(char terminator) {
        const std::size_t end = in_.find(terminator, pos_);
        pos_ = end == std::string_view::npos ? in_.size() : end + 1;
    }

    void tag() {
        const std::size_t start = pos_;
        std::size_t p = pos_ + 1;
        if (p >= in_.size()) {
            text_char('<');
            ++pos_;
            return;
        }
        if (in_[p] == '!') {
            if (in_.compare(p, 3, "!--") == 0) {
                const std::size_t end = in_.find("-->", p + 3);
                pos_ = end == std::string_view::npos ? in_.size() : end + 3;
            } else {
                pos_ = p;
                skip_past('>');
            }
            return;
        }
        if (in_[p] == '?') {
            pos_ = p;
            skip_past('>');
            return;
        }
        const bool closing = in_[p] == '/';
        if (closing) ++p;
        if (p >= in_.size() || !is_ascii_alpha(in_[p])) {
            text_char('<');
            pos_ = start + 1;
            return;
        }
        std::string name;
        while (p < in_.size() && (is_ascii_alnum(in_[p]) || in_[p] == '-' || in_[p] == ':')) {
            if (name.size() < 32) name.push_back(lower(in_[p]));
            ++p;
        }
        std::string href;
        bool has_href = false;
        // Attributes, up to the closing '>' outside quotes.
        for (;;) {
            while (p < in_.size() && (is_html_space(static_cast<unsigned char>(in_[p])) || in_[p] == '/')) ++p;
            if (p >= in_.size()) break;
            if (in_[p] == '>') {
                ++p;
                break;
            }
            const std::size_t name_start = p;
            while (p < in_.size() && !is_html_space(static_cast<unsigned char>(in_[p])) && in_[p] != '=' &&
                   in_[p] != '>' && in_[p] != '/') {
                ++p;
            }
            std::string attr;
            for (std::size_t k = name_start; k < p && attr.size() < 16; ++k) attr.push_back(lower(in_[k]));
            while (p < in_.size() && is_html_space(static_cast<unsigned char>(in_[p]))) ++p;
            if (p < in_.size() && in_[p] == '=') {
                ++p;
                while (p < in_.size() && is_html_space(static_cast<unsigned char>(in_[p]))) ++p;
                std::size_t value_start = p;
                std::size_t value_end = p;
                if (p < in_.size() && (in_[p] == '"' || in_[p] == '\'')) {
                    const char quote = in_[p];
                    value_start = p + 1;
                    const std::size_t close = in_.find(quote, value_start);
                    value_end = close == std::string_view::npos ? in_.size() : close;
                    p = close == std::string_view::npos ? in_.size() : close + 1;
                } else {
                    while (p < in_.size() && !is_html_space(static_cast<unsigned char>(in_[p])) && in_[p] != '>') ++p;
                    value_end = p;
                }
                if (attr == "href" && name == "a") {
                    has_href = true;
                    href = attribute_text(in_.substr(value_start, value_end - value_start));
                }
            } else if (p == name_start) {
                ++p;  // a stray character that starts no attribute
            }
        }
        pos_ = p;
        element(name, closing, has_href ? &href : nullptr);
    }

    // Entity-decoded attribute value without control characters; empty when
    // longer than a shown address may be.
    static std::string attribute_text(std::string_view raw) {
        if (raw.size() > 4 * kMaxShownUrl) return {};
        std::string out;
        for (std::size_t i = 0; i < raw.size();) {
            char32_t c = 0;
            if (raw[i] == '&' && decode_entity(raw, i, c)) {
                if (!is_control(c)) append_utf8(out, c);
                continue;
            }
            const std::size_t n = detail::decode_utf8(raw, i, c);
            if (n == 0) {
                c = 0xFFFD;
                ++i;
            } else {
                i += n;
            }
            if (!is_control(c) && c != ' ') append_utf8(out, c);
        }
        return out.size() > kMaxShownUrl ? std::string() : out;
    }

    void skip_raw(std::string_view name) {
        // Everything up to the matching end tag is dropped.
        while (pos_ < in_.size()) {
            const std::size_t lt = in_.find("</", pos_);
            if (lt == std::string_view::npos) {
                pos_ = in_.size();
                return;
            }
            std::size_t p = lt + 2;
            std::size_t k = 0;
            while (k < name.size() && p + k < in_.size() && lower(in_[p + k]) == name[k]) ++k;
            const std::size_t after = p + k;
            if (k == name.size() && (after >= in_.size() || !is_ascii_alnum(in_[after]))) {
                pos_ = after;
                skip_past('>');
                return;
            }
            pos_ = lt + 2;
        }
    }

    void element(const std::string& name, bool closing, const std::string* href) {
        switch (kind_of(name)) {
            case Kind::none:
                return;
            case Kind::raw:
                if (!closing) skip_raw(name);
                return;
            case Kind::paragraph:
                block(2);
                return;
            case Kind::line:
                block(1);
                return;
            case Kind::br:
                if (!out_.empty()) pending_breaks_ = std::min(pending_breaks_ + 1, 2);
                return;
            case Kind::row:
                block(1);
                cell_in_row_ = false;
                return;
            case Kind::cell:
                if (!closing) {
                    if (cell_in_row_) pending_space_ = true;
                    cell_in_row_ = true;
                }
                return;
            case Kind::pre:
                block(2);
                if (closing) {
                    if (pre_depth_ > 0) --pre_depth_;
                } else {
                    ++pre_depth_;
                }
                return;
            case Kind::list:
                block(lists_depth_ == 0 ? 2 : 1);
                if (closing) {
                    if (lists_depth_ > 0) {
                        if (lists_depth_ <= kMaxListDepth) lists_.pop_back();
                        --lists_depth_;
                    }
                } else {
                    if (lists_depth_ < kMaxListDepth) lists_.push_back({name == "ol", 1});
                    ++lists_depth_;
                }
                return;
            case Kind::li:
                block(1);
                if (!closing) list_item();
                return;
            case Kind::link:
                if (closing) {
                    end_link();
                } else {
                    link_href_ = href != nullptr ? *href : std::string();
                    link_start_ = out_.size();
                    in_link_ = true;
                }
                return;
        }
    }

    void list_item() {
        flush();
        if (out_.empty()) pending_breaks_ = 0;
        const std::size_t depth = std::min(lists_.size(), kMaxListDepth);
        std::string marker(depth > 1 ? 2 * (depth - 1) : 0, ' ');
        if (!lists_.empty() && lists_.back().ordered) {
            marker += std::to_string(lists_.back().next++) + ". ";
        } else {
            marker += "\xE2\x80\xA2 ";  // bullet
        }
        append(marker);
        pending_space_ = false;
    }

    static bool starts_with_web_scheme(std::string_view url) {
        std::string head;
        for (std::size_t i = 0; i < url.size() && i < 8; ++i) head.push_back(lower(url[i]));
        return head.rfind("http://", 0) == 0 || head.rfind("https://", 0) == 0;
    }

    void end_link() {
        if (!in_link_) return;
        in_link_ = false;
        if (!options_.show_link_targets || link_href_.empty() || !starts_with_web_scheme(link_href_)) return;
        if (link_start_ > out_.size()) return;
        std::string_view text = std::string_view(out_).substr(link_start_);
        while (!text.empty() && (text.front() == ' ' || text.front() == '\n')) text.remove_prefix(1);
        if (text.empty() || text == link_href_) return;
        // "example.com" for "https://example.com/" adds nothing either.
        std::string_view bare = link_href_;
        bare.remove_prefix(bare.find("//") + 2);
        while (!bare.empty() && bare.back() == '/') bare.remove_suffix(1);
        if (text == bare) return;
        if (pending_breaks_ > 0) {
            flush();
            append("(" + link_href_ + ")");
        } else {
            pending_space_ = false;
            append(" (" + link_href_ + ")");
        }
    }

    std::string finish() {
        // Trailing blanks on each line go; at most one empty line in a row.
        std::string result;
        result.reserve(out_.size());
        int newlines = 0;
        for (const char c : out_) {
            if (c == '\n') {
                while (!result.empty() && (result.back() == ' ' || result.back() == '\t')) result.pop_back();
                if (!result.empty() && newlines < 2) result.push_back('\n');
                ++newlines;
            } else {
                newlines = 0;
                result.push_back(c);
            }
        }
        while (!result.empty() && (result.back() == ' ' || result.back() == '\t' || result.back() == '\n')) {
            result.pop_back();
        }
        return result;
    }

    struct List {
        bool ordered;
        unsigned next;
    };

    std::string_view in_;
    const HtmlToTextOptions& options_;
    std::size_t pos_ = 0;
    std::string out_;
    int pending_breaks_ = 0;
    bool pending_space_ = false;
    bool full_ = false;
    int pre_depth_ = 0;
    std::vector<List> lists_;
    std::size_t lists_depth_ = 0;
    bool cell_in_row_ = false;
    bool in_link_ = false;
    std::string link_href_;
    std::size_t link_start_ = 0;
};

}  // namespace

std::string html_to_text(std::string_view html, const HtmlToTextOptions& options) {
    return Renderer(html, options).run();
}

}  // namespace lib::mime
