#include "runtime/ui/portal/pick.h"

#include <gtk/gtk.h>
#include <pthread.h>

#include <condition_variable>
#include <cstdlib>
#include <future>
#include <mutex>
#include <thread>

#include "lib/base/log.h"
#include "runtime/ui/util/wake.h"

namespace runtime::ui::portal {

namespace detail {

struct DialogJob;

struct PickState {
    std::mutex mu;
    std::optional<PickAnswer> answer;
    bool worker_done = false;
    bool abandoned = false;
    DialogJob* job = nullptr;  // the open GTK dialog; main thread only
};

}  // namespace detail

using detail::PickState;

// ---- answers ----------------------------------------------------------------

FileFilter FileFilter::all_files() { return FileFilter{"All files", {"*"}}; }

PickAnswer PickAnswer::chosen_file(std::filesystem::path path) {
    PickAnswer a;
    a.kind = Kind::chosen;
    a.name = path.filename().string();
    a.path = std::move(path);
    return a;
}
PickAnswer PickAnswer::cancelled() {
    PickAnswer a;
    a.kind = Kind::cancelled;
    return a;
}
PickAnswer PickAnswer::failed(std::string message) {
    PickAnswer a;
    a.kind = Kind::error;
    a.error = std::move(message);
    return a;
}
PickAnswer PickAnswer::ended_without_answer() { return PickAnswer{}; }

// ---- handle -----------------------------------------------------------------

PickHandle::PickHandle(std::shared_ptr<PickState> state) : state_(std::move(state)) {}

PickHandle& PickHandle::operator=(PickHandle&& other) noexcept {
    if (this != &other) {
        abandon();
        state_ = std::move(other.state_);
    }
    return *this;
}

PickHandle::~PickHandle() { abandon(); }

std::optional<PickAnswer> PickHandle::poll() {
    if (!state_) return PickAnswer::ended_without_answer();
    std::lock_guard<std::mutex> lock(state_->mu);
    if (state_->answer) return state_->answer;
    if (state_->worker_done) return PickAnswer::ended_without_answer();
    return std::nullopt;
}

namespace {

std::mutex& responder_mutex() {
    static std::mutex m;
    return m;
}
std::shared_ptr<const TestResponder>& responder_slot() {
    static std::shared_ptr<const TestResponder> slot;
    return slot;
}

std::shared_ptr<const TestResponder> current_responder() {
    std::lock_guard<std::mutex> lock(responder_mutex());
    return responder_slot();
}

// ---- the GTK dialog (main thread) ---------------------------------------------

}  // namespace

namespace detail {

struct DialogJob {
    PickRequest request;
    std::weak_ptr<PickState> state;
    std::promise<PickAnswer> promise;
    GtkFileChooserNative* dialog = nullptr;
};

}  // namespace detail

namespace {

using detail::DialogJob;

void finish_job(DialogJob* job, PickAnswer answer) {
    if (auto state = job->state.lock()) {
        std::lock_guard<std::mutex> lock(state->mu);
        if (state->job == job) state->job = nullptr;
    }
    if (job->dialog) {
        g_signal_handlers_disconnect_by_data(job->dialog, job);
        gtk_native_dialog_destroy(GTK_NATIVE_DIALOG(job->dialog));
        g_object_unref(job->dialog);
    }
    job->promise.set_value(std::move(answer));
    delete job;
}

void on_response(GtkNativeDialog* dialog, int response, gpointer data) {
    auto* job = static_cast<DialogJob*>(data);
    PickAnswer answer = PickAnswer::cancelled();
    // Only an explicit accept counts: Escape answers DELETE_EVENT while the
    // highlighted file is still reported, and that is not a choice.
    if (response == GTK_RESPONSE_ACCEPT) {
        GFile* file = gtk_file_chooser_get_file(GTK_FILE_CHOOSER(dialog));
        if (!file) {
            answer = PickAnswer::failed("no file was chosen");
        } else {
            gchar* path = g_file_get_path(file);
            answer = path ? PickAnswer::chosen_file(path)
                          : PickAnswer::failed("the chosen file is not on this computer");
            g_free(path);
            g_object_unref(file);
        }
    }
    finish_job(job, std::move(answer));
}

GtkWindow* parent_window() {
    GApplication* app = g_application_get_default();
    if (app && GTK_IS_APPLICATION(app)) {
        if (GtkWindow* w = gtk_application_get_active_window(GTK_APPLICATION(app))) return w;
    }
    GListModel* toplevels = gtk_window_get_toplevels();
    const guint n = g_list_model_get_n_items(toplevels);
    GtkWindow* found = nullptr;
    for (guint i = 0; i < n && !found; ++i) {
        auto* w = GTK_WINDOW(g_list_model_get_item(toplevels, i));
        if (gtk_widget_get_visible(GTK_WIDGET(w))) found = w;
        g_object_unref(w);
    }
    return found;
}

gboolean show_dialog(gpointer data) {
    auto* job = static_cast<DialogJob*>(data);
    auto state = job->state.lock();
    if (!state || !gdk_display_get_default()) {
        finish_job(job, state ? PickAnswer::failed("no display for the file chooser") : PickAnswer::cancelled());
        return G_SOURCE_REMOVE;
    }
    const PickRequest& r = job->request;
    const bool save = r.mode() == PickMode::save;
    GtkFileChooserNative* dialog = gtk_file_chooser_native_new(
        r.title().c_str(), parent_window(), save ? GTK_FILE_CHOOSER_ACTION_SAVE : GTK_FILE_CHOOSER_ACTION_OPEN,
        r.accept_label().c_str(), "_Cancel");
    job->dialog = dialog;
    gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(dialog), TRUE);
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
    for (const FileFilter& f : r.filters()) {
        GtkFileFilter* filter = gtk_file_filter_new();
        gtk_file_filter_set_name(filter, f.name.c_str());
        for (const std::string& p : f.patterns) gtk_file_filter_add_pattern(filter, p.c_str());
        gtk_file_chooser_add_filter(chooser, filter);
        g_object_unref(filter);
    }
    if (save && !r.suggested().empty()) gtk_file_chooser_set_current_name(chooser, r.suggested().c_str());
    g_signal_connect(dialog, "response", G_CALLBACK(on_response), job);
    bool abandoned = false;
    {
        // Checked and registered together, so that a handle dropped on
        // another thread either sees the job or stops it here.
        std::lock_guard<std::mutex> lock(state->mu);
        abandoned = state->abandoned;
        if (!abandoned) state->job = job;
    }
    if (abandoned) {
        finish_job(job, PickAnswer::cancelled());
        return G_SOURCE_REMOVE;
    }
    gtk_native_dialog_show(GTK_NATIVE_DIALOG(dialog));
    return G_SOURCE_REMOVE;
}

gboolean close_dialog(gpointer data) {
    std::unique_ptr<std::shared_ptr<PickState>> holder(static_cast<std::shared_ptr<PickState>*>(data));
    DialogJob* job = nullptr;
    {
        std::lock_guard<std::mutex> lock((*holder)->mu);
        job = (*holder)->job;
        (*holder)->job = nullptr;
    }
    if (job) finish_job(job, PickAnswer::cancelled());
    return G_SOURCE_REMOVE;
}

// ---- answering without a dialog -------------------------------------------------

std::optional<PickAnswer> answer_from_environment(PickMode mode) {
    const char* specific = std::getenv(mode == PickMode::open ? "ZELK_MAIL_TEST_PICKER_OPEN" : "ZELK_MAIL_TEST_PICKER_SAVE");
    const char* general = std::getenv("ZELK_MAIL_TEST_PICKER");
    const char* value = specific && *specific ? specific : general;
    if (!value || !*value) return std::nullopt;
    const std::string v = value;
    if (v == "cancel") return PickAnswer::cancelled();
    if (v == "end") return PickAnswer::ended_without_answer();
    if (v.rfind("error:", 0) == 0) return PickAnswer::failed(v.substr(6));
    return PickAnswer::chosen_file(v);
}

void name_this_thread(const std::string& name) {
    // The system keeps 15 bytes.
    pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
}

void deliver(const std::shared_ptr<PickState>& state, std::optional<PickAnswer> answer) {
    {
        std::lock_guard<std::mutex> lock(state->mu);
        // "Ended" is what poll() reports for a finished worker without answer.
        if (answer && answer->kind != PickAnswer::Kind::ended) state->answer = std::move(answer);
        state->worker_done = true;
    }
    wake_from_background();
}

}  // namespace

