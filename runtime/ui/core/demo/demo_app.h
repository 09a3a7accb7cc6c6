// A small application built on the toolkit, used by the tests and the demo
// binary: the navigation shell with three panes, a text input, avatars, the
// icon set, a toggle and a toast. It records what input reached it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "runtime/ui/core/app.h"

namespace runtime::ui::demo {

struct DemoLog {
    std::vector<std::string> lines;  // "key:Return", "text:abc", "down:12,40", "turn"
    std::string log_file;            // appended to as well when set
    void add(std::string line);
};

std::unique_ptr<App> make_demo_app(std::shared_ptr<DemoLog> log, std::string scene);

}  // namespace runtime::ui::demo
