// The host simulator's answers: requests cut from a byte stream, decoded into a message of their
// form, and answered by editing its values as the rules say.
#include "host/HostSimulator.h"

#include <json-c/json.h>

#include <algorithm>
#include <charconv>
#include <memory>

#include "codec/Conversions.h"
#include "codec/FrameCut.h"
#include "host/AnswerSteps.h"
#include "iso/MessageKeys.h"
#include "trade/WebJson.h"

namespace {

constexpr int kResponseCodeField = 39;
constexpr int kMaxRuleDelayMs = 60000;
constexpr std::size_t kTpduBytes = 5;

const FieldTable& TableOf(SimForm form) {
    switch (form) {
        case SimForm::Iso128:
            return BuiltinTable(BuiltinForm::kUnionPay128);
        case SimForm::Trade:
        case SimForm::Json:
            return BuiltinTable(BuiltinForm::kTrade);
        case SimForm::Auto:
        case SimForm::Iso64:
        case SimForm::Table:
            break;
    }
    return BuiltinTable(BuiltinForm::kUnionPay64);
}

const char* FormName(SimForm form) {
    switch (form) {
        case SimForm::Iso128:
            return "a 128-field message";
        case SimForm::Trade:
            return "a trade message";
        default:
            return "a 64-field message";
    }
}

/// Whether the request holds every field value the rule asks for.
bool MatchesFields(const SimRule& rule, const Message& m) {
    std::vector<std::uint8_t> wire;
    const FieldTable& t = m.Table();
    for (const auto& [f, text] : rule.fields) {
        if (f < 0 || static_cast<std::size_t>(f) >= t.fields.size() || !m.Has(f)) return false;
        const FieldDef& def = t.fields[static_cast<std::size_t>(f)];
        if (!EncodeFieldText(def, f, text, kRuleTextRules, wire).ok) return false;
        const std::span<const std::uint8_t> have = m.Stored(f);
        if (!std::equal(wire.begin(), wire.end(), have.begin(), have.end())) return false;
    }
    return true;
}

/// The answer goes back where the request came from: TPDU destination and source addresses
/// change places.
void SwapTpdu(Message& m) {
    const FieldTable& t = m.Table();
    for (std::size_t i = 0; i < t.frame.size(); ++i) {
        if (t.frame[i].kind != FramePartKind::Tpdu) continue;
        const std::span<const std::uint8_t> part = m.Part(i);
        if (part.size() != kTpduBytes) continue;
        const std::uint8_t swapped[kTpduBytes] = {part[0], part[3], part[4], part[1], part[2]};
        (void)m.SetPart(i, swapped);
    }
}

/// Edits the request into the answer: the response type (newType), the response code when the
/// form defines field 39, the rule's set and remove, the TPDU addresses swapped.
bool EditAnswer(Message& m, const SimRule* rule, bool newType, std::string_view type,
                std::string& why) {
    if (newType && !m.SetText(0, ResponseType(type), kRuleTextRules).ok) {
        why = "the message type has no response form";
        return false;
    }
    const FieldTable& t = m.Table();
    const bool has39 = static_cast<std::size_t>(kResponseCodeField) < t.fields.size() &&
                       t.fields[kResponseCodeField].Defined();
    if (has39) {
        const EncodeStatus st = m.SetText(kResponseCodeField, ResponseCodeOf(rule), kRuleTextRules);
        if (!st.ok) {
            why = st.reason;
            return false;
        }
    }
    if (rule != nullptr) {
        for (const auto& [f, text] : rule->set) {
            const EncodeStatus st = f == 1 ? EncodeStatus::Refused("field 1 is not a data field")
                                           : m.SetText(f, text, kRuleTextRules);
            if (!st.ok) {
                why = st.reason;
                return false;
            }
        }
        for (const int f : rule->remove) m.Clear(f);
    }
    SwapTpdu(m);
    return true;
}

/// Reads one JSON object member holding field values: {"39":"00", …}.
bool ReadFieldTexts(json_object* object, std::string_view what,
                    std::vector<std::pair<int, std::string>>& out, std::string& why) {
    if (!json_object_is_type(object, json_type_object)) {
        why = std::string(what) + " must be an object of field numbers and value texts";
        return false;
    }
    json_object_object_foreach(object, key, value) {
        int f = -1;
        const std::string_view k(key);
        const auto [end, ec] = std::from_chars(k.data(), k.data() + k.size(), f);
        if (ec != std::errc() || end != k.data() + k.size() || f < 0 || f > 128) {
            why = std::string(what) + ": \"" + std::string(k) + "\" is not a field number 0..128";
            return false;
        }
        if (!json_object_is_type(value, json_type_string)) {
            why = std::string(what) + ": the value of field " + std::string(k) + " must be a text";
            return false;
        }
        out.emplace_back(f, json_object_get_string(value));
    }
    return true;
}

bool ReadRule(json_object* object, SimRule& rule, std::string& why) {
    if (!json_object_is_type(object, json_type_object)) {
        why = "a rule must be an object";
        return false;
    }
    json_object_object_foreach(object, key, value) {
        const std::string_view k(key);
        const bool text = json_object_is_type(value, json_type_string);
        if (k == "type" && text) {
            rule.type = json_object_get_string(value);
        } else if (k == "responseCode" && text) {
            rule.responseCode = json_object_get_string(value);
        } else if (k == "action" && text) {
            const std::string_view a = json_object_get_string(value);
            if (a == "answer") {
                rule.action = SimAction::Answer;
            } else if (a == "close") {
                rule.action = SimAction::Close;
            } else if (a == "garbage") {
                rule.action = SimAction::Garbage;
            } else {
                why = "action must be answer, close or garbage";
                return false;
            }
        } else if (k == "delayMs" && json_object_is_type(value, json_type_int)) {
            const auto ms = json_object_get_int64(value);
            if (ms < 0 || ms > kMaxRuleDelayMs) {
                why = "delayMs must be 0..60000";
                return false;
            }
            rule.delayMs = static_cast<int>(ms);
        } else if (k == "fields") {
            if (!ReadFieldTexts(value, "fields", rule.fields, why)) return false;
        } else if (k == "set") {
            if (!ReadFieldTexts(value, "set", rule.set, why)) return false;
        } else if (k == "members" || k == "setMembers") {
            if (!json_object_is_type(value, json_type_object)) {
                why = std::string(k) + " must be an object of member names and texts";
                return false;
            }
            auto& list = k == "members" ? rule.members : rule.setMembers;
            json_object_object_foreach(value, name, text) {
                if (!json_object_is_type(text, json_type_string)) {
                    why = std::string(k) + ": the value of \"" + name + "\" must be a text";
                    return false;
                }
                list.emplace_back(name, json_object_get_string(text));
            }
        } else if (k == "removeMembers" && json_object_is_type(value, json_type_array)) {
            for (std::size_t i = 0; i < json_object_array_length(value); ++i) {
                json_object* item = json_object_array_get_idx(value, i);
                if (!json_object_is_type(item, json_type_string)) {
                    why = "removeMembers must list member names";
                    return false;
                }
                rule.removeMembers.emplace_back(json_object_get_string(item));
            }
        } else if (k == "remove" && json_object_is_type(value, json_type_array)) {
            for (std::size_t i = 0; i < json_object_array_length(value); ++i) {
                json_object* item = json_object_array_get_idx(value, i);
                const auto f = json_object_get_int64(item);
                if (!json_object_is_type(item, json_type_int) || f < 2 || f > 128) {
                    why = "remove must list field numbers 2..128";
                    return false;
                }
                rule.remove.push_back(static_cast<int>(f));
            }
        } else {
            why = "unknown or mistyped rule member \"" + std::string(k) + "\"";
            return false;
        }
    }
    return true;
}

}  // namespace

