// The two closed command vocabularies of the client and their JSON form.
//
// MailAction holds the mailbox mutations, MailOperation what the window does
// itself. Both travel as an encoded action: a kind ("mail.action" or
// "mail.operation") and a compact JSON payload in the externally tagged form:
//   {"SetRead":{"ids":["a","b"],"read":true}}   a variant with fields
//   "DiscardDraft"                              a variant without fields
//   {"SaveDraft":{...draft object...}}          the draft variant
// Decoding accepts exactly these forms; any other form is an error whose text
// is the JSON reader's message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "compose/draft.h"
#include "lib/base/result.h"

namespace mail::actions {

inline constexpr std::string_view kActionKind = "mail.action";
inline constexpr std::string_view kOperationKind = "mail.operation";

// An "ids" array longer than this does not decode (the client applies at most
// 256 ids at once; the margin is for callers that send more and expect the
// application to trim).
inline constexpr std::size_t kMaxIdsRead = 10'000;
// Payloads never need deep nesting; deeper texts fail while parsing.
inline constexpr std::size_t kMaxPayloadDepth = 16;

// --- MailAction, in variant order ---------------------------------------------

struct SetRead {
    std::vector<std::string> ids;
    bool read = false;
    bool operator==(const SetRead&) const = default;
};
struct SetStarred {
    std::vector<std::string> ids;
    bool starred = false;
    bool operator==(const SetStarred&) const = default;
};
struct Move {
    std::vector<std::string> ids;
    std::string folder;  // a folder role key such as "archive"
    bool operator==(const Move&) const = default;
};
struct Purge {
    std::vector<std::string> ids;
    bool operator==(const Purge&) const = default;
};
struct AddLabel {
    std::vector<std::string> ids;
    std::string label;
    bool operator==(const AddLabel&) const = default;
};
struct RemoveLabel {
    std::vector<std::string> ids;
    std::string label;
    bool operator==(const RemoveLabel&) const = default;
};
struct CreateFolder {
    std::string id;
    std::string name;
    bool operator==(const CreateFolder&) const = default;
};
struct RenameFolder {
    std::string id;
    std::string name;
    bool operator==(const RenameFolder&) const = default;
};
struct DeleteFolder {
    std::string id;
    bool operator==(const DeleteFolder&) const = default;
};
struct SaveDraft {
    compose::DraftData draft;
    bool operator==(const SaveDraft&) const = default;
};
struct DiscardDraft {
    bool operator==(const DiscardDraft&) const = default;
};

using MailAction = std::variant<SetRead, SetStarred, Move, Purge, AddLabel, RemoveLabel, CreateFolder,
                                RenameFolder, DeleteFolder, SaveDraft, DiscardDraft>;

// --- MailOperation, in variant order ------------------------------------------

struct ComposeNew {
    bool operator==(const ComposeNew&) const = default;
};
struct RefreshCurrentFolder {
    bool operator==(const RefreshCurrentFolder&) const = default;
};
struct RevealFolder {
    std::string folder;  // role key
    bool operator==(const RevealFolder&) const = default;
};
struct RevealAccount {
    std::string id;  // account id
    bool operator==(const RevealAccount&) const = default;
};
struct RevealMessage {
    std::string id;  // message id text
    bool operator==(const RevealMessage&) const = default;
};
struct InspectMessage {
    std::string id;
    bool operator==(const InspectMessage&) const = default;
};
struct Reply {
    std::string id;
    bool operator==(const Reply&) const = default;
};
struct ReplyAll {
    std::string id;
    bool operator==(const ReplyAll&) const = default;
};
struct Forward {
    std::string id;
    bool operator==(const Forward&) const = default;
};
struct RevealDraft {
    bool operator==(const RevealDraft&) const = default;
};
struct SaveAttachment {
    std::string message_id;
    std::uint64_t index = 0;  // 0-based position among the message's attachments
    bool operator==(const SaveAttachment&) const = default;
};
struct PrepareCalendarInvitation {
    std::string to;
    std::string subject;
    std::string body;
    std::string calendar_ics;
    bool operator==(const PrepareCalendarInvitation&) const = default;
};

using MailOperation =
    std::variant<ComposeNew, RefreshCurrentFolder, RevealFolder, RevealAccount, RevealMessage, InspectMessage,
                 Reply, ReplyAll, Forward, RevealDraft, SaveAttachment, PrepareCalendarInvitation>;

// The variant's name as written in JSON ("SetRead", "ComposeNew", ...).
std::string_view variant_name(const MailAction& action);
std::string_view variant_name(const MailOperation& operation);

// --- Encoding and decoding ------------------------------------------------------

// Compact JSON of the value. Texts that are not valid UTF-8 are written with
// U+FFFD in place of the bad bytes; nothing here fails.
std::string action_json(const MailAction& action);
std::string operation_json(const MailOperation& operation);

// Strict parse and exact form, or the reader's message ("unknown variant
// `Foo`", "missing field `ids`", "duplicate key \"ids\"", ...).
lib::Result<MailAction> decode_mail_action(std::string_view payload);
lib::Result<MailOperation> decode_operation_payload(std::string_view payload);

// A kind and payload as they travel through the action framework.
struct EncodedMail {
    std::string kind;
    std::string payload;
    bool operator==(const EncodedMail&) const = default;
};

EncodedMail encode_mail_action(const MailAction& action);        // kind "mail.action"
EncodedMail encode_mail_operation(const MailOperation& operation);  // kind "mail.operation"

// Decodes an encoded action that may or may not be an operation:
//   kind not exactly "mail.operation" -> ok, no value (not an operation);
//   payload does not decode           -> the reader's message;
//   otherwise                         -> the operation.
lib::Result<std::optional<MailOperation>> decode_mail_operation(std::string_view kind, std::string_view payload);

// The refusal of an invitation hand-off.
inline constexpr std::string_view kInvalidArgumentsCode = "zelk.invalid_arguments";
inline constexpr std::string_view kHandoffNotEncoded = "Mail invitation handoff could not be encoded";

struct HandoffError {
    std::string code;
    std::string message;
};

// PrepareCalendarInvitation of the four texts, encoded as "mail.operation".
// Texts that are not valid UTF-8 cannot be carried faithfully and give the
// error {kInvalidArgumentsCode, kHandoffNotEncoded}; the calendar payload
// itself is checked where the operation is admitted.
std::variant<EncodedMail, HandoffError> encode_invitation_handoff(std::string_view to, std::string_view subject,
                                                                  std::string_view body,
                                                                  std::string_view calendar_ics);

}  // namespace mail::actions
