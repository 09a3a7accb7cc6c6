// A small, bounded HTML to plain-text renderer for reading HTML-only mail as
// text. Script, style, head and similar content is dropped; block elements
// become line breaks, list items get a bullet or number, entities are decoded
// and white space is collapsed. Work and output are linear in the input; the
// output is valid UTF-8 whatever the input.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lib::mime {

struct HtmlToTextOptions {
    // Write " (https://…)" after a link whose text is not its address.
    bool show_link_targets = true;
    // The output stops growing at this size (cut at a character boundary).
    std::size_t max_output_bytes = 8u << 20;
};

std::string html_to_text(std::string_view html, const HtmlToTextOptions& options = {});

}  // namespace lib::mime
