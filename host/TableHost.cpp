// The host simulator on a loaded table: requests cut by its Length part, answered as rows.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

#include "iso/BuildIso8583.h"
#include "codec/Conversions.h"
#include "host/HostSimulator.h"

namespace {

constexpr int kResponseCodeField = 39;
constexpr std::size_t kTpduBytes = 5;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

std::string HexOf(std::string_view bytes) {
    std::string hex(2 * bytes.size() + 1, '\0');
    BytesToHex(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), hex.data());
    hex.resize(2 * bytes.size());
    return hex;
}

/// The hex digits of a row value: the part before " -> ", white space left out.
std::string HexPart(std::string_view value) {
    value = value.substr(0, value.find(" -> "));
    std::string hex;
    for (const char c : value) {
        if (IsHexDigit(c)) hex += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return hex;
}

std::string BytesOfHex(std::string_view hex) {
    std::string bytes(hex.size() / 2, '\0');
    HexToBytes(hex.data(), hex.size() / 2 * 2, reinterpret_cast<std::uint8_t*>(bytes.data()));
    return bytes;
}

/// The length prefix stating n (digits for BCD data, bytes otherwise), or false.
bool Prefix(const FieldDef& def, std::size_t n, std::string& out) {
    const auto width = static_cast<std::size_t>(def.prefixBytes);
    if (def.prefixEnc == PrefixEnc::Binary) {
        if (width == 0 || width > 2 || n >> (8 * width) != 0) return false;
        for (std::size_t i = width; i-- > 0;) out += static_cast<char>((n >> (8 * i)) & 0xFF);
        return true;
    }
    const std::size_t digits = def.prefixEnc == PrefixEnc::Bcd ? 2 * width : width;
    std::string text(digits, '0');
    for (std::size_t i = digits; i-- > 0; n /= 10) text[i] = static_cast<char>('0' + n % 10);
    if (n != 0) return false;
    out += def.prefixEnc == PrefixEnc::Bcd ? BytesOfHex(text) : text;
    return true;
}

/// A field's stored bytes (prefix included) from its value text: digits for BCD, characters for
/// text, hex for binary; fixed fields padded (BCD with leading zeros, text with spaces).
bool EncodeTableField(const FieldDef& def, std::string_view text, std::string& out,
                      std::string& why) {
    out.clear();
    if (!def.Defined()) {
        why = "the field is not defined by the table";
        return false;
    }
    const auto maxLen = static_cast<std::size_t>(def.maxLen);
    std::size_t count = text.size();
    std::string data;
    switch (def.enc) {
        case DataEnc::Bcd: {
            if (!std::all_of(text.begin(), text.end(), IsHexDigit)) {
                why = "a BCD value takes digits only";
                return false;
            }
            std::string digits(text);
            if (def.fixed && digits.size() < maxLen) digits.insert(0, maxLen - digits.size(), '0');
            count = digits.size();
            if (digits.size() % 2 == 1) {
                const char pad = "0123456789ABCDEF"[def.padNibble & 15];
                digits.insert(def.pad == PadSide::Left ? 0 : digits.size(), 1, pad);
            }
            data = BytesOfHex(digits);
            break;
        }
        case DataEnc::Binary:
            if (text.size() % 2 == 1 || !std::all_of(text.begin(), text.end(), IsHexDigit)) {
                why = "a binary value takes pairs of hex digits";
                return false;
            }
            data = BytesOfHex(text);
            count = data.size();
            break;
        case DataEnc::Ascii:
            data = text;
            if (def.fixed && data.size() < maxLen) data.append(maxLen - data.size(), ' ');
            count = data.size();
            break;
    }
    if (count > maxLen) {
        why = "longer than the field's " + std::to_string(maxLen);
        return false;
    }
    if (def.fixed) {
        if (count != maxLen) {
            why = "a value of exactly " + std::to_string(maxLen);
            return false;
        }
    } else if (!Prefix(def, count, out)) {
        why = "the length does not fit the field's prefix";
        return false;
    }
    out += data;
    return true;
}

FieldRow* FindRow(FieldRowList& rows, std::string_view name) {
    for (FieldRow& r : rows) {
        if (r.Name() == name) return &r;
    }
    return nullptr;
}

template <std::size_t N>
void SetText(RowText<N>& t, std::string_view s) {
    std::memcpy(t.Prepare(s.size()), s.data(), s.size());
}

/// The value of field f in the rows (stored bytes as the row shows them), matched against text.
bool FieldMatches(const FieldTable& t, FieldRowList& rows, int f, std::string_view text) {
    if (f < 0 || static_cast<std::size_t>(f) >= t.fields.size()) return false;
    const FieldRow* row =
        FindRow(rows, f == 0 ? t.typeRow.name : t.fieldRowPrefix + std::to_string(f));
    std::string stored;
    std::string why;
    if (row == nullptr ||
        !EncodeTableField(t.fields[static_cast<std::size_t>(f)], text, stored, why)) {
        return false;
    }
    const std::string shown = HexPart(row->Value());
    const std::string hex = HexOf(stored);
    const FieldDef& def = t.fields[static_cast<std::size_t>(f)];
    const std::size_t prefix = def.fixed ? 0 : 2 * static_cast<std::size_t>(def.prefixBytes);
    return shown == hex || shown == hex.substr(prefix);
}

/// Sets field f (0: the message type) in the rows: its row's value replaced, or a row added.
bool SetRowField(const FieldTable& t, FieldRowList& rows, int f, std::string_view text,
                 std::string& why) {
    const bool type = f == 0;
    if (f < 0 || (!type && f < 2) || static_cast<std::size_t>(f) >= t.fields.size()) {
        why = "field " + std::to_string(f) + " is not a data field of this table";
        return false;
    }
    std::string stored;
    if (!EncodeTableField(t.fields[static_cast<std::size_t>(f)], text, stored, why)) {
        why = "field " + std::to_string(f) + ": " + why;
        return false;
    }
    const std::string name = type ? t.typeRow.name : t.fieldRowPrefix + std::to_string(f);
    FieldRow* row = FindRow(rows, name);
    if (row == nullptr) {
        row = &rows.emplace_back();
        SetText(row->name, name);
        SetText(row->length, "");
    }
    SetText(row->value, HexOf(stored));
    return true;
}

}  // namespace

