// Sub-rows of TLV data (chip card data of field 55): one row per object, indented by nesting.
#include "emv/TlvRows.h"

#include <algorithm>
#include <optional>

#include "codec/Conversions.h"
#include "codec/TextDecode.h"
#include "emv/CardMask.h"
#include "emv/EmvTags.h"

namespace {

constexpr std::string_view kArrow = " -> ";

constexpr std::string_view kUnknownTag = "(未知标签)";

std::string_view UnknownTagText() {
    static const std::string text = Utf8ToGbk(kUnknownTag);
    return text;
}

// The currency of the amounts: the first 5F2A of the data.
std::int32_t CurrencyOf(std::span<const std::uint8_t> data, const TlvList& list) {
    for (const TlvObject& o : list.objects) {
        if (o.tag != 0x5F2A || o.length != 2) continue;
        const std::uint8_t* v = data.data() + o.valueOffset;
        std::int32_t n = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            const int d = (i % 2 == 0) ? v[i / 2] >> 4 : v[i / 2] & 0x0F;
            if (d > 9) return -1;
            n = n * 10 + d;
        }
        return n;
    }
    return -1;
}

// The tags whose values hold a card number, and how: 5A alone, 57 and 9F6B as track 2 data
// (packed digits), 56 as track 1 data (characters).
struct CardTag {
    CardData kind;
    bool bcd;
};
std::optional<CardTag> CardTagOf(std::uint32_t tag) {
    switch (tag) {
        case 0x5A:
            return CardTag{CardData::Pan, true};
        case 0x57:
        case 0x9F6B:
            return CardTag{CardData::Track2, true};
        case 0x56:
            return CardTag{CardData::Track1, false};
        default:
            return std::nullopt;
    }
}

// Hides, in a value text laid out as MaskValueText's, the card numbers of every object of list
// at any depth, and with a failed list every byte from where decoding stopped: those bytes may
// hold a card number that no object names. The TLV data begins at stored byte dataFrom.
void MaskTlvData(char* value, std::size_t len, MaskedValue v, std::size_t dataFrom,
                 const TlvList& list) {
    for (const TlvObject& o : list.objects) {
        const auto card = CardTagOf(o.tag);
        if (!card) continue;
        v.from = dataFrom + o.valueOffset;
        v.to = v.from + o.length;
        v.bcd = card->bcd;
        MaskValueText(value, len, v, card->kind);
    }
    if (list.Failed()) {
        v.from = dataFrom + list.error.offset;
        v.to = v.stored.size();
        HideValueText(value, len, v);
    }
}

std::string_view DeeperText() {
    static const std::string text =
        "nesting deeper than " + std::to_string(kTlvShownDepth) + " not expanded";
    return text;
}

}  // namespace

std::string_view TlvErrorRowName(std::size_t indent) {
    static const std::string name = Utf8ToGbk("          错误");  // 10 spaces at most
    const std::size_t spaces = std::min<std::size_t>(2 * indent, 10);
    return std::string_view(name).substr(10 - spaces);
}

void AppendTlvRows(FieldRowList& rows, std::vector<TlvRowNote>& notes, std::uint32_t fieldRow,
                   std::span<const std::uint8_t> data, const TlvList& list, std::size_t indent,
                   bool mask) {
    const TlvContext context{CurrencyOf(data, list), mask};
    // The hex of the whole data, card numbers hidden once: every row's hex is a piece of it, so
    // a template shows its children's card numbers as the children's rows do.
    thread_local std::string hex;
    hex.resize(2 * data.size());
    BytesToHex(data.data(), data.size(), hex.data());
    hex.resize(2 * data.size());
    if (mask) MaskTlvData(hex.data(), hex.size(), {data, 0, 0, true, 0, SIZE_MAX, 0}, 0, list);
    thread_local std::string value;
    for (const TlvObject& o : list.objects) {
        if (o.depth > kTlvShownDepth) continue;
        FieldRow& row = rows.emplace_back();
        char tag[8];
        value.assign(2 * (indent + o.depth), ' ');
        value.append(TlvTagText(o, tag));
        row.name.Assign(value);  // spaces and hex: no zero byte to look for
        SetRowNumber(row.length, "", static_cast<std::int32_t>(o.length));

        const std::span<const std::uint8_t> v = data.subspan(o.valueOffset, o.length);
        value.assign(hex, 2 * std::size_t{o.valueOffset}, 2 * std::size_t{o.length});
        value.append(kArrow);
        const EmvTag* t = FindEmvTag(o.tag);
        TlvRowNote note;
        note.row = static_cast<std::uint32_t>(rows.size() - 1);
        note.fieldRow = fieldRow;
        note.depth = o.depth;
        note.nameAt = static_cast<std::uint32_t>(value.size());
        if (t == nullptr) {
            value.append(UnknownTagText());
            note.shownName = kUnknownTag;
        } else {
            value.append(ChineseNameGbk(*t));
            note.name = t->english;
            note.shownName = t->chinese;
        }
        const std::size_t before = value.size();
        value.append(": ");
        if (o.opened && o.depth == kTlvShownDepth) {
            value.append(DeeperText());
        } else if (t != nullptr) {
            AppendTlvExplanation(value, *t, v, context);
        }
        if (value.size() == before + 2) {
            value.resize(before);
        } else {
            note.textAt = static_cast<std::uint32_t>(before + 2);
        }
        // Hex, names and explanations hold no zero byte (text values show control bytes as '.').
        row.value.Assign(value);
        notes.push_back(note);
    }
    if (list.Failed()) {
        FieldRow& row = rows.emplace_back();
        SetRowText(row.name, TlvErrorRowName(indent));
        SetRowText(row.length, "");
        value = "offset " + std::to_string(list.error.offset) + ": ";
        value.append(list.error.reason);
        SetRowText(row.value, value);
        TlvRowNote note;
        note.row = static_cast<std::uint32_t>(rows.size() - 1);
        note.fieldRow = fieldRow;
        note.error = true;
        note.offset = list.error.offset;
        note.name = list.error.reason;
        notes.push_back(note);
    }
}

void MaskTlvCardData(char* value, std::size_t len, std::span<const std::uint8_t> stored,
                     std::size_t hexFrom, std::size_t dataFrom, std::size_t textFrom,
                     const TlvList& list) {
    MaskTlvData(value, len, {stored, 0, 0, true, 0, textFrom, hexFrom}, dataFrom, list);
}

FoldedRows FoldTlvRows(const FieldRowList& rows, std::span<const TlvRowNote> notes) {
    FoldedRows out;
    std::vector<bool> sub(rows.size(), false);
    for (const TlvRowNote& n : notes) {
        if (n.row < rows.size()) sub[n.row] = true;
    }
    std::vector<std::size_t> newIndex(rows.size(), 0);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (sub[i]) continue;
        newIndex[i] = out.rows.size();
        out.rows.push_back(rows[i]);
    }
    for (const TlvRowNote& n : notes) {
        if (n.row >= rows.size() || n.fieldRow >= rows.size() || sub[n.fieldRow]) continue;
        const std::size_t at = newIndex[n.fieldRow];
        if (out.tips.empty() || out.tips.back().first != at) out.tips.emplace_back(at, "");
        std::string& tip = out.tips.back().second;
        if (!tip.empty()) tip += '\n';
        tip.append(rows[n.row].Name()).append("  ");
        tip.append(rows[n.row].Length()).append("  ");
        tip.append(rows[n.row].Value());
    }
    return out;
}
