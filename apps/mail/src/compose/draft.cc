#include "compose/draft.h"

#include <unordered_set>

#include "lib/json/strict.h"

namespace mail::compose {
namespace {

using lib::json::Json;

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point at text[i], advancing i. A byte sequence that is not
// well-formed UTF-8 yields U+FFFD and advances past its longest valid prefix
// (at least one byte), so decoding always makes progress.
char32_t next_code_point(std::string_view text, std::size_t& i) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char b0 = byte(i);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    std::size_t length = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    char32_t cp = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
        cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        cp = b0 & 0x0F;
        if (b0 == 0xE0) lo = 0xA0;  // no overlong forms
        if (b0 == 0xED) hi = 0x9F;  // no surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        cp = b0 & 0x07;
        if (b0 == 0xF0) lo = 0x90;  // no overlong forms
        if (b0 == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
    } else {
        ++i;
        return kReplacement;
    }
    std::size_t k = 1;
    for (; k < length; ++k) {
        if (i + k >= text.size()) break;
        const unsigned char b = byte(i + k);
        const unsigned char min = k == 1 ? lo : 0x80;
        const unsigned char max = k == 1 ? hi : 0xBF;
        if (b < min || b > max) break;
        cp = (cp << 6) | (b & 0x3F);
    }
    i += k;
    return k == length ? cp : kReplacement;
}

// Exact count of code points, or nothing when the text is not valid UTF-8.
std::optional<std::size_t> strict_char_count(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t start = i;
        const char32_t cp = next_code_point(text, i);
        // A genuine U+FFFD is three bytes EF BF BD; a replacement produced for
        // a bad sequence is not.
        if (cp == kReplacement && !(i - start == 3 && text.substr(start, 3) == "\xEF\xBF\xBD"))
            return std::nullopt;
        ++count;
    }
    return count;
}

void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

bool is_control(char32_t cp) { return cp <= 0x1F || (cp >= 0x7F && cp <= 0x9F); }

// The Unicode White_Space property.
bool is_white_space(char32_t cp) {
    return (cp >= 0x09 && cp <= 0x0D) || cp == 0x20 || cp == 0x85 || cp == 0xA0 || cp == 0x1680 ||
           (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 || cp == 0x202F ||
           cp == 0x205F || cp == 0x3000;
}

bool has_control_byte_or_char(std::string_view text) {
    for (std::size_t i = 0; i < text.size();)
        if (is_control(next_code_point(text, i))) return true;
    return false;
}

bool is_lower_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

std::size_t count_occurrences(std::string_view text, std::string_view needle) {
    std::size_t count = 0;
    for (auto at = text.find(needle); at != std::string_view::npos; at = text.find(needle, at + needle.size()))
        ++count;
    return count;
}

Json attachment_to_json(const DraftAttachment& a) {
    Json o = Json::object();
    o["content_id"] = a.content_id;
    o["filename"] = a.filename;
    o["mime"] = a.mime;
    o["size"] = a.size;
    return o;
}

lib::Result<DraftAttachment> attachment_from_json(const Json& v, std::size_t index) {
    auto is_obj = lib::json::expect_object(v, "an object at `attachments[" + std::to_string(index) + "]`");
    if (!is_obj) return is_obj.take_error();
    DraftAttachment a;
    auto content_id = lib::json::string_field(v, "content_id");
    if (!content_id) return content_id.take_error();
    auto filename = lib::json::string_field(v, "filename");
    if (!filename) return filename.take_error();
    auto mime = lib::json::string_field(v, "mime");
    if (!mime) return mime.take_error();
    auto size = lib::json::u64_field(v, "size");
    if (!size) return size.take_error();
    a.content_id = std::move(*content_id);
    a.filename = std::move(*filename);
    a.mime = std::move(*mime);
    a.size = *size;
    return a;
}

}  // namespace

bool is_valid_utf8(std::string_view text) { return strict_char_count(text).has_value(); }

