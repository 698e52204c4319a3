// Meanings, positional sub-rows and the summary row, built only when a decode asks for them.
#include "iso/ExplainRows.h"

#include <algorithm>
#include <charconv>
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

// A sub-row under field's row: its name ("  60.2.1", two spaces a level), length and value.
FieldRow& AppendSubRow(std::int16_t field, int depth, std::string_view path, std::int32_t length,
                       std::string_view shown, FieldRowList& out) {
    FieldRow& row = out.emplace_back();
    row.ClearKey();
    SetRowText(row.name, std::string(static_cast<std::size_t>(2 * depth), ' ').append(path));
    SetRowNumber(row.length, length);
    SetRowText(row.value, shown);
    row.parent = field;
    return row;
}

void AppendLayoutRows(const TagSpec& tag, const std::vector<SubField>& subs, std::string_view data,
                      bool digits, DataEnc dataEnc, std::int16_t field, std::string_view path,
                      int depth, FieldRowList& out, std::vector<std::string>* warnings);

// The rows below sub-field sf, over its value as its row shows it (shown) or as bytes (raw).
void AppendInnerRows(const SubField& sf, bool digits, std::string_view raw, std::string_view shown,
                     std::int16_t field, int depth, FieldRowList& out,
                     std::vector<std::string>* warnings) {
    if (sf.subfields.empty() && !sf.inner.Tagged()) return;
    // A nested slice of packed digits is read as its digits.
    const bool nestedDigits = digits || sf.enc == DataEnc::Bcd;
    AppendLayoutRows(sf.inner, sf.subfields, nestedDigits && !digits ? shown : raw, nestedDigits,
                     sf.enc, field, sf.path, depth + 1, out, warnings);
}

// Appends the rows of positional sub-fields over data: digits of a BCD field, bytes otherwise.
// Data ends where it ends: the sub-fields after it are absent.
void AppendSubRows(const std::vector<SubField>& subs, std::string_view data, bool digits,
                   std::int16_t field, int depth, FieldRowList& out,
                   std::vector<std::string>* warnings) {
    std::size_t at = 0;
    for (const SubField& sf : subs) {
        if (at >= data.size()) break;
        const std::size_t units = static_cast<std::size_t>(std::max(sf.length, 0));
        const std::size_t take = !digits && sf.enc == DataEnc::Bcd ? (units + 1) / 2 : units;
        const std::string_view slice = data.substr(at, take);
        at += slice.size();
        const std::string shown = ShowSlice(sf.enc, digits, slice, sf.length);
        FieldRow& row = AppendSubRow(
            field, depth, sf.path,
            static_cast<std::int32_t>(!digits && sf.enc == DataEnc::Bcd
                                          ? std::min(units, 2 * slice.size())
                                          : slice.size()),
            shown, out);
        row.title = sf.name;
        row.path = sf.path;
        if (const std::string_view m = MeaningOf(sf.values, shown); !m.empty()) {
            AppendMeaning(row, m);
        }
        AppendInnerRows(sf, digits, slice, shown, field, depth, out, warnings);
    }
}

// One tagged value found in a field's data (units: digits, or bytes).
struct TaggedItem {
    const SubField* sf = nullptr;  // null: a tag the layout does not list
    std::string tag;               // as its row shows it
    DataEnc enc = DataEnc::Ascii;  // how the value shows
    std::size_t at = 0;            // where the tag starts
    std::size_t prefixAt = 0;      // where its length starts (the value, for a fixed one)
    std::size_t valueAt = 0;       // where the value starts
    std::size_t valueSize = 0;     // units of the value
    std::size_t stated = 0;        // its length as stated (digits of packed BCD)
};