void set_test_responder(TestResponder responder) {
    std::shared_ptr<const TestResponder> next;
    if (responder) next = std::make_shared<const TestResponder>(std::move(responder));
    std::lock_guard<std::mutex> lock(responder_mutex());
    responder_slot() = std::move(next);
}

void PickHandle::abandon() {
    if (!state_) return;
    bool has_job = false;
    {
        std::lock_guard<std::mutex> lock(state_->mu);
        state_->abandoned = true;
        has_job = state_->job != nullptr;
    }
    if (has_job) {
        // Runs at once when called on the window thread that owns the main context.
        g_main_context_invoke(nullptr, close_dialog, new std::shared_ptr<PickState>(state_));
    }
    state_.reset();
}

// ---- requests -----------------------------------------------------------------

PickRequest::PickRequest(PickMode mode, std::string title, std::string accept_label)
    : mode_(mode), title_(std::move(title)), accept_label_(std::move(accept_label)) {}

PickRequest PickRequest::open(std::string title, std::string accept_label) {
    return PickRequest(PickMode::open, std::move(title), std::move(accept_label));
}
PickRequest PickRequest::save(std::string title, std::string accept_label) {
    return PickRequest(PickMode::save, std::move(title), std::move(accept_label));
}
PickRequest&& PickRequest::suggested_name(std::string name) && {
    suggested_ = std::move(name);
    return std::move(*this);
}
PickRequest&& PickRequest::thread_name(std::string name) && {
    thread_ = std::move(name);
    return std::move(*this);
}
PickRequest&& PickRequest::filter(FileFilter f) && {
    filters_.push_back(std::move(f));
    return std::move(*this);
}