std::string lossy_utf8(std::string_view text) {
    if (is_valid_utf8(text)) return std::string(text);
    std::string out;
    out.reserve(text.size() + 8);
    for (std::size_t i = 0; i < text.size();) append_utf8(out, next_code_point(text, i));
    return out;
}

bool is_content_address(std::string_view text) {
    if (text.size() != kContentAddressPrefix.size() + kContentDigestLength) return false;
    if (text.substr(0, kContentAddressPrefix.size()) != kContentAddressPrefix) return false;
    for (char c : text.substr(kContentAddressPrefix.size()))
        if (!is_lower_hex(c)) return false;
    return true;
}

std::string content_address(std::string_view digest) {
    std::string out(kContentAddressPrefix);
    out += digest;
    return out;
}

bool is_valid_attachment(const DraftAttachment& entry) {
    if (!is_content_address(entry.content_id)) return false;

    const auto name_chars = strict_char_count(entry.filename);
    if (!name_chars || *name_chars == 0 || *name_chars > kMaxFilenameChars) return false;
    if (entry.filename.find('/') != std::string::npos || entry.filename.find('\\') != std::string::npos)
        return false;
    if (has_control_byte_or_char(entry.filename)) return false;

    // The media type ends up in a header of the outgoing message: besides the
    // length and the "/", a line break or other control character is refused.
    const auto mime_chars = strict_char_count(entry.mime);
    if (!mime_chars || *mime_chars > kMaxMimeChars) return false;
    if (entry.mime.find('/') == std::string::npos) return false;
    if (has_control_byte_or_char(entry.mime)) return false;

    return entry.size <= kMaxAttachmentBytes;
}

std::vector<DraftAttachment> normalize_attachments(const std::vector<DraftAttachment>& entries) {
    std::vector<DraftAttachment> kept;
    std::unordered_set<std::string> seen;
    std::uint64_t total = 0;
    for (const auto& entry : entries) {
        if (kept.size() >= kMaxAttachments) break;
        if (!is_valid_attachment(entry)) continue;
        // Compared by subtraction so that no sum can wrap around.
        if (entry.size > kMaxAttachmentsTotalBytes - total) continue;
        if (seen.count(entry.content_id)) continue;
        total += entry.size;
        seen.insert(entry.content_id);
        kept.push_back(entry);
    }
    return kept;
}

std::string normalize_text(std::string_view text, std::size_t max_chars, LineBreaks line_breaks) {
    // Controls go first and the trim follows, so a control character can
    // never shield white space from the trim ("Hi \x07" becomes "Hi", not
    // "Hi "); the limit counts what is left. A cut that lands on white space
    // is trimmed too, so normalising a normalised text changes nothing.
    std::vector<char32_t> cps;
    cps.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const char32_t cp = next_code_point(text, i);
        if (is_control(cp)) {
            const bool line_control = cp == U'\t' || cp == U'\n' || cp == U'\r';
            if (!(line_breaks == LineBreaks::Keep && line_control)) continue;
        }
        cps.push_back(cp);
    }
    std::size_t begin = 0, end = cps.size();
    while (begin < end && is_white_space(cps[begin])) ++begin;
    while (end > begin && is_white_space(cps[end - 1])) --end;
    if (end - begin > max_chars) {
        end = begin + max_chars;
        while (end > begin && is_white_space(cps[end - 1])) --end;
    }
    std::string out;
    out.reserve(end - begin);
    for (std::size_t i = begin; i < end; ++i) append_utf8(out, cps[i]);
    return out;
}