// The tagged values of data, in order. problem says why the rest could not be read (empty
// when all of it was).
std::vector<TaggedItem> CutTagged(const TagSpec& spec, const std::vector<SubField>& subs,
                                  std::string_view data, bool digits, DataEnc dataEnc,
                                  std::string& problem) {
    std::vector<TaggedItem> items;
    problem.clear();
    const auto width = static_cast<std::size_t>(spec.length);
    std::size_t at = 0;
    while (at < data.size()) {
        TaggedItem item;
        item.at = at;
        // The tag, as its row shows it.
        const std::size_t tagUnits = digits || spec.enc != DataEnc::Bcd ? width : (width + 1) / 2;
        if (data.size() - at < tagUnits) {
            problem = std::to_string(data.size() - at) + (digits ? " digits" : " bytes") +
                      " after the last value are too few for a tag";
            break;
        }
        const std::string_view tagSlice = data.substr(at, tagUnits);
        item.tag = digits || spec.enc == DataEnc::Ascii
                       ? std::string(tagSlice)
                       : Hex(reinterpret_cast<const std::uint8_t*>(tagSlice.data()), tagUnits);
        if (!digits && spec.enc == DataEnc::Bcd) item.tag.resize(width);
        if (!digits && spec.enc == DataEnc::Ascii &&
            !std::all_of(item.tag.begin(), item.tag.end(),
                         [](char c) { return c > ' ' && c < 0x7F; })) {
            problem = "bytes " + Hex(reinterpret_cast<const std::uint8_t*>(tagSlice.data()), tagUnits) +
                      " are not a tag";
            break;
        }
        for (const SubField& sf : subs) {
            if (sf.tag == item.tag) item.sf = &sf;
        }
        bool fixed = false;
        std::int32_t prefixBytes = spec.prefixBytes;
        PrefixEnc prefixEnc = spec.prefixEnc;
        item.enc = digits ? DataEnc::Bcd : dataEnc;
        if (item.sf != nullptr) {
            fixed = item.sf->fixed;
            prefixBytes = item.sf->prefixBytes;
            prefixEnc = item.sf->prefixEnc;
            item.enc = digits ? DataEnc::Bcd : item.sf->enc;
        } else if (prefixBytes == 0) {
            problem = "tag " + item.tag + " is not in the table, which gives no length to read past it";
            break;
        }
        std::size_t p = at + tagUnits;
        item.prefixAt = p;
        std::size_t stated = 0;
        if (fixed) {
            stated = static_cast<std::size_t>(std::max(item.sf->length, 0));
        } else {
            const auto n = static_cast<std::size_t>(prefixBytes);
            const std::size_t prefixUnits = digits && prefixEnc == PrefixEnc::Bcd ? 2 * n : n;
            if (data.size() - p < prefixUnits) {
                problem = "tag " + item.tag + ": its length is cut off";
                break;
            }
            const std::string_view pre = data.substr(p, prefixUnits);
            std::string number;
            if (prefixEnc == PrefixEnc::Binary && !digits) {
                for (char c : pre) stated = 256 * stated + static_cast<std::uint8_t>(c);
            } else {
                number = digits || prefixEnc == PrefixEnc::Ascii
                             ? std::string(pre)
                             : Hex(reinterpret_cast<const std::uint8_t*>(pre.data()), pre.size());
                if (!std::all_of(number.begin(), number.end(), IsDecimalDigit)) {
                    problem = "tag " + item.tag + ": its length \"" + number + "\" is not a number";
                    break;
                }
                for (char c : number) stated = 10 * stated + static_cast<std::size_t>(c - '0');
            }
            p += prefixUnits;
        }
        const std::size_t valueUnits = !digits && item.enc == DataEnc::Bcd ? (stated + 1) / 2 : stated;
        if (data.size() - p < valueUnits) {
            problem = "tag " + item.tag + ": its length states " + std::to_string(stated) + ", " +
                      std::to_string(data.size() - p) + " follow";
            break;
        }
        item.valueAt = p;
        item.valueSize = valueUnits;
        item.stated = stated;
        items.push_back(std::move(item));
        at = p + valueUnits;
    }
    return items;
}

