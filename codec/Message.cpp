// The message model over the engine: values set and read by field number, one Encode.
#include "codec/Message.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "codec/Conversions.h"

namespace {

std::string FieldName(std::int32_t f) { return "field " + std::to_string(f); }
// The start of a refusal: the field it names, when there is one.
std::string Who(std::int32_t f) { return f >= 0 ? FieldName(f) + ": " : std::string(); }

// Data bytes that `units` take: digits for BCD data, bytes otherwise.
std::size_t UnitBytes(const FieldDef& def, std::size_t units) {
    return def.enc == DataEnc::Bcd ? (units + 1) / 2 : units;
}

// The prefix stating `units`, or false when it does not fit the prefix's width.
bool WritePrefix(const FieldDef& def, std::size_t units, std::vector<std::uint8_t>& out) {
    const auto p = static_cast<std::size_t>(std::max(def.prefixBytes, 0));
    out.assign(p, 0);
    std::size_t v = units;
    for (std::size_t i = p; i-- > 0;) {
        switch (def.prefixEnc) {
            case PrefixEnc::Bcd:
                out[i] = static_cast<std::uint8_t>((v / 10 % 10) << 4 | v % 10);
                v /= 100;
                break;
            case PrefixEnc::Ascii:
                out[i] = static_cast<std::uint8_t>('0' + v % 10);
                v /= 10;
                break;
            case PrefixEnc::Binary:
                out[i] = static_cast<std::uint8_t>(v & 0xFF);
                v >>= 8;
                break;
        }
    }
    return v == 0;
}

}  // namespace

EncodeStatus EncodeFieldValue(const FieldDef& def, std::int32_t field,
                              std::span<const std::uint8_t> data, std::int32_t units,
                              std::vector<std::uint8_t>& out) {
    out.clear();
    if (!def.Defined()) return EncodeStatus::Refused(FieldName(field) + " is not defined");
    const std::size_t stated =
        units >= 0 ? static_cast<std::size_t>(units)
                   : (def.enc == DataEnc::Bcd ? 2 * data.size() : data.size());
    if (UnitBytes(def, stated) != data.size()) {
        return EncodeStatus::Refused(Who(field) + std::to_string(stated) +
                                     " digits do not fill " + std::to_string(data.size()) +
                                     " bytes");
    }
    const auto maxLen = static_cast<std::size_t>(def.maxLen);
    if (def.fixed) {
        const std::size_t want = UnitBytes(def, maxLen);
        if (data.size() != want) {
            return EncodeStatus::Refused(Who(field) + "value of " +
                                         std::to_string(data.size()) +
                                         " bytes, the field takes " + std::to_string(want));
        }
        out.assign(data.begin(), data.end());
        return {};
    }
    if (stated > maxLen) {
        return EncodeStatus::Refused(Who(field) + "value of length " +
                                     std::to_string(stated) + " exceeds the field's " +
                                     std::to_string(maxLen));
    }
    if (!WritePrefix(def, stated, out)) {
        return EncodeStatus::Refused(Who(field) + "length " + std::to_string(stated) +
                                     " does not fit its prefix");
    }
    out.insert(out.end(), data.begin(), data.end());
    return {};
}

EncodeStatus EncodeFieldText(const FieldDef& def, std::int32_t field, std::string_view text,
                             const TextRules& rules, std::vector<std::uint8_t>& out) {
    out.clear();
    if (!def.Defined()) return EncodeStatus::Refused(FieldName(field) + " is not defined");
    const auto maxLen = static_cast<std::size_t>(def.maxLen);
    std::vector<std::uint8_t> data;
    std::int32_t units = -1;
    switch (def.enc) {
        case DataEnc::Bcd: {
            const bool ok = std::all_of(text.begin(), text.end(), [&](char c) {
                return rules.lettersInBcd ? IsHexDigitChar(c) : IsDecimalDigit(c);
            });
            if (!ok) {
                return EncodeStatus::Refused(Who(field) + "a BCD value takes digits only");
            }
            std::string digits(text);
            if (def.fixed && rules.padFixed && digits.size() < maxLen) {
                digits.insert(0, maxLen - digits.size(), '0');
            }
            units = static_cast<std::int32_t>(digits.size());
            if (digits.size() % 2 == 1) {
                const char pad = "0123456789ABCDEF"[def.padNibble & 15];
                if (def.pad == PadSide::Left) {
                    digits.insert(digits.begin(), pad);
                } else {
                    digits += pad;
                }
            }
            data.resize(digits.size() / 2);
            HexToBytes(digits.data(), digits.size(), data.data());
            break;
        }
        case DataEnc::Binary:
            if (text.size() % 2 == 1 || !std::all_of(text.begin(), text.end(), IsHexDigitChar)) {
                return EncodeStatus::Refused(Who(field) +
                                             "a binary value takes pairs of hex digits");
            }
            data.resize(text.size() / 2);
            HexToBytes(text.data(), text.size(), data.data());
            break;
        case DataEnc::Ascii:
            data.assign(text.begin(), text.end());
            if (def.fixed && rules.padFixed && data.size() < maxLen) data.resize(maxLen, ' ');
            break;
    }
    return EncodeFieldValue(def, field, data, units, out);
}

