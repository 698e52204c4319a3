// Meanings, positional sub-rows and the summary row, built only when a decode asks for them.
#include "iso/ExplainRows.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "codec/Conversions.h"
#include "codec/Engine.h"
#include "codec/IsoCodes.h"
#include "codec/TextDecode.h"
#include "emv/CardMask.h"

namespace {

constexpr std::string_view kMeaningSeparator = ": ";

std::string Hex(const std::uint8_t* bytes, std::size_t n) {
    std::string out(2 * n, '0');
    BytesToHex(bytes, n, out.data());
    return out;
}

// The digit count a variable BCD field's prefix states.
std::size_t PrefixDigits(const FieldDef& d, const std::uint8_t* s, std::size_t p) {
    return static_cast<std::size_t>(std::max(ReadStatedLength(AttrOf(d), s, p), 0));
}

// The bytes of a hex text (even length, as FieldValueText writes binary data).
std::string HexToRaw(std::string_view hex) {
    std::string raw(hex.size() / 2, '\0');
    HexToBytes(hex.data(), hex.size(), reinterpret_cast<std::uint8_t*>(raw.data()));
    return raw;
}

void AppendMeaning(FieldRow& row, std::string_view meaning) {
    std::string text(row.Value());
    text.append(kMeaningSeparator).append(meaning);
    SetRowText(row.value, text);
    row.meaning = meaning;
}

// A slice of a sub-field's data as its encoding shows it.
std::string ShowSlice(DataEnc enc, bool digits, std::string_view slice, std::int32_t length) {
    if (digits || enc == DataEnc::Ascii) return std::string(slice);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(slice.data());
    std::string hex = Hex(bytes, slice.size());
    // Packed digits inside a byte field: as many as the sub-field's length.
    if (enc == DataEnc::Bcd) hex.resize(std::min(hex.size(), static_cast<std::size_t>(length)));
    return hex;
}

// Appends the rows of positional sub-fields over data: digits of a BCD field, bytes otherwise.
// Data ends where it ends: the sub-fields after it are absent.
void AppendSubRows(const std::vector<SubField>& subs, std::string_view data, bool digits,
                   std::int16_t field, int depth, FieldRowList& out) {
    std::size_t at = 0;
    for (const SubField& sf : subs) {
        if (at >= data.size()) break;
        const bool sliceDigits = digits;
        const std::size_t units = static_cast<std::size_t>(std::max(sf.length, 0));
        const std::size_t take = !digits && sf.enc == DataEnc::Bcd ? (units + 1) / 2 : units;
        const std::string_view slice = data.substr(at, take);
        at += slice.size();
        FieldRow& row = out.emplace_back();
        row.ClearKey();
        SetRowText(row.name, std::string(static_cast<std::size_t>(2 * depth), ' ') + sf.path);
        SetRowNumber(row.length, static_cast<std::int32_t>(
                                     !digits && sf.enc == DataEnc::Bcd
                                         ? std::min(units, 2 * slice.size())
                                         : slice.size()));
        const std::string shown = ShowSlice(sf.enc, sliceDigits, slice, sf.length);
        SetRowText(row.value, shown);
        row.parent = field;
        row.title = sf.name;
        row.path = sf.path;
        if (const std::string_view m = MeaningOf(sf.values, shown); !m.empty()) {
            AppendMeaning(row, m);
        }
        if (!sf.subfields.empty()) {
            // A nested slice of packed digits is read as its digits.
            const bool nestedDigits = digits || sf.enc == DataEnc::Bcd;
            AppendSubRows(sf.subfields, nestedDigits && !digits ? std::string_view(shown) : slice,
                          nestedDigits, field, depth + 1, out);
        }
    }
}

bool IsCardField(std::size_t f) { return f == 2 || f == 35 || f == 36; }

// The currency of field 49: by its numeric code, else by letters (the field's own, or the first
// word of its meaning) for a table that sends or names the currency in letters.
const IsoCurrency* CurrencyOf(std::string_view code, std::string_view letters) {
    if (const IsoCurrency* c = FindIsoCurrency(IsoNumericCode(code))) return c;
    for (const IsoCurrency& c : IsoCurrencies()) {
        if (c.letters == code || c.letters == letters) return &c;
    }
    return nullptr;
}

std::string AmountText(std::string_view digits, int minor) {
    std::string whole(digits);
    whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size()));
    while (whole.size() < static_cast<std::size_t>(minor) + 1) whole.insert(0, 1, '0');
    if (minor > 0) whole.insert(whole.size() - static_cast<std::size_t>(minor), 1, '.');
    return whole;
}

