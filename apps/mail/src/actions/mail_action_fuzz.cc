// Feeds arbitrary bytes to the action and operation decoders and the address
// parser. Whatever decodes must encode and decode back to the same value, and
// a decoded draft must stay bounded when normalised.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "actions/addresses.h"
#include "actions/mail_action.h"
#include "compose/draft.h"
#include "state/text_rules.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

void check_draft(const mail::compose::DraftData& draft) {
    using namespace mail::compose;
    const DraftData once = normalize_draft(draft);
    check(normalize_draft(once) == once);
    check(once.attachments.size() <= kMaxAttachments);
    std::uint64_t total = 0;
    for (const auto& a : once.attachments) {
        check(is_valid_attachment(a));
        total += a.size;
    }
    check(total <= kMaxAttachmentsTotalBytes);
    check(mail::state::is_valid_utf8(once.to) && mail::state::is_valid_utf8(once.subject) &&
          mail::state::is_valid_utf8(once.body));
    if (once.calendar_ics) check(is_invitation_request(*once.calendar_ics));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace mail::actions;
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    if (auto action = decode_mail_action(text); action.ok()) {
        const std::string json = action_json(*action);
        auto again = decode_mail_action(json);
        check(again.ok());
        check(*again == *action);
        check(action_json(*again) == json);
        if (auto* save = std::get_if<SaveDraft>(&*action)) check_draft(save->draft);
    }

    if (auto op = decode_mail_operation(kOperationKind, text); op.ok()) {
        check(op->has_value());
        const EncodedMail encoded = encode_mail_operation(**op);
        auto again = decode_mail_operation(encoded.kind, encoded.payload);
        check(again.ok() && again->has_value());
        check(**again == **op);
    }

    if (auto address = parse_address(text)) {
        check(format_address(*address) == text);
        auto again = parse_address(format_address(*address));
        check(again.has_value() && *again == *address);
    }
    if (auto position = parse_remove_label_action_name(text)) check(remove_label_action_name(*position) == text);

    return 0;
}