Message::Message(const FieldTable& table) : m_table(&table), m_records(SharedAttrsOf(table)) {
    const std::size_t n = m_records->attrs.size();
    m_fieldList.assign(n, 0);
    m_values.assign(n, FieldValue{});
    // Most of the room is never written by a message, so it is not cleared; only the buffers
    // read past a value's stored bytes are.
    m_arena.Reserve(*m_records, m_values, FieldBufferArena::Fill::Terminator);
    for (std::size_t f = 0; f < n; ++f) {
        if (m_records->readPast[f] != 0) {
            std::fill(m_values[f].data.begin(), m_values[f].data.end(), std::uint8_t{0});
        }
    }
}

Message::~Message() = default;

void Message::Clear() {
    ClearValues(m_values);
    std::fill(m_fieldList.begin(), m_fieldList.end(), std::uint8_t{0});
    m_hasPart.fill(false);
    m_found = FrameFound{};
    m_listStale = false;
}

std::int32_t Message::Decode(const std::uint8_t* bytes, std::int32_t len, std::size_t readable,
                             LengthRule lengthRule, const DecodeContext& ctx) {
    // Only the values the last decode set are cleared: they are all in its field list (the
    // engine lists every field before it takes one), unless values were set since.
    if (m_listStale) {
        ClearValues(m_values);
        m_listStale = false;
    } else {
        m_values[0].length = 0;
        m_values[1].length = 0;
        for (const std::uint8_t e : m_fieldList) {
            if (e == 0) break;
            m_values[e].length = 0;
        }
    }
    m_hasPart.fill(false);
    const std::int32_t r =
        UnpackFramed(*m_table, Fields(), bytes, len, readable, lengthRule, m_found, ctx);
    // The framing parts found are kept even when the body fails.
    // A Length part is written anew by every Encode: its bytes are not kept.
    for (std::size_t i = 0; i < m_table->frame.size() && i < kMaxFrameParts; ++i) {
        const FramePart& part = m_table->frame[i];
        if (!m_found.present[i] || part.kind == FramePartKind::Length) continue;
        const auto width = static_cast<std::size_t>(std::max(part.bytes, 0));
        const auto at = static_cast<std::size_t>(m_found.offset[i]);
        m_parts[i].resize(width);
        const std::size_t have = at < readable ? std::min(width, readable - at) : 0;
        if (have > 0) std::memcpy(m_parts[i].data(), bytes + at, have);
        if (have < width) std::memset(m_parts[i].data() + have, 0, width - have);
        m_hasPart[i] = true;
    }
    return r;
}

bool Message::Defined(std::int32_t f) const {
    return f >= 0 && static_cast<std::size_t>(f) < Attrs().size() &&
           static_cast<std::size_t>(f) < m_table->fields.size() && Attrs()[static_cast<std::size_t>(f)].maxLen > 0;
}

bool Message::Has(std::int32_t f) const {
    return f >= 0 && static_cast<std::size_t>(f) < m_values.size() && m_values[f].length > 0;
}

std::span<const std::uint8_t> Message::Stored(std::int32_t f) const {
    if (!Has(f)) return {};
    const FieldValue& v = m_values[static_cast<std::size_t>(f)];
    return {v.data.data(), std::min(static_cast<std::size_t>(v.length), v.data.size())};
}

std::span<const std::uint8_t> Message::Data(std::int32_t f) const {
    const std::span<const std::uint8_t> s = Stored(f);
    if (s.empty() || Attrs()[static_cast<std::size_t>(f)].fixed == 1) return s;
    const auto p = static_cast<std::size_t>(std::max(Attrs()[static_cast<std::size_t>(f)].lenBytes, 0));
    return s.subspan(std::min(p, s.size()));
}