std::string CardText(std::string symbols, CardData kind, bool mask) {
    if (kind == CardData::Track2) {
        symbols.resize(std::min(symbols.size(), symbols.find_first_of("D=")));
    }
    if (!symbols.empty() && (symbols.back() == 'F' || symbols.back() == 'f')) symbols.pop_back();
    if (mask) {
        const HiddenRange hidden = CardNumberHiddenRange(symbols, CardData::Pan);
        for (std::size_t i = hidden.begin; i < hidden.end && i < symbols.size(); ++i) {
            symbols[i] = '*';
        }
    }
    return symbols;
}

// A text of this file (UTF-8) in the rows' charset.
std::string InCharset(const FieldTable& table, std::string_view utf8) {
    return table.charset == "UTF-8" ? std::string(utf8) : Utf8ToGbk(utf8);
}

std::string Summary(const FieldTable& table, const FieldTable& source,
                    std::span<const FieldValue> values, bool mask, const FieldRowList& rows) {
    // Only fields that have rows: a failed decode leaves the values after it unread.
    std::vector<bool> shown(values.size(), false);
    for (const FieldRow& row : rows) {
        if (row.field >= 0 && static_cast<std::size_t>(row.field) < shown.size()) {
            shown[static_cast<std::size_t>(row.field)] = true;
        }
    }
    const auto text = [&](std::size_t f) -> std::string {
        if (f >= values.size() || f >= table.fields.size() || !shown[f]) return {};
        return FieldValueText(table.fields[f], values[f]);
    };
    const auto meaning = [&](std::size_t f, std::string_view v) -> std::string_view {
        if (f >= source.fields.size() || !source.fields[f].explain) return {};
        return MeaningOf(source.fields[f].explain->values, v);
    };
    std::vector<std::string> parts;
    const std::string mti = text(0);
    const std::string proc = text(3);
    const std::string f60 = text(60);
    for (const TransactionRule& rule : source.transactions) {
        if (mti.starts_with(rule.mtiPrefix) && proc.starts_with(rule.procPrefix) &&
            f60.starts_with(rule.field60Prefix)) {
            // The third digit of the message type: odd for a reply.
            const bool reply = mti.size() >= 3 && mti[2] >= '0' && mti[2] <= '9' && (mti[2] - '0') % 2 == 1;
            parts.push_back(rule.name + InCharset(table, reply ? "应答" : "请求"));
            break;
        }
    }
    if (const std::string code = text(39); !code.empty()) {
        const std::string_view m = meaning(39, code);
        parts.push_back(m.empty() ? code : code + " " + std::string(m));
    }
    if (const std::string amount = text(4); !amount.empty()) {
        const std::string currency = text(49);
        std::string alpha(meaning(49, currency));
        alpha.resize(std::min(alpha.size(), alpha.find(' ')));
        const IsoCurrency* iso = CurrencyOf(currency, alpha);
        if (iso != nullptr) alpha = iso->letters;
        if (alpha.empty()) alpha = currency;
        // A currency the list does not know is read with two minor digits, as most have.
        std::string part = AmountText(amount, iso != nullptr ? iso->exponent : 2);
        if (!alpha.empty()) part += " " + alpha;
        parts.push_back(std::move(part));
    }
    if (std::string pan = text(2); !pan.empty()) {
        parts.push_back(CardText(std::move(pan), CardData::Pan, mask));
    } else if (std::string track2 = text(35); !track2.empty()) {
        parts.push_back(CardText(std::move(track2), CardData::Track2, mask));
    }
    std::string out;
    const std::string dot = InCharset(table, " · ");
    for (const std::string& p : parts) out.append(out.empty() ? "" : dot).append(p);
    return out;
}

