// Keys applied to ISO 8583 messages: the MAC of a message as received, checked or filled in.
#include "iso/MessageKeys.h"

#include <algorithm>
#include <array>
#include <optional>

#include "codec/Conversions.h"
#include "codec/Engine.h"
#include "codec/TextDecode.h"
#include "codec/Texts.h"
#include "crypto/PinBlock.h"

namespace {


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

std::optional<MacAlgorithm> MessageMacAlgorithm(const FieldTable& table, const KeySet& keys) {
    if (keys.macAlgorithm) return keys.macAlgorithm;
    return MacAlgorithmFromName(table.macAlgorithm);
}

bool MessageMacInput(Message& message, std::span<const std::uint8_t> bytes,
                     std::vector<std::uint8_t>& input) {
    input.clear();
    const FieldTable& table = message.Table();
    if (table.macField <= 0 || !message.Has(table.macField)) return false;
    if (table.macInput == MacInput::Fields) {
        std::array<std::uint8_t, kMacInputScratch> text{};
        const std::int32_t n = BuildMacText(table, message.Fields(), text.data());
        input.assign(text.begin(), text.begin() + std::max(n, 0));
        return n > 0;
    }
    const auto begin = static_cast<std::size_t>(table.macFrom >= 0 ? table.macFrom
                                                                   : message.Found().body);
    const std::size_t end = MacFieldOffset(message);
    if (end > bytes.size() || begin > end) return false;
    input.assign(bytes.begin() + static_cast<std::ptrdiff_t>(begin),
                 bytes.begin() + static_cast<std::ptrdiff_t>(end));
    return true;
}

std::vector<std::uint8_t> MacFieldBytes(const Message& message, const MacValue& mac) {
    switch (message.Table().macForm) {
        case MacForm::Hex8: {
            const std::string hex = ToHex(std::span<const std::uint8_t>(mac.block).first(4));
            return {hex.begin(), hex.end()};
        }
        case MacForm::Block:
            return {mac.block.begin(), mac.block.end()};
        case MacForm::Algorithm:
            break;
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
    if (const std::optional<MacAlgorithm> alg = MessageMacAlgorithm(message.Table(), keys)) {
        check.algorithm = MacAlgorithmName(*alg);
        check.computed = tryOne(*alg).value_or("");
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
    if (!message.Has(message.Table().macField)) {
        problem = "the message carries no MAC field to fill";
        return false;
    }
    const MacAlgorithm alg =
        MessageMacAlgorithm(message.Table(), keys).value_or(kMacAlgorithms[0]);
    if (!FillMacBytes(message, bytes, keys.mak, alg)) {
        problem = "\"mak\": the key's length does not fit " + std::string(MacAlgorithmName(alg)) +
                  ", or the MAC field has another width";
        return false;
    }
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

bool FillMacBytes(Message& m, std::span<std::uint8_t> bytes, const SecretKey& mak,
                  MacAlgorithm alg) {
    std::vector<std::uint8_t> input;
    if (!MessageMacInput(m, bytes, input)) return false;
    MacValue mac;
    if (ComputeMac(alg, mak, input, {}, mac) != CryptoStatus::Ok) return false;
    const std::int32_t f = m.Table().macField;
    const std::vector<std::uint8_t> field = MacFieldBytes(m, mac);
    const std::size_t at = MacFieldOffset(m) + (m.Stored(f).size() - m.Data(f).size());
    if (field.size() != m.Data(f).size() || at + field.size() > bytes.size()) return false;
    std::copy(field.begin(), field.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    return true;
}

// ---- field digits and the PAN

std::string FieldDigits(const Message& m, std::int32_t f) {
    if (f < 0 || static_cast<std::size_t>(f) >= m.Table().fields.size() || !m.Has(f)) return {};
    const FieldDef& def = m.Table().fields[static_cast<std::size_t>(f)];
    const auto data = m.Data(f);
    if (def.enc != DataEnc::Bcd) return {data.begin(), data.end()};
    std::string hex = ToHex(data);
    std::size_t units = hex.size();
    if (def.fixed) {
        units = std::min(units, static_cast<std::size_t>(std::max(def.maxLen, 0)));
    } else {
        const auto stored = m.Stored(f);
        const auto prefix = stored.first(stored.size() - data.size());
        std::size_t n = 0;
        for (std::uint8_t b : prefix) {
            switch (def.prefixEnc) {
                case PrefixEnc::Bcd: n = n * 100 + (b >> 4) * 10 + (b & 0x0F); break;
                case PrefixEnc::Ascii: n = n * 10 + static_cast<std::size_t>(b >= '0' && b <= '9' ? b - '0' : 0); break;
                case PrefixEnc::Binary: n = n * 256 + b; break;
            }
        }
        units = std::min(units, n);
    }
    if (units < hex.size()) {
        hex = def.pad == PadSide::Left ? hex.substr(hex.size() - units) : hex.substr(0, units);
    }
    return hex;
}

std::string MessagePan(const Message& m) {
    std::string pan = FieldDigits(m, 2);
    if (!pan.empty()) return pan;
    const std::string track = FieldDigits(m, 35);
    const std::size_t end = track.find_first_of("=Dd");
    return track.substr(0, end);
}

// ---- PIN

PinCheck::~PinCheck() { WipeBytes(pin.data(), pin.size()); }

void CheckMessagePin(const Message& m, const KeySet& keys, PinCheck& check) {
    check.done = false;
    check.valid = false;
    check.format = -1;
    check.length = 0;
    check.problem.clear();
    WipeBytes(check.pin.data(), check.pin.size());
    check.pin.clear();
    if (keys.pik.Empty() || static_cast<std::size_t>(kPinField) >= m.Table().fields.size() ||
        !m.Has(kPinField)) {
        return;
    }
    const std::string pan = MessagePan(m);
    if (pan.empty()) return;
    check.done = true;
    const auto block = m.Data(kPinField);
    PinRead read;
    const PinStatus st = ReadPinBlock(block, pan, &keys.pik, read);
    if (st != PinStatus::Ok) {
        check.problem = PinStatusText(st);
        // The format a wrong key or PAN leaves is no information: only a well-formed block's.
        return;
    }
    check.valid = true;
    check.format = read.format;
    check.length = static_cast<int>(read.pin.size());
    check.pin = read.pin;
}

// ---- sign-in

std::optional<SignInLayout> SignInLayoutOf(std::string_view code) {
    if (code == "001") return SignInLayout{"001", 8, 2};
    if (code == "003") return SignInLayout{"003", 16, 2};
    if (code == "004") return SignInLayout{"004", 16, 3};
    return std::nullopt;
}

std::string NetworkCode(const Message& m) {
    const std::string digits = FieldDigits(m, 60);
    return digits.size() >= 11 ? digits.substr(8, 3) : std::string();
}

void CheckSignInReply(const Message& m, const KeySet& keys, SignInCheck& check) {
    check = SignInCheck{};
    if (keys.tmk.Empty() || FieldDigits(m, 0) != "0810" ||
        static_cast<std::size_t>(kWorkingKeysField) >= m.Table().fields.size() ||
        !m.Has(kWorkingKeysField)) {
        return;
    }
    const auto field = m.Data(kWorkingKeysField);
    const std::string code = NetworkCode(m);
    std::optional<SignInLayout> layout = SignInLayoutOf(code);
    if (!layout) {
        // No 60.3 code of a key layout: the field's length tells, when it is one of them.
        for (std::string_view c : {"001", "003", "004"}) {
            if (SignInLayoutOf(c)->FieldBytes() == field.size()) layout = SignInLayoutOf(c);
        }
        if (!layout) return;
    }
    check.done = true;
    if (field.size() != layout->FieldBytes()) {
        check.problem = "field 62 is " + std::to_string(field.size()) + " bytes; 60.3 code " +
                        std::string(layout->code) + " asks for " +
                        std::to_string(layout->FieldBytes());
        return;
    }
    for (std::size_t i = 0; i < layout->keys; ++i) {
        const auto wrapped = field.subspan(i * (layout->keyBytes + 4), layout->keyBytes);
        const auto given = field.subspan(i * (layout->keyBytes + 4) + layout->keyBytes, 4);
        WorkingKeyCheck k;
        k.name = kWorkingKeyNames[i];
        k.kcv = ToHex(given);
        std::vector<std::uint8_t> kcv;
        if (UnwrapKey(keys.tmk, wrapped, k.key) != CryptoStatus::Ok ||
            KeyCheckValue(k.key, 4, kcv) != CryptoStatus::Ok) {
            check.problem = "the TMK's length does not fit";
            check.keys.clear();
            return;
        }
        k.computed = ToHex(kcv);
        k.match = std::equal(kcv.begin(), kcv.end(), given.begin(), given.end());
        check.keys.push_back(std::move(k));
    }
}

bool MakeSignInKeys(const SecretKey& tmk, const SignInLayout& layout, KeySet& working,
                    std::vector<std::uint8_t>& field62, std::string& problem) {
    field62.clear();
    if (tmk.Empty()) {
        problem = "the keys give no \"tmk\" to send working keys under";
        return false;
    }
    SecretKey* const slots[] = {&working.pik, &working.mak, &working.tdk};
    for (std::size_t i = 0; i < layout.keys; ++i) {
        std::vector<std::uint8_t> wrapped;
        std::vector<std::uint8_t> kcv;
        if (!MakeRandomKey(layout.keyBytes, *slots[i])) {
            problem = "no random working key could be made";
            return false;
        }
        if (WrapKey(tmk, *slots[i], wrapped) != CryptoStatus::Ok ||
            KeyCheckValue(*slots[i], 4, kcv) != CryptoStatus::Ok) {
            problem = "\"tmk\": the key's length does not fit triple DES";
            return false;
        }
        field62.insert(field62.end(), wrapped.begin(), wrapped.end());
        field62.insert(field62.end(), kcv.begin(), kcv.end());
    }
    return true;
}

// ---- all checks, rows and JSON

void CheckTextKeys(std::string_view text, const ParseRequest& request, const KeySet& keys,
                   MessageChecks& checks) {
    checks.mac = MacCheck{};
    checks.signIn = SignInCheck{};
    Decoded d = DecodeText(text, request);
    if (!d.message) return;
    CheckMessageMac(*d.message, d.bytes, keys, checks.mac);
    CheckMessagePin(*d.message, keys, checks.pin);
    CheckSignInReply(*d.message, keys, checks.signIn);
}

namespace {

constexpr std::string_view kPinRowName = "PIN校验";
constexpr std::string_view kMacRowName = "MAC校验";

FieldRow TextRow(const CommandResult& result, std::string_view name, std::string_view value) {
    const bool gbk = result.rowEncoding == TextEncoding::Gbk;
    FieldRow row;
    SetRowText(row.name, gbk ? Utf8ToGbk(name) : std::string(name));
    SetRowText(row.length, "");
    SetRowText(row.value, gbk ? Utf8ToGbk(value) : std::string(value));
    return row;
}

/// Where rows after field f's row and its sub-rows go.
FieldRowList::iterator AfterField(FieldRowList& rows, std::int32_t f) {
    auto at = std::find_if(rows.begin(), rows.end(), [&](const FieldRow& r) { return r.field == f; });
    if (at != rows.end()) ++at;
    while (at != rows.end() && at->parent == f) ++at;
    return at;
}

std::string Quoted(std::string_view s) {
    std::string q = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') q += '\\';
        q += c;
    }
    return q + "\"";
}

}  // namespace

void AddKeyRows(CommandResult& result, const MessageChecks& checks, const KeyShow& show) {
    AddMacRow(result, checks.mac);
    if (checks.pin.done) {
        std::string value;
        if (checks.pin.valid) {
            value = "正确: 格式 " + std::to_string(checks.pin.format) + ", PIN长度 " +
                    std::to_string(checks.pin.length);
            if (show.pin) value += ", PIN " + checks.pin.pin;
        } else {
            value = "错误: " + checks.pin.problem;
        }
        FieldRow row = TextRow(result, kPinRowName, value);
        WipeBytes(value.data(), value.size());
        result.rows.insert(AfterField(result.rows, kPinField), std::move(row));
    }
    if (checks.signIn.done) {
        std::vector<FieldRow> rows;
        if (!checks.signIn.problem.empty()) {
            rows.push_back(TextRow(result, "  密钥", "错误: " + checks.signIn.problem));
        }
        for (const WorkingKeyCheck& k : checks.signIn.keys) {
            std::string value = k.match ? "校验值正确 (" + k.kcv + ")"
                                        : "校验值错误: 报文 " + k.kcv + ", 计算 " + k.computed;
            if (show.keys) value += ", 密钥 " + ToHex(k.key.Bytes());
            rows.push_back(TextRow(result, "  " + k.name, value));
            WipeBytes(value.data(), value.size());
        }
        auto at = AfterField(result.rows, kWorkingKeysField);
        for (FieldRow& r : rows) {
            r.parent = kWorkingKeysField;  // a sub-row of field 62: building back skips it
            at = result.rows.insert(at, std::move(r)) + 1;
        }
    }
}

void AppendKeyChecksJson(std::string& out, const MessageChecks& checks, const KeyShow& show) {
    AppendMacJson(out, checks.mac);
    if (checks.pin.done) {
        const PinCheck& p = checks.pin;
        out.append(R"(,"pin":{"field":)").append(std::to_string(kPinField));
        out.append(R"(,"format":)").append(p.format < 0 ? "null" : std::to_string(p.format));
        out.append(R"(,"length":)").append(std::to_string(p.length));
        out.append(R"(,"valid":)").append(p.valid ? "true" : "false");
        if (!p.valid) out.append(R"(,"problem":)").append(Quoted(p.problem));
        if (show.pin && p.valid) out.append(R"(,"pin":")").append(p.pin).append("\"");
        out += '}';
    }
    if (checks.signIn.done) {
        out.append(R"(,"keys":[)");
        for (std::size_t i = 0; i < checks.signIn.keys.size(); ++i) {
            const WorkingKeyCheck& k = checks.signIn.keys[i];
            if (i > 0) out += ',';
            out.append(R"({"name":)").append(Quoted(k.name));
            out.append(R"(,"kcv":)").append(Quoted(k.kcv));
            out.append(R"(,"match":)").append(k.match ? "true" : "false");
            if (!k.match) out.append(R"(,"computed":)").append(Quoted(k.computed));
            if (show.keys) out.append(R"(,"key":)").append(Quoted(ToHex(k.key.Bytes())));
            out += '}';
        }
        out += ']';
        if (!checks.signIn.problem.empty()) {
            out.append(R"(,"keysProblem":)").append(Quoted(checks.signIn.problem));
        }
    }
}

bool IsKeyCheckRow(const FieldRow& row) {
    const std::string_view name = row.name.View();
    const std::string gbkPin = Utf8ToGbk(kPinRowName);
    const std::string gbkMac = Utf8ToGbk(kMacRowName);
    return row.field < 0 && row.part < 0 &&
           (name == kPinRowName || name == kMacRowName || name == gbkPin || name == gbkMac);
}

bool FillMessagePin(std::string& messageHex, const ParseRequest& request, const KeySet& keys,
                    std::string_view pin, std::string& problem) {
    if (keys.pik.Empty()) {
        problem = "the keys give no \"pik\" to make the PIN block with";
        return false;
    }
    Decoded d = DecodeText(messageHex, request);
    if (!d.message) {
        problem = "the built message does not decode";
        return false;
    }
    Message& m = *d.message;
    const std::string pan = MessagePan(m);
    PinInput in;
    in.format = keys.pinFormat;
    in.pin = pin;
    in.pan = pan;
    PinBlock block;
    const PinStatus st = MakePinBlock(in, &keys.pik, block);
    if (st != PinStatus::Ok) {
        problem = "PIN: " + std::string(PinStatusText(st));
        return false;
    }
    if (const EncodeStatus set = m.Set(kPinField, block.encrypted); !set.ok) {
        problem = set.reason;
        return false;
    }
    std::vector<std::uint8_t> bytes;
    if (const EncodeStatus enc = m.Encode(bytes); !enc.ok) {
        problem = enc.reason;
        return false;
    }
    messageHex = ToHex(bytes);
    return true;
}
