#include "lib/mime/parse.h"

#include <gmime/gmime.h>

#include <memory>
#include <mutex>

#include "lib/mime/charset.h"
#include "lib/mime/gmime_init.h"
#include "lib/mime/html_to_text.h"
#include "lib/mime/utf8.h"

namespace lib::mime {

namespace detail {
void ensure_gmime_init() {
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}
}  // namespace detail

namespace {

using detail::append_utf8;
using detail::decode_utf8;

struct ObjectUnref {
    void operator()(gpointer p) const {
        if (p != nullptr) g_object_unref(p);
    }
};
template <class T>
using GPtr = std::unique_ptr<T, ObjectUnref>;

// Headers that GMime (or this parser) decodes rather than keeps as text:
// address lists, the subject, dates, message ids, content parameters. Their
// total size is bounded before parsing.
constexpr std::string_view kDecodedHeaders[] = {
    "from", "to", "cc", "bcc", "reply-to", "sender", "resent-from", "resent-to", "resent-cc",
    "resent-bcc", "resent-sender", "resent-reply-to", "mail-followup-to",
    "disposition-notification-to", "subject", "date", "resent-date", "message-id",
    "resent-message-id", "references", "in-reply-to", "content-type", "content-disposition",
    "content-transfer-encoding", "content-id", "content-location", "content-base"};

constexpr std::size_t kReferenceWindow = 64u << 10;
constexpr std::size_t kMaxAddressGroupDepth = 4;

bool is_field_name_char(unsigned char c) { return c >= 0x21 && c <= 0x7E && c != ':'; }

// The field name when the line starts a header field ("Name:" with optional
// blanks before the colon); empty otherwise.
std::string_view field_name(std::string_view line) {
    std::size_t i = 0;
    while (i < line.size() && is_field_name_char(static_cast<unsigned char>(line[i]))) ++i;
    if (i == 0) return {};
    std::size_t j = i;
    while (j < line.size() && (line[j] == ' ' || line[j] == '\t')) ++j;
    if (j >= line.size() || line[j] != ':') return {};
    return line.substr(0, i);
}

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (x != b[i]) return false;
    }
    return true;
}

bool is_decoded_header(std::string_view name) {
    for (auto h : kDecodedHeaders) {
        if (iequals(name, h)) return true;
    }
    return false;
}

// Counts, over the whole input, the lines that could start a part and the
// size of header lines (with continuations) that GMime decodes eagerly. Body
// lines that merely look like such headers are counted too: the bounds are
// far above what real mail needs.
Status prescan(std::string_view raw, const ParseLimits& limits) {
    std::size_t boundary_lines = 0;
    std::size_t decoded_bytes = 0;
    bool in_decoded = false;
    for (std::size_t start = 0; start < raw.size();) {
        std::size_t end = raw.find('\n', start);
        if (end == std::string_view::npos) end = raw.size();
        const std::string_view line = raw.substr(start, end - start);
        start = end + 1;
        if (line.size() >= 2 && line[0] == '-' && line[1] == '-') {
            if (++boundary_lines > limits.max_boundary_lines) return err("message has too many parts");
            in_decoded = false;
            continue;
        }
        if (!line.empty() && (line[0] == ' ' || line[0] == '\t')) {
            if (in_decoded) decoded_bytes += line.size() + 1;
        } else {
            const std::string_view name = field_name(line);
            in_decoded = !name.empty() && is_decoded_header(name);
            if (in_decoded) decoded_bytes += line.size() + 1;
        }
        if (decoded_bytes > limits.max_decoded_header_bytes) return err("message headers too large");
    }
    return ok_status();
}

struct HeaderGuard {
    GMimeStream* stream = nullptr;
    std::size_t count = 0;
    std::size_t max = 0;
    bool aborted = false;
};

void on_header(GMimeParser*, const char*, const char*, gint64, gpointer data) {
    auto* guard = static_cast<HeaderGuard*>(data);
    if (++guard->count > guard->max && !guard->aborted) {
        // Ending the stream here makes the parser stop after what it holds.
        guard->aborted = true;
        const gint64 here = g_mime_stream_tell(guard->stream);
        g_mime_stream_set_bounds(guard->stream, 0, here < 0 ? 0 : here);
    }
}

bool is_break_or_control(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}

// Header-derived text: valid UTF-8, each run of control characters (CR and
// LF included) turned into one space, no blanks at either end.
std::string clean_header(const char* value) {
    if (value == nullptr) return {};
    const std::string_view text(value);
    std::string out;
    out.reserve(text.size());
    bool in_break = false;
    for (std::size_t i = 0; i < text.size();) {
        char32_t c = 0;
        std::size_t n = decode_utf8(text, i, c);
        if (n == 0) {
            c = 0xFFFD;
            n = 1;
        }
        if (is_break_or_control(c)) {
            if (!in_break) out.push_back(' ');
            in_break = true;
        } else {
            in_break = false;
            if (c < 0x80) {
                out.push_back(static_cast<char>(c));
            } else if (n > 1 && c != 0xFFFD) {
                out.append(text.substr(i, n));
            } else {
                append_utf8(out, c);
            }
        }
        i += n;
    }
    const std::size_t first = out.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    const std::size_t last = out.find_last_not_of(' ');
    return out.substr(first, last - first + 1);
}

