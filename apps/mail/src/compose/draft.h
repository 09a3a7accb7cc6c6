// The draft record: the one value that describes a message being written. The
// composer makes it, the SaveDraft action carries it, the local document keeps
// it and the Send request hands it to the engine. Attachments are never held
// inside it; each entry names a blob by its content address.
//
// Everything here is bounded: text limits, attachment validity, list
// normalisation and the invitation check keep a draft that arrives from
// anywhere (another program, the local document, the composer) within limits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lib/base/result.h"

namespace mail::compose {

// "mail-attachment:blake3:" followed by 64 lower-case hexadecimal digits.
inline constexpr std::string_view kContentAddressPrefix = "mail-attachment:blake3:";
inline constexpr std::size_t kContentDigestLength = 64;

inline constexpr std::uint64_t kMaxAttachmentBytes = 33'554'432;         // 32 MiB, inclusive
inline constexpr std::size_t kMaxAttachments = 16;
inline constexpr std::uint64_t kMaxAttachmentsTotalBytes = 134'217'728;  // 128 MiB, inclusive
inline constexpr std::size_t kMaxFilenameChars = 180;
inline constexpr std::size_t kMaxMimeChars = 127;
inline constexpr std::size_t kMaxRecipientChars = 8192;   // to, cc, bcc
inline constexpr std::size_t kMaxSubjectChars = 998;
inline constexpr std::size_t kMaxBodyChars = 262'144;     // body, html_body
inline constexpr std::size_t kMaxCalendarBytes = 262'144;

// Reading a draft from JSON refuses attachment arrays longer than this before
// looking at the entries; normalisation keeps at most kMaxAttachments anyway.
inline constexpr std::size_t kMaxAttachmentEntriesRead = 1024;

struct DraftAttachment {
    std::string content_id;  // content address
    std::string filename;    // sanitised file name, 1 to 180 characters
    std::string mime;        // media type, fewer than 128 characters, contains "/"
    std::uint64_t size = 0;  // bytes, at most kMaxAttachmentBytes

    bool operator==(const DraftAttachment&) const = default;
};

struct DraftData {
    std::string to;       // as typed: addresses separated by "," or ";"
    std::string cc;
    std::string bcc;
    std::string subject;  // as typed, not trimmed
    std::string body;     // plain text (in HTML mode the plain rendering)
    std::optional<std::string> html_body;
    std::optional<std::string> calendar_ics;  // an invitation; never set by the composer itself
    std::vector<DraftAttachment> attachments;

    bool operator==(const DraftData&) const = default;
};

// --- Content addresses and attachment entries -------------------------------

// True for exactly "mail-attachment:blake3:" + 64 of [0-9a-f].
bool is_content_address(std::string_view text);

// The content address of a blob store digest (the digest is not checked).
std::string content_address(std::string_view digest);

// All of: a content address; a file name of 1 to 180 characters without "/",
// "\" or control characters; a media type of fewer than 128 characters that
// contains "/" and has no control characters; a size of at most 32 MiB.
// Texts that are not valid UTF-8 are invalid.
bool is_valid_attachment(const DraftAttachment& entry);

// Keeps entries in order while fewer than 16 are kept, the entry is valid, the
// running total stays within 128 MiB and no kept entry has the same content
// address; every other entry is dropped.
std::vector<DraftAttachment> normalize_attachments(const std::vector<DraftAttachment>& entries);

// --- Draft bounds -------------------------------------------------------------

// Applies the bounds of every field with the client's text rule
// (state/text_rules.h: control characters dropped, trimmed, cut to a number
// of characters): recipients and subject on one line within their limits,
// bodies (tab, line feed and carriage return kept) within 262144 characters,
// the calendar text kept only when it passes the invitation check, the
// attachment list normalised. Normalising twice changes nothing.
DraftData normalize_draft(const DraftData& draft);

// A bounded METHOD:REQUEST calendar: at most 262144 bytes, valid UTF-8 without
// NUL, begins "BEGIN:VCALENDAR\r\n", contains "\r\nMETHOD:REQUEST\r\n",
// contains "BEGIN:VEVENT" exactly once and ends "END:VCALENDAR\r\n".
bool is_invitation_request(std::string_view ics);

// --- JSON form --------------------------------------------------------------

// The object with the keys to, cc, bcc, subject, body, html_body, calendar_ics,
// attachments in that order; absent optionals are null.
nlohmann::ordered_json draft_to_json(const DraftData& draft);
// Compact JSON text of draft_to_json.
std::string encode_draft(const DraftData& draft);

// Reads the object form. to, cc, bcc, subject, body and attachments are
// required, html_body and calendar_ics may be missing or null, each attachment
// needs all four keys, other keys are skipped. The entries are taken as they
// are; normalisation is a separate step.
lib::Result<DraftData> draft_from_json(const nlohmann::ordered_json& value);
// Parses strictly (duplicate keys, invalid UTF-8 and deep nesting fail) and
// reads the object form.
lib::Result<DraftData> decode_draft(std::string_view text);

}  // namespace mail::compose