const SimRule* FirstMatching(const SimRules& rules,
                             const std::function<bool(const SimRule&)>& matches) {
    for (const SimRule& r : rules) {
        if (matches(r)) return &r;
    }
    return nullptr;
}

bool TakeAction(const SimRule* rule, SimExchange& x) {
    if (rule != nullptr) {
        x.action = rule->action;
        x.delayMs = rule->delayMs;
    }
    if (x.action == SimAction::Garbage) {
        x.reply.assign(std::begin(kGarbageReply), std::end(kGarbageReply));
    }
    return x.action != SimAction::Answer;
}

std::string ResponseCodeOf(const SimRule* rule) {
    return rule != nullptr && !rule->responseCode.empty() ? rule->responseCode : "00";
}

std::string TypeText(const Message& m) {
    const std::span<const std::uint8_t> t = m.Stored(0);
    if (!m.Table().fields.empty() && m.Table().fields[0].enc == DataEnc::Ascii) {
        return {t.begin(), t.end()};
    }
    return HexOf(t);
}

bool AnswerMessage(Message& m, const SimRules& rules, bool newType, SimExchange& x,
                   const AnswerKeys& keys) {
    x.type = TypeText(m);
    HostKeys::Step step;
    if (keys.host != nullptr) keys.host->CheckRequest(m, keys.request, step);
    // A request whose MAC is wrong gets the default answer with its own response code.
    const SimRule* rule = step.macWrong ? nullptr : FirstMatching(rules, [&](const SimRule& r) {
        return (r.type.empty() || r.type == x.type) && MatchesFields(r, m);
    });
    if (TakeAction(rule, x)) return false;
    const std::string code = keys.host != nullptr ? NetworkCode(m) : std::string();
    if (!EditAnswer(m, rule, newType, x.type, x.error)) return false;
    if (keys.host != nullptr) {
        if (step.macWrong) {
            (void)m.SetText(kResponseCodeField, kMacWrongCode, kRuleTextRules);
        } else {
            (void)keys.host->SignIn(m, x.type, code, step);
        }
    }
    const EncodeStatus st = m.Encode(x.reply, EncodeOptions{true, true, false});
    if (!st.ok) {
        x.error = "the answer cannot be packed: " + st.reason;
        x.reply.clear();
        return false;
    }
    if (keys.host != nullptr) keys.host->MacAnswer(m, x.reply, step);
    x.keyNote = std::move(step.note);
    return true;
}

