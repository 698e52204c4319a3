// Building an ISO 8583 message from the rows of the field list: rows in, message bytes out.
#include "iso/BuildIso8583.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <vector>

#include "codec/Conversions.h"
#include "codec/Message.h"
#include "iso/ExplainRows.h"
#include "iso/ParseIso8583.h"
#include "codec/TextDecode.h"
#include "codec/Texts.h"

namespace {

constexpr std::string_view kTextSeparator = " -> ";
// The longest message whose hex text a message text can hold.
constexpr std::size_t kMaxMessageBytes = kMaxMessageText / 2;

/// A row's value split into its hex digits and, when it has one, its text part.
struct RowValue {
    std::string digits;               // hex digits, white space removed
    bool digitsOk = true;             // false: the hex part holds another character
    std::optional<std::string> text;  // UTF-8, after " -> "
};

RowValue SplitValue(std::string_view value) {
    RowValue v;
    std::string_view hex = value;
    if (const std::size_t at = value.find(kTextSeparator); at != std::string_view::npos) {
        hex = value.substr(0, at);
        v.text.emplace(value.substr(at + kTextSeparator.size()));
    }
    v.digits.reserve(hex.size());  // one allocation for a long value, not one per doubling
    for (const char c : hex) {
        if (IsHexTextSpace(c)) continue;
        if (!IsHexDigitChar(c)) v.digitsOk = false;
        v.digits += c;
    }
    return v;
}

std::string Bytes(std::string_view digits) {
    std::string b((digits.size() + 1) / 2, '\0');
    HexToBytes(digits.data(), digits.size(), reinterpret_cast<std::uint8_t*>(b.data()));
    return b;
}

std::string Trim(std::string_view s) {
    while (!s.empty() && IsHexTextSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsHexTextSpace(s.back())) s.remove_suffix(1);
    return std::string(s);
}

/// The stored bytes (prefix included) of one field, or the reason it cannot be packed.
struct FieldBytes {
    std::optional<std::vector<std::uint8_t>> stored;
    std::string reason;
};

FieldBytes Fail(std::string reason) { return {std::nullopt, std::move(reason)}; }

std::span<const std::uint8_t> Span(std::string_view b) {
    return {reinterpret_cast<const std::uint8_t*>(b.data()), b.size()};
}

/// Data bytes of `units` (digits for BCD data) encoded as the field stores them.
FieldBytes Encoded(const FieldDef& def, std::string_view data, std::int32_t units) {
    std::vector<std::uint8_t> out;
    EncodeStatus st = EncodeFieldValue(def, -1, Span(data), units, out);
    if (!st.ok) return Fail(std::move(st.reason));
    return {std::move(out), {}};
}

/// Stored bytes b that may or may not start with the field's prefix: kept when the prefix agrees
/// with the data after it (the field reads back exactly b), else taken as data.
FieldBytes FromBytes(const FieldDef& def, std::string b, bool mayHavePrefix) {
    if (!def.fixed && mayHavePrefix && TakesWhole(AttrOf(def), Span(b))) {
        return {std::vector<std::uint8_t>(b.begin(), b.end()), {}};
    }
    const auto units = static_cast<std::int32_t>(def.enc == DataEnc::Bcd ? 2 * b.size() : b.size());
    return Encoded(def, b, units);
}

/// The text a row shows for bytes: up to the first zero byte, read as the rows read them.
std::string Shown(std::string_view bytes, TextEncoding shown) {
    bytes = bytes.substr(0, bytes.find('\0'));
    return ToUtf8(bytes, shown);
}

/// The value of a row of field def: its hex, or its text where the text no longer matches.
FieldBytes ValueOf(const FieldDef& def, const RowValue& v, bool utf8) {
    // v.text is UTF-8 here; the table's rows show its text fields as UTF-8 when they are, else
    // as code page 936.
    const TextEncoding shownAs = utf8 ? TextEncoding::Utf8OrGbk : TextEncoding::Gbk;
    FieldBytes fromHex;
    if (!v.digitsOk) {
        fromHex = Fail("the hex part holds a character that is not a hex digit");
    } else if (v.digits.size() % 2 != 0 && def.enc == DataEnc::Bcd) {
        // An odd digit count is a BCD number's own digits: padded, its prefix computed.
        std::string digits = v.digits;
        const char pad = "0123456789ABCDEF"[def.padNibble & 15];
        if (def.pad == PadSide::Left) {
            digits.insert(digits.begin(), pad);
        } else {
            digits += pad;
        }
        fromHex = Encoded(def, Bytes(digits), static_cast<std::int32_t>(v.digits.size()));
    } else if (v.digits.size() % 2 != 0) {
        fromHex = Fail("odd number of hex digits (" + std::to_string(v.digits.size()) + ")");
    } else {
        fromHex = FromBytes(def, Bytes(v.digits), def.rowHex == RowHex::Stored);
    }
    if (!v.text || def.rowText == RowTextPart::None) return fromHex;
    if (fromHex.stored) {
        const std::vector<std::uint8_t>& s = *fromHex.stored;
        const std::size_t from = def.rowText == RowTextPart::Data && !def.fixed
                                     ? static_cast<std::size_t>(def.prefixBytes)
                                     : 0;
        const std::string_view all(reinterpret_cast<const char*>(s.data()), s.size());
        const std::string_view data = all.substr(std::min(from, s.size()));
        if (Shown(data, shownAs) == *v.text) return fromHex;
        // A UTF-8 table's row shows bytes that are not UTF-8 as they are.
        if (utf8 && data.substr(0, data.find('\0')) == *v.text) return fromHex;
    }
    // The text was changed: it is the value now, in the table's charset.
    std::string text = utf8 ? *v.text : Utf8ToGbk(*v.text);
    return FromBytes(def, std::move(text), def.rowText == RowTextPart::Stored);
}

/// A fixed run of binary bytes (a framing part or header member) as a field of that width.
FieldDef FixedBytes(std::int32_t bytes, bool withText) {
    FieldDef d;
    d.fixed = true;
    d.maxLen = bytes;
    d.enc = DataEnc::Binary;
    d.rowText = withText ? RowTextPart::Stored : RowTextPart::None;
    return d;
}

/// Where each row goes.
enum class RowKind { Skip, Part, Member, Type, Bitmap, Field };

struct RowTarget {
    RowKind kind = RowKind::Skip;
    std::size_t part = 0;    // Part, Member: index into table.frame
    std::size_t member = 0;  // Member
    std::int32_t field = 0;  // Field
};

std::optional<std::int32_t> FieldNumber(std::string_view name, std::string_view prefix) {
    if (prefix.empty() || !name.starts_with(prefix)) return std::nullopt;
    name.remove_prefix(prefix.size());
    if (name.empty() || name.size() > 3 || name[0] == '0') return std::nullopt;
    std::int32_t n = 0;
    for (const char c : name) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + (c - '0');
    }
    return n;
}