// The country tags of IC card data read by the table's own country list (field 19) when it has
// one, so that one list serves both, else by the ISO 3166 list: "0156" is country 156.
void ExplainCodeTag(const FieldTable& source, FieldRow& row) {
    std::string_view name = row.Name();
    while (name.starts_with(' ')) name.remove_prefix(1);
    if (name != "9F1A" && name != "5F28") return;
    std::string_view code = row.Value();
    code = code.substr(0, code.find(' '));
    if (code.size() != 4 || code[0] != '0') return;
    constexpr std::size_t kCountryField = 19;
    const FieldExplain* list = kCountryField < source.fields.size()
                                   ? source.fields[kCountryField].explain.get()
                                   : nullptr;
    if (list != nullptr && !list->values.empty()) {
        if (const std::string_view m = MeaningOf(list->values, code.substr(1)); !m.empty()) {
            AppendMeaning(row, m);
        }
        return;
    }
    const int numeric = IsoNumericCode(code);
    if (const IsoCountry* c = FindIsoCountry(numeric); c != nullptr) {
        // The meaning is kept as a view: the list's own text, or its converted copy.
        AppendMeaning(row, source.charset == "UTF-8" ? c->chinese : IsoCountryNameGbk(numeric));
    }
}

}  // namespace

bool TableExplains(const FieldTable& table) {
    if (!table.transactions.empty()) return true;
    return std::any_of(table.fields.begin(), table.fields.end(),
                       [](const FieldDef& d) { return d.explain != nullptr; });
}

std::string FieldValueText(const FieldDef& d, const FieldValue& v) {
    if (v.length <= 0 || !d.Defined()) return {};
    const std::size_t stored = std::min(static_cast<std::size_t>(v.length), v.data.size());
    const std::uint8_t* s = v.data.data();
    const std::size_t p =
        d.fixed ? 0 : std::min(stored, static_cast<std::size_t>(std::max(d.prefixBytes, 0)));
    const std::uint8_t* data = s + p;
    const std::size_t n = stored - p;
    switch (d.enc) {
        case DataEnc::Ascii:
            return std::string(reinterpret_cast<const char*>(data), n);
        case DataEnc::Binary:
            return Hex(data, n);
        case DataEnc::Bcd:
            break;
    }
    std::string digits = Hex(data, n);
    const std::size_t count =
        std::min(digits.size(), d.fixed ? static_cast<std::size_t>(std::max(d.maxLen, 0))
                                        : PrefixDigits(d, s, p));
    // An odd count leaves a pad nibble on the field's pad side.
    if (d.pad == PadSide::Left) {
        digits.erase(0, digits.size() - count);
    } else {
        digits.resize(count);
    }
    return digits;
}

void ExplainRows(const FieldTable& table, const FieldTable& source,
                 std::span<const FieldValue> values, bool mask, FieldRowList& rows) {
    FieldRowList out;
    out.reserve(rows.size() + 16);
    if (!source.transactions.empty() && !rows.empty()) {
        FieldRow& row = out.emplace_back();
        row.ClearKey();
        SetRowText(row.name, InCharset(table, "交易"));
        SetRowText(row.length, "");
        SetRowText(row.value, Summary(table, source, values, mask, rows));
        row.summary = true;
    }
    for (FieldRow& r : rows) {
        out.push_back(std::move(r));
        FieldRow& row = out.back();
        if (row.field < 0) continue;
        const auto f = static_cast<std::size_t>(row.field);
        if (f >= values.size() || f >= table.fields.size() || f >= source.fields.size() ||
            f == 1) {
            continue;
        }
        const FieldDef& def = table.fields[f];
        const FieldExplain* explain = source.fields[f].explain.get();
        if (explain == nullptr || def.tlv || (mask && IsCardField(f))) continue;
        const std::string value = FieldValueText(def, values[f]);
        if (const std::string_view m = MeaningOf(explain->values, value); !m.empty()) {
            AppendMeaning(row, m);
        }
        if (!explain->subfields.empty()) {
            const bool digits = def.enc == DataEnc::Bcd;
            const std::string raw = digits || def.enc == DataEnc::Ascii
                                        ? std::string()
                                        : HexToRaw(value);
            AppendSubRows(explain->subfields, def.enc == DataEnc::Binary ? raw : value, digits,
                          row.field, 1, out);
        }
    }
    rows.swap(out);
}

