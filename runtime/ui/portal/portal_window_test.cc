// The real file chooser under Xvfb (no desktop portal there, so GTK's own
// dialog): Escape cancels even with a file highlighted, typing a path and
// Enter chooses it, and dropping the handle closes the dialog.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "runtime/ui/portal/pick.h"
#include "runtime/ui/util/xvfb_reexec.h"

namespace {

using namespace runtime::ui;
using portal::PickAnswer;
using portal::PickRequest;
using namespace std::chrono_literals;

bool pump_until(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    const guint tick = g_timeout_add(10, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    bool ok = true;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            ok = false;
            break;
        }
        g_main_context_iteration(nullptr, TRUE);
    }
    g_source_remove(tick);
    return ok;
}

int visible_windows() {
    GListModel* all = gtk_window_get_toplevels();
    int n = 0;
    for (guint i = 0; i < g_list_model_get_n_items(all); ++i) {
        auto* w = GTK_WIDGET(g_list_model_get_item(all, i));
        n += gtk_widget_get_visible(w) && gtk_widget_get_mapped(w) ? 1 : 0;
        g_object_unref(w);
    }
    return n;
}

// Runs a shell command while the main loop keeps turning (xdotool waits for
// nothing from us, but the dialog must keep answering X events).
void xdo(const std::string& args) {
    GError* error = nullptr;
    GSubprocess* p = g_subprocess_new(G_SUBPROCESS_FLAGS_NONE, &error, "sh", "-c", ("xdotool " + args).c_str(), nullptr);
    ASSERT_NE(p, nullptr) << (error ? error->message : "");
    bool done = false;
    g_subprocess_wait_async(
        p, nullptr, [](GObject*, GAsyncResult*, gpointer d) { *static_cast<bool*>(d) = true; }, &done);
    pump_until([&] { return done; }, 10s);
    g_object_unref(p);
}

class FileChooser : public ::testing::Test {
protected:
    void SetUp() override {
        unsetenv("ZELK_MAIL_TEST_PICKER");
        dir = std::filesystem::temp_directory_path() / ("zelk-chooser-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir);
        file = dir / "invite.ics";
        std::ofstream(file) << "BEGIN:VCALENDAR\r\n";
        window = GTK_WINDOW(gtk_window_new());
        gtk_window_set_default_size(window, 600, 400);
        gtk_window_present(window);
        ASSERT_TRUE(pump_until([] { return visible_windows() == 1; }, 5s));
    }
    void TearDown() override {
        gtk_window_destroy(window);
        std::filesystem::remove_all(dir);
    }

    // Waits for the dialog, focuses it and types.
    void type_into_dialog(const std::string& keys) {
        ASSERT_TRUE(pump_until([] { return visible_windows() == 2; }, 10s));
        pump_until([] { return false; }, 500ms);
        xdo("search --sync --onlyvisible --name 'Attach file' windowfocus --sync " + keys);
    }

    PickAnswer wait_answer(portal::PickHandle& handle) {
        std::optional<PickAnswer> answer;
        EXPECT_TRUE(pump_until([&] { return (answer = handle.poll()).has_value(); }, 10s));
        return answer.value_or(PickAnswer::failed("no answer"));
    }

    std::filesystem::path dir;
    std::filesystem::path file;
    GtkWindow* window = nullptr;
};

TEST_F(FileChooser, TypedPathAndEnterChoosesTheFile) {
    auto handle = PickRequest::open("Attach file", "Attach")
                      .filter(portal::FileFilter::all_files())
                      .thread_name("mail-portal-stage-attachment")
                      .send_open_file();
    type_into_dialog("type --delay 20 '" + file.string() + "' && sleep 0.5 && xdotool key Return");
    const PickAnswer a = wait_answer(handle);
    ASSERT_EQ(a.kind, PickAnswer::Kind::chosen) << a.error;
    EXPECT_EQ(a.path, file);
    EXPECT_EQ(a.name, "invite.ics");
    EXPECT_TRUE(pump_until([] { return visible_windows() == 1; }, 5s));
}

TEST_F(FileChooser, EscapeCancelsEvenWithAFileHighlighted) {
    auto handle = PickRequest::open("Attach file", "Attach").send_open_file();
    // Go into the folder and highlight the file in the list; Escape must still mean "no file".
    type_into_dialog("type --delay 20 '" + dir.string() + "/' && sleep 0.3 && xdotool key Return && sleep 0.8 && xdotool key Tab Down && sleep 0.5 && xdotool key Escape");
    // The first Escape may only close the location pop-up; later ones close the dialog.
    for (int i = 0; i < 3 && !handle.poll(); ++i) {
        pump_until([&] { return handle.poll().has_value(); }, 1s);
        if (!handle.poll()) xdo("key Escape");
    }
    const PickAnswer a = wait_answer(handle);
    EXPECT_EQ(a.kind, PickAnswer::Kind::cancelled);
}

TEST_F(FileChooser, DroppingTheHandleClosesTheDialog) {
    {
        auto handle = PickRequest::save("Save attachment", "Save").suggested_name("invite.ics").send();
        ASSERT_TRUE(pump_until([] { return visible_windows() == 2; }, 10s));
    }
    EXPECT_TRUE(pump_until([] { return visible_windows() == 1; }, 5s));
}

}  // namespace

int main(int argc, char** argv) {
    const bool listing = runtime::ui::testing::reexec_under_xvfb(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    g_set_prgname("zelk-mail-tests");
    g_set_application_name("Mail tests");
    if (!listing && !gtk_init_check()) {
        std::fprintf(stderr, "no display\n");
        return 1;
    }
    return RUN_ALL_TESTS();
}
