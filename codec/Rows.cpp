// Rows of decoded 64-field and 128-field messages.
#include "codec/Rows.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "codec/Conversions.h"
#include "codec/PosPack.h"
#include "codec/PosPackExt.h"

namespace {

constexpr char kArrow[] = " -> ";
constexpr std::size_t kArrowChars = sizeof kArrow - 1;

// Copies the short texts of fields in 8-byte steps: cheaper than a general block copy, whose
// start-up costs more than most field texts.
void CopyShort(char* dst, const std::uint8_t* src, std::size_t n) {
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) std::memcpy(dst + i, src + i, 8);
    for (; i < n; ++i) dst[i] = static_cast<char>(src[i]);
}

// Calls fn for every entry of a present-field list that names a data field (2 and above), in
// order. Runs of eight zero entries, most of a list, are passed over in one step.
template <std::size_t N, typename Fn>
void ForEachListed(const std::array<std::uint8_t, N>& list, Fn fn) {
    std::size_t i = 0;
    while (i < N) {
        if (i + 8 <= N) {
            std::uint64_t eight;
            std::memcpy(&eight, list.data() + i, 8);
            if (eight == 0) {
                i += 8;
                continue;
            }
        }
        const std::size_t end = std::min(i + 8, N);
        for (; i < end; ++i) {
            if (list[i] >= 2) fn(list[i]);
        }
    }
}

FieldRow& NewRow(FieldRowList& rows) { return rows.emplace_back(); }

// The first n bytes of a value's buffer, zero where the buffer is shorter.
template <std::size_t N>
const std::uint8_t* FirstBytes(const FieldValue& v, std::uint8_t (&tmp)[N]) {
    static_assert(N <= 16);
    std::memset(tmp, 0, N);
    std::memcpy(tmp, v.data.data(), std::min(N, v.data.size()));
    return tmp;
}

std::size_t StoredBytes(const FieldValue& v) {
    if (v.length <= 0) return 0;
    return std::min(static_cast<std::size_t>(v.length), v.data.size());
}

void AppendFixedRow(FieldRowList& rows, std::string_view name, std::int32_t length,
                    const std::uint8_t* bytes, std::size_t n, bool withText) {
    FieldRow& row = NewRow(rows);
    SetRowText(row.name, name);
    SetRowNumber(row.length, "", length);
    SetHexValue(row, bytes, n, withText ? bytes : nullptr, withText ? n : 0);
}

}  // namespace

void SetHexValue(FieldRow& row, const std::uint8_t* bytes, std::size_t n, const std::uint8_t* text,
                 std::size_t textLen) {
    if (text == nullptr) {
        BytesToHex(bytes, n, row.value.Prepare(2 * n));
        return;
    }
    // A row text ends at a zero byte: the text part shows the bytes before the first one.
    if (const void* zero = textLen == 0 ? nullptr : std::memchr(text, 0, textLen)) {
        textLen = static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - text);
    }
    char* out = row.value.Prepare(2 * n + kArrowChars + textLen);
    BytesToHex(bytes, n, out);
    std::memcpy(out + 2 * n, kArrow, kArrowChars);
    CopyShort(out + 2 * n + kArrowChars, text, textLen);
}

std::int32_t BuildRows(FieldRowList& rows, const CCupPosPack& pack) {
    if (pack.m_hasTpdu == 1) {
        AppendFixedRow(rows, "TPDU", 5, pack.m_tpdu.data(), 5, false);
        AppendFixedRow(rows, "Header", 6, pack.m_header.data(), 6, false);
    }
    std::uint8_t tmp[8];
    // The message type shows as its four digits, so its length is a digit count.
    AppendFixedRow(rows, "Type", 4, FirstBytes(pack.m_value[0], tmp), 2, false);
    AppendFixedRow(rows, "Bit 1", 8, FirstBytes(pack.m_value[1], tmp), 8, false);

    ForEachListed(pack.m_fieldList, [&](std::uint8_t e) {
        const FieldValue& v = pack.m_value[e];
        if (v.length == 0) return;
        const FieldAttr& a = pack.m_attr[e];
        const std::uint8_t* s = v.data.data();
        const std::size_t n = StoredBytes(v);
        FieldRow& row = NewRow(rows);
        SetRowNumber(row.name, "Bit ", e);
        if (a.fixed == 1) {
            SetRowNumber(row.length, "", v.length);
            SetHexValue(row, s, n, a.format == 'A' ? s : nullptr, n);
        } else {
            // The length counts the data bytes; the hex shows the prefix too.
            SetRowNumber(row.length, "", v.length - a.lenBytes);
            const std::size_t p = std::min(n, static_cast<std::size_t>(std::max(a.lenBytes, 0)));
            SetHexValue(row, s, n, a.format == 'A' ? s + p : nullptr, n - p);
        }
    });
    return 0;
}

std::int32_t BuildRows(FieldRowList& rows, const CCupPosPackExt& pack) {
    if (pack.m_hasHeader == 1) {
        const ExtHeader& h = pack.m_header;
        AppendFixedRow(rows, "field 1", 1, h.headerField1, 1, false);
        AppendFixedRow(rows, "field 2", 1, h.headerField2, 1, false);
        AppendFixedRow(rows, "field 3", 4, h.headerField3, 4, true);
        AppendFixedRow(rows, "field 4", 11, h.headerField4, 11, true);
        AppendFixedRow(rows, "field 5", 11, h.headerField5, 11, true);
        AppendFixedRow(rows, "field 6", 3, h.headerField6, 3, false);
        AppendFixedRow(rows, "field 7", 1, h.headerField7, 1, false);
        AppendFixedRow(rows, "field 8", 8, h.headerField8, 8, true);
        AppendFixedRow(rows, "field 9", 1, h.headerField9, 1, false);
        AppendFixedRow(rows, "field 10", 5, h.headerField10, 5, true);
    }
    std::uint8_t tmp[16];
    AppendFixedRow(rows, "MsgType", 4, FirstBytes(pack.m_value[0], tmp), 4, true);
    // The bitmap row's length is 1, not its byte count: that is how the list has always shown it.
    AppendFixedRow(rows, "Bit 1", 1, FirstBytes(pack.m_value[1], tmp), 16, false);

    ForEachListed(pack.m_fieldList, [&](std::uint8_t e) {
        const FieldValue& v = pack.m_value[e];
        if (v.length == 0) return;
        const FieldAttr& a = pack.m_attr[e];
        const std::size_t n = StoredBytes(v);
        FieldRow& row = NewRow(rows);
        SetRowNumber(row.name, "Bit ", e);
        SetRowNumber(row.length, "", a.fixed == 1 ? v.length : v.length - a.lenBytes);
        // Every field shows its text part, length digits included, whatever its format.
        SetHexValue(row, v.data.data(), n, v.data.data(), n);
    });
    return 0;
}