namespace {

// How a slot's characters stand in the text a field's sub-fields are cut from.
enum class SlotUnit : std::uint8_t {
    Digits,      // one digit a unit (a BCD field, or packed digits inside bytes)
    Chars,       // one byte a unit (an ASCII field)
    HexBytes,    // two hex digits a byte (a binary field, as its hex)
    CharsPacked  // packed digits inside an ASCII field: shown, not rewritten
};

struct SubSlot {
    const SubField* sf = nullptr;
    std::size_t at = 0;    // in the field's text
    std::size_t size = 0;  // characters of the field's text the slot covers
    SlotUnit unit = SlotUnit::Digits;
};

// The slots of subs in text[begin, end), as AppendSubRows cuts them, nested ones too.
void CollectSlots(const std::vector<SubField>& subs, std::string_view text, std::size_t begin,
                  std::size_t end, SlotUnit unit, std::vector<SubSlot>& out) {
    std::size_t at = begin;
    for (const SubField& sf : subs) {
        if (at >= end) break;
        const auto len = static_cast<std::size_t>(std::max(sf.length, 0));
        SubSlot slot{&sf, at, 0, unit};
        SlotUnit inner = unit;
        std::size_t innerEnd = 0;
        switch (unit) {
            case SlotUnit::Digits:
            case SlotUnit::CharsPacked:
                slot.size = std::min(len, end - at);
                break;
            case SlotUnit::Chars:
                if (sf.enc == DataEnc::Bcd) {
                    slot.size = std::min((len + 1) / 2, end - at);
                    slot.unit = inner = SlotUnit::CharsPacked;
                } else {
                    slot.size = std::min(len, end - at);
                }
                break;
            case SlotUnit::HexBytes:
                if (sf.enc == DataEnc::Bcd) {
                    slot.size = std::min(2 * ((len + 1) / 2), end - at);
                    inner = SlotUnit::Digits;
                    innerEnd = at + std::min(len, slot.size);
                } else {
                    slot.size = std::min(2 * len, end - at);
                }
                break;
        }
        out.push_back(slot);
        if (!sf.subfields.empty() && slot.unit != SlotUnit::CharsPacked) {
            CollectSlots(sf.subfields, text, at, innerEnd != 0 ? innerEnd : at + slot.size, inner,
                         out);
        }
        at += slot.size;
    }
}

// What a slot's row shows (as AppendSubRows writes it, without the meaning).
std::string SlotShown(const SubSlot& s, std::string_view text) {
    const std::string_view slice = text.substr(s.at, s.size);
    switch (s.unit) {
        case SlotUnit::Digits:
            return std::string(slice);
        case SlotUnit::Chars:
            if (s.sf->enc == DataEnc::Binary) {
                return Hex(reinterpret_cast<const std::uint8_t*>(slice.data()), slice.size());
            }
            return std::string(slice);
        case SlotUnit::CharsPacked:
            return ShowSlice(DataEnc::Bcd, false, slice, s.sf->length);
        case SlotUnit::HexBytes:
            if (s.sf->enc == DataEnc::Ascii) return HexToRaw(slice);
            if (s.sf->enc == DataEnc::Bcd) {
                return std::string(slice.substr(0, std::min(slice.size(),
                                                             static_cast<std::size_t>(std::max(s.sf->length, 0)))));
            }
            return std::string(slice);
    }
    return {};
}

bool AllHex(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
    });
}