/// Where a row goes: by the field number or part it carries (rows of a decoding), else by its
/// name (rows a user typed, or rows read back from their JSON form).
std::optional<RowTarget> TargetOf(const FieldTable& table, const FieldRow& row,
                                  std::string_view name) {
    if (row.parent >= 0) return RowTarget{RowKind::Skip, 0, 0, 0};
    if (row.field == 0) return RowTarget{RowKind::Type, 0, 0, 0};
    if (row.field == 1) return RowTarget{RowKind::Bitmap, 0, 0, 1};
    if (row.field > 1) return RowTarget{RowKind::Field, 0, 0, row.field};
    if (row.part >= 0 && static_cast<std::size_t>(row.part) < table.frame.size()) {
        const auto p = static_cast<std::size_t>(row.part);
        if (row.member >= 0) return RowTarget{RowKind::Member, p, static_cast<std::size_t>(row.member), 0};
        return RowTarget{RowKind::Part, p, 0, 0};
    }
    for (std::size_t p = 0; p < table.frame.size(); ++p) {
        const FramePart& part = table.frame[p];
        if (part.kind == FramePartKind::Length) continue;
        if (part.members.empty()) {
            if (name == part.name) return RowTarget{RowKind::Part, p, 0, 0};
            continue;
        }
        for (std::size_t m = 0; m < part.members.size(); ++m) {
            if (name == part.members[m].name) return RowTarget{RowKind::Member, p, m, 0};
        }
    }
    if (name == table.typeRow.name || name == "Type" || name == "MsgType") {
        return RowTarget{RowKind::Type, 0, 0, 0};
    }
    if (name == table.bitmapRow.name) return RowTarget{RowKind::Bitmap, 0, 0, 1};
    if (const auto n = FieldNumber(name, table.fieldRowPrefix)) {
        return RowTarget{RowKind::Field, 0, 0, *n};
    }
    return std::nullopt;
}