// Body text: LF line ends, no control characters but tab and LF.
std::string clean_body(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t c = 0;
        std::size_t n = decode_utf8(text, i, c);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        if (c == '\r') {
            out.push_back('\n');
            if (i + 1 < text.size() && text[i + 1] == '\n') ++n;
        } else if (c == '\n' || c == '\t') {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
            // dropped
        } else {
            out.append(text.substr(i, n));
        }
        i += n;
    }
    return out;
}

bool is_blank(std::string_view text) {
    return text.find_first_not_of(" \t\r\n\f\v") == std::string_view::npos;
}

void collect_addresses(InternetAddressList* list, std::vector<Address>& out, std::size_t depth = 0) {
    if (list == nullptr || depth > kMaxAddressGroupDepth) return;
    const int n = internet_address_list_length(list);
    for (int i = 0; i < n; ++i) {
        InternetAddress* a = internet_address_list_get_address(list, i);
        if (a == nullptr) continue;
        if (INTERNET_ADDRESS_IS_GROUP(a)) {
            collect_addresses(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(a)), out, depth + 1);
        } else if (INTERNET_ADDRESS_IS_MAILBOX(a)) {
            Address entry{clean_header(internet_address_get_name(a)),
                          clean_header(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(a)))};
            if (!entry.name.empty() || !entry.address.empty()) out.push_back(std::move(entry));
        }
    }
}

std::vector<std::string> references_of(GMimeObject* message, const char* header, bool keep_last,
                                        std::size_t max_entries) {
    std::vector<std::string> ids;
    const char* value = g_mime_object_get_header(message, header);
    if (value == nullptr) return ids;
    std::string_view text(value);
    if (text.size() > kReferenceWindow) {
        text = keep_last ? text.substr(text.size() - kReferenceWindow) : text.substr(0, kReferenceWindow);
    }
    const std::string window(text);
    if (GMimeReferences* refs = g_mime_references_parse(nullptr, window.c_str())) {
        const int n = g_mime_references_length(refs);
        for (int i = 0; i < n; ++i) {
            std::string id = clean_header(g_mime_references_get_message_id(refs, i));
            if (!id.empty()) ids.push_back(std::move(id));
        }
        g_mime_references_free(refs);
    }
    if (ids.empty()) {
        // Some senders leave out the angle brackets: a single bare id is
        // still taken.
        std::string bare = clean_header(window.c_str());
        if (!bare.empty() && bare.find(' ') == std::string::npos && bare.find('@') != std::string::npos &&
            bare.size() <= 998) {
            ids.push_back(std::move(bare));
        }
    }
    if (ids.size() > max_entries) {
        if (keep_last) {
            ids.erase(ids.begin(), ids.end() - static_cast<std::ptrdiff_t>(max_entries));
        } else {
            ids.resize(max_entries);
        }
    }
    return ids;
}

std::vector<std::uint8_t> stream_bytes(GMimeStream* stream) {
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream));
    if (bytes == nullptr || bytes->len == 0) return {};
    return std::vector<std::uint8_t>(bytes->data, bytes->data + bytes->len);
}

std::vector<std::uint8_t> part_content(GMimePart* part) {
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (content == nullptr) return {};
    GPtr<GMimeStream> mem(g_mime_stream_mem_new());
    if (g_mime_data_wrapper_write_to_stream(content, mem.get()) < 0) return {};
    return stream_bytes(mem.get());
}