PickHandle PickRequest::send() const { return dispatch(PickMode::save); }
PickHandle PickRequest::send_open_file() const { return dispatch(PickMode::open); }

PickHandle PickRequest::dispatch(PickMode expected) const {
    auto state = std::make_shared<PickState>();
    std::shared_ptr<const TestResponder> responder = current_responder();
    std::optional<PickAnswer> scripted;
    if (!responder) scripted = answer_from_environment(mode_);
    // Looked at here, on the caller's (window) thread, where GDK may be used.
    const bool display = responder || scripted ? true : gdk_display_get_default() != nullptr;

    std::thread worker([state, request = *this, expected, responder, scripted, display] {
        name_this_thread(request.thread());
        if (request.mode() != expected) {
            deliver(state, PickAnswer::failed(request.mode() == PickMode::open
                                                  ? "an open-file request was sent as a save request"
                                                  : "a save request was sent as an open-file request"));
            return;
        }
        if (responder) {
            std::optional<PickAnswer> answer;
            try {
                answer = (*responder)(request);
            } catch (const std::exception& e) {
                answer = PickAnswer::failed(std::string("picker test responder failed: ") + e.what());
            } catch (...) {
                answer = PickAnswer::failed("picker test responder failed");
            }
            deliver(state, std::move(answer));
            return;
        }
        if (scripted) {
            deliver(state, scripted);
            return;
        }
        if (!display) {
            deliver(state, PickAnswer::failed("no display for the file chooser"));
            return;
        }
        auto* job = new DialogJob{request, state, {}, nullptr};
        std::future<PickAnswer> future = job->promise.get_future();
        g_main_context_invoke(nullptr, show_dialog, job);
        std::optional<PickAnswer> answer;
        try {
            answer = future.get();
        } catch (const std::future_error&) {
            // The dialog went away without answering: poll() reports "ended".
        }
        deliver(state, std::move(answer));
    });
    worker.detach();
    return PickHandle(std::move(state));
}

}  // namespace runtime::ui::portal
