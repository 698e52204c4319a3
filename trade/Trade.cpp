// The orbo8583 trade codec: its field table, the trade frame and the rows of a decoded message.
#include "trade/Trade.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "codec/Conversions.h"
#include "codec/Rows.h"

namespace {

struct TradeTableRow {
    int first;
    int last;
    FieldAttr attr;  // fixed, maxLen, lenBytes, format, lenFormat, inMac
};

// Every data field carries a two-byte BCD byte count before its bytes.
constexpr TradeTableRow kTradeTable[] = {
    {0, 0, {1, 2, 0, 'N', 'N', 0}},       // 0: command code, two BCD digits in one byte
    {1, 1, {1, 8, 0, 'B', 'N', 0}},       // 1: primary bitmap
    {2, 4, {0, 100, 2, 'A', 'N', 0}},     // 2-4: data
    {5, 6, {0, 260, 2, 'A', 'N', 0}},     // 5-6: data
    {7, 15, {0, 100, 2, 'A', 'N', 0}},    // 7-15: data
    {16, 16, {0, 1024, 2, 'A', 'N', 0}},  // 16: data
    {17, 40, {0, 100, 2, 'A', 'N', 0}},   // 17-40: data
    {41, 42, {0, 1024, 2, 'A', 'N', 0}},  // 41-42: data
    {43, 44, {0, 100, 2, 'A', 'N', 0}},   // 43-44: data; 45-64 stay undefined
};

}  // namespace

CtradeBase::CtradeBase() = default;
CtradeBase::~CtradeBase() = default;

std::int32_t CtradeBase::Unpack(const std::uint8_t* data, std::int32_t len) {
    // Without knowledge of the caller's buffer nothing past len is read; the bytes a last field
    // would take from beyond it count as zero.
    return UnpackWithin(data, len, len > 0 ? static_cast<std::size_t>(len) : 0);
}

std::int32_t CtradeBase::Pack(std::uint8_t* out, std::int32_t* outLen) {
    return PackMessage64(Table(), out, outLen);
}

void CtradeBase::Clear() { ClearValues(m_value); }

std::int32_t CtradeBase::UnpackField(const std::uint8_t* source, std::int32_t f,
                                     std::size_t readable) {
    if (f < 0 || f > 64) return -1;
    const auto i = static_cast<std::size_t>(f);
    return UnpackFieldValue(m_attr[i], m_value[i], m_arena, source, readable);
}

void CtradeBase::ExpandBitmap(const std::uint8_t* bitmap, std::uint8_t* list) {
    ExpandBitmap64(bitmap, list);
}

std::int32_t CtradeBase::UnpackWithin(const std::uint8_t* data, std::int32_t len,
                                      std::size_t readable) {
    return UnpackMessage64(Table(), data, len, readable);
}

std::int32_t CtradeBase::MaxPackedSize() const { return MaxPackedSize64(m_attr); }

CWebTrade::CWebTrade() {
    for (const TradeTableRow& row : kTradeTable) {
        for (int f = row.first; f <= row.last; ++f) m_attr[static_cast<std::size_t>(f)] = row.attr;
    }
    m_arena.Reserve(m_attr, m_value);
    ClearValues(m_value);
    m_value[1].length = 8;
}

bool BuildTradeFrame(const std::uint8_t* payload, std::int32_t payloadLen, std::uint8_t* frame,
                     std::int32_t* frameLen) {
    if (frame == nullptr || payloadLen < 0 || payloadLen > kMaxTradePayload) return false;
    if (payloadLen > 0 && payload == nullptr) return false;
    const std::int32_t total = payloadLen + 7;
    frame[0] = static_cast<std::uint8_t>(total & 0xFF);
    frame[1] = static_cast<std::uint8_t>(total >> 8);
    frame[2] = 0xF1;
    frame[3] = 0x00;
    frame[4] = 0x00;
    frame[5] = 0x00;
    if (payloadLen > 0) std::memcpy(frame + 6, payload, static_cast<std::size_t>(payloadLen));
    std::uint8_t check = 0;
    for (std::int32_t i = 0; i < 6 + payloadLen; ++i) check ^= frame[i];
    frame[6 + payloadLen] = check;
    if (frameLen != nullptr) *frameLen = total;
    return true;
}

std::int32_t BuildTradeRows(FieldRowList& rows, const CtradeBase& trade) {
    // The first two rows always show one command byte and eight bitmap bytes, whatever lengths
    // are stored for them; a codec without buffers shows zeros.
    std::uint8_t head[9] = {};
    const auto& cmd = trade.m_value[0].data;
    const auto& bitmap = trade.m_value[1].data;
    if (!cmd.empty()) head[0] = cmd[0];
    std::copy_n(bitmap.begin(), std::min<std::size_t>(8, bitmap.size()), head + 1);

    FieldRow& cmdRow = rows.emplace_back();
    SetRowText(cmdRow.name, "CMD");
    SetRowText(cmdRow.length, "1");
    SetHexValue(cmdRow, head, 1);

    FieldRow& bitmapRow = rows.emplace_back();
    SetRowText(bitmapRow.name, "Bit 1");
    SetRowText(bitmapRow.length, "8");
    SetHexValue(bitmapRow, head + 1, 8);

    for (const std::uint8_t f : trade.m_fieldList) {
        if (f < 2) continue;
        const FieldValue& v = trade.m_value[f];
        if (v.length <= 0) continue;
        const FieldAttr& a = trade.m_attr[f];
        // A variable field shows its data bytes only: neither the count nor the hex of its prefix.
        const std::int32_t skip = a.fixed == 1 ? 0 : std::min(a.lenBytes, v.length);
        const std::int32_t n = v.length - skip;
        FieldRow& row = rows.emplace_back();
        SetRowNumber(row.name, "Bit ", f);
        SetRowNumber(row.length, "", n);
        SetHexValue(row, v.data.data() + skip, static_cast<std::size_t>(n));
    }
    return 0;
}
