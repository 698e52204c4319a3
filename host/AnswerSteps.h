// The rule steps every answer path of the simulated host shares: match, act, edit, encode.
#pragma once

#include <functional>
#include <span>
#include <string>

#include "codec/Message.h"
#include "host/HostKeys.h"
#include "host/HostSimulator.h"

/// How rule value texts become field values: fixed fields padded, hex letters kept in BCD
/// fields as they stand.
inline constexpr TextRules kRuleTextRules{true, true};

/// The first rule for which matches holds; nullptr: none (the default answer).
[[nodiscard]] const SimRule* FirstMatching(const SimRules& rules,
                                           const std::function<bool(const SimRule&)>& matches);

/// Takes the rule's delay and action into x (a garbage answer's bytes too); true when no answer
/// is to be built (close, garbage).
[[nodiscard]] bool TakeAction(const SimRule* rule, SimExchange& x);

/// The response code an answer carries: the rule's, else "00".
[[nodiscard]] std::string ResponseCodeOf(const SimRule* rule);

/// The message type as a rule names it: text as it stands, BCD or binary as hex digits.
[[nodiscard]] std::string TypeText(const Message& m);

/// Answers the decoded request m by the first matching rule: x.type, the rule's action and
/// delay, and for an answer m edited into it (the response type when newType) and encoded into
/// x.reply. True when x.reply holds an answer; false for close, garbage or an error in x.error.
/// With keys (host not null): the request's MAC is checked (a wrong one is answered with
/// kMacWrongCode and no rule), a sign-in gets fresh working keys and the answer its MAC.
struct AnswerKeys {
    HostKeys* host = nullptr;
    std::span<const std::uint8_t> request;  ///< the request as received
};
bool AnswerMessage(Message& m, const SimRules& rules, bool newType, SimExchange& x,
                   const AnswerKeys& keys = {});

/// cut (its form already set) completed by the table's framing, with kMaxRequestBytes at most.
[[nodiscard]] RequestCut CutByTable(const FieldTable& table, std::span<const std::uint8_t> stream,
                                    RequestCut cut);
