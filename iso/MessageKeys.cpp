// Keys applied to ISO 8583 messages: the MAC of a message as received, checked or filled in.
#include "iso/MessageKeys.h"

#include <algorithm>
#include <array>
#include <optional>

#include "codec/Conversions.h"
#include "codec/Engine.h"
#include "codec/TextDecode.h"
#include "codec/Texts.h"

namespace {

bool TakesMacText(const FieldTable& table) {
    return std::any_of(table.fields.begin(), table.fields.end(),
                       [](const FieldDef& d) { return d.inMac; });
}

/// Where the MAC field's stored bytes start in the message: after the framing, the type, the
/// bitmap and every field before it, each as received.
std::size_t MacFieldOffset(const Message& message) {
    std::size_t at = static_cast<std::size_t>(message.Found().body);
    const auto mac = static_cast<std::size_t>(message.Table().macField);
    for (std::size_t f = 0; f < mac && f < message.FieldCount(); ++f) {
        at += message.Stored(static_cast<std::int32_t>(f)).size();
    }
    return at;
}

/// A field value as a reader sees it: its text when it is printable ASCII, else hex.
std::string Shown(std::span<const std::uint8_t> bytes) {
    const bool text = std::all_of(bytes.begin(), bytes.end(),
                                  [](std::uint8_t b) { return b >= 0x21 && b < 0x7F; });
    return text ? std::string(bytes.begin(), bytes.end()) : ToHex(bytes);
}

struct Decoded {
    std::vector<std::uint8_t> bytes;
    std::unique_ptr<Message> message;
};

/// Decodes a message text as the request says; null message when it does not decode.
Decoded DecodeText(std::string_view text, const ParseRequest& request) {
    Decoded d;
    if (text.empty() || text.size() > kMaxMessageText) return d;
    d.bytes.assign((kMaxMessageText + 1) / 2, 0);
    const std::size_t stripped = MessageTextToBytes(text, d.bytes.data());
    const auto len = static_cast<std::int32_t>(stripped / 2);
    FormChoice form{request.table, LengthRule::Match};
    if (form.table == nullptr) {
        form = ChooseForm(d.bytes.data(), (stripped + 1) / 2, len, request.interfaceType);
        if (form.table == nullptr) return d;
    }
    auto message = std::make_unique<Message>(*form.table);
    if (message->Decode(d.bytes.data(), len, (stripped + 1) / 2, form.length, {}) < 0) return d;
    d.bytes.resize(static_cast<std::size_t>(len));
    d.message = std::move(message);
    return d;
}

}  // namespace

bool MessageMacInput(Message& message, std::span<const std::uint8_t> bytes,
                     std::vector<std::uint8_t>& input) {
    input.clear();
    const FieldTable& table = message.Table();
    if (table.macField <= 0 || !message.Has(table.macField)) return false;
    if (TakesMacText(table)) {
        std::array<std::uint8_t, kMacInputScratch> text{};
        const std::int32_t n = BuildMacText(table, message.Fields(), text.data());
        input.assign(text.begin(), text.begin() + std::max(n, 0));
        return n > 0;
    }
    const auto begin = static_cast<std::size_t>(message.Found().body);
    const std::size_t end = MacFieldOffset(message);
    if (end > bytes.size() || begin > end) return false;
    input.assign(bytes.begin() + static_cast<std::ptrdiff_t>(begin),
                 bytes.begin() + static_cast<std::ptrdiff_t>(end));
    return true;
}

std::vector<std::uint8_t> MacFieldBytes(const Message& message, const MacValue& mac) {
    if (TakesMacText(message.Table())) {
        const std::string hex = ToHex(std::span<const std::uint8_t>(mac.block).first(4));
        return {hex.begin(), hex.end()};
    }
    return {mac.field.begin(), mac.field.end()};
}

void CheckMessageMac(Message& message, std::span<const std::uint8_t> bytes, const KeySet& keys,
                     MacCheck& check) {
    check = MacCheck{};
    std::vector<std::uint8_t> input;
    if (keys.mak.Empty() || !MessageMacInput(message, bytes, input)) return;
    check.done = true;
    check.field = message.Table().macField;
    const auto given = message.Data(check.field);
    check.given = Shown(given);
    // An algorithm the MAK's length does not fit gives no value and, with auto, is not listed.
    const auto tryOne = [&](MacAlgorithm alg) -> std::optional<std::string> {
        MacValue mac;
        if (ComputeMac(alg, keys.mak, input, {}, mac) != CryptoStatus::Ok) return std::nullopt;
        const std::vector<std::uint8_t> field = MacFieldBytes(message, mac);
        if (std::equal(field.begin(), field.end(), given.begin(), given.end())) check.match = true;
        return Shown(field);
    };
    if (keys.macAlgorithm) {
        check.algorithm = MacAlgorithmName(*keys.macAlgorithm);
        check.computed = tryOne(*keys.macAlgorithm).value_or("");
        return;
    }
    for (MacAlgorithm alg : kMacAlgorithms) {
        std::optional<std::string> value = tryOne(alg);
        if (check.match) {
            check.algorithm = MacAlgorithmName(alg);
            check.computed = std::move(*value);
            check.tried.clear();
            return;
        }
        if (value) check.tried.emplace_back(MacAlgorithmName(alg), std::move(*value));
    }
}