DraftData normalize_draft(const DraftData& draft) {
    DraftData out;
    out.to = normalize_text(draft.to, kMaxRecipientChars, LineBreaks::Remove);
    out.cc = normalize_text(draft.cc, kMaxRecipientChars, LineBreaks::Remove);
    out.bcc = normalize_text(draft.bcc, kMaxRecipientChars, LineBreaks::Remove);
    out.subject = normalize_text(draft.subject, kMaxSubjectChars, LineBreaks::Remove);
    out.body = normalize_text(draft.body, kMaxBodyChars, LineBreaks::Keep);
    if (draft.html_body) out.html_body = normalize_text(*draft.html_body, kMaxBodyChars, LineBreaks::Keep);
    if (draft.calendar_ics && is_invitation_request(*draft.calendar_ics)) out.calendar_ics = draft.calendar_ics;
    out.attachments = normalize_attachments(draft.attachments);
    return out;
}

bool is_invitation_request(std::string_view ics) {
    if (ics.size() > kMaxCalendarBytes) return false;
    if (ics.find('\0') != std::string_view::npos) return false;
    if (!strict_char_count(ics)) return false;
    constexpr std::string_view kBegin = "BEGIN:VCALENDAR\r\n";
    constexpr std::string_view kEnd = "END:VCALENDAR\r\n";
    if (ics.substr(0, kBegin.size()) != kBegin) return false;
    if (ics.size() < kEnd.size() || ics.substr(ics.size() - kEnd.size()) != kEnd) return false;
    if (ics.find("\r\nMETHOD:REQUEST\r\n") == std::string_view::npos) return false;
    return count_occurrences(ics, "BEGIN:VEVENT") == 1;
}

nlohmann::ordered_json draft_to_json(const DraftData& d) {
    Json o = Json::object();
    o["to"] = d.to;
    o["cc"] = d.cc;
    o["bcc"] = d.bcc;
    o["subject"] = d.subject;
    o["body"] = d.body;
    o["html_body"] = d.html_body ? Json(*d.html_body) : Json(nullptr);
    o["calendar_ics"] = d.calendar_ics ? Json(*d.calendar_ics) : Json(nullptr);
    Json list = Json::array();
    for (const auto& a : d.attachments) list.push_back(attachment_to_json(a));
    o["attachments"] = std::move(list);
    return o;
}

std::string encode_draft(const DraftData& draft) { return lib::json::dump(draft_to_json(draft)); }

lib::Result<DraftData> draft_from_json(const nlohmann::ordered_json& v) {
    auto is_obj = lib::json::expect_object(v);
    if (!is_obj) return is_obj.take_error();
    DraftData d;
    struct Text {
        const char* key;
        std::string* into;
    } texts[] = {{"to", &d.to}, {"cc", &d.cc}, {"bcc", &d.bcc}, {"subject", &d.subject}, {"body", &d.body}};
    for (auto& t : texts) {
        auto s = lib::json::string_field(v, t.key);
        if (!s) return s.take_error();
        *t.into = std::move(*s);
    }
    auto html = lib::json::optional_string_field(v, "html_body");
    if (!html) return html.take_error();
    d.html_body = std::move(*html);
    auto ics = lib::json::optional_string_field(v, "calendar_ics");
    if (!ics) return ics.take_error();
    d.calendar_ics = std::move(*ics);

    auto list = lib::json::field(v, "attachments");
    if (!list) return list.take_error();
    const Json& array = **list;
    if (!array.is_array())
        return lib::err("invalid type: " + lib::json::type_name(array) + ", expected an array at `attachments`");
    if (array.size() > kMaxAttachmentEntriesRead)
        return lib::err("invalid length " + std::to_string(array.size()) + ", expected at most " +
                        std::to_string(kMaxAttachmentEntriesRead) + " entries at `attachments`");
    d.attachments.reserve(array.size());
    for (std::size_t i = 0; i < array.size(); ++i) {
        auto a = attachment_from_json(array[i], i);
        if (!a) return a.take_error();
        d.attachments.push_back(std::move(*a));
    }
    return d;
}

lib::Result<DraftData> decode_draft(std::string_view text) {
    auto parsed = lib::json::parse_strict(text);
    // The reader's message may quote the invalid bytes it stopped at.
    if (!parsed) return lib::err(lossy_utf8(parsed.error()));
    return draft_from_json(*parsed);
}

}  // namespace mail::compose
