#include <gtest/gtest.h>

#include <cairo.h>

#include <functional>
#include <vector>

#include "runtime/ui/core/widgets/text_input.h"

namespace runtime::ui {
namespace {

KeyEvent key(std::string name, bool shift = false, bool ctrl = false) {
    KeyEvent ev;
    ev.key = std::move(name);
    ev.mods.shift = shift;
    ev.mods.ctrl = ctrl;
    return ev;
}

TextInput focused(TextInput in) {
    in.set_focused(true);
    return in;
}

// Steps are keys (by name) or typed text; the result is the text and the
// selected text.
struct Step {
    enum Kind { type, press } kind;
    std::string value;
    bool shift = false;
    bool ctrl = false;
};
Step T(std::string s) { return {Step::type, std::move(s)}; }
Step K(std::string s, bool shift = false, bool ctrl = false) { return {Step::press, std::move(s), shift, ctrl}; }

struct EditCase {
    const char* name;
    std::vector<Step> steps;
    std::string text;
    std::string selected;
};

TEST(TextInput, Editing) {
    const std::string thumbs = "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD";  // thumbs up, skin tone
    const std::string e_acute = "e\xCC\x81";                            // e + combining acute
    const std::vector<EditCase> cases = {
        {"typing", {T("hello")}, "hello", ""},
        {"backspace at end", {T("hello"), K("BackSpace")}, "hell", ""},
        {"left then insert", {T("hllo"), K("Left"), K("Left"), K("Left"), T("e")}, "hello", ""},
        {"backspace takes a whole emoji", {T("a" + thumbs + "b"), K("Left"), K("BackSpace")}, "ab", ""},
        {"left steps over an emoji", {T("a" + thumbs + "b"), K("Left"), K("Left"), T("X")}, "aX" + thumbs + "b", ""},
        {"combining mark goes with its letter", {T("caf" + e_acute), K("BackSpace")}, "caf", ""},
        {"delete forwards", {T(e_acute + "x"), K("Home"), K("Delete")}, "x", ""},
        {"shift selects clusters", {T("ab" + thumbs), K("Left", true), K("Left", true)}, "ab" + thumbs, "b" + thumbs},
        {"typing replaces the selection", {T("hello world"), K("Left", true, true), T("there")}, "hello there", ""},
        {"ctrl+backspace deletes a word", {T("hello big world"), K("BackSpace", false, true)}, "hello big ", ""},
        {"ctrl+left then ctrl+delete", {T("one two three"), K("Left", false, true), K("Left", false, true), K("Delete", false, true)},
         "one  three", ""},
        {"left collapses a selection to its start", {T("abcd"), K("Left", true), K("Left", true), K("Left"), T("X")}, "abXcd", ""},
        {"select all then type", {T("abc"), K("a", false, true), T("z")}, "z", ""},
        {"end after home", {T("abc"), K("Home"), K("End"), T("!")}, "abc!", ""},
        {"shift+home selects to start", {T("abc"), K("Left"), K("Home", true)}, "abc", "ab"},
        {"backspace at start does nothing", {T("ab"), K("Home"), K("BackSpace")}, "ab", ""},
        {"undo takes back a run of typing", {T("ab"), K("Left"), T("x"), T("y"), K("z", false, true)}, "ab", ""},
        {"undo takes back a run of deleting", {T("abcd"), K("BackSpace"), K("BackSpace"), K("z", false, true)}, "abcd", ""},
        {"undo then redo", {T("ab"), K("Home"), T("x"), K("z", false, true), K("z", true, true)}, "xab", ""},
        {"undo restores a replaced selection", {T("hello"), K("a", false, true), T("j"), K("z", false, true)}, "hello", "hello"},
        {"new edit drops the redo steps", {T("a"), K("Home"), T("b"), K("z", false, true), T("c"), K("y", false, true)}, "ca", ""},
        {"undo with nothing to undo", {K("z", false, true)}, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TextInput in = focused(TextInput::local());
        for (const Step& s : c.steps) {
            if (s.kind == Step::type) in.insert_text(s.value);
            else in.handle_key(key(s.value, s.shift, s.ctrl));
        }
        EXPECT_EQ(in.text(), c.text);
        EXPECT_EQ(in.selected_text(), c.selected);
    }
}

TEST(TextInput, FiltersByKind) {
    struct Case {
        InputKind kind;
        bool multi;
        std::string typed;
        std::string text;
    };
    const std::vector<Case> cases = {
        {InputKind::text, false, "a\r\nb\tc\nd", "a b c d"},
        {InputKind::text, true, "a\r\nb\tc\rd", "a\nb\tc\nd"},
        {InputKind::text, false, "bell\x07 nel\xC2\x85 del\x7F.", "bell nel del."},
        {InputKind::number, false, "9 9a3", "993"},
        {InputKind::email, false, " ada @example.org\n", "ada@example.org"},
        {InputKind::url, false, "https://exa mple.org", "https://example.org"},
        {InputKind::password, false, "p\xC3\xA4ss word", "p\xC3\xA4ss word"},
        {InputKind::text, false, "broken\xFF!", "broken\xEF\xBF\xBD!"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        TextInput in = (c.multi ? TextInput::multi_line() : TextInput::local()).with_kind(c.kind);
        in.set_focused(true);
        in.insert_text(c.typed);
        EXPECT_EQ(in.text(), c.text);
        TextInput set = (c.multi ? TextInput::multi_line() : TextInput::local()).with_kind(c.kind);
        set.set_text(c.typed);
        EXPECT_EQ(set.text(), c.text);
    }
}

TEST(TextInput, MaxCharsNeverSplitsACharacter) {
    TextInput in = focused(TextInput::local().with_max_chars(5));
    in.insert_text("abcdefg");
    EXPECT_EQ(in.text(), "abcde");
    in.insert_text("x");
    EXPECT_EQ(in.text(), "abcde");
    in.handle_key(key("BackSpace"));
    in.handle_key(key("BackSpace"));
    // A flag is two characters: it fits only whole.
    in.insert_text("\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7");
    EXPECT_EQ(in.text(), "abc\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7");
    in.handle_key(key("BackSpace"));
    in.insert_text("z\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7");  // room for two: z and half a flag
    EXPECT_EQ(in.text(), "abcz");
    // Replacing a selection frees its room.
    in.select_all();
    in.insert_text("123456");
    EXPECT_EQ(in.text(), "12345");
}

TEST(TextInput, ClipboardCopyCutPaste) {
    LocalClipboard clip;
    TextInput in = focused(TextInput::local());
    in.insert_text("hello world");
    in.handle_key(key("Left", true, true));
    EXPECT_TRUE(in.handle_key(key("c", false, true), &clip).handled);
    EXPECT_EQ(clip.text(), std::optional<std::string>("world"));
    const KeyResult cut = in.handle_key(key("x", false, true), &clip);
    EXPECT_TRUE(cut.changed);
    EXPECT_EQ(in.text(), "hello ");
    in.handle_key(key("Home"));
    const KeyResult paste = in.handle_key(key("v", false, true), &clip);
    EXPECT_TRUE(paste.changed);
    EXPECT_EQ(in.text(), "worldhello ");
    // Pasting multi-line text into a single line flattens it.
    clip.set_text("a\nb");
    in.handle_key(key("v", false, true), &clip);
    EXPECT_EQ(in.text(), "worlda bhello ");
}

TEST(TextInput, PasswordsNeverReachTheClipboard) {
    LocalClipboard clip;
    clip.set_text("before");
    TextInput in = focused(TextInput::local().with_kind(InputKind::password));
    in.insert_text("secret");
    in.select_all();
    EXPECT_TRUE(in.handle_key(key("c", false, true), &clip).handled);
    EXPECT_FALSE(in.handle_key(key("x", false, true), &clip).changed);
    EXPECT_EQ(clip.text(), std::optional<std::string>("before"));
    EXPECT_EQ(in.text(), "secret");
}

// A clipboard that answers later, like the desktop's.
class SlowClipboard : public Clipboard {
public:
    void set_text(std::string) override {}
    void request_text(std::function<void(std::optional<std::string>)> done) override { pending.push_back(std::move(done)); }
    std::vector<std::function<void(std::optional<std::string>)>> pending;
};

TEST(TextInput, LatePasteLandsInTheRightInputOrNowhere) {
    SlowClipboard clip;
    {
        TextInput in = focused(TextInput::local());
        in.handle_key(key("v", false, true), &clip);
        TextInput moved = std::move(in);  // the input is moved before the answer
        ASSERT_EQ(clip.pending.size(), 1u);
        clip.pending[0](std::string("late"));
        EXPECT_EQ(moved.text(), "late");
        EXPECT_TRUE(moved.take_changed());
        moved.handle_key(key("v", false, true), &clip);
    }
    // The input is gone; answering must not touch it.
    ASSERT_EQ(clip.pending.size(), 2u);
    clip.pending[1](std::string("after"));
}

TEST(TextInput, CopiesAreIndependent) {
    TextInput a = focused(TextInput::local().with_initial_value("one"));
    TextInput b = a;
    b.insert_text("two");
    EXPECT_EQ(a.text(), "one");
    EXPECT_EQ(b.text(), "onetwo");
    EXPECT_FALSE(a.take_changed());  // with_initial_value is not a change
}

TEST(TextInput, ReturnSubmitsSingleLineAndBreaksMultiLine) {
    TextInput single = focused(TextInput::local().with_initial_value("x"));
    const KeyResult r = single.handle_key(key("Return"));
    EXPECT_TRUE(r.submitted);
    EXPECT_FALSE(r.changed);
    EXPECT_EQ(single.text(), "x");
    TextInput multi = focused(TextInput::multi_line().with_initial_value("x"));
    EXPECT_TRUE(multi.handle_key(key("Return")).changed);
    EXPECT_EQ(multi.text(), "x\n");
    // Unfocused inputs take no keys.
    TextInput idle = TextInput::local();
    EXPECT_FALSE(idle.handle_key(key("BackSpace")).handled);
    // Keys the input does not use are left to the caller.
    EXPECT_FALSE(single.handle_key(key("Tab")).handled);
    EXPECT_FALSE(single.handle_key(key("Up")).handled);
}

struct Surface {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 400, 200);
    cairo_t* cr = cairo_create(s);
    ~Surface() {
        cairo_destroy(cr);
        cairo_surface_destroy(s);
    }
};

PointerEvent click_at(double x, double y, int clicks = 1, bool shift = false) {
    PointerEvent ev;
    ev.pos = {x, y};
    ev.button = PointerButton::primary;
    ev.clicks = clicks;
    ev.mods.shift = shift;
    return ev;
}

TEST(TextInput, PointerPlacesTheCaretAndSelects) {
    Surface surface;
    TextRenderer text;
    const Theme theme = Theme::dark();
    TextInput in = TextInput::local().with_initial_value("hello world");
    const Rect rect{20, 20, 320, 52};
    {
        Canvas canvas(surface.cr);
        in.draw(canvas, text, theme, rect);
    }
    const double x_of_w = 20 + text.measure("hello ", 13).width;
    EXPECT_TRUE(in.pointer_down(click_at(x_of_w + 1, 36), text));
    EXPECT_TRUE(in.focused());
    EXPECT_EQ(in.caret(), 6u);
    // Dragging to the end selects "world".
    EXPECT_TRUE(in.pointer_drag({310, 36}, text));
    in.pointer_up();
    EXPECT_EQ(in.selected_text(), "world");
    // A double click selects the word under it.
    in.pointer_down(click_at(25, 36, 2), text);
    EXPECT_EQ(in.selected_text(), "hello");
    // Shift+click extends from the caret.
    in.pointer_down(click_at(20 + text.measure("hel", 13).width + 1, 36), text);
    in.pointer_down(click_at(310, 36, 1, true), text);
    EXPECT_EQ(in.selected_text(), "lo world");
    // Outside the rectangle nothing happens.
    EXPECT_FALSE(in.pointer_down(click_at(330, 36), text));
}

TEST(TextInput, MultiLineMovesBetweenLines) {
    Surface surface;
    TextRenderer text;
    const Theme theme = Theme::dark();
    TextInput in = focused(TextInput::multi_line().with_initial_value("abcdef line\nabcdef more\nabc"));
    {
        Canvas canvas(surface.cr);
        in.draw(canvas, text, theme, {0, 0, 380, 180});
    }
    in.set_caret(3);  // abc|def
    in.handle_key(key("Down"));
    EXPECT_EQ(in.caret(), 12u + 3u);  // the same column on the next line
    in.handle_key(key("Down"));
    in.handle_key(key("Down"));  // past the last line: the end
    EXPECT_EQ(in.caret(), in.text().size());
    in.handle_key(key("Home"));
    EXPECT_EQ(in.caret(), 24u);
    in.handle_key(key("Up", true));
    EXPECT_EQ(in.selected_text(), "abcdef more\n");
}

TEST(TextInput, CompositionShowsWithoutChangingTheText) {
    Surface surface;
    TextRenderer text;
    const Theme theme = Theme::dark();
    TextInput in = focused(TextInput::local().with_initial_value("ab"));
    in.set_caret(1);
    auto ink = [&] {
        cairo_save(surface.cr);
        cairo_set_operator(surface.cr, CAIRO_OPERATOR_CLEAR);
        cairo_paint(surface.cr);
        cairo_restore(surface.cr);
        {
            Canvas canvas(surface.cr);
            in.draw(canvas, text, theme, {0, 0, 300, 30});
        }
        cairo_surface_flush(surface.s);
        const unsigned char* d = cairo_image_surface_get_data(surface.s);
        const int stride = cairo_image_surface_get_stride(surface.s);
        int right = 0;  // the rightmost inked column
        for (int y = 0; y < 30; ++y) {
            for (int x = 0; x < 300; ++x) {
                if (d[y * stride + x * 4 + 3] != 0) right = std::max(right, x);
            }
        }
        return right;
    };
    const int plain = ink();
    in.set_preedit("ããª", 3);  // two kana being composed
    EXPECT_GT(ink(), plain + 10);
    EXPECT_EQ(in.text(), "ab");
    EXPECT_FALSE(in.take_changed());
    in.insert_text("ä»®");  // committed as one character
    EXPECT_TRUE(in.preedit().empty());
    EXPECT_EQ(in.text(), "aä»®" "b");
}

TEST(TextInput, PasswordCaretMapsThroughTheMask) {
    Surface surface;
    TextRenderer text;
    const Theme theme = Theme::dark();
    TextInput in = TextInput::local().with_kind(InputKind::password).with_initial_value("p\xC3\xA4ss");
    const Rect rect{0, 0, 300, 30};
    {
        Canvas canvas(surface.cr);
        in.draw(canvas, text, theme, rect);
    }
    const double two_dots = text.measure("••", 13).width;
    in.pointer_down(click_at(two_dots + 0.5, 15), text);
    EXPECT_EQ(in.caret(), 3u);  // after "pä": a byte offset in the real text
    in.pointer_down(click_at(5, 15, 2), text);
    EXPECT_EQ(in.selected_text(), "p\xC3\xA4ss");  // no word selection in a password
}

}  // namespace
}  // namespace runtime::ui