BuiltMessage RowFailure(std::size_t row, std::string_view name, const std::string& reason) {
    BuiltMessage m;
    m.row = static_cast<std::int32_t>(row);
    m.reason = "row " + std::to_string(row + 1) + " \"" + std::string(name) + "\": " + reason;
    return m;
}

BuiltMessage Failure(std::string reason) {
    BuiltMessage m;
    m.reason = std::move(reason);
    return m;
}

/// A BCD value holding hex letters other than the separator D and the pad F of track data: its
/// row, for a warning (or a refusal, for a strict table).
bool LettersInBcd(const FieldDef& def, const RowValue& v) {
    return def.enc == DataEnc::Bcd && v.digitsOk &&
           !std::all_of(v.digits.begin(), v.digits.end(), [](char c) {
               return IsDecimalDigit(c) || c == 'D' || c == 'd' || c == 'F' || c == 'f';
           });
}

}  // namespace

namespace {

/// A positional sub-row's path: the row's own, else its name when that reads "60.2" under its
/// field; empty for a TLV tag's row.
std::string SubRowPath(const FieldRow& row) {
    if (!row.path.empty()) return std::string(row.path);
    const std::string name = Trim(row.Name());
    const std::string head = std::to_string(row.parent) + ".";
    return name.starts_with(head) ? name : std::string();
}

/// The data of field f as its stored value gives it, stored again after its sub-rows' edits.
BuiltMessage ApplySubRowEdits(std::span<const FieldRow> rows, const FieldTable& table,
                              const FieldTable& source, std::int32_t f,
                              std::span<const SubRowEdit> edits, std::size_t fieldRow,
                              Message& message) {
    const FieldDef& def = table.fields[static_cast<std::size_t>(f)];
    const SubLayout layout =
        ChooseSubLayout(table, source, message.Values(), static_cast<std::size_t>(f));
    std::string data = FieldValueText(def, message.Values()[static_cast<std::size_t>(f)]);
    bool changed = false;
    std::size_t failed = 0;
    std::size_t other = SIZE_MAX;
    std::string why;
    // A field row edited since its decode: its sub-rows left as they were show the old value.
    // One edited as well must say what the field row says.
    std::vector<SubRowEdit> kept;
    if (rows[fieldRow].edited == 1) {
        for (const SubRowEdit& e : edits) {
            if (e.edited == 0) continue;
            std::string probe = data;
            bool differs = false;
            if (RewriteSubFields(def, f, layout, std::span(&e, 1), probe, differs, failed, other,
                                 why) &&
                differs) {
                return RowFailure(e.row, Trim(rows[e.row].Name()),
                                  "edited differently from its field's row " +
                                      std::to_string(fieldRow + 1) + " \"" +
                                      Trim(rows[fieldRow].Name()) + "\"");
            }
            kept.push_back(e);
        }
        edits = kept;
    }
    if (!RewriteSubFields(def, f, layout, edits, data, changed, failed, other, why)) {
        if (other != SIZE_MAX) {
            why += ": row " + std::to_string(other + 1) + " \"" + Trim(rows[other].Name()) + "\"";
        }
        return RowFailure(failed, Trim(rows[failed].Name()), why);
    }
    BuiltMessage ok;
    ok.ok = true;
    if (!changed) return ok;
    // Rows read from text do not say which was edited: the field row's own value is replaced,
    // which a warning says, in case it was the one edited.
    if (rows[fieldRow].edited == -1) {
        ok.warnings.push_back("row " + std::to_string(fieldRow + 1) + " \"" +
                              Trim(rows[fieldRow].Name()) +
                              "\": its sub-rows differ from it and give the field's value");
    }
    FieldBytes b;
    switch (def.enc) {
        case DataEnc::Bcd: {
            std::string digits = data;
            const char pad = "0123456789ABCDEF"[def.padNibble & 15];
            if (digits.size() % 2 != 0) {
                digits.insert(def.pad == PadSide::Left ? digits.begin() : digits.end(), pad);
            }
            b = Encoded(def, Bytes(digits), static_cast<std::int32_t>(data.size()));
            break;
        }
        case DataEnc::Ascii:
            b = Encoded(def, data, static_cast<std::int32_t>(data.size()));
            break;
        case DataEnc::Binary: {
            const std::string raw = Bytes(data);
            b = Encoded(def, raw, static_cast<std::int32_t>(raw.size()));
            break;
        }
    }
    if (!b.stored) return RowFailure(fieldRow, Trim(rows[fieldRow].Name()), b.reason);
    if (EncodeStatus st = message.SetStored(f, *b.stored); !st.ok) {
        return RowFailure(fieldRow, Trim(rows[fieldRow].Name()), st.reason);
    }
    return ok;
}

}  // namespace

