#include "compose/draft.h"

#include <unordered_set>

#include "lib/json/strict.h"
#include "state/text_rules.h"

namespace mail::compose {
namespace {

using lib::json::Json;

// For text already known to be valid UTF-8: whether it holds a control
// character (C0 and DEL are single bytes, C1 is C2 80 to C2 9F).
bool has_control_character(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x20 || b == 0x7F) return true;
        if (b == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) <= 0x9F) return true;
    }
    return false;
}

// Characters of a valid UTF-8 text; nothing when it is not valid.
std::optional<std::size_t> strict_char_count(std::string_view text) {
    if (!state::is_valid_utf8(text)) return std::nullopt;
    return state::count_characters(text);
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
    if (has_control_character(entry.filename)) return false;

    // The media type ends up in a header of the outgoing message: besides the
    // length and the "/", a line break or other control character is refused.
    const auto mime_chars = strict_char_count(entry.mime);
    if (!mime_chars || *mime_chars > kMaxMimeChars) return false;
    if (entry.mime.find('/') == std::string::npos) return false;
    if (has_control_character(entry.mime)) return false;

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

DraftData normalize_draft(const DraftData& draft) {
    DraftData out;
    out.to = state::normalize_text(draft.to, kMaxRecipientChars, state::LineBreaks::drop);
    out.cc = state::normalize_text(draft.cc, kMaxRecipientChars, state::LineBreaks::drop);
    out.bcc = state::normalize_text(draft.bcc, kMaxRecipientChars, state::LineBreaks::drop);
    out.subject = state::normalize_text(draft.subject, kMaxSubjectChars, state::LineBreaks::drop);
    out.body = state::normalize_text(draft.body, kMaxBodyChars, state::LineBreaks::keep);
    if (draft.html_body) out.html_body = state::normalize_text(*draft.html_body, kMaxBodyChars, state::LineBreaks::keep);
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
    if (!parsed) return lib::err(state::repair_utf8(parsed.error()));
    return draft_from_json(*parsed);
}

}  // namespace mail::compose