void Message::Store(std::int32_t f, std::span<const std::uint8_t> stored) {
    FieldValue& v = m_values[static_cast<std::size_t>(f)];
    const std::int32_t cap = MaxEncodedSize(Attrs()[static_cast<std::size_t>(f)]);
    if (v.data.size() < static_cast<std::size_t>(cap) + 1) v.data = m_arena.ReserveOne(BufferCapacity(cap));
    const std::size_t n = std::min(stored.size(), v.data.size() - 1);
    if (n > 0) std::memcpy(v.data.data(), stored.data(), n);
    v.data[n] = 0;
    v.length = static_cast<std::int32_t>(n);
    m_listStale = true;
}

EncodeStatus Message::Set(std::int32_t f, std::span<const std::uint8_t> data, std::int32_t units) {
    if (!Defined(f)) return EncodeStatus::Refused(FieldName(f) + " is not defined");
    std::vector<std::uint8_t> stored;
    EncodeStatus st = EncodeFieldValue(m_table->fields[static_cast<std::size_t>(f)], f, data,
                                       units, stored);
    if (st.ok) Store(f, stored);
    return st;
}

EncodeStatus Message::SetText(std::int32_t f, std::string_view text, const TextRules& rules) {
    if (!Defined(f)) return EncodeStatus::Refused(FieldName(f) + " is not defined");
    std::vector<std::uint8_t> stored;
    EncodeStatus st =
        EncodeFieldText(m_table->fields[static_cast<std::size_t>(f)], f, text, rules, stored);
    if (st.ok) Store(f, stored);
    return st;
}

EncodeStatus Message::SetStored(std::int32_t f, std::span<const std::uint8_t> stored) {
    if (!Defined(f)) return EncodeStatus::Refused(FieldName(f) + " is not defined");
    if (!TakesWhole(Attrs()[static_cast<std::size_t>(f)], stored)) {
        return EncodeStatus::Refused(FieldName(f) + ": " + std::to_string(stored.size()) +
                                     " bytes that do not read back as the field");
    }
    Store(f, stored);
    return {};
}

void Message::Clear(std::int32_t f) {
    if (f >= 0 && static_cast<std::size_t>(f) < m_values.size()) m_values[f].length = 0;
    m_listStale = true;
}

std::vector<std::int32_t> Message::Present() const {
    std::vector<std::int32_t> out;
    for (std::size_t f = 2; f < m_values.size(); ++f) {
        if (m_values[f].length > 0) out.push_back(static_cast<std::int32_t>(f));
    }
    return out;
}

std::span<const std::uint8_t> Message::Part(std::size_t i) const {
    if (i >= kMaxFrameParts || !m_hasPart[i]) return {};
    return m_parts[i];
}

EncodeStatus Message::SetPart(std::size_t i, std::span<const std::uint8_t> bytes) {
    if (i >= m_table->frame.size() || i >= kMaxFrameParts) {
        return EncodeStatus::Refused("no frame part " + std::to_string(i));
    }
    const auto width = static_cast<std::size_t>(std::max(m_table->frame[i].bytes, 0));
    if (bytes.size() > width) {
        return EncodeStatus::Refused("\"" + m_table->frame[i].name + "\": " +
                                     std::to_string(bytes.size()) + " bytes, the part has " +
                                     std::to_string(width));
    }
    m_parts[i].assign(width, 0);
    std::copy(bytes.begin(), bytes.end(), m_parts[i].begin());
    m_hasPart[i] = true;
    return {};
}

void Message::ClearPart(std::size_t i) {
    if (i < kMaxFrameParts) m_hasPart[i] = false;
}