namespace {

// Rows packed into one message: each step reads the rows or the values gathered so far.
class RowPacker {
public:
    RowPacker(std::span<const FieldRow> rows, const FieldTable& table, TextEncoding rowEncoding,
              ExplainTableFn explainTable)
        : m_rows(rows),
          m_table(table),
          m_rowEncoding(rowEncoding),
          m_utf8(table.charset == "UTF-8"),
          m_bits(static_cast<std::int32_t>(std::clamp(table.bitmap.bits, 64, 128))),
          m_message(table),
          m_given(static_cast<std::size_t>(m_bits) + 1, false),
          m_members(table.frame.size()),
          m_partGiven(table.frame.size(), false),
          m_subEdits(table.fields.size()),
          m_fieldRowOf(table.fields.size(), SIZE_MAX) {
        // The table whose sub-fields the sub-rows name: its own, or the one it names.
        if (!table.explainFrom.empty() && explainTable != nullptr) {
            if (const FieldTable* from = explainTable(table.explainFrom)) m_source = from;
        }
        for (std::size_t p = 0; p < table.frame.size(); ++p) {
            m_members[p].resize(table.frame[p].members.size());
        }
    }

    /// Every row into the message's values and parts; a failure names the row.
    std::optional<BuiltMessage> ReadRows() {
        for (std::size_t i = 0; i < m_rows.size(); ++i) {
            if (auto failed = ReadRow(i)) return failed;
        }
        if (!m_given[0]) return Failure("no message type row (\"" + m_table.typeRow.name + "\")");
        return std::nullopt;
    }
    std::optional<BuiltMessage> ApplySubRows();
    std::optional<BuiltMessage> AssembleHeaders();
    std::optional<BuiltMessage> CheckPartsTogether() const;
    BuiltMessage Encode(bool withLength);

private:
    std::optional<BuiltMessage> ReadRow(std::size_t i);
    std::optional<BuiltMessage> DefOf(const RowTarget& target, std::size_t i,
                                      const std::string& name, FieldDef& scratch,
                                      const FieldDef*& def) const;
    void DropMeaning(const RowTarget& target, std::size_t i, RowValue& value) const;
    std::optional<BuiltMessage> Store(const RowTarget& target, std::size_t i,
                                      const std::string& name, std::vector<std::uint8_t> stored);