RequestCut CutRequest(std::span<const std::uint8_t> stream, SimForm form) {
    RequestCut cut;
    const FieldTable* table = nullptr;
    if (form == SimForm::Auto) {
        const FieldTable& t128 = BuiltinTable(BuiltinForm::kUnionPay128);
        table = FirstFitting({&t128, &BuiltinTable(BuiltinForm::kUnionPay64)}, stream);
        // Digits so far may still be a 128-field length: wait until the stream tells.
        if (table == &t128 && stream.size() < static_cast<std::size_t>(t128.frame.front().bytes)) {
            return cut;
        }
        form = table == &t128 ? SimForm::Iso128 : SimForm::Iso64;
    } else if (form == SimForm::Table) {
        cut.kind = RequestCut::Kind::Bad;
        cut.reason = "no length rule for this form";  // cut by its table (TableHost)
        return cut;
    }
    cut.form = form;
    return CutByTable(TableOf(form), stream, cut);
}

RequestCut CutByTable(const FieldTable& table, std::span<const std::uint8_t> stream,
                      RequestCut cut) {
    const FrameCut frame = CutFrame(table, stream, kMaxRequestBytes);
    cut.length = frame.length;
    cut.reason = frame.reason;
    switch (frame.kind) {
        case FrameCut::Kind::NeedMore:
            cut.kind = RequestCut::Kind::NeedMore;
            break;
        case FrameCut::Kind::Whole:
            cut.kind = RequestCut::Kind::Request;
            break;
        case FrameCut::Kind::Bad:
            cut.kind = RequestCut::Kind::Bad;
            break;
    }
    return cut;
}

std::string ResponseType(std::string_view type) {
    std::string r(type);
    if (r.size() >= 3 && IsDecimalDigit(r[2]) && (r[2] - '0') % 2 == 0) ++r[2];
    return r;
}

