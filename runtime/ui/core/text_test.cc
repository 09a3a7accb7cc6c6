#include <gtest/gtest.h>

#include <cairo.h>

#include <string>
#include <vector>

#include "runtime/ui/core/rich_text.h"
#include "runtime/ui/core/text.h"
#include "runtime/ui/core/text_selection.h"
#include "runtime/ui/core/theme.h"

namespace runtime::ui {
namespace {

namespace ts = text_selection;

// Each line: a text and the caret positions a person expects, in bytes.
struct ClusterCase {
    const char* name;
    std::string text;
    std::vector<std::size_t> stops;
};

TEST(TextSelection, CaretStopsAtEveryPerceivedCharacter) {
    const std::vector<ClusterCase> cases = {
        {"ascii", "abc", {0, 1, 2, 3}},
        {"combining acute", "e\xCC\x81x", {0, 3, 4}},               // e + U+0301, x
        {"two combining marks", "a\xCC\x81\xCC\xA3" "b", {0, 5, 6}},  // a + U+0301 + U+0323
        {"flag", "\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7!", {0, 8, 9}},    // regional indicators F R
        {"skin tone", "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD" "a", {0, 8, 9}},
        {"zwj family", "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7", {0, 18}},
        {"crlf", "a\r\nb", {0, 1, 3, 4}},
        {"lf", "a\nb", {0, 1, 2, 3}},
        {"hangul jamo", "\xE1\x84\x80\xE1\x85\xA1", {0, 6}},  // L + V form one syllable
        {"invalid utf8", "a\xFF" "b", {0, 1, 2, 3}},
        {"empty", "", {0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ts::grapheme_boundaries(c.text), c.stops);
        // Stepping forwards and backwards visits the same stops.
        std::vector<std::size_t> fwd{0};
        for (std::size_t at = 0; at < c.text.size();) {
            at = ts::next_grapheme(c.text, at);
            fwd.push_back(at);
        }
        EXPECT_EQ(fwd, c.stops);
        std::vector<std::size_t> back{c.text.size()};
        for (std::size_t at = c.text.size(); at > 0;) {
            at = ts::prev_grapheme(c.text, at);
            back.insert(back.begin(), at);
        }
        EXPECT_EQ(back, c.stops);
    }
}

TEST(TextSelection, OffsetsInsideAClusterSnapAndOutOfRangeClamp) {
    const std::string t = "e\xCC\x81x";
    EXPECT_EQ(ts::floor_grapheme(t, 2), 0u);
    EXPECT_EQ(ts::next_grapheme(t, 2), 3u);
    EXPECT_EQ(ts::prev_grapheme(t, 2), 0u);
    EXPECT_EQ(ts::next_grapheme(t, 99), t.size());
    EXPECT_EQ(ts::prev_grapheme(t, 99), 3u);
}

TEST(TextSelection, WordSteps) {
    const std::string t = "hello world,  foo\nbar";
    struct Case {
        std::size_t from;
        std::size_t next_end;
        std::size_t prev_start;
    };
    const std::vector<Case> cases = {
        {0, 5, 0}, {5, 11, 0}, {6, 11, 0}, {11, 17, 6}, {14, 17, 6}, {17, 21, 14}, {18, 21, 14}, {21, 21, 18},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.from);
        EXPECT_EQ(ts::next_word_end(t, c.from), c.next_end);
        EXPECT_EQ(ts::prev_word_start(t, c.from), c.prev_start);
    }
    EXPECT_EQ(ts::word_at(t, 8), (std::pair<std::size_t, std::size_t>{6, 11}));
    EXPECT_EQ(ts::word_at(t, 6), (std::pair<std::size_t, std::size_t>{6, 11}));
    EXPECT_EQ(ts::word_at(t, 21), (std::pair<std::size_t, std::size_t>{18, 21}));
    EXPECT_EQ(ts::word_at(t, 12), (std::pair<std::size_t, std::size_t>{12, 12}));  // between spaces
}

TEST(TextSelection, ByteAndCharOffsets) {
    const std::string t = "a\xC3\xA9\xF0\x9F\x93\x8E" "b";  // a é 📎 b
    EXPECT_EQ(ts::char_to_byte(t, 0), 0u);
    EXPECT_EQ(ts::char_to_byte(t, 2), 3u);
    EXPECT_EQ(ts::char_to_byte(t, 3), 7u);
    EXPECT_EQ(ts::char_to_byte(t, 9), t.size());
    EXPECT_EQ(ts::byte_to_char(t, 7), 3u);
    EXPECT_EQ(ts::byte_to_char(t, t.size()), 4u);
}

TEST(TextRenderer, ElisionFitsAndKeepsWholeCharacters) {
    TextRenderer r;
    const std::vector<std::string> texts = {
        "Spatial indexes and a very long subject line that will need eliding",
        "Émile Zola \xF0\x9F\x87\xAB\xF0\x9F\x87\xB7\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7 J’accuse",
        "word          spaces before the cut",
    };
    for (const std::string& text : texts) {
        for (double width : {30.0, 61.0, 120.0, 200.0}) {
            for (int w : {weight::regular, weight::bold}) {
                SCOPED_TRACE(text + " @" + std::to_string(width));
                const std::string out = r.elide_to_width(text, width, 13, w);
                ASSERT_FALSE(out.empty());
                if (out == text) {
                    EXPECT_LE(r.measure_weighted(text, 13, w).width, width);
                    continue;
                }
                if (out != "…") {
                    EXPECT_LE(r.measure_weighted(out, 13, w).width, width);
                }
                ASSERT_GE(out.size(), std::string("…").size());
                ASSERT_EQ(out.substr(out.size() - 3), "…");
                const std::string kept = out.substr(0, out.size() - 3);
                EXPECT_EQ(text.substr(0, kept.size()), kept);
                // The cut is on a cluster boundary and leaves no trailing space.
                const auto stops = ts::grapheme_boundaries(text);
                EXPECT_NE(std::find(stops.begin(), stops.end(), kept.size()), stops.end());
                if (!kept.empty()) {
                    EXPECT_NE(kept.back(), ' ');
                }
                // It is the longest such prefix: one more character does not fit.
                const std::size_t next = ts::next_grapheme(text, kept.size());
                std::string longer = text.substr(0, next);
                while (!longer.empty() && longer.back() == ' ') longer.pop_back();
                if (longer.size() > kept.size()) {
                    EXPECT_GT(r.measure_weighted(longer + "…", 13, w).width, width);
                }
            }
        }
    }
}

TEST(TextRenderer, ElisionEdgeCases) {
    TextRenderer r;
    EXPECT_EQ(r.elide_to_width("Inbox", 500, 13), "Inbox");
    EXPECT_EQ(r.elide_to_width("Inbox", 1, 13), "");
    EXPECT_EQ(r.elide_to_width("Inbox", 0, 13), "");
    EXPECT_EQ(r.elide_to_width("Inbox", 3, 13), "…");
    EXPECT_EQ(r.elide_to_width("", 100, 13), "");
}

TEST(TextRenderer, TextScaleMultipliesSizes) {
    TextRenderer r;
    const double w1 = r.measure("The quick brown fox", 14).width;
    const double h1 = r.line_height(14);
    r.set_text_scale(2);
    EXPECT_NEAR(r.measure("The quick brown fox", 14).width, 2 * w1, w1 * 0.08);
    EXPECT_NEAR(r.line_height(14), 2 * h1, h1 * 0.1);
    r.set_text_scale(8);
    EXPECT_EQ(r.text_scale(), 4);
    r.set_text_scale(0.1);
    EXPECT_EQ(r.text_scale(), 0.5);
}

TEST(TextRenderer, WeightsAreDistinctFaces) {
    TextRenderer r;
    const std::string t = "Semibold headline";
    const double regular = r.measure_weighted(t, 16, weight::regular).width;
    const double semibold = r.measure_weighted(t, 16, weight::semibold).width;
    const double bold = r.measure_weighted(t, 16, weight::bold).width;
    // A real semibold sits between the regular and the bold face.
    EXPECT_LT(regular, semibold);
    EXPECT_LT(semibold, bold);
}

TEST(TextRenderer, DigitsUseTheTextFaceAndEmojiStillDraw) {
    TextRenderer r;
    // Digits have emoji forms; taken from the emoji face they are as wide as
    // a square, which spreads times and counts apart.
    EXPECT_LT(r.measure("0", 16).width, 12);
    EXPECT_LT(r.measure("08:30", 16).width, 45);
    // A paper clip has no glyph in the text faces, yet gets a real one (a
    // missing glyph box would be narrower than the emoji's square).
    EXPECT_GT(r.measure("\xF0\x9F\x93\x8E", 16).width, 14);
}

TEST(TextRenderer, WrappingStaysInsideTheWidth) {
    TextRenderer r;
    const std::string t = "La vérité est en marche et rien ne l’arrêtera. Supercalifragilisticexpialidocious";
    const TextMetrics m = r.measure(t, 13, 120);
    EXPECT_GT(m.lines, 2);
    EXPECT_LE(m.width, 120.5);
    EXPECT_GT(m.height, 2 * r.line_height(13));
}

TEST(TextRenderer, BrokenUtf8IsDrawnReplaced) {
    TextRenderer r;
    EXPECT_EQ(valid_utf8("ok"), "ok");
    EXPECT_EQ(valid_utf8("a\xFF" "b"), "a\xEF\xBF\xBD" "b");
    EXPECT_GT(r.measure("a\xFF" "b", 13).width, r.measure("ab", 13).width);
}

RichTextLayout sample_layout(const TextRenderer& r, double wrap) {
    std::vector<RichRun> runs = {{.text = "Plain "}, {.text = "bold ", .bold = true},
                                 {.text = "e\xCC\x81t\xC3\xA9 ", .italic = true},
                                 {.text = "link \xF0\x9F\x94\x97", .link = true},
                                 {.text = " and more words to wrap around the edge"}};
    RichTextOptions o;
    o.size = 14;
    o.wrap_width = wrap;
    return r.layout_rich(runs, o);
}

TEST(RichTextLayout, HitTestingFindsTheCaretOfEveryBoundary) {
    TextRenderer r;
    const RichTextLayout l = sample_layout(r, 160);
    ASSERT_GT(l.line_count(), 1);
    for (std::size_t stop : ts::grapheme_boundaries(l.text())) {
        const Rect c = l.caret_rect(stop);
        // The middle of the caret's line, a hair to its right, gives it back
        // (at a soft line break both ends of the break are the same offset).
        const std::size_t hit = l.hit_test(c.left + 0.5, (c.top + c.bottom) / 2);
        SCOPED_TRACE(stop);
        EXPECT_EQ(hit, stop);
    }
}

TEST(RichTextLayout, HitTestingOutsideTheText) {
    TextRenderer r;
    const RichTextLayout l = sample_layout(r, 160);
    EXPECT_EQ(l.hit_test(-50, -50), 0u);
    EXPECT_EQ(l.hit_test(-50, 2), 0u);
    EXPECT_EQ(l.hit_test(5000, l.height() + 40), l.text().size());
    // Far right of the first line: the end of that line.
    const auto [s, e] = l.line_bounds(0);
    EXPECT_EQ(s, 0u);
    const std::size_t hit = l.hit_test(5000, 2);
    EXPECT_GE(hit, e - 1);
    EXPECT_LE(hit, e);
}

TEST(RichTextLayout, SelectionCoversEveryTouchedLine) {
    TextRenderer r;
    const RichTextLayout l = sample_layout(r, 160);
    const auto rects = l.selection_rects(0, l.text().size());
    ASSERT_GE(rects.size(), static_cast<std::size_t>(l.line_count()));
    double covered_bottom = 0;
    for (const Rect& rc : rects) {
        EXPECT_GT(rc.width(), 0);
        covered_bottom = std::max(covered_bottom, rc.bottom);
    }
    EXPECT_NEAR(covered_bottom, l.height(), 1.0);
    EXPECT_TRUE(l.selection_rects(5, 5).empty());
}

TEST(RichTextLayout, VerticalMovesKeepTheColumn) {
    TextRenderer r;
    const RichTextLayout l = sample_layout(r, 160);
    const std::size_t start = ts::char_to_byte(l.text(), 3);
    const Rect c = l.caret_rect(start);
    const auto down = l.offset_on_adjacent_line(start, 1, c.left);
    ASSERT_TRUE(down.has_value());
    EXPECT_GT(*down, l.line_bounds(start).second - 1);
    EXPECT_NEAR(l.caret_rect(*down).left, c.left, 12);
    EXPECT_FALSE(l.offset_on_adjacent_line(start, -1, c.left).has_value());
}

TEST(RichTextLayout, DrawsOffScreen) {
    TextRenderer r;
    const RichTextLayout l = sample_layout(r, 200);
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 220, 120);
    cairo_t* cr = cairo_create(s);
    {
        Canvas canvas(cr);
        r.draw_rich(canvas, l, {4, 4});
    }
    cairo_surface_flush(s);
    const unsigned char* d = cairo_image_surface_get_data(s);
    int inked = 0;
    for (int i = 0; i < 220 * 120; ++i) inked += d[i * 4 + 3] != 0;
    EXPECT_GT(inked, 300);
    cairo_destroy(cr);
    cairo_surface_destroy(s);
}

TEST(Colors, LiftMixesTowardsWhiteOrBlackKeepingAlpha) {
    const Color grey{0.5, 0.5, 0.5, 0.4};
    struct Case {
        Color in;
        double amount;
        Color out;
    };
    const std::vector<Case> cases = {
        {{0, 0, 0, 1}, 0.5, {0.5, 0.5, 0.5, 1}},
        {grey, 0, grey},
        {grey, 1, {1, 1, 1, 0.4}},
        {grey, -1, {0, 0, 0, 0.4}},
        {{0.2, 0.4, 0.6, 1}, 0.25, {0.4, 0.55, 0.7, 1}},
        {{0.2, 0.4, 0.6, 1}, 7, {1, 1, 1, 1}},  // clamped
    };
    for (const auto& c : cases) {
        const Color got = Colors::lift(c.in, c.amount);
        EXPECT_NEAR(got.r, c.out.r, 1e-9);
        EXPECT_NEAR(got.g, c.out.g, 1e-9);
        EXPECT_NEAR(got.b, c.out.b, 1e-9);
        EXPECT_NEAR(got.a, c.out.a, 1e-9);
    }
}

TEST(Colors, HairlineContrastsWithItsBackground) {
    const Theme t = Theme::dark();
    for (Color bg : {t.background, t.surface, t.sidebar, t.overlay, Color{1, 1, 1, 1}, Color::hex(0xf4f4f4)}) {
        const Color line = Colors::hairline_on(bg);
        EXPECT_GT(line.a, 0);
        EXPECT_LT(line.a, 0.5);
        const double on = Colors::luminance(Colors::mix(bg, line.with_alpha(1), line.a));
        // Drawn over the background, the line moves away from it.
        EXPECT_GT(std::abs(on - Colors::luminance(bg)), 0.01);
    }
    EXPECT_GT(Colors::luminance(Colors::hairline_on(t.background)), 0.5);
    EXPECT_LT(Colors::luminance(Colors::hairline_on(Color{1, 1, 1, 1})), 0.5);
}

TEST(Typography, ScaleGrowsAndServesBodyAndHeadings) {
    for (std::size_t i = 1; i < Typography::count; ++i) {
        EXPECT_GT(Typography::style(i).size, Typography::style(i - 1).size);
    }
    EXPECT_LT(Typography::style(2).size, Typography::style(4).size);
    EXPECT_LT(Typography::style(4).size, Typography::style(5).size);
    EXPECT_GE(Typography::style(5).weight, Typography::style(2).weight);
    EXPECT_EQ(Typography::style(99).size, Typography::style(Typography::count - 1).size);
}

}  // namespace
}  // namespace runtime::ui