    std::span<const FieldRow> m_rows;
    const FieldTable& m_table;
    const FieldTable* m_source = &m_table;
    TextEncoding m_rowEncoding;
    bool m_utf8;
    std::int32_t m_bits;
    Message m_message;
    std::vector<bool> m_given;
    std::vector<std::vector<std::optional<std::vector<std::uint8_t>>>> m_members;
    std::vector<bool> m_partGiven;
    // Positional sub-rows by field, applied once every field row is stored.
    std::vector<std::vector<SubRowEdit>> m_subEdits;
    std::vector<std::size_t> m_fieldRowOf;
    std::vector<std::string> m_warnings;
};

std::optional<BuiltMessage> RowPacker::ReadRow(std::size_t i) {
    const FieldRow& row = m_rows[i];
    // Names read as UTF-8 (the JSON form of rows) meet a GBK table's names in its charset.
    const std::string name = !m_utf8 && m_rowEncoding == TextEncoding::Utf8OrGbk
                                 ? Utf8ToGbk(Trim(row.Name()))
                                 : Trim(row.Name());
    RowValue value = SplitValue(row.Value());
    if (value.text && m_rowEncoding != TextEncoding::Utf8OrGbk) {
        value.text = ToUtf8(*value.text, m_rowEncoding);
    }
    if (name.empty() && value.digits.empty() && !value.text) return std::nullopt;
    if (row.summary) return std::nullopt;  // the summary says what the fields say
    if (const std::int16_t parent = row.parent;
        parent > 1 && static_cast<std::size_t>(parent) < m_table.fields.size() &&
        static_cast<std::size_t>(parent) < m_source->fields.size() &&
        m_source->fields[static_cast<std::size_t>(parent)].explain != nullptr &&
        m_source->fields[static_cast<std::size_t>(parent)].explain->HasSubFields()) {
        if (std::string path = SubRowPath(row); !path.empty()) {
            std::string shown(row.Value());
            if (!m_utf8 && m_rowEncoding == TextEncoding::Utf8OrGbk) shown = Utf8ToGbk(shown);
            m_subEdits[static_cast<std::size_t>(parent)].push_back(
                SubRowEdit{i, std::move(path), std::move(shown), row.edited});
            return std::nullopt;
        }
    }
    // A row of a field's sub-rows (a TLV tag): its field's own row carries the bytes.
    if (row.parent < 0 && row.field < 0 && row.part < 0 && row.Name().starts_with("  ")) {
        return std::nullopt;
    }
    const auto target = TargetOf(m_table, row, name);
    if (!target) return RowFailure(i, name, "no such row in this message form");
    // The bitmap is computed from the fields present, whatever its row says.
    if (target->kind == RowKind::Skip || target->kind == RowKind::Bitmap) return std::nullopt;
    // A data field's row reads the table's definition in place; other rows build theirs.
    FieldDef scratch;
    const FieldDef* defined = &scratch;
    if (auto failed = DefOf(*target, i, name, scratch, defined)) return failed;
    const FieldDef& def = *defined;
    DropMeaning(*target, i, value);
    if (LettersInBcd(def, value)) {
        if (m_table.strict) return RowFailure(i, name, "a BCD value takes digits only");
        m_warnings.push_back("row " + std::to_string(i + 1) + " \"" + name +
                             "\": hex letters in a BCD value (" + value.digits + ")");
    }
    FieldBytes b = ValueOf(def, value, m_utf8);
    if (!b.stored) return RowFailure(i, name, b.reason);
    return Store(*target, i, name, std::move(*b.stored));
}

// The field a row fills, and whether it may fill it: def points at the table's definition, or
// at scratch filled for the row.
std::optional<BuiltMessage> RowPacker::DefOf(const RowTarget& target, std::size_t i,
                                             const std::string& name, FieldDef& scratch,
                                             const FieldDef*& def) const {
    def = &scratch;
    switch (target.kind) {
        case RowKind::Skip:
        case RowKind::Bitmap:
            break;
        case RowKind::Part:
            scratch = FixedBytes(m_table.frame[target.part].bytes, false);
            if (m_partGiven[target.part]) return RowFailure(i, name, "given twice");
            break;
        case RowKind::Member: {
            const HeaderMember& m = m_table.frame[target.part].members[target.member];
            scratch = FixedBytes(m.bytes, m.withText);
            if (m_members[target.part][target.member]) return RowFailure(i, name, "given twice");
            break;
        }
        case RowKind::Type:
            scratch = m_table.fields.empty() ? FieldDef{} : m_table.fields[0];
            scratch.rowText = m_table.typeRow.withText ? RowTextPart::Stored : RowTextPart::None;
            if (m_given[0]) return RowFailure(i, name, "given twice");
            break;
        case RowKind::Field: {
            const std::int32_t f = target.field;
            if (f < 2 || f > 128) {
                return RowFailure(i, name, "field " + std::to_string(f) + ": no such field");
            }
            if (f > m_bits || static_cast<std::size_t>(f) >= m_table.fields.size() ||
                !m_table.fields[static_cast<std::size_t>(f)].Defined()) {
                return RowFailure(i, name,
                                  "field " + std::to_string(f) + " is not defined by the table");
            }
            if (f > 64 && m_table.bitmap.secondary == SecondaryBitmap::Never) {
                return RowFailure(i, name, "the form has no secondary bitmap");
            }
            def = &m_table.fields[static_cast<std::size_t>(f)];
            if (m_given[static_cast<std::size_t>(f)]) return RowFailure(i, name, "given twice");
            break;
        }
    }
    if (!def->Defined()) return RowFailure(i, name, "not defined by the table");
    return std::nullopt;
}

// A value shown with its meaning is read without it.
void RowPacker::DropMeaning(const RowTarget& target, std::size_t i, RowValue& value) const {
    if (target.kind != RowKind::Type && target.kind != RowKind::Field) return;
    const auto fi = static_cast<std::size_t>(target.kind == RowKind::Type ? 0 : target.field);
    if (fi >= m_source->fields.size() || m_source->fields[fi].explain == nullptr) return;
    // The meanings are in the explaining table's charset.
    const bool convert =
        m_source->charset != "UTF-8" && m_rowEncoding == TextEncoding::Utf8OrGbk;
    const std::string raw =
        convert ? Utf8ToGbk(m_rows[i].Value()) : std::string(m_rows[i].Value());
    const std::string_view shown = WithoutMeaning(m_source->fields[fi].explain->values, raw);
    if (shown.size() == raw.size()) return;
    value = SplitValue(shown);
    const TextEncoding from = convert ? TextEncoding::Gbk : m_rowEncoding;
    if (value.text && from != TextEncoding::Utf8OrGbk) value.text = ToUtf8(*value.text, from);
}

// A row's stored bytes into the message, its part or a header member.
std::optional<BuiltMessage> RowPacker::Store(const RowTarget& target, std::size_t i,
                                             const std::string& name,
                                             std::vector<std::uint8_t> stored) {
    switch (target.kind) {
        case RowKind::Part:
            (void)m_message.SetPart(target.part, stored);
            m_partGiven[target.part] = true;
            break;
        case RowKind::Member:
            m_members[target.part][target.member] = std::move(stored);
            break;
        case RowKind::Type:
        case RowKind::Field: {
            const std::int32_t f = target.kind == RowKind::Type ? 0 : target.field;
            EncodeStatus st = m_message.SetStored(f, stored);
            // The type row may show fewer bytes than the field's record says.
            if (f == 0 && !st.ok) st = m_message.Set(0, stored);
            if (!st.ok) return RowFailure(i, name, st.reason);
            m_given[static_cast<std::size_t>(f)] = true;
            if (static_cast<std::size_t>(f) < m_fieldRowOf.size()) {
                m_fieldRowOf[static_cast<std::size_t>(f)] = i;
            }
            break;
        }
        case RowKind::Skip:
        case RowKind::Bitmap:
            break;
    }
    return std::nullopt;
}

std::optional<BuiltMessage> RowPacker::ApplySubRows() {
    for (std::size_t f = 2; f < m_subEdits.size(); ++f) {
        if (m_subEdits[f].empty()) continue;
        if (m_fieldRowOf[f] == SIZE_MAX) {
            const std::size_t r = m_subEdits[f].front().row;
            return RowFailure(r, Trim(m_rows[r].Name()),
                              "a sub-row of field " + std::to_string(f) + ", which has no row");
        }
        BuiltMessage applied =
            ApplySubRowEdits(m_rows, m_table, *m_source, static_cast<std::int32_t>(f),
                             m_subEdits[f], m_fieldRowOf[f], m_message);
        if (!applied.ok) return applied;
        m_warnings.insert(m_warnings.end(), applied.warnings.begin(), applied.warnings.end());
    }
    return std::nullopt;
}

// Header members: those given, the total length member filled when packed, and none missing.
std::optional<BuiltMessage> RowPacker::AssembleHeaders() {
    for (std::size_t p = 0; p < m_table.frame.size(); ++p) {
        const FramePart& part = m_table.frame[p];
        if (part.members.empty()) continue;
        const bool any = std::any_of(m_members[p].begin(), m_members[p].end(),
                                     [](const auto& m) { return m.has_value(); });
        if (!any) continue;
        std::vector<std::uint8_t> bytes;
        for (std::size_t m = 0; m < part.members.size(); ++m) {
            const HeaderMember& member = part.members[m];
            if (m_members[p][m]) {
                bytes.insert(bytes.end(), m_members[p][m]->begin(), m_members[p][m]->end());
            } else if (member.fill == MemberFill::TotalLength) {
                bytes.insert(bytes.end(), static_cast<std::size_t>(member.bytes), '0');
            } else {
                return Failure("header row \"" + member.name + "\" is missing");
            }
        }
        (void)m_message.SetPart(p, bytes);
        m_partGiven[p] = true;
    }
    return std::nullopt;
}

// Parts that come together: both given or neither.
std::optional<BuiltMessage> RowPacker::CheckPartsTogether() const {
    for (std::size_t p = 1; p < m_table.frame.size(); ++p) {
        const FramePart& part = m_table.frame[p];
        const FramePart& before = m_table.frame[p - 1];
        if (part.presence == Presence::WithPrevious && before.kind != FramePartKind::Length &&
            m_partGiven[p] != m_partGiven[p - 1]) {
            return Failure("\"" + before.name + "\" and \"" + part.name +
                           "\" come together: the rows give only one of them");
        }
    }
    return std::nullopt;
}

BuiltMessage RowPacker::Encode(bool withLength) {
    EncodeOptions options;
    options.withLength = withLength;
    options.onlyGivenParts = true;
    options.macAsStored = true;
    std::vector<std::uint8_t> out;
    EncodeStatus st = m_message.Encode(out, options);
    if (!st.ok) return Failure(std::move(st.reason));
    if (out.size() > kMaxMessageBytes) {
        return Failure("message of " + std::to_string(out.size()) + " bytes exceeds " +
                       std::to_string(kMaxMessageBytes) + " (a message text of " +
                       std::to_string(kMaxMessageText) + " characters)");
    }
    BuiltMessage m;
    m.ok = true;
    m.bytes.assign(out.begin(), out.end());
    m.warnings = std::move(m_warnings);
    return m;
}

}  // namespace

