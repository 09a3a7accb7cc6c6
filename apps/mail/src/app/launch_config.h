// The launch configuration handed to the toolkit's launcher.
#pragma once

#include "runtime/ui/core/launch.h"

namespace mail::app {

// Application id, the scene table, both factories, the set-up callback (title
// and the "mail.action" decoder), the window size per scene, the opener of
// the mailbox document, and the option flags.
runtime::ui::LaunchConfig launch_config();

}  // namespace mail::app