void CheckTextMac(std::string_view text, const ParseRequest& request, const KeySet& keys,
                  MacCheck& check) {
    check = MacCheck{};
    Decoded d = DecodeText(text, request);
    if (d.message) CheckMessageMac(*d.message, d.bytes, keys, check);
}

void AddMacRow(CommandResult& result, const MacCheck& check) {
    if (!check.done) return;
    std::string value;
    if (check.match) {
        value = "正确 (" + check.algorithm + ")";
    } else {
        value = "错误: 报文 " + check.given + ", 计算 ";
        if (check.tried.empty()) {
            value += check.computed;
        } else {
            for (std::size_t i = 0; i < check.tried.size(); ++i) {
                if (i > 0) value += ", ";
                value += check.tried[i].first + " " + check.tried[i].second;
            }
        }
    }
    const bool gbk = result.rowEncoding == TextEncoding::Gbk;
    FieldRow row;
    SetRowText(row.name, gbk ? Utf8ToGbk("MAC校验") : std::string("MAC校验"));
    SetRowText(row.length, "");
    SetRowText(row.value, gbk ? Utf8ToGbk(value) : value);
    auto at = std::find_if(result.rows.begin(), result.rows.end(),
                           [&](const FieldRow& r) { return r.field == check.field; });
    // After the MAC field's row and its sub-rows, if any.
    if (at != result.rows.end()) ++at;
    while (at != result.rows.end() && at->parent == check.field) ++at;
    result.rows.insert(at, std::move(row));
}

void AppendMacJson(std::string& out, const MacCheck& check) {
    if (!check.done) return;
    const auto quoted = [](std::string_view s) {
        std::string q = "\"";
        for (char c : s) {
            if (c == '"' || c == '\\') q += '\\';
            q += c;
        }
        return q + "\"";
    };
    out.append(R"(,"mac":{"field":)").append(std::to_string(check.field));
    out.append(R"(,"algorithm":)").append(check.algorithm.empty() ? "null" : quoted(check.algorithm));
    out.append(R"(,"given":)").append(quoted(check.given));
    if (check.tried.empty()) {
        out.append(R"(,"computed":)").append(quoted(check.computed));
    } else {
        out.append(R"(,"computed":{)");
        for (std::size_t i = 0; i < check.tried.size(); ++i) {
            if (i > 0) out += ',';
            out.append(quoted(check.tried[i].first)).append(":").append(quoted(check.tried[i].second));
        }
        out += '}';
    }
    out.append(R"(,"match":)").append(check.match ? "true" : "false").append("}");
}

bool FillMacBytes(Message& message, std::span<std::uint8_t> bytes, const KeySet& keys,
                  std::string& problem) {
    if (keys.mak.Empty()) {
        problem = "the keys file gives no \"mak\" to compute the MAC with";
        return false;
    }
    std::vector<std::uint8_t> input;
    if (!MessageMacInput(message, bytes, input)) {
        problem = "the message carries no MAC field to fill";
        return false;
    }
    const MacAlgorithm alg = keys.macAlgorithm.value_or(kMacAlgorithms[0]);
    MacValue mac;
    if (ComputeMac(alg, keys.mak, input, {}, mac) != CryptoStatus::Ok) {
        problem = "\"mak\": the key's length does not fit " + std::string(MacAlgorithmName(alg));
        return false;
    }
    const std::int32_t f = message.Table().macField;
    const std::vector<std::uint8_t> field = MacFieldBytes(message, mac);
    const std::size_t at =
        MacFieldOffset(message) + (message.Stored(f).size() - message.Data(f).size());
    if (field.size() != message.Data(f).size() || at + field.size() > bytes.size()) {
        problem = "the MAC field is not " + std::to_string(field.size()) + " bytes";
        return false;
    }
    std::copy(field.begin(), field.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    return true;
}

bool FillMessageMac(std::string& messageHex, const ParseRequest& request, const KeySet& keys,
                    std::string& problem) {
    if (keys.mak.Empty()) {
        problem = "the keys file gives no \"mak\" to compute the MAC with";
        return false;
    }
    Decoded d = DecodeText(messageHex, request);
    if (!d.message) {
        problem = "the message carries no MAC field to fill";
        return false;
    }
    if (!FillMacBytes(*d.message, d.bytes, keys, problem)) return false;
    messageHex = ToHex(d.bytes);
    return true;
}