BuiltMessage PackRows(std::span<const FieldRow> rows, const FieldTable& table, bool withLength,
                      TextEncoding rowEncoding, ExplainTableFn explainTable) {
    RowPacker packer(rows, table, rowEncoding, explainTable);
    if (auto failed = packer.ReadRows()) return std::move(*failed);
    if (auto failed = packer.ApplySubRows()) return std::move(*failed);
    if (auto failed = packer.AssembleHeaders()) return std::move(*failed);
    if (auto failed = packer.CheckPartsTogether()) return std::move(*failed);
    return packer.Encode(withLength);
}

BuiltinForm ChooseBuiltinForm(std::span<const FieldRow> rows, std::size_t* decidedBy) {
    const FieldTable& t128 = BuiltinTable(BuiltinForm::kUnionPay128);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const FieldRow& row = rows[i];
        if (decidedBy != nullptr) *decidedBy = i;
        const std::string name = Trim(row.Name());
        if (row.field == 1 || (row.field < 0 && name == t128.bitmapRow.name)) {
            if (SplitValue(row.Value()).digits.size() == 32) return BuiltinForm::kUnionPay128;
            continue;
        }
        std::int32_t n = row.field;
        if (n < 0) n = FieldNumber(name, t128.fieldRowPrefix).value_or(-1);
        if (n > 64) return BuiltinForm::kUnionPay128;
        for (const FramePart& part : t128.frame) {
            for (const HeaderMember& m : part.members) {
                if (name == m.name) return BuiltinForm::kUnionPay128;
            }
        }
    }
    return BuiltinForm::kUnionPay64;
}