TableHost::TableHost(const FieldTable& table) : m_decoder(table) {}

std::string TableHost::CannotServe(const FieldTable& table) {
    if (table.frame.empty() || table.frame.front().kind != FramePartKind::Length) {
        return "the table has no Length part in front to cut a stream into requests";
    }
    const FramePart& p = table.frame.front();
    if ((p.lengthEnc == LengthEnc::Binary && p.bytes == 2) ||
        (p.lengthEnc == LengthEnc::Ascii && p.bytes == 4)) {
        return {};
    }
    return "the table's Length part is neither 2 binary bytes nor 4 ASCII digits";
}

bool TableHost::EncodeField(const FieldTable& table, int f, std::string_view text,
                            std::string& why) {
    if (f < 0 || static_cast<std::size_t>(f) >= table.fields.size()) {
        why = "the field is not defined by the table";
        return false;
    }
    std::string stored;
    return EncodeTableField(table.fields[static_cast<std::size_t>(f)], text, stored, why);
}

RequestCut TableHost::Cut(std::span<const std::uint8_t> stream) const {
    RequestCut cut;
    cut.form = SimForm::Table;
    const FramePart& part = m_decoder.Table().frame.front();
    const auto width = static_cast<std::size_t>(part.bytes);
    if (stream.size() < width) return cut;
    std::size_t total = 0;
    for (std::size_t i = 0; i < width; ++i) {
        if (part.lengthEnc == LengthEnc::Ascii) {
            if (!IsDigit(static_cast<char>(stream[i]))) {
                cut.kind = RequestCut::Kind::Bad;
                cut.reason = "the length is not " + std::to_string(width) + " ASCII digits";
                return cut;
            }
            total = total * 10 + (stream[i] - '0');
        } else {
            total = total * 256 + stream[i];
        }
    }
    total += width;
    cut.length = total;
    if (total > kMaxRequestBytes) {
        cut.kind = RequestCut::Kind::Bad;
        cut.reason = "oversized: the length announces " + std::to_string(total) +
                     " bytes, more than " + std::to_string(kMaxRequestBytes);
        return cut;
    }
    if (stream.size() >= total) cut.kind = RequestCut::Kind::Request;
    return cut;
}

