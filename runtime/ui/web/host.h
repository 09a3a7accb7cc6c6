// How a GTK window hosts the web views: include only from the window's .cc
// files (this header pulls in GTK). The window calls begin_frame() before
// drawing a frame and sync_overlay() after it; web views whose owners set a
// viewport during the frame are shown there, all others are hidden.
#pragma once

#include <gtk/gtk.h>

#include <vector>

#include "runtime/ui/web/web_view.h"

namespace runtime::ui::web::host {

struct Placement {
    GtkWidget* widget = nullptr;  // the WebKitWebView; owned by its engine
    WebViewport viewport;         // latest rectangle set by the owner
    bool shown = false;           // set during the current frame and not empty
};

// Starts a frame: every web view counts as not placed until its owner calls
// WebView::set_viewport again. Window thread only.
void begin_frame();

// Every live WebKit web view in creation order.
std::vector<Placement> placements();

// For a window built on a GtkOverlay: puts web views that have no parent yet
// into the overlay, shows and hides them as placed, and keeps them on their
// rectangles (it connects its own "get-child-position" handler once, which
// answers only for web views, so other overlay children keep the window's
// own placement). An engine takes its widget out of the overlay when it is
// destroyed.
void sync_overlay(GtkOverlay* overlay);

// The rectangle of a web view child for a "get-child-position" handler of
// the window's own; false when the child is not a web view.
bool child_position(GtkWidget* child, GdkRectangle* out);

}  // namespace runtime::ui::web::host
