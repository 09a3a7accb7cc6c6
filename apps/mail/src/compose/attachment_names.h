// Attachment file names and media types: a picked or received file name is
// cut to its last path component and bounded; the media type follows from
// the name's extension.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace mail::compose {

inline constexpr std::size_t kMaxAttachmentFilenameChars = 180;
inline constexpr std::size_t kMaxMediaTypeChars = 127;
inline constexpr std::string_view kFallbackFilename = "attachment";
inline constexpr std::string_view kOctetStream = "application/octet-stream";

// The text after the last '/' or '\', without control characters (U+0000–
// U+001F, U+007F–U+009F), its first 180 characters, trimmed; "attachment"
// when that is empty, "." or "..". Invalid UTF-8 bytes become U+FFFD. The
// result never contains a path separator or control character.
std::string sanitize_attachment_filename(std::string_view name);

// The media type for a (sanitised) file name: the text after its last '.'
// (the whole name without one), lower-cased, looked up in the extension
// table; "application/octet-stream" for anything else. The result has passed
// sanitize_media_type.
std::string media_type_for_filename(std::string_view filename);

// Trimmed, first 127 characters; "application/octet-stream" when the result
// has no '/', or begins or ends with '/'.
std::string sanitize_media_type(std::string_view media_type);

}  // namespace mail::compose
