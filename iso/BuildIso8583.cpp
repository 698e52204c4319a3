// Building an ISO 8583 message from the rows of the field list: rows in, message bytes out.
#include "iso/BuildIso8583.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <vector>

#include "codec/Conversions.h"
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

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

RowValue SplitValue(std::string_view value) {
    RowValue v;
    std::string_view hex = value;
    if (const std::size_t at = value.find(kTextSeparator); at != std::string_view::npos) {
        hex = value.substr(0, at);
        v.text.emplace(value.substr(at + kTextSeparator.size()));
    }
    for (const char c : hex) {
        if (IsHexTextSpace(c)) continue;
        if (!IsHexDigit(c)) v.digitsOk = false;
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

/// Data bytes that a stated length takes: digits for BCD data, bytes otherwise.
std::size_t DataBytes(const FieldDef& def, std::size_t stated) {
    return def.enc == DataEnc::Bcd ? (stated + 1) / 2 : stated;
}

/// The length a prefix states, when it is a well-formed prefix.
std::optional<std::size_t> ReadPrefix(const FieldDef& def, std::string_view b) {
    const auto p = static_cast<std::size_t>(def.prefixBytes);
    if (b.size() < p) return std::nullopt;
    std::size_t v = 0;
    for (std::size_t i = 0; i < p; ++i) {
        const auto c = static_cast<unsigned char>(b[i]);
        switch (def.prefixEnc) {
            case PrefixEnc::Bcd:
                if ((c >> 4) > 9 || (c & 15) > 9) return std::nullopt;
                v = v * 100 + (c >> 4) * 10 + (c & 15);
                break;
            case PrefixEnc::Ascii:
                if (c < '0' || c > '9') return std::nullopt;
                v = v * 10 + (c - '0');
                break;
            case PrefixEnc::Binary:
                v = v * 256 + c;
                break;
        }
    }
    return v;
}

/// The prefix stating `stated`, or nothing when it does not fit the prefix's width.
std::optional<std::string> WritePrefix(const FieldDef& def, std::size_t stated) {
    const auto p = static_cast<std::size_t>(def.prefixBytes);
    std::string out(p, '\0');
    std::size_t v = stated;
    for (std::size_t i = p; i-- > 0;) {
        switch (def.prefixEnc) {
            case PrefixEnc::Bcd:
                out[i] = static_cast<char>((v / 10 % 10) << 4 | v % 10);
                v /= 100;
                break;
            case PrefixEnc::Ascii:
                out[i] = static_cast<char>('0' + v % 10);
                v /= 10;
                break;
            case PrefixEnc::Binary:
                out[i] = static_cast<char>(v & 0xFF);
                v >>= 8;
                break;
        }
    }
    if (v != 0) return std::nullopt;
    return out;
}

/// The text a row shows for bytes: up to the first zero byte, read in the table's charset.
std::string Shown(std::string_view bytes, bool utf8) {
    bytes = bytes.substr(0, bytes.find('\0'));
    return utf8 ? std::string(bytes) : ToUtf8(bytes, TextEncoding::Gbk);
}

/// The stored bytes (prefix included) of one field, or the reason it cannot be packed.
struct FieldBytes {
    std::optional<std::string> stored;
    std::string reason;
};

FieldBytes Fail(std::string reason) { return {std::nullopt, std::move(reason)}; }

/// Completes data bytes (or, with hasPrefix, stored bytes whose prefix agrees) to a stored value
/// and checks it against the field. stated: the data length in the field's unit.
FieldBytes Finish(const FieldDef& def, std::string data, std::size_t stated) {
    if (def.fixed) {
        const std::size_t want = DataBytes(def, static_cast<std::size_t>(def.maxLen));
        if (data.size() != want) {
            return Fail("value of " + std::to_string(data.size()) + " bytes, the field takes " +
                        std::to_string(want));
        }
        return {std::move(data), {}};
    }
    if (stated > static_cast<std::size_t>(def.maxLen)) {
        return Fail("value of length " + std::to_string(stated) + " exceeds the field's " +
                    std::to_string(def.maxLen));
    }
    auto prefix = WritePrefix(def, stated);
    if (!prefix) return Fail("length " + std::to_string(stated) + " does not fit its prefix");
    return {*prefix + data, {}};
}

/// Stored bytes b that may or may not start with the field's prefix: kept when the prefix agrees
/// with the data after it, else taken as data.
FieldBytes FromBytes(const FieldDef& def, std::string b, bool mayHavePrefix) {
    if (!def.fixed && mayHavePrefix) {
        const auto p = static_cast<std::size_t>(def.prefixBytes);
        if (const auto stated = ReadPrefix(def, b);
            stated && DataBytes(def, *stated) == b.size() - p) {
            return Finish(def, b.substr(p), *stated);
        }
    }
    const std::size_t stated = def.enc == DataEnc::Bcd ? 2 * b.size() : b.size();
    return Finish(def, std::move(b), stated);
}

/// The value of a row of field def: its hex, or its text where the text no longer matches.
FieldBytes ValueOf(const FieldDef& def, const RowValue& v, bool utf8) {
    // v.text is UTF-8 here.
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
        fromHex = Finish(def, Bytes(digits), v.digits.size());
    } else if (v.digits.size() % 2 != 0) {
        fromHex = Fail("odd number of hex digits (" + std::to_string(v.digits.size()) + ")");
    } else {
        fromHex = FromBytes(def, Bytes(v.digits), def.rowHex == RowHex::Stored);
    }
    if (!v.text || def.rowText == RowTextPart::None) return fromHex;
    if (fromHex.stored) {
        const std::string& s = *fromHex.stored;
        const std::size_t from = def.rowText == RowTextPart::Data && !def.fixed
                                     ? static_cast<std::size_t>(def.prefixBytes)
                                     : 0;
        if (Shown(std::string_view(s).substr(std::min(from, s.size())), utf8) == *v.text) {
            return fromHex;
        }
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

std::string Decimal(std::size_t v, std::size_t width) {
    std::string s = std::to_string(v);
    if (s.size() < width) s.insert(0, width - s.size(), '0');
    return s;
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

std::optional<RowTarget> TargetOf(const FieldTable& table, std::string_view name) {
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

}  // namespace

BuiltMessage PackRows(std::span<const FieldRow> rows, const FieldTable& table, bool withLength,
                      TextEncoding rowEncoding) {
    const bool utf8 = table.charset == "UTF-8";
    const auto bits = static_cast<std::size_t>(std::clamp(table.bitmap.bits, 64, 128));
    // Stored bytes by field number (0 the message type), by framing part and by member.
    std::vector<std::optional<std::string>> fields(bits + 1);
    std::vector<std::optional<std::string>> parts(table.frame.size());
    std::vector<std::vector<std::optional<std::string>>> members(table.frame.size());
    for (std::size_t p = 0; p < table.frame.size(); ++p) {
        members[p].resize(table.frame[p].members.size());
    }
    std::vector<std::size_t> rowOf(bits + 1);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::string name = Trim(rows[i].Name());
        RowValue value = SplitValue(rows[i].Value());
        if (value.text && rowEncoding != TextEncoding::Utf8OrGbk) {
            value.text = ToUtf8(*value.text, rowEncoding);
        }
        if (name.empty() && value.digits.empty() && !value.text) continue;
        const auto target = TargetOf(table, name);
        if (!target) return RowFailure(i, name, "no such row in this message form");
        std::optional<std::string>* slot = nullptr;
        FieldDef def;
        switch (target->kind) {
            case RowKind::Skip:
            case RowKind::Bitmap:  // computed from the fields present, whatever the row says
                continue;
            case RowKind::Part:
                def = FixedBytes(table.frame[target->part].bytes, false);
                slot = &parts[target->part];
                break;
            case RowKind::Member: {
                const HeaderMember& m = table.frame[target->part].members[target->member];
                def = FixedBytes(m.bytes, m.withText);
                slot = &members[target->part][target->member];
                break;
            }
            case RowKind::Type:
                def = table.fields.empty() ? FieldDef{} : table.fields[0];
                def.rowText = table.typeRow.withText ? RowTextPart::Stored : RowTextPart::None;
                slot = &fields[0];
                break;
            case RowKind::Field: {
                const auto f = static_cast<std::size_t>(target->field);
                if (f < 2 || f > bits || f >= table.fields.size() || !table.fields[f].Defined()) {
                    return RowFailure(
                        i, name, "field " + std::to_string(f) + " is not defined by the table");
                }
                if (f > 64 && table.bitmap.secondary == SecondaryBitmap::Never) {
                    return RowFailure(i, name, "the form has no secondary bitmap");
                }
                def = table.fields[f];
                slot = &fields[f];
                rowOf[f] = i;
                break;
            }
        }
        if (!def.Defined()) return RowFailure(i, name, "not defined by the table");
        if (slot->has_value()) return RowFailure(i, name, "given twice");
        FieldBytes b = ValueOf(def, value, utf8);
        if (!b.stored) return RowFailure(i, name, b.reason);
        *slot = std::move(b.stored);
    }
    if (!fields[0]) return Failure("no message type row (\"" + table.typeRow.name + "\")");

    // The bitmap, from the fields present.
    std::size_t highest = 0;
    for (std::size_t f = 2; f <= bits; ++f) {
        if (fields[f]) highest = f;
    }
    std::size_t mapBytes = 8;
    if (table.bitmap.secondary == SecondaryBitmap::Always ||
        (table.bitmap.secondary == SecondaryBitmap::Bit1 && highest > 64)) {
        mapBytes = bits / 8;
    }
    std::string bitmap(mapBytes, '\0');
    if (mapBytes > 8) bitmap[0] = static_cast<char>(0x80);
    for (std::size_t f = 2; f <= bits; ++f) {
        if (fields[f])
            bitmap[(f - 1) / 8] = static_cast<char>(bitmap[(f - 1) / 8] | 0x80 >> (f - 1) % 8);
    }
    if (table.bitmap.enc == BitmapEnc::Ascii) {
        std::string hex(2 * bitmap.size() + 1, '\0');
        BytesToHex(reinterpret_cast<const std::uint8_t*>(bitmap.data()), bitmap.size(), hex.data());
        hex.pop_back();
        bitmap = hex;
    }
    std::string body = *fields[0] + bitmap;
    for (std::size_t f = 2; f <= bits; ++f) {
        if (fields[f]) body += *fields[f];
    }

    // The framing parts the rows give, in wire order; a Length part, when wanted, is written last.
    std::string frame;
    std::optional<std::size_t> lengthAt;
    std::vector<std::pair<std::size_t, std::size_t>> totals;  // offset and width of total members
    struct Detected {
        std::size_t part;
        std::size_t at;  // where the part starts, or would start
        bool given;
    };
    std::vector<Detected> detected;
    const FramePart* lengthPart = nullptr;
    bool previousGiven = false;
    std::string previousName;
    for (std::size_t p = 0; p < table.frame.size(); ++p) {
        const FramePart& part = table.frame[p];
        if (part.kind == FramePartKind::Length) {
            if (withLength) {
                lengthPart = &part;
                lengthAt = frame.size();
                frame.append(static_cast<std::size_t>(part.bytes), '\0');
            }
            continue;
        }
        bool given = parts[p].has_value();
        if (!part.members.empty()) {
            given = std::any_of(members[p].begin(), members[p].end(),
                                [](const auto& m) { return m.has_value(); });
        }
        if (part.presence == Presence::WithPrevious && given != previousGiven) {
            return Failure("\"" + previousName + "\" and \"" + part.name +
                           "\" come together: the rows give only one of them");
        }
        previousGiven = given;
        previousName = part.name;
        if (part.presence == Presence::Detect) detected.push_back({p, frame.size(), given});
        if (!given) continue;
        if (part.members.empty()) {
            frame += *parts[p];
        } else {
            for (std::size_t m = 0; m < part.members.size(); ++m) {
                const HeaderMember& member = part.members[m];
                const auto width = static_cast<std::size_t>(member.bytes);
                if (member.fill == MemberFill::TotalLength) {
                    totals.emplace_back(frame.size(), width);
                    frame.append(width, '0');
                } else if (members[p][m]) {
                    frame += *members[p][m];
                } else {
                    return Failure("header row \"" + member.name + "\" is missing");
                }
            }
        }
    }
    std::string message = frame + body;
    if (message.size() > kMaxMessageBytes) {
        return Failure("message of " + std::to_string(message.size()) + " bytes exceeds " +
                       std::to_string(kMaxMessageBytes) + " (a message text of " +
                       std::to_string(kMaxMessageText) + " characters)");
    }
    const std::size_t lengthBytes = lengthPart ? static_cast<std::size_t>(lengthPart->bytes) : 0;
    const std::size_t after = message.size() - lengthBytes;
    for (const auto& [at, width] : totals) {
        const std::string digits = Decimal(after, width);
        if (digits.size() > width) return Failure("total length does not fit the header");
        message.replace(at, width, digits);
    }
    if (lengthAt) {
        const FramePart* part = lengthPart;
        const auto width = static_cast<std::size_t>(part->bytes);
        std::string length(width, '\0');
        if (part->lengthEnc == LengthEnc::Ascii) {
            length = Decimal(after, width);
        } else {
            std::size_t v = after;
            for (std::size_t i = width; i-- > 0; v >>= 8) length[i] = static_cast<char>(v & 0xFF);
            if (v != 0) length.clear();
        }
        if (length.size() != width) return Failure("message length does not fit its length part");
        message.replace(*lengthAt, width, length);
    }
    // The decoder recognises an optional part by its bytes: a part given must be recognised, and
    // bytes where a part is not given must not look like one, or the message reads otherwise.
    for (const Detected& d : detected) {
        const FramePart& part = table.frame[d.part];
        const bool holds =
            std::all_of(part.detect.begin(), part.detect.end(), [&](const ByteTest& t) {
                const std::size_t at = d.at + static_cast<std::size_t>(std::max(t.offset, 0));
                return at < message.size() &&
                       (static_cast<unsigned char>(message[at]) & t.mask) == t.value;
            });
        if (holds != d.given) {
            return Failure(
                d.given
                    ? "\"" + part.name + "\" would not be recognised when the message is read"
                    : "without \"" + part.name + "\" rows the message would be read as having one");
        }
    }
    BuiltMessage m;
    m.ok = true;
    m.bytes = std::move(message);
    return m;
}

BuiltinForm ChooseBuiltinForm(std::span<const FieldRow> rows) {
    const FieldTable& t128 = BuiltinTable(BuiltinForm::kUnionPay128);
    for (const FieldRow& row : rows) {
        const std::string name = Trim(row.Name());
        if (name == t128.bitmapRow.name) {
            if (SplitValue(row.Value()).digits.size() == 32) return BuiltinForm::kUnionPay128;
            continue;
        }
        if (const auto n = FieldNumber(name, t128.fieldRowPrefix); n && *n > 64) {
            return BuiltinForm::kUnionPay128;
        }
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
    return result;
}

}  // namespace

CommandResult BuildIso8583FromRows(std::span<const FieldRow> rows, std::int32_t interfaceType,
                                   TextEncoding rowEncoding) {
    const BuiltinForm form = interfaceType == kInterface64    ? BuiltinForm::kUnionPay64
                             : interfaceType == kInterface128 ? BuiltinForm::kUnionPay128
                                                              : ChooseBuiltinForm(rows);
    const bool withLength = interfaceType != kInterface64 && interfaceType != kInterface128;
    return Finished(
        PackRows(rows, BuiltinTable(form), withLength, rowEncoding),
        [&](std::string_view hex, CommandResult& r) { ParseIso8583Text(hex, interfaceType, r); });
}

CommandResult BuildIso8583WithTable(std::span<const FieldRow> rows, const FieldTable& table,
                                    TextEncoding rowEncoding) {
    const bool withLength =
        std::any_of(table.frame.begin(), table.frame.end(),
                    [](const FramePart& p) { return p.kind == FramePartKind::Length; });
    return Finished(
        PackRows(rows, table, withLength, rowEncoding),
        [&](std::string_view hex, CommandResult& r) { ParseIso8583WithTable(hex, table, r); });
}
