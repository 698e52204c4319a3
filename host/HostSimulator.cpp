// The host simulator's answers: requests cut from a byte stream, decoded, and answered by rules.
#include "host/HostSimulator.h"

#include <json-c/json.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <memory>

#include "codec/Conversions.h"
#include "codec/PosPack.h"
#include "codec/PosPackExt.h"
#include "codec/Rows.h"
#include "trade/Trade.h"
#include "trade/WebJson.h"

namespace {

constexpr std::size_t kTradeHead = 6;  // length (2, low byte first), F1, three zero bytes
constexpr std::uint8_t kTradeMarker = 0xF1;
constexpr std::size_t kExtHeaderBytes = sizeof(ExtHeader);
constexpr int kResponseCodeField = 39;
constexpr int kMaxRuleDelayMs = 60000;

bool IsDigit(std::uint8_t c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

/// A decoded request: what stands before the message type, and each field's wire bytes.
struct SimMessage {
    SimForm form = SimForm::Iso64;
    std::vector<std::uint8_t> lead;  // TPDU and header (64 fields) or the 46-byte header (128)
    std::array<std::vector<std::uint8_t>, 129> fields;  // [0] message type; empty: absent
    std::array<FieldAttr, 129> attr{};
    int lastField = 64;
};

template <typename Values>
void TakeFields(SimMessage& m, const Values& values, int last) {
    m.lastField = last;
    for (int f = 0; f <= last; ++f) {
        if (f == 1) continue;  // the bitmap is rebuilt from the fields present
        const FieldValue& v = values[static_cast<std::size_t>(f)];
        if (v.length <= 0) continue;
        const auto n = std::min(static_cast<std::size_t>(v.length), v.data.size());
        m.fields[static_cast<std::size_t>(f)].assign(v.data.begin(), v.data.begin() + n);
    }
}

/// Decodes a whole request of a known form into m and its rows; false with why.
bool DecodeRequest(std::span<const std::uint8_t> bytes, SimForm form, SimMessage& m,
                   FieldRowList& rows, std::string& why) {
    m.form = form;
    const auto len = static_cast<std::int32_t>(bytes.size());
    switch (form) {
        case SimForm::Iso64: {
            CCupPosPack pack;
            if (pack.UnpackWithin(bytes.data(), len, bytes.size()) == -1) {
                why = "the request does not decode as a 64-field message";
                return false;
            }
            if (pack.m_hasTpdu == 1) {
                m.lead.assign(pack.m_tpdu.begin(), pack.m_tpdu.begin() + 5);
                m.lead.insert(m.lead.end(), pack.m_header.begin(), pack.m_header.begin() + 6);
            }
            std::copy(pack.m_attr.begin(), pack.m_attr.end(), m.attr.begin());
            TakeFields(m, pack.m_value, 64);
            BuildRows(rows, pack);
            return true;
        }
        case SimForm::Iso128: {
            CCupPosPackExt pack;
            if (pack.UnpackWithin(bytes.data(), len, bytes.size()) == -1) {
                why = "the request does not decode as a 128-field message";
                return false;
            }
            if (pack.m_hasHeader == 1) {
                const auto* h = reinterpret_cast<const std::uint8_t*>(&pack.m_header);
                m.lead.assign(h, h + kExtHeaderBytes);
            }
            m.attr = pack.m_attr;
            TakeFields(m, pack.m_value, 128);
            BuildRows(rows, pack);
            return true;
        }
        case SimForm::Trade: {
            std::uint8_t check = 0;
            for (const std::uint8_t b : bytes) check ^= b;
            if (check != 0) {
                why = "the trade frame's check byte does not match";
                return false;
            }
            CWebTrade trade;
            const std::span<const std::uint8_t> payload =
                bytes.subspan(kTradeHead, bytes.size() - kTradeHead - 1);
            const auto n = static_cast<std::int32_t>(payload.size());
            if (trade.UnpackWithin(payload.data(), n, payload.size()) == -1) {
                why = "the request does not decode as a trade message";
                return false;
            }
            std::copy(trade.m_attr.begin(), trade.m_attr.end(), m.attr.begin());
            TakeFields(m, trade.m_value, 64);
            BuildTradeRows(rows, trade);
            return true;
        }
        case SimForm::Auto:
        case SimForm::Table:
        case SimForm::Json:
            break;
    }
    why = "no form";
    return false;
}

/// The message type as text: BCD digits (64 fields, trade command code) or ASCII (128 fields).
std::string TypeText(const SimMessage& m) {
    const std::vector<std::uint8_t>& t = m.fields[0];
    if (m.form == SimForm::Iso128) return std::string(t.begin(), t.end());
    return HexOf(t);
}

bool SetType(SimMessage& m, std::string_view type) {
    std::string why;
    return EncodeFieldText(m.attr[0], type, m.fields[0], why);
}

/// The packed message: type, bitmap, fields; with its framing and length.
bool EncodeMessage(const SimMessage& m, std::vector<std::uint8_t>& out, std::string& why) {
    const std::size_t bitmapBytes = m.form == SimForm::Iso128 ? 16 : 8;
    std::vector<std::uint8_t> body = m.fields[0];
    const std::size_t bitmapAt = body.size();
    body.resize(body.size() + bitmapBytes, 0);
    // The 128-field bitmap is always 16 bytes long, so its bit 1 is always set.
    if (m.form == SimForm::Iso128) body[bitmapAt] = 0x80;
    for (int f = 2; f <= m.lastField; ++f) {
        const auto& v = m.fields[static_cast<std::size_t>(f)];
        if (v.empty()) continue;
        body[bitmapAt + static_cast<std::size_t>(f - 1) / 8] |=
            static_cast<std::uint8_t>(0x80 >> ((f - 1) % 8));
        body.insert(body.end(), v.begin(), v.end());
    }
    out.clear();
    switch (m.form) {
        case SimForm::Iso64: {
            const std::size_t after = m.lead.size() + body.size();
            if (after > 0xFFFF) {
                why = "the answer is too long for a 2-byte length";
                return false;
            }
            out = {static_cast<std::uint8_t>(after >> 8), static_cast<std::uint8_t>(after & 0xFF)};
            out.insert(out.end(), m.lead.begin(), m.lead.end());
            if (m.lead.size() >= 5) {
                // The answer goes back where the request came from: TPDU destination and source
                // addresses change places.
                std::swap(out[3], out[5]);
                std::swap(out[4], out[6]);
            }
            break;
        }
        case SimForm::Iso128: {
            const std::size_t after = m.lead.size() + body.size();
            if (after > 9999) {
                why = "the answer is too long for a 4-digit length";
                return false;
            }
            char digits[5];
            const auto four = [&digits](std::size_t v) {
                for (int i = 3; i >= 0; --i, v /= 10) digits[i] = static_cast<char>('0' + v % 10);
            };
            four(after);
            out.assign(digits, digits + 4);
            const std::size_t headAt = out.size();
            out.insert(out.end(), m.lead.begin(), m.lead.end());
            if (m.lead.size() == kExtHeaderBytes) {
                four(after);  // the header's total length: header and body
                std::memcpy(out.data() + headAt + 2, digits, 4);
            }
            break;
        }
        case SimForm::Trade: {
            out.resize(body.size() + 7);
            std::int32_t n = 0;
            if (!BuildTradeFrame(body.data(), static_cast<std::int32_t>(body.size()), out.data(),
                                 &n)) {
                why = "the answer is too long for a trade frame";
                return false;
            }
            return true;
        }
        case SimForm::Auto:
        case SimForm::Table:
        case SimForm::Json:
            return false;
    }
    out.insert(out.end(), body.begin(), body.end());
    return true;
}

bool Matches(const SimRule& rule, const SimMessage& m, std::string_view type) {
    if (!rule.type.empty() && rule.type != type) return false;
    std::vector<std::uint8_t> wire;
    std::string why;
    for (const auto& [f, text] : rule.fields) {
        if (f < 0 || f > m.lastField) return false;
        const auto& have = m.fields[static_cast<std::size_t>(f)];
        if (have.empty() || !EncodeFieldText(m.attr[static_cast<std::size_t>(f)], text, wire, why))
            return false;
        if (wire != have) return false;
    }
    return true;
}

bool SetField(SimMessage& m, int f, std::string_view text, std::string& why) {
    if (f < 2 || f > m.lastField) {
        why = "field " + std::to_string(f) + " is not a data field of this form";
        return false;
    }
    if (!EncodeFieldText(m.attr[static_cast<std::size_t>(f)], text,
                         m.fields[static_cast<std::size_t>(f)], why)) {
        why = "field " + std::to_string(f) + ": " + why;
        return false;
    }
    return true;
}

void AppendPrefix(const FieldAttr& a, std::size_t count, std::vector<std::uint8_t>& out) {
    const auto digits = static_cast<std::size_t>(a.lenFormat == 'N' ? 2 * a.lenBytes : a.lenBytes);
    std::string text(digits, '0');
    for (std::size_t i = digits; i-- > 0; count /= 10)
        text[i] = static_cast<char>('0' + count % 10);
    if (a.lenFormat == 'N') {
        const std::size_t at = out.size();
        out.resize(at + static_cast<std::size_t>(a.lenBytes));
        HexToBytes(text.data(), text.size(), out.data() + at);
    } else {
        out.insert(out.end(), text.begin(), text.end());
    }
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

RequestCut CutRequest(std::span<const std::uint8_t> stream, SimForm form) {
    RequestCut cut;
    const std::size_t n = stream.size();
    if (form == SimForm::Auto) {
        // Four ASCII digits in front: a 128-field request; as a binary length they would
        // announce more than 12000 bytes.
        bool digits = true;
        for (std::size_t i = 0; i < n && i < 4; ++i) digits = digits && IsDigit(stream[i]);
        if (digits && n < 4) return cut;
        form = digits ? SimForm::Iso128 : SimForm::Iso64;
    }
    cut.form = form;
    std::size_t total = 0;
    switch (form) {
        case SimForm::Iso64:
            if (n < 2) return cut;
            total = 2 + ((std::size_t{stream[0]} << 8) | stream[1]);
            break;
        case SimForm::Iso128:
            if (n < 4) return cut;
            for (std::size_t i = 0; i < 4; ++i) {
                if (!IsDigit(stream[i])) {
                    cut.kind = RequestCut::Kind::Bad;
                    cut.reason = "the length is not 4 ASCII digits";
                    return cut;
                }
                total = total * 10 + (stream[i] - '0');
            }
            total += 4;
            break;
        case SimForm::Trade:
        case SimForm::Json:
            if (n >= 3 && stream[2] != kTradeMarker) {
                cut.kind = RequestCut::Kind::Bad;
                cut.reason = "no trade frame: byte 2 is not F1";
                return cut;
            }
            if (n < kTradeHead) return cut;
            if (stream[3] != 0 || stream[4] != 0 || stream[5] != 0) {
                cut.kind = RequestCut::Kind::Bad;
                cut.reason = "no trade frame: bytes 3 to 5 are not zero";
                return cut;
            }
            total = stream[0] | (std::size_t{stream[1]} << 8);
            if (total < kTradeHead + 1) {
                cut.kind = RequestCut::Kind::Bad;
                cut.reason = "the trade frame's length is below 7";
                return cut;
            }
            break;
        case SimForm::Auto:
        case SimForm::Table:  // cut by its table's Length part (TableHost)
            cut.kind = RequestCut::Kind::Bad;
            cut.reason = "no length rule for this form";
            return cut;
    }
    cut.length = total;
    if (total > kMaxRequestBytes) {
        cut.kind = RequestCut::Kind::Bad;
        cut.reason = "oversized: the length announces " + std::to_string(total) +
                     " bytes, more than " + std::to_string(kMaxRequestBytes);
        return cut;
    }
    if (n >= total) cut.kind = RequestCut::Kind::Request;
    return cut;
}

bool EncodeFieldText(const FieldAttr& a, std::string_view text, std::vector<std::uint8_t>& out,
                     std::string& why) {
    out.clear();
    if (a.maxLen <= 0) {
        why = "the field is not defined";
        return false;
    }
    std::size_t count = text.size();  // digits, characters or bytes as the prefix counts them
    std::vector<std::uint8_t> data;
    switch (a.format) {
        case 'N': {
            if (!std::all_of(text.begin(), text.end(), IsHexDigit)) {
                why = "a BCD value takes digits only";
                return false;
            }
            std::string digits(text);
            if (a.fixed == 1) {
                if (digits.size() > static_cast<std::size_t>(a.maxLen)) {
                    why = "more than " + std::to_string(a.maxLen) + " digits";
                    return false;
                }
                digits.insert(0, static_cast<std::size_t>(a.maxLen) - digits.size(), '0');
                if (digits.size() % 2 == 1) digits.insert(0, 1, '0');
            } else if (digits.size() % 2 == 1) {
                digits += '0';  // a variable BCD value is left-aligned; its prefix counts digits
            }
            data.resize(digits.size() / 2);
            HexToBytes(digits.data(), digits.size(), data.data());
            break;
        }
        case 'B': {
            if (text.size() % 2 == 1 || !std::all_of(text.begin(), text.end(), IsHexDigit)) {
                why = "a binary value takes pairs of hex digits";
                return false;
            }
            data.resize(text.size() / 2);
            HexToBytes(text.data(), text.size(), data.data());
            count = data.size();
            if (a.fixed == 1 && count != static_cast<std::size_t>(a.maxLen)) {
                why = "a binary value of exactly " + std::to_string(a.maxLen) + " bytes";
                return false;
            }
            break;
        }
        default:
            data.assign(text.begin(), text.end());
            if (a.fixed == 1) {
                if (data.size() > static_cast<std::size_t>(a.maxLen)) {
                    why = "more than " + std::to_string(a.maxLen) + " characters";
                    return false;
                }
                data.resize(static_cast<std::size_t>(a.maxLen), ' ');
            }
            break;
    }
    if (a.fixed != 1) {
        if (count > static_cast<std::size_t>(a.maxLen)) {
            why = "longer than the field's " + std::to_string(a.maxLen);
            return false;
        }
        AppendPrefix(a, count, out);
    }
    out.insert(out.end(), data.begin(), data.end());
    return true;
}

std::string ResponseType(std::string_view type) {
    std::string r(type);
    if (r.size() >= 3 && IsDigit(static_cast<std::uint8_t>(r[2])) && (r[2] - '0') % 2 == 0) ++r[2];
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
                          const SimRules& rules) {
    if (form == SimForm::Json) return AnswerJsonRequest(request, rules);
    SimExchange x;
    x.requestRows.reserve(24);  // rows are large: no regrowth for a typical message
    SimMessage m;
    if (!DecodeRequest(request, form, m, x.requestRows, x.error)) return x;
    x.type = TypeText(m);

    const SimRule* rule = nullptr;
    for (const SimRule& r : rules) {
        if (Matches(r, m, x.type)) {
            rule = &r;
            break;
        }
    }
    if (rule != nullptr) {
        x.action = rule->action;
        x.delayMs = rule->delayMs;
    }
    if (x.action == SimAction::Close) return x;
    if (x.action == SimAction::Garbage) {
        x.reply.assign(std::begin(kGarbageReply), std::end(kGarbageReply));
        return x;
    }

    if (form != SimForm::Trade && !SetType(m, ResponseType(x.type))) {
        x.error = "the message type has no response form";
        return x;
    }
    const std::string code =
        rule != nullptr && !rule->responseCode.empty() ? rule->responseCode : "00";
    if (m.attr[kResponseCodeField].maxLen > 0 && !SetField(m, kResponseCodeField, code, x.error))
        return x;
    if (rule != nullptr) {
        for (const auto& [f, text] : rule->set) {
            if (!SetField(m, f, text, x.error)) return x;
        }
        for (const int f : rule->remove) {
            if (f >= 2 && f <= m.lastField) m.fields[static_cast<std::size_t>(f)].clear();
        }
    }
    if (!EncodeMessage(m, x.reply, x.error)) {
        x.reply.clear();
        return x;
    }
    SimMessage check;
    std::string why;
    x.replyRows.reserve(x.requestRows.size() + 4);
    if (!DecodeRequest(x.reply, form, check, x.replyRows, why)) x.replyRows.clear();
    return x;
}
