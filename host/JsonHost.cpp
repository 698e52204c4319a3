// The host simulator on JSON packets: a request's members echoed, answered by rules.
#include <json-c/json.h>

#include <algorithm>
#include <string>

#include "codec/Conversions.h"
#include "host/AnswerSteps.h"
#include "host/HostSimulator.h"
#include "trade/ParseJsonPacket.h"
#include "trade/Trade.h"
#include "trade/TradeCommands.h"
#include "trade/WebJson.h"

namespace {

constexpr const char* kResponseCodeMember = "responseCode";

/// The text of a member as a rule compares it: a text's own characters, a number's digits.
bool MemberIs(json_object* packet, const std::string& name, const std::string& text) {
    json_object* value = nullptr;
    if (!json_object_object_get_ex(packet, name.c_str(), &value) || value == nullptr) {
        return false;
    }
    if (json_object_is_type(value, json_type_string)) {
        return std::string_view(json_object_get_string(value),
                                static_cast<std::size_t>(json_object_get_string_len(value))) ==
               text;
    }
    return json_object_is_type(value, json_type_int) && json_object_get_string(value) == text;
}

}  // namespace

SimExchange AnswerJsonRequest(std::span<const std::uint8_t> request, const SimRules& rules) {
    SimExchange x;
    const std::size_t head = TradeFrame().head;
    if (request.size() < head + TradeFrame().tail ||
        TradeCheckByte(request.first(request.size() - 1)) != request.back()) {
        x.error = "the trade frame's check byte does not match";
        return x;
    }
    const CommandResult parsed = ParseJsonPacketText(HexOf(request));
    if (!parsed.Ok()) {
        x.error = "the request is not a JSON packet";
        if (!parsed.detail.empty()) x.error += ": " + parsed.detail;
        return x;
    }
    x.requestRows = parsed.rows;
    x.rowEncoding = parsed.rowEncoding;
    const std::span<const std::uint8_t> payload =
        request.subspan(head, request.size() - head - TradeFrame().tail);
    const std::string text(payload.begin(), payload.end());
    const JsonObjectPtr packet(json_tokener_parse(text.c_str()));
    if (!packet || !json_object_is_type(packet.get(), json_type_object)) {
        x.error = "the request's JSON text is not one object";
        return x;
    }

    const SimRule* rule = FirstMatching(rules, [&](const SimRule& r) {
        return std::all_of(r.members.begin(), r.members.end(),
                           [&](const auto& m) { return MemberIs(packet.get(), m.first, m.second); });
    });
    if (TakeAction(rule, x)) return x;

    // The answer: the request's members, then the response code and the rule's changes.
    const std::string code = ResponseCodeOf(rule);
    json_object_object_add(packet.get(), kResponseCodeMember, json_object_new_string(code.c_str()));
    if (rule != nullptr) {
        for (const auto& [name, value] : rule->setMembers) {
            json_object_object_add(
                packet.get(), name.c_str(),
                json_object_new_string_len(value.data(), static_cast<int>(value.size())));
        }
        for (const std::string& name : rule->removeMembers) {
            json_object_object_del(packet.get(), name.c_str());
        }
    }
    const char* answer = json_object_to_json_string_ext(packet.get(), JSON_C_TO_STRING_PLAIN);
    const CommandResult built = BuildJsonFromText(answer == nullptr ? "" : answer);
    if (!built.Ok() || built.message.size() < 14) {
        x.error = "the answer cannot be built: " + built.detail;
        return x;
    }
    // The packet text: 12 hex digits of frame head, the JSON text, 2 hex digits of check byte.
    const std::string& m = built.message;
    x.reply.resize(head);
    HexToBytes(m.data(), 2 * head, x.reply.data());
    x.reply.insert(x.reply.end(), m.begin() + 2 * static_cast<std::ptrdiff_t>(head), m.end() - 2);
    x.reply.push_back(0);
    HexToBytes(m.data() + m.size() - 2, 2, &x.reply.back());
    x.replyRows = built.rows;
    return x;
}
