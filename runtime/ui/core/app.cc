#include "runtime/ui/core/app.h"

namespace runtime::ui {

std::optional<ControlVerb> parse_control_verb(std::string_view name) {
    if (name == "activate") return ControlVerb::activate;
    if (name == "focus") return ControlVerb::focus;
    if (name == "toggle") return ControlVerb::toggle;
    if (name == "expand") return ControlVerb::expand;
    if (name == "collapse") return ControlVerb::collapse;
    if (name == "set-value") return ControlVerb::set_value;
    return std::nullopt;
}

void ActionRegistry::register_decoder(std::string kind, Decoder decoder) {
    decoders_[std::move(kind)] = std::move(decoder);
}

bool ActionRegistry::has(std::string_view kind) const { return decoders_.find(kind) != decoders_.end(); }

std::vector<std::string> ActionRegistry::kinds() const {
    std::vector<std::string> out;
    for (const auto& [k, v] : decoders_) out.push_back(k);
    return out;
}

lib::Status ActionRegistry::dispatch(std::string_view kind, std::string_view payload_json) const {
    auto it = decoders_.find(kind);
    if (it == decoders_.end() || !it->second) return lib::err("no decoder for action kind " + std::string(kind));
    return it->second(payload_json);
}

}  // namespace runtime::ui
