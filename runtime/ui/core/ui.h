// The window toolkit in one include (everything that needs no GTK): the
// application interface and launcher, drawing, text, icons, theme and
// widgets. GTK-aware code may add runtime/ui/core/overlay_host.h.
#pragma once

#include "runtime/ui/core/app.h"
#include "runtime/ui/core/canvas.h"
#include "runtime/ui/core/geometry.h"
#include "runtime/ui/core/headless.h"
#include "runtime/ui/core/icon.h"
#include "runtime/ui/core/input.h"
#include "runtime/ui/core/launch.h"
#include "runtime/ui/core/rich_text.h"
#include "runtime/ui/core/text.h"
#include "runtime/ui/core/text_selection.h"
#include "runtime/ui/core/theme.h"
#include "runtime/ui/core/widgets/basic.h"
#include "runtime/ui/core/widgets/nav_shell.h"
#include "runtime/ui/core/widgets/text_input.h"