bool ParseSimRules(std::string_view json, SimRules& rules, std::string& why) {
    rules.clear();
    const std::string text(json);
    // Strict: a trailing comma or text after the rules is an error, not silently accepted.
    const std::unique_ptr<json_tokener, decltype(&json_tokener_free)> tokener(json_tokener_new(),
                                                                           json_tokener_free);
    if (!tokener) {
        why = "out of memory";
        return false;
    }
    json_tokener_set_flags(tokener.get(), JSON_TOKENER_STRICT);
    // The terminating zero is handed on too, so that the parser knows the text has ended.
    const JsonObjectPtr root(json_tokener_parse_ex(tokener.get(), text.c_str(),
                                                   static_cast<int>(text.size() + 1)));
    if (!root) {
        why = std::string("not JSON at offset ") +
              std::to_string(json_tokener_get_parse_end(tokener.get())) + ": " +
              json_tokener_error_desc(json_tokener_get_error(tokener.get()));
        return false;
    }
    json_object* list = root.get();
    if (json_object_is_type(list, json_type_object)) {
        if (!json_object_object_get_ex(list, "rules", &list)) list = nullptr;
    }
    if (list == nullptr || !json_object_is_type(list, json_type_array)) {
        why = "the rules must be an array, or an object with the member \"rules\"";
        return false;
    }
    for (std::size_t i = 0; i < json_object_array_length(list); ++i) {
        SimRule rule;
        if (!ReadRule(json_object_array_get_idx(list, i), rule, why)) {
            why = "rule " + std::to_string(i + 1) + ": " + why;
            return false;
        }
        rules.push_back(std::move(rule));
    }
    return true;
}

SimExchange AnswerRequest(std::span<const std::uint8_t> request, SimForm form,
                          const SimRules& rules, HostKeys* keys) {
    if (form == SimForm::Json) return AnswerJsonRequest(request, rules);
    SimExchange x;
    // Building a message (its field buffers and attributes) costs as much as decoding one, so
    // each thread keeps one per built-in form: the tables live as long as the program, and every
    // decode clears what the last request left.
    thread_local std::vector<std::pair<const FieldTable*, std::unique_ptr<Message>>> reused;
    const FieldTable& table = TableOf(form);
    auto held = std::find_if(reused.begin(), reused.end(),
                             [&table](const auto& r) { return r.first == &table; });
    if (held == reused.end()) {
        reused.emplace_back(&table, std::make_unique<Message>(table));
        held = std::prev(reused.end());
    }
    Message& m = *held->second;
    const auto len = static_cast<std::int32_t>(request.size());
    std::vector<std::string> warnings;
    if (m.Decode(request.data(), len, request.size(), LengthRule::Match,
                 DecodeContext{nullptr, len, &warnings}) < 0) {
        x.error = std::string("the request does not decode as ") + FormName(form);
        return x;
    }
    // The engine reads a wrong check byte with a warning; a request with one is not answered.
    if (std::any_of(warnings.begin(), warnings.end(), [](const std::string& w) {
            return w.starts_with("check byte");
        })) {
        x.error = "the trade frame's check byte does not match";
        return x;
    }
    x.requestRows.reserve(24);  // rows are large: no regrowth for a typical message
    {
        RowAppender rows(x.requestRows);
        m.AppendRows(rows);
    }
    // The trade form answers with the request's command code.
    const AnswerKeys answerKeys{form == SimForm::Trade ? nullptr : keys, request};
    if (!AnswerMessage(m, rules, form != SimForm::Trade, x, answerKeys)) return x;
    x.replyRows.reserve(x.requestRows.size() + 4);
    const auto n = static_cast<std::int32_t>(x.reply.size());
    if (m.Decode(x.reply.data(), n, x.reply.size(), LengthRule::Match, DecodeContext{}) >= 0) {
        RowAppender rows(x.replyRows);
        m.AppendRows(rows);
    }
    return x;
}
