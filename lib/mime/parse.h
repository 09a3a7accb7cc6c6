// Parsing one raw Internet message (RFC 5322 / MIME) into plain values.
// Any byte sequence gives either a record or a short error: input size,
// header count, part count and nesting are bounded, every text is valid
// UTF-8, and no header-derived text (subject, names, addresses, file names,
// message ids) contains CR, LF or another control character.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lib/base/result.h"

namespace lib::mime {

struct Address {
    std::string name;     // decoded display name; may be empty
    std::string address;  // the bare address as written; may be empty for odd input
};

struct Attachment {
    std::optional<std::string> filename;  // decoded (RFC 2231 / RFC 2047); absent when none
    std::string content_type;             // lower-case "type/subtype"
    std::vector<std::uint8_t> content;    // transfer encoding removed
};

struct ParsedMessage {
    std::vector<Address> from;
    std::vector<Address> to;
    std::vector<Address> cc;
    std::optional<std::string> subject;          // decoded; absent when there is no Subject
    std::optional<std::string> text_body;        // the first text/plain body, as UTF-8, LF line ends
    std::optional<std::string> html_body;        // the first non-blank text/html body, as UTF-8
    std::optional<std::string> message_id;       // without angle brackets
    std::vector<std::string> references;         // the first entries of References, in order
    std::vector<std::string> in_reply_to;        // the last entries of In-Reply-To, in order
    std::optional<std::int64_t> date;            // Date header as seconds since the Unix epoch
    std::vector<Attachment> attachments;         // in message order
};

struct ParseLimits {
    std::size_t max_input_bytes = 64u << 20;
    // GMime builds an object per header field and per part; these keep its
    // memory proportional to legitimate mail rather than to hostile input.
    std::size_t max_header_fields = 20000;
    std::size_t max_boundary_lines = 20000;
    // Total size of the header lines that are decoded rather than kept as
    // text (address lists, Subject, Date, message ids, Content-*), wherever
    // they appear.
    std::size_t max_decoded_header_bytes = 1u << 20;
    // Parts nested deeper than this are not looked at.
    std::size_t max_depth = 48;
    std::size_t max_reference_entries = 256;
};

// Errors: "empty message", "message too large", "not a message: no header
// block", "message has too many header fields", "message has too many parts",
// "message headers too large", "could not parse message".
Result<ParsedMessage> parse(std::string_view raw, const ParseLimits& limits = {});

// The body to show as plain text: the text/plain body when it is not blank,
// else a plain-text rendering of the HTML body, else the (blank) text body or
// empty.
std::string readable_body(const ParsedMessage& message);

}  // namespace lib::mime