// The slot's characters in the field's text for a shown value, or why it does not fit.
std::optional<std::string> SlotText(const SubSlot& s, std::string_view shown, std::string_view old,
                                    std::string& why) {
    const auto need = [&](std::size_t n, std::string_view what) -> bool {
        if (shown.size() == n) return true;
        why = "takes " + std::to_string(n) + " " + std::string(what) + ", not " +
              std::to_string(shown.size());
        return false;
    };
    switch (s.unit) {
        case SlotUnit::Digits:
            if (!need(s.size, "digits")) return std::nullopt;
            if (!AllHex(shown)) {
                why = "takes digits only";
                return std::nullopt;
            }
            return std::string(shown);
        case SlotUnit::Chars:
            if (s.sf->enc == DataEnc::Binary) {
                if (!need(2 * s.size, "hex digits")) return std::nullopt;
                if (!AllHex(shown)) {
                    why = "takes hex digits only";
                    return std::nullopt;
                }
                return HexToRaw(shown);
            }
            if (!need(s.size, "characters")) return std::nullopt;
            return std::string(shown);
        case SlotUnit::CharsPacked:
            why = "packed digits inside characters are shown only, edit the field's row";
            return std::nullopt;
        case SlotUnit::HexBytes: {
            if (s.sf->enc == DataEnc::Ascii) {
                if (!need(s.size / 2, "characters")) return std::nullopt;
                return Hex(reinterpret_cast<const std::uint8_t*>(shown.data()), shown.size());
            }
            const std::size_t digits = s.sf->enc == DataEnc::Bcd
                                           ? std::min(s.size, static_cast<std::size_t>(std::max(s.sf->length, 0)))
                                           : s.size;
            if (!need(digits, "hex digits")) return std::nullopt;
            if (!AllHex(shown)) {
                why = "takes hex digits only";
                return std::nullopt;
            }
            std::string text(shown);
            text.append(old.substr(std::min(old.size(), digits)));  // a pad nibble stays
            return text;
        }
    }
    return std::nullopt;
}

}  // namespace

std::string_view WithoutMeaning(const std::vector<ValueMeaning>& values, std::string_view value) {
    for (const ValueMeaning& m : values) {
        const std::size_t n = kMeaningSeparator.size() + m.meaning.size();
        if (value.size() >= n && value.ends_with(m.meaning) &&
            value.substr(value.size() - n, kMeaningSeparator.size()) == kMeaningSeparator) {
            return value.substr(0, value.size() - n);
        }
    }
    return value;
}

bool RewriteSubFields(const FieldDef& def, const FieldExplain& explain,
                      std::span<const SubRowEdit> edits, std::string& data, bool& changed,
                      std::size_t& failedRow, std::size_t& otherRow, std::string& why) {
    changed = false;
    otherRow = SIZE_MAX;
    const SlotUnit top = def.enc == DataEnc::Bcd     ? SlotUnit::Digits
                         : def.enc == DataEnc::Ascii ? SlotUnit::Chars
                                                     : SlotUnit::HexBytes;
    std::vector<SubSlot> slots;
    CollectSlots(explain.subfields, data, 0, data.size(), top, slots);
    const std::string original = data;
    // Which edit wrote each character, so that two edits of one character must agree.
    std::vector<std::size_t> writer(data.size(), SIZE_MAX);
    for (const SubRowEdit& e : edits) {
        failedRow = e.row;
        const auto slot = std::find_if(slots.begin(), slots.end(),
                                       [&](const SubSlot& s) { return s.sf->path == e.path; });
        if (slot == slots.end()) {
            why = "no sub-field " + e.path + " in the field's data";
            return false;
        }
        const std::string_view shown = WithoutMeaning(slot->sf->values, e.value);
        if (shown == SlotShown(*slot, original)) continue;  // not edited
        const std::string_view old = std::string_view(original).substr(slot->at, slot->size);
        const std::optional<std::string> text = SlotText(*slot, shown, old, why);
        if (!text) return false;
        for (std::size_t i = 0; i < text->size(); ++i) {
            const std::size_t at = slot->at + i;
            if (writer[at] != SIZE_MAX && data[at] != (*text)[i]) {
                otherRow = writer[at];
                why = "edited differently from another row of the same data";
                return false;
            }
            data[at] = (*text)[i];
            writer[at] = e.row;
        }
        changed = true;
    }
    return true;
}

void ExplainTagRows(const FieldTable& source, FieldRowList& rows) {
    for (FieldRow& row : rows) {
        if (row.field < 0 && row.parent >= 0 && row.path.empty()) ExplainCodeTag(source, row);
    }
}
