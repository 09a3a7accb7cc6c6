// Any bytes: parse gives a record or an error, and a record keeps the
// promises of parse.h (valid UTF-8, no control characters in header text).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "lib/mime/html_to_text.h"
#include "lib/mime/parse.h"
#include "lib/mime/utf8.h"

namespace {

void check_header_text(const std::string& s) {
    if (!lib::mime::detail::is_valid_utf8(s)) std::abort();
    for (const char c : s) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F) std::abort();
    }
}

void check_text(const std::string& s) {
    if (!lib::mime::detail::is_valid_utf8(s)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view raw(reinterpret_cast<const char*>(data), size);
    lib::mime::ParseLimits limits;
    limits.max_input_bytes = 1u << 20;
    const auto parsed = lib::mime::parse(raw, limits);
    if (parsed.ok()) {
        const auto& m = *parsed;
        for (const auto* list : {&m.from, &m.to, &m.cc}) {
            for (const auto& a : *list) {
                check_header_text(a.name);
                check_header_text(a.address);
            }
        }
        if (m.subject) check_header_text(*m.subject);
        if (m.message_id) check_header_text(*m.message_id);
        for (const auto& r : m.references) check_header_text(r);
        for (const auto& r : m.in_reply_to) check_header_text(r);
        for (const auto& a : m.attachments) {
            if (a.filename) check_header_text(*a.filename);
            check_header_text(a.content_type);
        }
        if (m.text_body) check_text(*m.text_body);
        if (m.html_body) check_text(*m.html_body);
        check_text(lib::mime::readable_body(m));
    } else if (parsed.error().empty()) {
        std::abort();
    }
    check_text(lib::mime::html_to_text(raw));
    return 0;
}
