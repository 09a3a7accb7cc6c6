#include "lib/mime/html_to_text.h"

#include <gtest/gtest.h>

#include "lib/mime/utf8.h"

namespace lib::mime {
namespace {

TEST(HtmlToText, Rendering) {
    const struct {
        const char* what;
        std::string html;
        std::string text;
    } cases[] = {
        {"paragraphs", "<p>Hello</p><p>World</p>", "Hello\n\nWorld"},
        {"script and style dropped", "<script>alert(1)</script>Hi<style>p{}</style>", "Hi"},
        {"head dropped", "<html><head><title>T</title><meta x></head><body>Body</body></html>", "Body"},
        {"breaks", "a<br>b<br/><br>c<br><br><br><br>d", "a\nb\n\nc\n\nd"},
        {"bullets", "<ul><li>One</li><li>Two</li></ul>", "\xE2\x80\xA2 One\n\xE2\x80\xA2 Two"},
        {"numbers", "<ol><li>One<li>Two</ol>", "1. One\n2. Two"},
        {"nested list", "<ul><li>A<ul><li>B</li></ul></li></ul>",
         "\xE2\x80\xA2 A\n  \xE2\x80\xA2 B"},
        {"entities", "&lt;b&gt; &amp; &quot;x&quot; &#233;&#xE9;&eacute; &euro; &#150; &bogus; &#0;",
         "<b> & \"x\" \xC3\xA9\xC3\xA9\xC3\xA9 \xE2\x82\xAC \xE2\x80\x93 &bogus; \xEF\xBF\xBD"},
        {"white space collapsed", "  a \n\t b  ", "a b"},
        {"link target shown", "<a href=\"https://example.com/x?a=1&amp;b=2\">site</a>",
         "site (https://example.com/x?a=1&b=2)"},
        {"link text is the address", "<a href='https://example.com/'>https://example.com/</a>",
         "https://example.com/"},
        {"bare host text", "<a href='https://example.com/'>example.com</a>", "example.com"},
        {"script link hidden", "<a href=\"javascript:evil()\">click</a>", "click"},
        {"image-only link", "<a href=\"https://t.example/\"><img src=x></a>after", "after"},
        {"pre keeps spacing", "<p>x</p><pre>a\n  b</pre>", "x\n\na\n  b"},
        {"comments", "<!-- x -->y<!-- z", "y"},
        {"lone less-than", "a < b", "a < b"},
        {"unterminated tag", "a <b c='x", "a"},
        {"table cells", "<table><tr><td>a</td><td>b</td></tr><tr><td>c</td></tr></table>", "a b\nc"},
        {"invalid utf-8", "a\xff", "a\xEF\xBF\xBD"},
        {"upper-case tags", "<P>x</P><SCRIPT>y</SCRIPT>", "x"},
        {"invisible padding", "a&nbsp;&zwnj;&nbsp;&#8203;b", "a b"},
        {"control characters", "a\x01\x1b b", "a b"},
        {"quoted '>' in attribute", "<img alt='a>b'>c", "c"},
        {"unterminated script", "before<script>lost", "before"},
        {"script end needs a name boundary", "<script>x</scripts>y</script>z", "z"},
    };
    for (const auto& c : cases) EXPECT_EQ(html_to_text(c.html), c.text) << c.what;
}

TEST(HtmlToText, LinkTargetsCanBeHidden) {
    HtmlToTextOptions options;
    options.show_link_targets = false;
    EXPECT_EQ(html_to_text("<a href=\"https://e.example/\">site</a>", options), "site");
}

TEST(HtmlToText, OutputIsBounded) {
    HtmlToTextOptions options;
    options.max_output_bytes = 10;
    const std::string out = html_to_text(std::string(1000, 'x') + "\xC3\xA9", options);
    EXPECT_LE(out.size(), 10u);
    EXPECT_TRUE(detail::is_valid_utf8(html_to_text(std::string(9, 'x') + "\xC3\xA9\xC3\xA9", options)));
}

TEST(HtmlToText, PathologicalInputsFinish) {
    // Each would be quadratic (or worse) with a naive scanner; 1 MB each.
    const char* units[] = {"<", "<a ", "&#", "<script></scrip", "<!", "<p", "<li>", "&amp", "</"};
    for (const char* unit : units) {
        std::string html;
        while (html.size() < (1u << 20)) html += unit;
        const std::string out = html_to_text(html);
        EXPECT_TRUE(detail::is_valid_utf8(out)) << unit;
    }
}

}  // namespace
}  // namespace lib::mime
