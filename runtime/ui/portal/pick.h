// File pickers: a request describes the dialog (open or save, title, accept
// label, suggested name, filters, the name of the thread that waits for the
// answer); sending it returns a handle that the owner polls each update turn
// until the answer arrives. Dropping the handle closes a dialog still open.
// No GTK in this header.
//
// Answering without a dialog (tests, scripted runs), first match wins:
//  1. a process-wide test responder (set_test_responder) gets each request;
//  2. the environment variable ZELK_MAIL_TEST_PICKER_OPEN (open requests) or
//     ZELK_MAIL_TEST_PICKER_SAVE (save requests), else ZELK_MAIL_TEST_PICKER
//     (both), read when the request is sent:
//       "cancel"        the user cancelled,
//       "end"           the picker ended without an answer,
//       "error:TEXT"    the picker failed with TEXT,
//       anything else   the path of the chosen file (as given).
// Otherwise a GTK file chooser is shown (the desktop portal's when there is
// one) over the active window.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace runtime::ui::portal {

struct FileFilter {
    std::string name;
    std::vector<std::string> patterns;  // glob patterns such as "*.ics"

    // "All files", matching every name.
    static FileFilter all_files();
};

enum class PickMode { open, save };

struct PickAnswer {
    enum class Kind {
        chosen,     // path and name are set
        cancelled,  // closed by the user (Cancel, Escape, closing the window)
        error,      // error is set
        ended,      // the picker stopped without answering
    };
    Kind kind = Kind::ended;
    std::filesystem::path path;
    std::string name;   // the chosen file's name, as the picker reported it
    std::string error;  // a short English message

    static PickAnswer chosen_file(std::filesystem::path path);
    static PickAnswer cancelled();
    static PickAnswer failed(std::string message);
    static PickAnswer ended_without_answer();
};

namespace detail {
struct PickState;
}

class PickHandle {
public:
    explicit PickHandle(std::shared_ptr<detail::PickState> state);
    PickHandle(PickHandle&&) noexcept = default;
    PickHandle& operator=(PickHandle&&) noexcept;
    PickHandle(const PickHandle&) = delete;
    PickHandle& operator=(const PickHandle&) = delete;
    ~PickHandle();

    // The answer once there is one (the same answer on every later call);
    // none while the picker is still open. Never blocks.
    std::optional<PickAnswer> poll();

private:
    void abandon();
    std::shared_ptr<detail::PickState> state_;
};

class PickRequest {
public:
    static PickRequest open(std::string title, std::string accept_label);
    static PickRequest save(std::string title, std::string accept_label);

    PickRequest&& suggested_name(std::string name) &&;
    PickRequest&& thread_name(std::string name) &&;  // at most 15 bytes reach the system
    PickRequest&& filter(FileFilter f) &&;

    // Shows a save request / an open request. A request sent the other way
    // answers with an error.
    PickHandle send() const;
    PickHandle send_open_file() const;

    PickMode mode() const { return mode_; }
    const std::string& title() const { return title_; }
    const std::string& accept_label() const { return accept_label_; }
    const std::string& suggested() const { return suggested_; }
    const std::string& thread() const { return thread_; }
    const std::vector<FileFilter>& filters() const { return filters_; }

private:
    PickRequest(PickMode mode, std::string title, std::string accept_label);
    PickHandle dispatch(PickMode expected) const;

    PickMode mode_;
    std::string title_;
    std::string accept_label_;
    std::string suggested_;
    std::string thread_ = "mail-portal";
    std::vector<FileFilter> filters_;
};

// Process-wide: answers every request instead of a dialog (see above). It
// runs on the request's thread. An empty function removes it.
using TestResponder = std::function<PickAnswer(const PickRequest&)>;
void set_test_responder(TestResponder responder);

}  // namespace runtime::ui::portal