std::string content_type_of(GMimeObject* object) {
    GMimeContentType* ct = g_mime_object_get_content_type(object);
    if (ct == nullptr) return "application/octet-stream";
    char* mime = g_mime_content_type_get_mime_type(ct);
    std::string out = clean_header(mime);
    g_free(mime);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

std::optional<std::string> filename_of(GMimeObject* object) {
    const char* name = nullptr;
    if (GMIME_IS_PART(object)) {
        name = g_mime_part_get_filename(GMIME_PART(object));
    } else {
        name = g_mime_object_get_content_disposition_parameter(object, "filename");
        if (name == nullptr) name = g_mime_object_get_content_type_parameter(object, "name");
    }
    std::string clean = clean_header(name);
    if (clean.empty()) return std::nullopt;
    return clean;
}

class Walker {
public:
    Walker(ParsedMessage& out, const ParseLimits& limits) : out_(out), limits_(limits) {}

    void walk(GMimeObject* object, std::size_t depth, bool top_level) {
        if (object == nullptr || depth > limits_.max_depth) return;
        if (++parts_ > limits_.max_boundary_lines + 2) return;
        if (GMIME_IS_MULTIPART(object)) {
            GMimeMultipart* multipart = GMIME_MULTIPART(object);
            const int n = g_mime_multipart_get_count(multipart);
            for (int i = 0; i < n; ++i) walk(g_mime_multipart_get_part(multipart, i), depth + 1, false);
            return;
        }
        if (GMIME_IS_MESSAGE_PART(object)) {
            Attachment a;
            a.filename = filename_of(object);
            a.content_type = content_type_of(object);
            GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
            if (inner != nullptr) {
                GPtr<GMimeStream> mem(g_mime_stream_mem_new());
                if (g_mime_object_write_to_stream(GMIME_OBJECT(inner), nullptr, mem.get()) >= 0) {
                    a.content = stream_bytes(mem.get());
                }
            }
            out_.attachments.push_back(std::move(a));
            return;
        }
        if (!GMIME_IS_PART(object)) return;
        GMimePart* part = GMIME_PART(object);
        const std::string type = content_type_of(object);
        std::optional<std::string> filename = filename_of(object);
        GMimeContentDisposition* disposition = g_mime_object_get_content_disposition(object);
        const bool marked_attachment =
            disposition != nullptr && g_mime_content_disposition_is_attachment(disposition);
        const bool body_candidate = !marked_attachment && (!filename || top_level);
        if (body_candidate && type == "text/plain") {
            if (!out_.text_body) out_.text_body = decode_text(object, part);
            return;
        }
        if (body_candidate && type == "text/html") {
            if (!out_.html_body) {
                std::string html = decode_text(object, part);
                if (!is_blank(html)) out_.html_body = std::move(html);
            }
            return;
        }
        Attachment a;
        a.filename = std::move(filename);
        a.content_type = type;
        a.content = part_content(part);
        out_.attachments.push_back(std::move(a));
    }

private:
    static std::string decode_text(GMimeObject* object, GMimePart* part) {
        const std::vector<std::uint8_t> bytes = part_content(part);
        const char* charset = g_mime_object_get_content_type_parameter(object, "charset");
        const std::string utf8 = detail::decode_to_utf8(
            std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
            charset != nullptr ? std::string_view(charset) : std::string_view());
        return clean_body(utf8);
    }

    ParsedMessage& out_;
    const ParseLimits& limits_;
    std::size_t parts_ = 0;
};

}  // namespace

Result<ParsedMessage> parse(std::string_view raw, const ParseLimits& limits) {
    if (raw.empty()) return err("empty message");
    if (raw.size() > limits.max_input_bytes) return err("message too large");
    {
        const std::size_t eol = raw.find('\n');
        if (field_name(raw.substr(0, eol)).empty()) return err("not a message: no header block");
    }
    if (Status scanned = prescan(raw, limits); !scanned) return scanned.take_error();

    detail::ensure_gmime_init();
    GPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(raw.data(), raw.size()));
    GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    g_mime_parser_set_format(parser.get(), GMIME_FORMAT_MESSAGE);
    HeaderGuard guard;
    guard.stream = stream.get();
    guard.max = limits.max_header_fields;
    g_mime_parser_set_header_regex(parser.get(), ".*", on_header, &guard);
    GPtr<GMimeMessage> message(g_mime_parser_construct_message(parser.get(), nullptr));
    if (guard.aborted) return err("message has too many header fields");
    if (!message) return err("could not parse message");

    ParsedMessage out;
    GMimeMessage* m = message.get();
    collect_addresses(g_mime_message_get_from(m), out.from);
    collect_addresses(g_mime_message_get_to(m), out.to);
    collect_addresses(g_mime_message_get_cc(m), out.cc);
    if (const char* subject = g_mime_message_get_subject(m)) out.subject = clean_header(subject);
    if (const char* id = g_mime_message_get_message_id(m)) {
        std::string clean = clean_header(id);
        if (!clean.empty()) out.message_id = std::move(clean);
    }
    out.references = references_of(GMIME_OBJECT(m), "References", false, limits.max_reference_entries);
    out.in_reply_to = references_of(GMIME_OBJECT(m), "In-Reply-To", true, limits.max_reference_entries);
    if (GDateTime* date = g_mime_message_get_date(m)) out.date = g_date_time_to_unix(date);

    Walker walker(out, limits);
    walker.walk(g_mime_message_get_mime_part(m), 0, true);
    return out;
}

std::string readable_body(const ParsedMessage& message) {
    if (message.text_body && !is_blank(*message.text_body)) return *message.text_body;
    if (message.html_body) return html_to_text(*message.html_body);
    return message.text_body.value_or(std::string());
}

}  // namespace lib::mime
