// The WebKit engine for WebView: renders with WebKitGTK in a sandboxed web
// process, JavaScript off, no developer tools, no page cache, no persistent
// website data, every navigation away from the loaded document refused (link
// activations are reported as LinkClicked instead), downloads, permission
// requests and file choosers refused. Content rule lists are compiled into
// WebKit content filters and are in force before a following load starts; if
// a rule list cannot be compiled, loads are refused until a list compiles.
// This header needs no GTK; the engine itself lives on the GTK main thread.
#pragma once

#include <functional>
#include <memory>

#include "runtime/ui/web/web_view.h"

namespace runtime::ui {

// Creates the engine; call on the GTK main thread after GTK is initialised.
// Without a display the engine reports CanDisplay{false} and refuses loads.
// The first event is always a CanDisplay.
std::unique_ptr<WebEngine> create_webkit_engine();

// A factory for set_web_engine_factory().
std::function<std::unique_ptr<WebEngine>()> webkit_engine_factory();

}  // namespace runtime::ui
