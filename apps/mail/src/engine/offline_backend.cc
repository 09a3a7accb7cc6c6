#include "engine/offline_backend.h"

#include <type_traits>

namespace mail::engine {
namespace {

class OfflineBackend final : public Backend {
public:
    explicit OfflineBackend(MessageBuilder build) : build_(std::move(build)) {}

    void handle(const Request& request, const EventSink& emit) override {
        emit(std::visit([&](const auto& p) { return answer(request, p); }, request.payload));
    }

private:
    Event answer(const Request& r, const ConnectRequest& p) const {
        return failed_event(r, "offline",
                            "IMAP is unavailable for " + p.config.email +
                                "; rebuild with the live mail backend to connect");
    }
    Event answer(const Request& r, const FetchRequest& p) const {
        return failed_event(r, "offline",
                            "Cannot refresh " + std::string(state::folder_role_display_name(p.role)) + " for " +
                                p.config.email + " while IMAP is offline");
    }
    template <class Change>
    std::enable_if_t<std::is_same_v<Change, FlagRequest> || std::is_same_v<Change, MoveRequest> ||
                         std::is_same_v<Change, PurgeRequest>,
                     Event>
    answer(const Request& r, const Change&) const {
        return failed_event(r, "offline", "Local change saved; it was not synchronized to IMAP");
    }
    Event answer(const Request& r, const SendRequest& p) const {
        if (!build_) return failed_event(r, "send", "message assembly is not available in this build");
        auto built = build_(p.config, p.draft);
        if (!built) return failed_event(r, "send", built.error());
        return failed_event(r, "send",
                            "SMTP is offline; validated " + std::to_string(built->size()) +
                                " MIME bytes locally but did not send");
    }
    Event answer(const Request& r, const SignInRequest& p) const {
        return failed_event(r, "oauth", "OAuth sign-in for " + p.address + " requires the live build");
    }

    MessageBuilder build_;
};

}  // namespace

std::unique_ptr<Backend> make_offline_backend(MessageBuilder build_message) {
    return std::make_unique<OfflineBackend>(std::move(build_message));
}

}  // namespace mail::engine