SimExchange TableHost::Answer(std::span<const std::uint8_t> request, const SimRules& rules) {
    SimExchange x;
    const FieldTable& t = m_decoder.Table();
    const std::string_view bytes(reinterpret_cast<const char*>(request.data()), request.size());
    m_decoder.Parse(HexOf(bytes), m_result);
    if (!m_result.Ok()) {
        x.error = "the request does not decode with the table";
        if (const std::string d = m_result.DetailLine(); !d.empty()) x.error += ": " + d;
        return x;
    }
    // Sub-rows of TLV data belong to no field: they are shown, never packed.
    std::vector<bool> sub(m_result.rows.size(), false);
    for (const TlvRowNote& n : m_result.tlv) {
        if (n.row < sub.size()) sub[n.row] = true;
    }
    FieldRowList rows;
    rows.reserve(m_result.rows.size() + 4);
    for (std::size_t i = 0; i < m_result.rows.size(); ++i) {
        if (!sub[i]) rows.push_back(m_result.rows[i]);
    }
    x.requestRows = m_result.rows;
    x.rowEncoding = m_result.rowEncoding;

    const FieldRow* typeRow = FindRow(rows, t.typeRow.name);
    const std::string typeHex = typeRow != nullptr ? HexPart(typeRow->Value()) : std::string();
    x.type = !t.fields.empty() && t.fields[0].enc == DataEnc::Bcd ? typeHex : BytesOfHex(typeHex);

    const SimRule* rule = nullptr;
    for (const SimRule& r : rules) {
        if (!r.type.empty() && r.type != x.type) continue;
        if (std::all_of(r.fields.begin(), r.fields.end(),
                        [&](const auto& f) { return FieldMatches(t, rows, f.first, f.second); })) {
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

    if (!SetRowField(t, rows, 0, ResponseType(x.type), x.error)) {
        x.error = "the message type has no response form";
        return x;
    }
    const std::string code =
        rule != nullptr && !rule->responseCode.empty() ? rule->responseCode : "00";
    if (static_cast<std::size_t>(kResponseCodeField) < t.fields.size() &&
        t.fields[kResponseCodeField].Defined() &&
        !SetRowField(t, rows, kResponseCodeField, code, x.error)) {
        return x;
    }
    if (rule != nullptr) {
        for (const auto& [f, text] : rule->set) {
            if (!SetRowField(t, rows, f, text, x.error)) return x;
        }
        for (const int f : rule->remove) {
            const std::string name = t.fieldRowPrefix + std::to_string(f);
            std::erase_if(rows, [&](const FieldRow& r) { return r.Name() == name; });
        }
    }
    // The answer goes back where the request came from: TPDU destination and source change
    // places.
    for (const FramePart& part : t.frame) {
        if (part.kind != FramePartKind::Tpdu || part.bytes != kTpduBytes) continue;
        if (FieldRow* row = FindRow(rows, part.name)) {
            std::string hex = HexPart(row->Value());
            if (hex.size() == 2 * kTpduBytes) {
                SetText(row->value, hex.substr(0, 2) + hex.substr(6, 4) + hex.substr(2, 4));
            }
        }
    }
    const BuiltMessage built = PackRows(rows, t, true, m_result.rowEncoding);
    if (!built.ok) {
        x.error = "the answer cannot be packed with the table: " + built.reason;
        return x;
    }
    x.reply.assign(built.bytes.begin(), built.bytes.end());
    m_decoder.Parse(HexOf(built.bytes), m_result);
    if (m_result.Ok()) x.replyRows = m_result.rows;
    return x;
}