EncodeStatus Message::Encode(std::vector<std::uint8_t>& out, const EncodeOptions& options) {
    out.clear();
    const FieldTable& t = *m_table;
    if (!Has(0)) return EncodeStatus::Refused("no message type");
    // The bitmap's size follows from the fields present: the engine writes it from them.
    bool high = false;
    for (std::size_t f = 65; f < m_values.size(); ++f) high |= m_values[f].length > 0;
    if (high && t.bitmap.secondary == SecondaryBitmap::Never) {
        return EncodeStatus::Refused("the form has no secondary bitmap for fields above 64");
    }
    const std::int32_t fullBytes = t.bitmap.secondary == SecondaryBitmap::Always ? t.bitmap.bits / 8
                                   : t.bitmap.secondary == SecondaryBitmap::Bit1 && high ? 16
                                                                                         : 8;
    FieldValue& bitmap = m_values[1];
    if (bitmap.data.size() < static_cast<std::size_t>(fullBytes) * 2 + 1) {
        bitmap.data = m_arena.ReserveOne(BufferCapacity(fullBytes * 2));
    }
    bitmap.length = t.bitmap.enc == BitmapEnc::Ascii ? 2 * fullBytes : fullBytes;

    PackChoices choices;
    choices.macAsStored = options.macAsStored;
    choices.withLength = options.withLength;
    FrameBytes parts{};
    for (std::size_t i = 0; i < t.frame.size() && i < kMaxFrameParts; ++i) {
        const FramePart& part = t.frame[i];
        if (part.kind == FramePartKind::Length) {
            choices.omit[i] = !options.withLength;
            continue;
        }
        if (m_hasPart[i]) {
            parts[i] = m_parts[i];
        } else if (options.onlyGivenParts && part.kind != FramePartKind::Marker) {
            choices.omit[i] = true;
        }
    }
    // The whole room the engine may need, so nothing it writes can pass the buffer's end; the
    // engine writes every byte of the message it returns, so the room is not cleared first.
    // A sealed table does not change, so its bound holds; any other is asked now.
    const std::int32_t bound =
        t.attrs.Get() == m_records ? m_records->maxFramed : MaxFramedSize(t, Attrs());
    const auto room = static_cast<std::size_t>(bound) + 64;
    const auto scratch = std::make_unique_for_overwrite<std::uint8_t[]>(room);
    std::int32_t n = 0;
    const std::int32_t r = PackFramed(t, Fields(), parts, scratch.get(), &n, choices);
    if (r < 1) {
        return EncodeStatus::Refused(
            t.macField > 0 && Has(t.macField) ? "the MAC field has no MAC input"
                                               : "the message could not be packed");
    }
    out.assign(scratch.get(), scratch.get() + n);
    // A length part must be able to state the message: a value that was cut is refused.
    std::size_t at = 0;
    for (std::size_t i = 0; i < t.frame.size() && i < kMaxFrameParts; ++i) {
        const FramePart& part = t.frame[i];
        const bool lengthWritten = part.kind == FramePartKind::Length && options.withLength;
        if ((!part.packed && !lengthWritten) || choices.omit[i]) continue;
        if (part.kind == FramePartKind::Length) {
            bool digits = true;
            const std::int64_t v = ReadLengthPart(part, out.data() + at, out.size() - at, &digits);
            if (FrameTotal(part, static_cast<std::int64_t>(at), v) !=
                static_cast<std::int64_t>(out.size())) {
                out.clear();
                return EncodeStatus::Refused("message length does not fit its length part");
            }
        }
        at += static_cast<std::size_t>(std::max(part.bytes, 0));
    }
    // An optional part is recognised by its bytes: a part written must be recognised, and bytes
    // where none is written must not look like one, or the message reads otherwise.
    at = 0;
    for (std::size_t i = 0; i < t.frame.size() && i < kMaxFrameParts; ++i) {
        const FramePart& part = t.frame[i];
        const bool written =
            (part.packed || (part.kind == FramePartKind::Length && options.withLength)) &&
            !choices.omit[i];
        if (part.presence == Presence::Detect) {
            const bool holds =
                std::all_of(part.detect.begin(), part.detect.end(), [&](const ByteTest& b) {
                    const std::size_t k = at + static_cast<std::size_t>(std::max(b.offset, 0));
                    return k < out.size() && (out[k] & b.mask) == b.value;
                });
            if (holds != written) {
                out.clear();
                return EncodeStatus::Refused(
                    written ? "\"" + part.name + "\" would not be recognised when the message is read"
                            : "without \"" + part.name +
                                  "\" rows the message would be read as having one");
            }
        }
        if (written) at += static_cast<std::size_t>(std::max(part.bytes, 0));
    }
    return {};
}

void Message::AppendRows(RowAppender& rows) const {
    for (std::size_t i = 0; i < m_table->frame.size() && i < kMaxFrameParts; ++i) {
        if (m_hasPart[i]) {
            AppendFrameRows(rows, m_table->frame[i], m_parts[i].data(), static_cast<std::int32_t>(i));
        }
    }
    if (!m_listStale) {
        AppendBodyRows(rows, *m_table, Attrs(), m_fieldList, m_values);
        return;
    }
    // Values were set since the last decode: the rows follow the values, in field order.
    std::vector<std::uint8_t> list(m_fieldList.size(), 0);
    std::size_t k = 0;
    for (std::size_t f = 2; f < m_values.size() && k < list.size(); ++f) {
        if (m_values[f].length > 0) list[k++] = static_cast<std::uint8_t>(f);
    }
    AppendBodyRows(rows, *m_table, Attrs(), list, m_values);
}
