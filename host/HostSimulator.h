// The host simulator's answers: requests cut from a byte stream, decoded, and answered by rules.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "iso/CommandResult.h"
#include "codec/FieldRow.h"
#include "codec/FieldTable.h"
#include "codec/Message.h"
#include "iso/ParseIso8583.h"

/// The message forms a simulated host reads: 64 fields behind a 2-byte binary length, 128 fields
/// behind a 4-digit ASCII length, either (told apart per request by its first bytes), or the
/// trade frame, JSON packets in the trade frame, or the form of a loaded table (cut by its Length
/// part).
enum class SimForm { Auto, Iso64, Iso128, Trade, Table, Json };

/// A request announcing more bytes than this (length included) is refused.
inline constexpr std::size_t kMaxRequestBytes = 64 * 1024;

/// Where the next request of a stream ends.
struct RequestCut {
    enum class Kind { NeedMore, Request, Bad };
    Kind kind = Kind::NeedMore;
    std::size_t length = 0;        // Request: its bytes; NeedMore: the announced total, 0 unknown
    SimForm form = SimForm::Auto;  // the request's own form (never Auto once known)
    std::string reason;            // Bad: why the stream cannot be read on
};

/// Finds the first request in stream by the length rules of form.
[[nodiscard]] RequestCut CutRequest(std::span<const std::uint8_t> stream, SimForm form);

enum class SimAction { Answer, Close, Garbage };

/// One rule of a rules file: when the request matches, how to answer.
struct SimRule {
    std::string type;                                          // message type to match; empty: any
    std::vector<std::pair<int, std::string>> fields;           // field values to match
    std::vector<std::pair<int, std::string>> set;              // fields set in the answer
    std::vector<int> remove;                                   // fields removed from the answer
    std::vector<std::pair<std::string, std::string>> members;  // JSON members to match
    std::vector<std::pair<std::string, std::string>> setMembers;  // JSON members set
    std::vector<std::string> removeMembers;                       // JSON members removed
    std::string responseCode;  // field 39 (JSON: the member "responseCode"); empty: "00"
    int delayMs = 0;           // wait before answering
    SimAction action = SimAction::Answer;
};
using SimRules = std::vector<SimRule>;

/// Reads a rules file's text: {"rules":[{"type":"0200","fields":{"3":"000000"},
/// "set":{"38":"123456"},"remove":[55],"responseCode":"51","delayMs":200,
/// "action":"answer|close|garbage"}, …]} (or the array alone); for JSON packets "members",
/// "setMembers" ({"name":"text", …}) and "removeMembers" (["name", …]) take the place of the
/// field members. False with why when invalid.
[[nodiscard]] bool ParseSimRules(std::string_view json, SimRules& rules, std::string& why);

/// Why rules can never be applied in a form: a response code that is not 2 characters or does
/// not fit field 39 (or a form without it), a value that the form cannot encode in its field (too
/// long, wrong characters), a field the form does not define, members of the other kind (JSON
/// members in an ISO 8583 form, fields for JSON packets). One line per problem, naming the rule
/// (counted from 1) and the field; empty when every rule can apply. With SimForm::Auto a rule is
/// refused only when it fails in both the 64-field and the 128-field form. table: the form of
/// SimForm::Table.
[[nodiscard]] std::vector<std::string> CheckSimRules(const SimRules& rules, SimForm form,
                                                     const FieldTable* table = nullptr);

/// Whether answers of the form carry a response code (the form defines field 39; JSON packets
/// always carry the member "responseCode").
[[nodiscard]] bool AnswersCarryResponseCode(SimForm form, const FieldTable* table = nullptr);

/// The bytes a "garbage" rule answers with: no length form of any request fits them.
inline constexpr std::uint8_t kGarbageReply[] = {0xFF, 0xFF, 0xFF, 0xFF, 0xDE, 0xAD, 0xBE, 0xEF};

/// One request and its answer.
struct SimExchange {
    std::string error;  // not empty: the request was not answered, and why
    FieldRowList requestRows;
    FieldRowList replyRows;
    std::string type;  // the request's message type (command code for the trade form)
    TextEncoding rowEncoding = TextEncoding::Gbk;  // how the row texts are encoded
    SimAction action = SimAction::Answer;
    int delayMs = 0;
    std::vector<std::uint8_t> reply;  // the bytes to send (Answer, Garbage)
    std::string keyNote;  // with keys: a wrong MAC (given and computed) or a sign-in; never a key
};

/// Decodes a request (whole, length included, as CutRequest found it in its form) and builds
/// the answer by the first matching rule, else the default: the request's fields echoed, the
/// message type's response form (0200 gives 0210), field 39 "00"; TPDU addresses swapped.
class HostKeys;
/// With keys, MACs are checked and computed and sign-ins answered with working keys.
[[nodiscard]] SimExchange AnswerRequest(std::span<const std::uint8_t> request, SimForm form,
                                        const SimRules& rules, HostKeys* keys = nullptr);

/// A JSON packet request (its whole trade frame) answered with a JSON packet: by default the
/// request's text and number members echoed and "responseCode":"00"; the first rule whose
/// "members" all match sets and removes members, or closes, delays or answers garbage.
[[nodiscard]] SimExchange AnswerJsonRequest(std::span<const std::uint8_t> request,
                                            const SimRules& rules);

/// The response form of a message type: its third digit made odd ("0200" gives "0210"); a
/// response's type stays as it is.
[[nodiscard]] std::string ResponseType(std::string_view type);

/// Requests of a loaded table's form: cut from the stream by the table's Length part, decoded
/// with the table, answered by the same rules as the built-in forms and packed with the table.
class TableHost {
public:
    explicit TableHost(const FieldTable& table);
    TableHost(const TableHost&) = delete;
    TableHost& operator=(const TableHost&) = delete;

    /// Why the table cannot cut a stream into requests (no Length part at a fixed place in
    /// front of the message); empty when it can.
    [[nodiscard]] static std::string CannotServe(const FieldTable& table);
    /// Finds the first request in stream by the table's Length part.
    [[nodiscard]] RequestCut Cut(std::span<const std::uint8_t> stream) const;
    /// As AnswerRequest, for a whole request (length included) as Cut found it. The rows' titles
    /// point into this object's table.
    [[nodiscard]] SimExchange Answer(std::span<const std::uint8_t> request, const SimRules& rules,
                                     HostKeys* keys = nullptr);

private:
    /// Decodes the request for its rows (titles, TLV sub-rows) and into m_message.
    [[nodiscard]] bool DecodeRequest(std::span<const std::uint8_t> request, SimExchange& x);

    TableDecoder m_decoder;  // the rows users see, as the parse command shows them
    CommandResult m_result;
    Message m_message;       // the values the answer is edited from
};