// A text as a row carries it: up to its first zero byte.
std::string_view AsRowShows(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

// A tagged value as its row shows it.
std::string ShowTagged(const TaggedItem& item, std::string_view data, bool digits) {
    const std::string_view value = data.substr(item.valueAt, item.valueSize);
    return ShowSlice(item.enc, digits, value, static_cast<std::int32_t>(item.stated));
}

// Appends the rows of tagged sub-fields over data, in the order the data gives them. What
// cannot be read is one last row holding the rest, with a warning saying why.
void AppendTaggedRows(const TagSpec& spec, const std::vector<SubField>& subs, std::string_view data,
                      bool digits, DataEnc dataEnc, std::int16_t field, std::string_view path,
                      int depth, FieldRowList& out, std::vector<std::string>* warnings) {
    std::string problem;
    const std::vector<TaggedItem> items = CutTagged(spec, subs, data, digits, dataEnc, problem);
    std::size_t end = 0;
    for (const TaggedItem& item : items) {
        const std::string shown = ShowTagged(item, data, digits);
        FieldRow& row = AppendSubRow(field, depth, std::string(path) + "." + item.tag,
                                     static_cast<std::int32_t>(item.stated), shown, out);
        if (item.sf != nullptr) {
            row.title = item.sf->name;
            row.path = item.sf->path;
            if (const std::string_view m = MeaningOf(item.sf->values, shown); !m.empty()) {
                AppendMeaning(row, m);
            }
            AppendInnerRows(*item.sf, digits, data.substr(item.valueAt, item.valueSize), shown,
                            field, depth, out, warnings);
        }
        end = item.valueAt + item.valueSize;
    }
    if (problem.empty()) return;
    const std::string_view rest = data.substr(end);
    AppendSubRow(field, depth, std::string(path) + ".?",
                 static_cast<std::int32_t>(rest.size()),
                 ShowSlice(digits ? DataEnc::Bcd : dataEnc == DataEnc::Ascii ? DataEnc::Ascii
                                                                            : DataEnc::Binary,
                           digits, rest, static_cast<std::int32_t>(rest.size())),
                 out);
    if (warnings != nullptr) {
        warnings->push_back("field " + std::string(path) + ": " + problem +
                            "; the rest is shown whole in row \"" + std::string(path) + ".?\"");
    }
}

void AppendLayoutRows(const TagSpec& tag, const std::vector<SubField>& subs, std::string_view data,
                      bool digits, DataEnc dataEnc, std::int16_t field, std::string_view path,
                      int depth, FieldRowList& out, std::vector<std::string>* warnings) {
    if (tag.Tagged()) {
        AppendTaggedRows(tag, subs, data, digits, dataEnc, field, path, depth, out, warnings);
    } else {
        AppendSubRows(subs, data, digits, field, depth, out, warnings);
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

// The sub-rows of field f, whose value is text as FieldValueText gives it.
void AppendFieldSubRows(const FieldDef& def, SubLayout layout, const std::string& text,
                        std::int16_t f, FieldRowList& out, std::vector<std::string>* warnings) {
    const bool digits = def.enc == DataEnc::Bcd;
    const std::string raw = def.enc == DataEnc::Binary ? HexToRaw(text) : std::string();
    AppendLayoutRows(*layout.tag, *layout.subfields, def.enc == DataEnc::Binary ? raw : text,
                     digits, def.enc, f, std::to_string(f), 1, out, warnings);
}

// The value a layout test reads: a field's ("62", "0" the message type), or a sub-field's as its
// row shows it ("60.3"), without its meaning. Empty when absent.
std::string TestValue(const FieldTable& table, const FieldTable& source,
                      std::span<const FieldValue> values, std::string_view key, int depth) {
    const std::string_view head = key.substr(0, key.find('.'));
    std::size_t f = 0;
    const auto res = std::from_chars(head.data(), head.data() + head.size(), f);
    if (res.ec != std::errc() || f >= values.size() || f >= table.fields.size()) return {};
    const std::string text = FieldValueText(table.fields[f], values[f]);
    if (head.size() == key.size()) return text;
    // A sub-field: its field's rows, with the layout the message chooses (one level of such
    // choices deep, so that two layouts naming each other end).
    if (f >= source.fields.size() || source.fields[f].explain == nullptr || depth > 1 ||
        text.empty()) {
        return {};
    }
    FieldRowList rows;
    AppendFieldSubRows(table.fields[f],
                       ChooseSubLayout(table, source, values, f, depth + 1), text,
                       static_cast<std::int16_t>(f), rows, nullptr);
    for (const FieldRow& row : rows) {
        std::string_view name = row.Name();
        name.remove_prefix(std::min(name.size(), name.find_first_not_of(' ')));
        if (name != key) continue;
        std::string_view v = row.Value();
        if (!row.meaning.empty()) {
            v.remove_suffix(std::min(v.size(), row.meaning.size() + kMeaningSeparator.size()));
        }
        return std::string(v);
    }
    return {};
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

SubLayout ChooseSubLayout(const FieldTable& table, const FieldTable& source,
                          std::span<const FieldValue> values, std::size_t field, int depth) {
    const FieldExplain& explain = *source.fields[field].explain;
    for (const ConditionalLayout& layout : explain.layouts) {
        const bool holds =
            std::all_of(layout.when.begin(), layout.when.end(), [&](const LayoutTest& test) {
                const std::string v = TestValue(table, source, values, test.key, depth);
                return std::any_of(test.prefixes.begin(), test.prefixes.end(),
                                   [&](const std::string& p) {
                                       return !v.empty() && v.starts_with(p);
                                   });
            });
        if (holds) return SubLayout{&layout.tag, &layout.subfields};
    }
    return SubLayout{&explain.tag, &explain.subfields};
}

void ExplainRows(const FieldTable& table, const FieldTable& source,
                 std::span<const FieldValue> values, bool mask, FieldRowList& rows,
                 std::vector<std::string>* warnings) {
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
        if (explain->HasSubFields() && !value.empty()) {
            AppendFieldSubRows(def, ChooseSubLayout(table, source, values, f), value, row.field,
                               out, warnings);
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
        if (!sf.subfields.empty() && !sf.inner.Tagged() && slot.unit != SlotUnit::CharsPacked) {
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

namespace {

bool RewriteLayout(DataEnc unitEnc, const TagSpec& tag, const std::vector<SubField>& subs,
                   std::string_view path, std::span<const SubRowEdit> edits, std::string& data,
                   bool& changed, std::size_t& failedRow, std::size_t& otherRow, std::string& why);

// An edit shorter than its slot's width, filled with the sub-field's pad on its side.
void PadToSlot(const SubField& sf, std::size_t width, std::string& shown) {
    if (sf.padChar == '\0' || shown.size() >= width) return;
    shown.insert(sf.padSide == PadSide::Left ? 0 : shown.size(), width - shown.size(), sf.padChar);
}

bool RewritePositional(DataEnc unitEnc, const std::vector<SubField>& subs,
                       std::span<const SubRowEdit> edits, std::string& data, bool& changed,
                       std::size_t& failedRow, std::size_t& otherRow, std::string& why) {
    const SlotUnit top = unitEnc == DataEnc::Bcd     ? SlotUnit::Digits
                         : unitEnc == DataEnc::Ascii ? SlotUnit::Chars
                                                     : SlotUnit::HexBytes;
    std::vector<SubSlot> slots;
    CollectSlots(subs, data, 0, data.size(), top, slots);
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
        const std::string now = SlotShown(*slot, original);
        std::string shown(WithoutMeaning(slot->sf->values, e.value));
        if (shown == AsRowShows(now)) continue;  // not edited
        PadToSlot(*slot->sf, now.size(), shown);
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

// A tagged value's length as its prefix writes it, or nullopt when the prefix cannot state it.
std::optional<std::string> LengthPrefix(std::size_t stated, std::int32_t prefixBytes,
                                        PrefixEnc enc, bool digits) {
    const auto n = static_cast<std::size_t>(std::max(prefixBytes, 0));
    if (enc == PrefixEnc::Binary && !digits) {
        if (n < sizeof(std::size_t) && stated >> (8 * n) != 0) return std::nullopt;
        std::string out(n, '\0');
        for (std::size_t i = 0; i < n; ++i) {
            out[n - 1 - i] = static_cast<char>((stated >> (8 * i)) & 0xFF);
        }
        return out;
    }
    const std::size_t width = enc == PrefixEnc::Bcd ? 2 * n : n;
    std::string number = std::to_string(stated);
    if (number.size() > width) return std::nullopt;
    number.insert(0, width - number.size(), '0');
    if (enc == PrefixEnc::Bcd && !digits) return HexToRaw(number);
    return number;
}

// How a tagged value's shown text reads in the units of its data; nullopt with why when it
// does not fit the sub-field.
std::optional<std::string> TaggedUnits(const TaggedItem& item, std::string_view shown,
                                       bool digits, std::size_t& stated, std::string& why) {
    const bool hex = digits || item.enc != DataEnc::Ascii;
    if (hex && !AllHex(shown)) {
        why = item.enc == DataEnc::Binary ? "takes hex digits only" : "takes digits only";
        return std::nullopt;
    }
    std::string units(shown);
    stated = shown.size();
    if (!digits && item.enc == DataEnc::Binary) {
        if (shown.size() % 2 != 0) {
            why = "takes whole bytes: an even count of hex digits";
            return std::nullopt;
        }
        units = HexToRaw(shown);
        stated = units.size();
    } else if (!digits && item.enc == DataEnc::Bcd) {
        if (units.size() % 2 != 0) units += '0';
        units = HexToRaw(units);
    }
    if (item.sf != nullptr && item.sf->fixed &&
        stated != static_cast<std::size_t>(std::max(item.sf->length, 0))) {
        why = "takes " + std::to_string(item.sf->length) +
              (item.enc == DataEnc::Bcd ? " digits" : " bytes") + ", not " + std::to_string(stated);
        return std::nullopt;
    }
    if (item.sf != nullptr && !item.sf->fixed && item.sf->length > 0 &&
        stated > static_cast<std::size_t>(item.sf->length)) {
        why = "takes at most " + std::to_string(item.sf->length) + ", not " + std::to_string(stated);
        return std::nullopt;
    }
    return units;
}

// The shown text of a tagged value's sub-fields read in, and back.
DataEnc InnerUnits(const TaggedItem& item, bool digits) {
    return digits ? DataEnc::Bcd : item.enc;
}

bool RewriteTagged(DataEnc unitEnc, const TagSpec& tag, const std::vector<SubField>& subs,
                   std::string_view path, std::span<const SubRowEdit> edits, std::string& data,
                   bool& changed, std::size_t& failedRow, std::size_t& otherRow,
                   std::string& why) {
    const bool digits = unitEnc == DataEnc::Bcd;
    const std::string units = unitEnc == DataEnc::Binary ? HexToRaw(data) : data;
    std::string problem;
    const std::vector<TaggedItem> items = CutTagged(tag, subs, units, digits, unitEnc, problem);
    const std::size_t end = items.empty() ? 0 : items.back().valueAt + items.back().valueSize;
    const auto itemPath = [&](const TaggedItem& item) {
        return std::string(path) + "." + item.tag;
    };
    struct Change {
        std::optional<std::string> value;  // the new value, in units
        std::size_t stated = 0;
        std::size_t row = SIZE_MAX;
        std::vector<SubRowEdit> nested;
    };
    std::vector<Change> changes(items.size());
    std::vector<std::string> paths;  // of the edits of whole values so far
    std::size_t last = SIZE_MAX;     // the value the last of them named
    for (const SubRowEdit& e : edits) {
        failedRow = e.row;
        if (e.path == std::string(path) + ".?") {
            const DataEnc restEnc = digits ? DataEnc::Bcd
                                    : unitEnc == DataEnc::Ascii ? DataEnc::Ascii
                                                                : DataEnc::Binary;
            const std::string_view rest = std::string_view(units).substr(end);
            if (e.value == AsRowShows(ShowSlice(restEnc, digits, rest,
                                                static_cast<std::int32_t>(rest.size())))) {
                continue;
            }
            why = "what could not be read as tagged values is shown only, edit the field's row";
            return false;
        }
        // A tag may come more than once: the k-th row of a path is the k-th value with it, and
        // the rows below a value follow its row.
        std::size_t i = items.size();
        bool nested = false;
        if (last < items.size() && e.path.starts_with(itemPath(items[last]) + ".")) {
            i = last;
            nested = true;
        } else {
            std::size_t skip = static_cast<std::size_t>(std::count(paths.begin(), paths.end(), e.path));
            paths.push_back(e.path);
            for (std::size_t k = 0; k < items.size(); ++k) {
                const std::string p = itemPath(items[k]);
                const bool direct = e.path == p;
                if (!direct && !e.path.starts_with(p + ".")) continue;
                if (skip-- != 0) continue;
                i = k;
                nested = !direct;
                break;
            }
            if (!nested) last = i;
        }
        if (i == items.size()) {
            why = "no sub-field " + e.path + " in the field's data";
            return false;
        }
        const TaggedItem& item = items[i];
        if (nested) {
            changes[i].nested.push_back(e);
            continue;
        }
        const std::string_view shown =
            item.sf != nullptr ? WithoutMeaning(item.sf->values, e.value) : std::string_view(e.value);
        if (shown == AsRowShows(ShowTagged(item, units, digits))) continue;  // not edited
        std::string padded(shown);
        if (item.sf != nullptr && item.sf->fixed) {
            const auto units = static_cast<std::size_t>(std::max(item.sf->length, 0));
            PadToSlot(*item.sf, !digits && item.enc == DataEnc::Binary ? 2 * units : units, padded);
        }
        std::size_t stated = 0;
        auto value = TaggedUnits(item, padded, digits, stated, why);
        if (!value) return false;
        changes[i].value = std::move(value);
        changes[i].stated = stated;
        changes[i].row = e.row;
    }
    bool any = false;
    for (std::size_t i = 0; i < items.size(); ++i) {
        Change& c = changes[i];
        const TaggedItem& item = items[i];
        if (!c.nested.empty()) {
            if (item.sf == nullptr || (item.sf->subfields.empty() && !item.sf->inner.Tagged())) {
                failedRow = c.nested.front().row;
                why = "no sub-field " + c.nested.front().path + " in the field's data";
                return false;
            }
            const DataEnc inner = InnerUnits(item, digits);
            std::string text = ShowTagged(item, units, digits);
            const std::string before = text;
            bool innerChanged = false;
            if (!RewriteLayout(inner, item.sf->inner, item.sf->subfields, item.sf->path, c.nested,
                               text, innerChanged, failedRow, otherRow, why)) {
                return false;
            }
            if (innerChanged) {
                if (c.value) {
                    std::size_t stated = 0;
                    std::string ignored;
                    const auto mine = TaggedUnits(item, text, digits, stated, ignored);
                    if (!mine || *mine != *c.value) {
                        failedRow = c.nested.front().row;
                        otherRow = c.row;
                        why = "edited differently from another row of the same data";
                        return false;
                    }
                } else {
                    c.value = TaggedUnits(item, text, digits, c.stated, why);
                    if (!c.value) return false;
                }
            }
        }
        if (!c.value) continue;
        any = true;
    }
    if (!any) return true;
    std::string out;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const TaggedItem& item = items[i];
        const Change& c = changes[i];
        if (!c.value) {
            out.append(units, item.at, item.valueAt + item.valueSize - item.at);
            continue;
        }
        out.append(units, item.at, item.prefixAt - item.at);
        if (item.prefixAt != item.valueAt) {
            const std::int32_t bytes = item.sf != nullptr ? item.sf->prefixBytes : tag.prefixBytes;
            const PrefixEnc enc = item.sf != nullptr ? item.sf->prefixEnc : tag.prefixEnc;
            const auto prefix = LengthPrefix(c.stated, bytes, enc, digits);
            if (!prefix) {
                failedRow = c.row != SIZE_MAX ? c.row : c.nested.front().row;
                why = "a length of " + std::to_string(c.stated) + " does not fit its prefix";
                return false;
            }
            out += *prefix;
        }
        out += *c.value;
    }
    out.append(units, end, std::string::npos);
    data = unitEnc == DataEnc::Binary
               ? Hex(reinterpret_cast<const std::uint8_t*>(out.data()), out.size())
               : out;
    changed = true;
    return true;
}

bool RewriteLayout(DataEnc unitEnc, const TagSpec& tag, const std::vector<SubField>& subs,
                   std::string_view path, std::span<const SubRowEdit> edits, std::string& data,
                   bool& changed, std::size_t& failedRow, std::size_t& otherRow,
                   std::string& why) {
    if (tag.Tagged()) {
        return RewriteTagged(unitEnc, tag, subs, path, edits, data, changed, failedRow, otherRow,
                             why);
    }
    return RewritePositional(unitEnc, subs, edits, data, changed, failedRow, otherRow, why);
}

}  // namespace

bool RewriteSubFields(const FieldDef& def, std::int32_t field, SubLayout layout,
                      std::span<const SubRowEdit> edits, std::string& data, bool& changed,
                      std::size_t& failedRow, std::size_t& otherRow, std::string& why) {
    changed = false;
    otherRow = SIZE_MAX;
    return RewriteLayout(def.enc, *layout.tag, *layout.subfields, std::to_string(field), edits,
                         data, changed, failedRow, otherRow, why);
}

void ExplainTagRows(const FieldTable& source, FieldRowList& rows) {
    for (FieldRow& row : rows) {
        if (row.field < 0 && row.parent >= 0 && row.path.empty()) ExplainCodeTag(source, row);
    }
}
