#include "app/launch_config.h"

#include <memory>

#include "actions/mail_action.h"
#include "app/mail_app.h"
#include "app/scenes.h"
#include "doc/mailbox.h"
#include "lib/base/log.h"
#include "lib/base/places.h"

namespace mail::app {

runtime::ui::LaunchConfig launch_config() {
    using namespace runtime::ui;
    LaunchConfig config;
    config.application_id = std::string(kAppId);
    for (std::string_view s : kSceneNames) config.scenes.emplace_back(s);
    config.make_app = [] { return std::unique_ptr<App>(MailApp::normal_start()); };
    config.make_scene_app = [](const LaunchContext& lc) {
        return std::unique_ptr<App>(MailApp::scene_start(lc.scene.value_or(std::string(kDefaultScene))));
    };
    config.setup = [](AppHandle& handle) {
        handle.set_window_title(std::string(kWindowTitle));
        auto* app = dynamic_cast<MailApp*>(&handle.app());
        if (app == nullptr) return;
        handle.action_registry_mut().register_decoder(
            std::string(actions::kActionKind),
            [app](std::string_view payload) { return app->apply_action_payload(payload); });
    };
    config.window_size = [](const LaunchContext& lc) {
        return scene_window_size(lc.scene.value_or(std::string(kDefaultScene)));
    };
    // Scene starts and screenshots keep their mailbox in memory, so they
    // never touch (or wait for) the document of a client already running.
    config.open_state = [](const LaunchContext& lc) -> lib::Result<AppState> {
        if (lc.scene_start()) {
            return AppState::hold(std::make_shared<runtime::persist::Doc>(runtime::persist::Doc::open_in_memory()));
        }
        const std::optional<std::filesystem::path> dir = lib::places::data_root();
        if (!dir) {
            lib::log::warn("no data folder, the mailbox is kept in memory");
            return AppState::hold(std::make_shared<runtime::persist::Doc>(runtime::persist::Doc::open_in_memory()));
        }
        lib::Result<runtime::persist::Doc> doc = doc::open_mailbox(*dir);
        if (!doc) return doc.take_error();
        return AppState::hold(std::make_shared<runtime::persist::Doc>(std::move(doc).value()));
    };
    config.options.frame_stats = false;
    config.options.accessibility = true;
    config.options.automation = true;
    return config;
}

}  // namespace mail::app
