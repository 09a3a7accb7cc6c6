#include "actions/mail_action.h"

#include <array>
#include <type_traits>
#include <utility>

#include "lib/json/strict.h"
#include "state/text_rules.h"

namespace mail::actions {
namespace {

using lib::json::Json;

template <class... F>
struct Overloaded : F... {
    using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

// Names in variant order; the position is the variant index.
constexpr std::array<std::string_view, 11> kActionNames = {
    "SetRead",      "SetStarred",   "Move",         "Purge",     "AddLabel",     "RemoveLabel",
    "CreateFolder", "RenameFolder", "DeleteFolder", "SaveDraft", "DiscardDraft",
};
constexpr std::array<std::string_view, 12> kOperationNames = {
    "ComposeNew", "RefreshCurrentFolder", "RevealFolder", "RevealAccount", "RevealMessage",  "InspectMessage",
    "Reply",      "ReplyAll",             "Forward",      "RevealDraft",   "SaveAttachment", "PrepareCalendarInvitation",
};
static_assert(kActionNames.size() == std::variant_size_v<MailAction>);
static_assert(kOperationNames.size() == std::variant_size_v<MailOperation>);

// A name from the payload as it may appear inside a message: long names are
// cut (on a character boundary) so an error text stays short.
std::string quoted_name(std::string_view name) {
    constexpr std::size_t kMax = 64;
    if (name.size() <= kMax) return "`" + std::string(name) + "`";
    std::size_t cut = kMax;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    return "`" + std::string(name.substr(0, cut)) + "…`";
}

Json ids_json(const std::vector<std::string>& ids) {
    Json a = Json::array();
    for (const auto& id : ids) a.push_back(id);
    return a;
}

lib::Result<std::vector<std::string>> read_ids(const Json& fields) {
    auto f = lib::json::field(fields, "ids");
    if (!f) return f.take_error();
    const Json& a = **f;
    if (!a.is_array()) return lib::err("invalid type: " + lib::json::type_name(a) + ", expected an array at `ids`");
    if (a.size() > kMaxIdsRead)
        return lib::err("invalid length " + std::to_string(a.size()) + ", expected at most " +
                        std::to_string(kMaxIdsRead) + " ids at `ids`");
    std::vector<std::string> ids;
    ids.reserve(a.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (!a[i].is_string())
            return lib::err("invalid type: " + lib::json::type_name(a[i]) + ", expected a string at `ids[" +
                            std::to_string(i) + "]`");
        ids.push_back(a[i].get<std::string>());
    }
    return ids;
}

// The variant name and, for the object form, the value of its one member.
struct Tagged {
    std::string name;
    const Json* body = nullptr;  // null for the bare-string form
};

lib::Result<Tagged> read_tag(const Json& v) {
    if (v.is_string()) return Tagged{v.get<std::string>(), nullptr};
    if (v.is_object()) {
        if (v.size() != 1)
            return lib::err("invalid length " + std::to_string(v.size()) +
                            ", expected an object with exactly one member naming the variant");
        auto it = v.begin();
        return Tagged{it.key(), &it.value()};
    }
    return lib::err("invalid type: " + lib::json::type_name(v) +
                    ", expected a variant name or an object with one member");
}

// Looks the name up; the index in `names` or the "unknown variant" message.
template <std::size_t N>
lib::Result<std::size_t> variant_index(const std::array<std::string_view, N>& names, const std::string& name) {
    for (std::size_t i = 0; i < N; ++i)
        if (names[i] == name) return i;
    return lib::err("unknown variant " + quoted_name(name));
}

lib::Status expect_unit(const Tagged& t) {
    if (t.body == nullptr) return {};
    return lib::err("invalid type: object, expected unit variant " + quoted_name(t.name));
}

// The fields object of a struct variant.
lib::Result<const Json*> fields_of(const Tagged& t) {
    if (t.body == nullptr) return lib::err("invalid type: unit variant, expected struct variant " + quoted_name(t.name));
    auto is_obj = lib::json::expect_object(*t.body, "an object of fields for " + quoted_name(t.name));
    if (!is_obj) return is_obj.take_error();
    return t.body;
}

#define ZELK_TRY(var, expr)                     \
    auto var = (expr);                          \
    if (!var) return var.take_error()

lib::Result<MailAction> action_from_json(const Json& v) {
    ZELK_TRY(tag, read_tag(v));
    ZELK_TRY(index, variant_index(kActionNames, tag->name));
    if (*index == 10) {
        ZELK_TRY(unit, expect_unit(*tag));
        return MailAction{DiscardDraft{}};
    }
    ZELK_TRY(fields_ptr, fields_of(*tag));
    const Json& f = **fields_ptr;
    switch (*index) {
        case 0: {
            ZELK_TRY(ids, read_ids(f));
            ZELK_TRY(read, lib::json::bool_field(f, "read"));
            return MailAction{SetRead{std::move(*ids), *read}};
        }
        case 1: {
            ZELK_TRY(ids, read_ids(f));
            ZELK_TRY(starred, lib::json::bool_field(f, "starred"));
            return MailAction{SetStarred{std::move(*ids), *starred}};
        }
        case 2: {
            ZELK_TRY(ids, read_ids(f));
            ZELK_TRY(folder, lib::json::string_field(f, "folder"));
            return MailAction{Move{std::move(*ids), std::move(*folder)}};
        }
        case 3: {
            ZELK_TRY(ids, read_ids(f));
            return MailAction{Purge{std::move(*ids)}};
        }
        case 4:
        case 5: {
            ZELK_TRY(ids, read_ids(f));
            ZELK_TRY(label, lib::json::string_field(f, "label"));
            if (*index == 4) return MailAction{AddLabel{std::move(*ids), std::move(*label)}};
            return MailAction{RemoveLabel{std::move(*ids), std::move(*label)}};
        }
        case 6:
        case 7: {
            ZELK_TRY(id, lib::json::string_field(f, "id"));
            ZELK_TRY(name, lib::json::string_field(f, "name"));
            if (*index == 6) return MailAction{CreateFolder{std::move(*id), std::move(*name)}};
            return MailAction{RenameFolder{std::move(*id), std::move(*name)}};
        }
        case 8: {
            ZELK_TRY(id, lib::json::string_field(f, "id"));
            return MailAction{DeleteFolder{std::move(*id)}};
        }
        case 9: {
            ZELK_TRY(draft, compose::draft_from_json(f));
            return MailAction{SaveDraft{std::move(*draft)}};
        }
    }
    return lib::err("unknown variant " + quoted_name(tag->name));
}

template <class T>
lib::Result<MailOperation> with_id(const Json& f) {
    ZELK_TRY(id, lib::json::string_field(f, "id"));
    return MailOperation{T{std::move(*id)}};
}

lib::Result<MailOperation> operation_from_json(const Json& v) {
    ZELK_TRY(tag, read_tag(v));
    ZELK_TRY(index, variant_index(kOperationNames, tag->name));
    switch (*index) {
        case 0:
        case 1:
        case 9: {
            ZELK_TRY(unit, expect_unit(*tag));
            if (*index == 0) return MailOperation{ComposeNew{}};
            if (*index == 1) return MailOperation{RefreshCurrentFolder{}};
            return MailOperation{RevealDraft{}};
        }
        default:
            break;
    }
    ZELK_TRY(fields_ptr, fields_of(*tag));
    const Json& f = **fields_ptr;
    switch (*index) {
        case 2: {
            ZELK_TRY(folder, lib::json::string_field(f, "folder"));
            return MailOperation{RevealFolder{std::move(*folder)}};
        }
        case 3: return with_id<RevealAccount>(f);
        case 4: return with_id<RevealMessage>(f);
        case 5: return with_id<InspectMessage>(f);
        case 6: return with_id<Reply>(f);
        case 7: return with_id<ReplyAll>(f);
        case 8: return with_id<Forward>(f);
        case 10: {
            ZELK_TRY(message_id, lib::json::string_field(f, "message_id"));
            ZELK_TRY(index_value, lib::json::u64_field(f, "index"));
            return MailOperation{SaveAttachment{std::move(*message_id), *index_value}};
        }
        case 11: {
            ZELK_TRY(to, lib::json::string_field(f, "to"));
            ZELK_TRY(subject, lib::json::string_field(f, "subject"));
            ZELK_TRY(body, lib::json::string_field(f, "body"));
            ZELK_TRY(ics, lib::json::string_field(f, "calendar_ics"));
            return MailOperation{
                PrepareCalendarInvitation{std::move(*to), std::move(*subject), std::move(*body), std::move(*ics)}};
        }
    }
    return lib::err("unknown variant " + quoted_name(tag->name));
}

#undef ZELK_TRY

Json tagged(std::string_view name, Json fields) {
    Json o = Json::object();
    o[std::string(name)] = std::move(fields);
    return o;
}

Json action_to_json(const MailAction& action) {
    const std::string_view name = kActionNames[action.index()];
    return std::visit(
        Overloaded{
            [&](const SetRead& a) { return tagged(name, Json{{"ids", ids_json(a.ids)}, {"read", a.read}}); },
            [&](const SetStarred& a) {
                return tagged(name, Json{{"ids", ids_json(a.ids)}, {"starred", a.starred}});
            },
            [&](const Move& a) { return tagged(name, Json{{"ids", ids_json(a.ids)}, {"folder", a.folder}}); },
            [&](const Purge& a) { return tagged(name, Json{{"ids", ids_json(a.ids)}}); },
            [&](const AddLabel& a) { return tagged(name, Json{{"ids", ids_json(a.ids)}, {"label", a.label}}); },
            [&](const RemoveLabel& a) { return tagged(name, Json{{"ids", ids_json(a.ids)}, {"label", a.label}}); },
            [&](const CreateFolder& a) { return tagged(name, Json{{"id", a.id}, {"name", a.name}}); },
            [&](const RenameFolder& a) { return tagged(name, Json{{"id", a.id}, {"name", a.name}}); },
            [&](const DeleteFolder& a) { return tagged(name, Json{{"id", a.id}}); },
            [&](const SaveDraft& a) { return tagged(name, compose::draft_to_json(a.draft)); },
            [&](const DiscardDraft&) { return Json(std::string(name)); },
        },
        action);
}

Json operation_to_json(const MailOperation& operation) {
    const std::string_view name = kOperationNames[operation.index()];
    auto id_only = [&](const std::string& id) { return tagged(name, Json{{"id", id}}); };
    return std::visit(
        Overloaded{
            [&](const ComposeNew&) { return Json(std::string(name)); },
            [&](const RefreshCurrentFolder&) { return Json(std::string(name)); },
            [&](const RevealFolder& o) { return tagged(name, Json{{"folder", o.folder}}); },
            [&](const RevealAccount& o) { return id_only(o.id); },
            [&](const RevealMessage& o) { return id_only(o.id); },
            [&](const InspectMessage& o) { return id_only(o.id); },
            [&](const Reply& o) { return id_only(o.id); },
            [&](const ReplyAll& o) { return id_only(o.id); },
            [&](const Forward& o) { return id_only(o.id); },
            [&](const RevealDraft&) { return Json(std::string(name)); },
            [&](const SaveAttachment& o) {
                return tagged(name, Json{{"message_id", o.message_id}, {"index", o.index}});
            },
            [&](const PrepareCalendarInvitation& o) {
                return tagged(name, Json{{"to", o.to},
                                         {"subject", o.subject},
                                         {"body", o.body},
                                         {"calendar_ics", o.calendar_ics}});
            },
        },
        operation);
}

// The reader quotes the bytes where it stopped, which may be a cut or invalid
// UTF-8 sequence; the message travels on as text, so it is made valid here.
lib::Error reader_error(const std::string& message) { return lib::err(state::repair_utf8(message)); }

}  // namespace

std::string_view variant_name(const MailAction& action) { return kActionNames[action.index()]; }
std::string_view variant_name(const MailOperation& operation) { return kOperationNames[operation.index()]; }

std::string action_json(const MailAction& action) { return lib::json::dump(action_to_json(action)); }
std::string operation_json(const MailOperation& operation) { return lib::json::dump(operation_to_json(operation)); }

lib::Result<MailAction> decode_mail_action(std::string_view payload) {
    auto parsed = lib::json::parse_strict(payload, kMaxPayloadDepth);
    if (!parsed) return reader_error(parsed.error());
    return action_from_json(*parsed);
}

lib::Result<MailOperation> decode_operation_payload(std::string_view payload) {
    auto parsed = lib::json::parse_strict(payload, kMaxPayloadDepth);
    if (!parsed) return reader_error(parsed.error());
    return operation_from_json(*parsed);
}

EncodedMail encode_mail_action(const MailAction& action) {
    return EncodedMail{std::string(kActionKind), action_json(action)};
}

EncodedMail encode_mail_operation(const MailOperation& operation) {
    return EncodedMail{std::string(kOperationKind), operation_json(operation)};
}

lib::Result<std::optional<MailOperation>> decode_mail_operation(std::string_view kind, std::string_view payload) {
    if (kind != kOperationKind) return std::optional<MailOperation>{};
    auto op = decode_operation_payload(payload);
    if (!op) return op.take_error();
    return std::optional<MailOperation>{std::move(*op)};
}

std::variant<EncodedMail, HandoffError> encode_invitation_handoff(std::string_view to, std::string_view subject,
                                                                  std::string_view body,
                                                                  std::string_view calendar_ics) {
    for (std::string_view text : {to, subject, body, calendar_ics})
        if (!state::is_valid_utf8(text)) return HandoffError{std::string(kInvalidArgumentsCode), std::string(kHandoffNotEncoded)};
    return encode_mail_operation(PrepareCalendarInvitation{std::string(to), std::string(subject), std::string(body),
                                                           std::string(calendar_ics)});
}

}  // namespace mail::actions
