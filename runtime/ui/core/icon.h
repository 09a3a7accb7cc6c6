// The toolkit's icon set: vector shapes drawn on a 24-unit grid scaled into
// any square, in one colour, as outlines (draw) or solid (draw_filled, where
// inner details are cut out of the filled shape). No fonts or pictures.
//
// Numbers are stable identifiers; a few are referred to by number elsewhere:
// 23 document, 33 image, 36 file archive (zip), 67 preview (an eye),
// 71 download (content not on this device yet), 84 generic file,
// 85 calendar, 87 downloaded (a check in a circle).
#pragma once

#include <optional>

#include "runtime/ui/core/canvas.h"
#include "runtime/ui/core/geometry.h"

namespace runtime::ui {

enum class IconId : int {
    inbox = 1,
    star = 2,         // the Starred folder, the star action
    sent = 3,         // a paper plane (the Sent folder, the Send button)
    drafts = 4,       // same shape as compose
    archive = 5,      // a storage box (the Archive folder and action)
    trash = 6,        // the Trash folder and the delete action
    junk = 7,         // a prohibition sign
    compose = 8,      // a pencil over a page
    search = 9,
    connect = 10,     // a plug
    warning = 11,
    information = 12,
    reply = 13,
    reply_all = 14,
    forward = 15,
    mark_unread = 16, // an envelope with a dot
    mail = 17,
    select = 18,      // a checked box
    refresh = 19,
    chevron_down = 20,
    chevron_right = 21,
    chevron_left = 22,
    document = 23,
    chevron_up = 24,
    close = 25,
    settings = 26,
    plus = 27,
    check = 28,
    attach = 29,      // a paper clip
    more = 30,        // three dots
    menu = 31,        // three bars
    lock = 32,
    image = 33,
    link = 34,
    user = 35,
    file_archive = 36,
    dock = 37,        // a window with a panel at its side
    minus = 38,
    preview = 67,
    download = 71,
    file = 84,
    calendar = 85,
    downloaded = 87,
};

struct Icon {
    // Draws the icon centred in `box` (scaled to its shorter side). A stroke
    // width of 0 picks one suited to the size.
    static void draw(Canvas& canvas, IconId id, const Rect& box, Color color, double stroke = 0);
    static void draw_filled(Canvas& canvas, IconId id, const Rect& box, Color color, double stroke = 0);
    // The icon with this number, if there is one.
    static std::optional<IconId> from_number(int number);
    // The icon of a folder role 0..6 (Inbox, Starred, Sent, Drafts, Archive,
    // Trash, Junk); other values give inbox.
    static IconId for_folder_role(int role);
};

}  // namespace runtime::ui
