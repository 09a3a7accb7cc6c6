// TextInput: an editable text field, single- or multi-line, drawn by the
// application inside a rectangle it chooses. It keeps the text, a caret and
// a selection (byte offsets on character-cluster boundaries), takes committed
// text from the input method, keys and pointer presses, and talks to the
// clipboard. A copy of an input is independent of the original.
//
// Kinds: text; email and url (white space is dropped as it is typed or
// pasted); number (only the digits 0-9 are kept); password (shown as one
// "•" per character, and never copied or cut to the clipboard).
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "runtime/ui/core/canvas.h"
#include "runtime/ui/core/geometry.h"
#include "runtime/ui/core/input.h"
#include "runtime/ui/core/text.h"
#include "runtime/ui/core/theme.h"

namespace runtime::ui {

enum class InputKind { text, email, url, number, password };

struct KeyResult {
    // The key was used by the input (do not act on it elsewhere).
    bool handled = false;
    // The text changed.
    bool changed = false;
    // Return in a single-line input (the caller decides what it means).
    bool submitted = false;
};

struct TextInputStyle {
    double size = 13;
    // Colours; an alpha of 0 picks the theme's.
    Color text{0, 0, 0, 0};
    Color placeholder{0, 0, 0, 0};
    // Draws a rounded box with a border (accent while focused, danger when
    // `error`) and pads the text inside it.
    bool frame = false;
    bool error = false;
    double padding = 0;  // horizontal padding; the frame uses at least 10
    bool placeholder_when_focused = false;
};

class TextInput {
public:
    TextInput();
    ~TextInput();
    TextInput(const TextInput& other);
    TextInput& operator=(const TextInput& other);
    TextInput(TextInput&&) noexcept;
    TextInput& operator=(TextInput&&) noexcept;

    // A single-line input holding its own text.
    static TextInput local();
    // A multi-line input: Return inserts a line break, Up and Down move
    // between lines, the text wraps at the drawn width.
    static TextInput multi_line();

    TextInput with_placeholder(std::string placeholder) &&;
    TextInput with_initial_value(std::string_view value) &&;
    TextInput with_kind(InputKind kind) &&;
    // Limits the text to this many characters (0: no limit).
    TextInput with_max_chars(std::size_t max) &&;

    const std::string& text() const;
    // Replaces the text; the caret goes to its end and the selection is
    // cleared. The text is filtered as typed text would be.
    void set_text(std::string_view text);
    const std::string& placeholder() const;
    void set_placeholder(std::string placeholder);
    InputKind kind() const;
    bool is_multi_line() const;

    bool focused() const;
    void set_focused(bool focused);

    std::size_t caret() const;
    // The selection as (start, end) with start <= end; empty when none.
    std::pair<std::size_t, std::size_t> selection() const;
    bool has_selection() const;
    std::string selected_text() const;
    // Moves the caret (snapped to a character boundary); with `extend` the
    // selection grows from its anchor instead of being cleared.
    void set_caret(std::size_t offset, bool extend = false);
    void select_all();

    // Inserts committed text at the caret, replacing the selection. Control
    // characters are dropped; line breaks and tabs become spaces in a
    // single-line input. Returns whether the text changed.
    bool insert_text(std::string_view text);
    // The input method's composition, drawn underlined at the caret until it
    // is committed (insert_text) or cleared (empty text).
    void set_preedit(std::string_view text, std::size_t cursor);
    const std::string& preedit() const;
    // Steps back and forth through the edits (Ctrl+Z, Ctrl+Shift+Z or
    // Ctrl+Y); consecutive typing or deleting is one step. set_text starts a
    // new history.
    bool undo();
    bool redo();
    // Editing keys, clipboard shortcuts (Ctrl+C, Ctrl+X, Ctrl+V), undo and
    // the key's own text when it carries one. Pasted text arrives later through
    // the clipboard and is inserted then.
    KeyResult handle_key(const KeyEvent& ev, Clipboard* clipboard = nullptr);

    // Pointer presses and drags at window positions, against the rectangle of
    // the last draw: a press places the caret (Shift extends the selection,
    // a double click selects a word, a triple click everything), a drag
    // extends the selection. Returns whether the press was inside.
    bool pointer_down(const PointerEvent& ev, const TextRenderer& text);
    bool pointer_drag(Point pos, const TextRenderer& text);
    void pointer_up();
    bool dragging() const;

    void draw(Canvas& canvas, const TextRenderer& text, const Theme& theme, const Rect& rect,
              const TextInputStyle& style = {});
    // The caret's rectangle in window coordinates at the last draw (for the
    // input method's candidate window).
    Rect caret_rect() const;
    // Whether the text changed since the last call.
    bool take_changed();

    struct State;

private:
    std::shared_ptr<State> s_;
};

}  // namespace runtime::ui