namespace {

// The hex of a built message, decoded again by decode; a message that this tool cannot read back
// (shorter than the decoder's minimum) is refused rather than shown half.
template <typename Decode>
CommandResult Finished(const BuiltMessage& built, Decode decode) {
    CommandResult result;
    if (!built.ok) {
        result.Fail(kTextIsoBuildError, built.reason);
        result.failure.reason = built.reason;
        return result;
    }
    std::string hex(2 * built.bytes.size() + 1, '\0');
    BytesToHex(reinterpret_cast<const std::uint8_t*>(built.bytes.data()), built.bytes.size(),
               hex.data());
    hex.pop_back();
    decode(hex, result);
    if (!result.Ok()) {
        const std::string why = "the built message of " + std::to_string(built.bytes.size()) +
                                " bytes does not decode: " + result.detail;
        result.Reset();
        result.Fail(kTextIsoBuildError, why);
        result.failure.reason = why;
        return result;
    }
    result.message = std::move(hex);
    result.warnings.insert(result.warnings.end(), built.warnings.begin(), built.warnings.end());
    return result;
}

}  // namespace

CommandResult BuildIso8583FromRows(std::span<const FieldRow> rows, std::int32_t interfaceType,
                                   TextEncoding rowEncoding, ExplainTableFn explainTable) {
    std::size_t decidedBy = 0;
    const bool automatic = interfaceType != kInterface64 && interfaceType != kInterface128;
    const BuiltinForm form = interfaceType == kInterface64    ? BuiltinForm::kUnionPay64
                             : interfaceType == kInterface128 ? BuiltinForm::kUnionPay128
                                                              : ChooseBuiltinForm(rows, &decidedBy);
    BuiltMessage built = PackRows(rows, BuiltinTable(form), automatic, rowEncoding, explainTable);
    if (!built.ok && automatic && form == BuiltinForm::kUnionPay128 && built.row >= 0 &&
        static_cast<std::size_t>(built.row) != decidedBy &&
        built.reason.find("no such row") != std::string::npos) {
        // The row that made this a 128-field message is the one to name.
        built.reason = "row " + std::to_string(decidedBy + 1) + " \"" +
                       Trim(rows[decidedBy].Name()) + "\" makes this a 128-field message, which has no " +
                       built.reason.substr(built.reason.find('"'),
                                           built.reason.find("\":") - built.reason.find('"') + 1) +
                       " row";
    }
    return Finished(
        std::move(built),
        [&](std::string_view hex, CommandResult& r) { ParseIso8583Text(hex, interfaceType, r); });
}

CommandResult BuildIso8583WithTable(std::span<const FieldRow> rows, const FieldTable& table,
                                    TextEncoding rowEncoding, ExplainTableFn explainTable) {
    const bool withLength =
        std::any_of(table.frame.begin(), table.frame.end(),
                    [](const FramePart& p) { return p.kind == FramePartKind::Length; });
    return Finished(
        PackRows(rows, table, withLength, rowEncoding, explainTable),
        [&](std::string_view hex, CommandResult& r) { ParseIso8583WithTable(hex, table, r); });
}
