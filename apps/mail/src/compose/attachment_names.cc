#include "compose/attachment_names.h"

#include <utility>

#include "state/text_rules.h"

namespace mail::compose {
namespace {

constexpr std::pair<std::string_view, std::string_view> kByExtension[] = {
    {"pdf", "application/pdf"},
    {"png", "image/png"},
    {"jpg", "image/jpeg"},
    {"jpeg", "image/jpeg"},
    {"gif", "image/gif"},
    {"svg", "image/svg+xml"},
    {"txt", "text/plain"},
    {"log", "text/plain"},
    {"md", "text/markdown"},
    {"csv", "text/csv"},
    {"html", "text/html"},
    {"htm", "text/html"},
    {"ics", "text/calendar"},
    {"zip", "application/zip"},
    {"tar", "application/x-tar"},
    {"gz", "application/gzip"},
    {"doc", "application/msword"},
    {"docx", "application/msword"},
    {"xls", "application/vnd.ms-excel"},
    {"xlsx", "application/vnd.ms-excel"},
    {"ppt", "application/vnd.ms-powerpoint"},
    {"pptx", "application/vnd.ms-powerpoint"},
    {"json", "application/json"},
};

// Drops control characters from valid UTF-8 (C1 controls are U+0080–U+009F,
// encoded C2 80 – C2 9F).
std::string drop_controls(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) continue;
        if (c == 0xC2 && i + 1 < text.size()) {
            const auto next = static_cast<unsigned char>(text[i + 1]);
            if (next >= 0x80 && next <= 0x9F) {
                ++i;
                continue;
            }
        }
        out.push_back(static_cast<char>(c));
    }
    return out;
}

}  // namespace

std::string sanitize_attachment_filename(std::string_view name) {
    const std::size_t cut = name.find_last_of("/\\");
    if (cut != std::string_view::npos) name.remove_prefix(cut + 1);
    const std::string clean = drop_controls(state::repair_utf8(name));
    std::string result =
        state::trim_white_space(state::take_characters(clean, kMaxAttachmentFilenameChars));
    if (result.empty() || result == "." || result == "..") return std::string(kFallbackFilename);
    return result;
}

std::string media_type_for_filename(std::string_view filename) {
    const std::size_t dot = filename.rfind('.');
    std::string ext(dot == std::string_view::npos ? filename : filename.substr(dot + 1));
    for (char& c : ext) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    std::string_view found = kOctetStream;
    for (const auto& [key, type] : kByExtension) {
        if (key == ext) {
            found = type;
            break;
        }
    }
    return sanitize_media_type(found);
}

std::string sanitize_media_type(std::string_view media_type) {
    std::string result =
        state::take_characters(state::trim_white_space(media_type), kMaxMediaTypeChars);
    if (result.find('/') == std::string::npos || result.front() == '/' || result.back() == '/') {
        return std::string(kOctetStream);
    }
    return result;
}

}  // namespace mail::compose
