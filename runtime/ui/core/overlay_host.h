// Native widgets over the window's drawing (GTK-aware code only: this header
// pulls in GTK). The window is a GtkOverlay whose base child is the drawing
// area; children added here are placed on rectangles in window coordinates.
#pragma once

#include <gtk/gtk.h>

#include <functional>

#include "runtime/ui/core/geometry.h"

namespace runtime::ui {

class OverlayHost {
public:
    virtual ~OverlayHost() = default;
    virtual GtkWindow* window() = 0;
    virtual GtkOverlay* overlay() = 0;
    // Puts `child` over the drawing on the rectangle that `place` returns at
    // each allocation (logical pixels); an empty rectangle hides it. The
    // overlay holds a reference until remove_child.
    virtual void add_child(GtkWidget* child, std::function<Rect()> place) = 0;
    virtual void remove_child(GtkWidget* child) = 0;
    // Asks every child for its rectangle again.
    virtual void relayout() = 0;
};

}  // namespace runtime::ui
