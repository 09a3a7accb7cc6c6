#include "compose/attachment_names.h"

#include <gtest/gtest.h>

namespace mail::compose {
namespace {

std::string repeat(std::string_view s, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) out += s;
    return out;
}

TEST(AttachmentNames, SanitiseAndMediaType) {
    const struct {
        std::string picked;
        std::string name;
        const char* mime;
    } cases[] = {
        {"../folder/Report.PDF", "Report.PDF", "application/pdf"},
        {"pdf", "pdf", "application/pdf"},
        {"dir/", "attachment", "application/octet-stream"},
        {"C:\\Users\\me\\photo.JPEG", "photo.JPEG", "image/jpeg"},
        {"..", "attachment", "application/octet-stream"},
        {"a/.", "attachment", "application/octet-stream"},
        {"   ", "attachment", "application/octet-stream"},
        {"", "attachment", "application/octet-stream"},
        {"  notes.md  ", "notes.md", "text/markdown"},
        {"archive.tar.gz", "archive.tar.gz", "application/gzip"},
        {"Report.", "Report.", "application/octet-stream"},
        {"slides.PPTX", "slides.PPTX", "application/vnd.ms-powerpoint"},
        {"data.xlsx", "data.xlsx", "application/vnd.ms-excel"},
        {"invite.ics", "invite.ics", "text/calendar"},
        {"page.htm", "page.htm", "text/html"},
        {"x.svg", "x.svg", "image/svg+xml"},
        {"server.log", "server.log", "text/plain"},
        {"list.csv", "list.csv", "text/csv"},
        {"a.json", "a.json", "application/json"},
        {"a.tar", "a.tar", "application/x-tar"},
        {"a.doc", "a.doc", "application/msword"},
        {"a.exe", "a.exe", "application/octet-stream"},
        // Control characters never reach a stored name.
        {"bad\r\nname.txt", "badname.txt", "text/plain"},
        {"\x01\x02", "attachment", "application/octet-stream"},
        // 180 characters are kept, counted as characters.
        {repeat("é", 200) + ".pdf", repeat("é", 180), "application/octet-stream"},
        {repeat("a", 176) + ".pdf", repeat("a", 176) + ".pdf", "application/pdf"},
        {repeat("a", 177) + ".pdf", repeat("a", 177) + ".pd", "application/octet-stream"},
        // The cut happens before trimming.
        {repeat("a", 170) + "          x", repeat("a", 170), "application/octet-stream"},
    };
    for (const auto& c : cases) {
        const std::string name = sanitize_attachment_filename(c.picked);
        EXPECT_EQ(name, c.name) << c.picked;
        EXPECT_EQ(media_type_for_filename(name), c.mime) << c.picked;
    }
}

TEST(AttachmentNames, SanitiseMediaType) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {" image/png ", "image/png"},
        {"png", "application/octet-stream"},
        {"/png", "application/octet-stream"},
        {"image/", "application/octet-stream"},
        {"", "application/octet-stream"},
        {"a/" + repeat("b", 200), "a/" + repeat("b", 125)},
        {repeat("b", 127) + "/x", "application/octet-stream"},  // the '/' falls past the cut
    };
    for (const auto& c : cases) EXPECT_EQ(sanitize_media_type(c.in), c.out) << c.in;
}

}  // namespace
}  // namespace mail::compose
