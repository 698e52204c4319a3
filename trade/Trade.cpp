// The orbo8583 trade codec: its field table, the trade frame and the rows of a decoded message.
#include "trade/Trade.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "codec/Conversions.h"
#include "codec/Rows.h"

namespace {

const FieldTable& Form() { return BuiltinTable(BuiltinForm::kTrade); }

}  // namespace

CtradeBase::CtradeBase() = default;
CtradeBase::~CtradeBase() = default;

std::int32_t CtradeBase::Unpack(const std::uint8_t* data, std::int32_t len) {
    // Without knowledge of the caller's buffer nothing past len is read; the bytes a last field
    // would take from beyond it count as zero.
    return UnpackWithin(data, len, len > 0 ? static_cast<std::size_t>(len) : 0);
}

std::int32_t CtradeBase::Pack(std::uint8_t* out, std::int32_t* outLen) {
    return PackBody(Form(), Set(), out, outLen);
}

void CtradeBase::Clear() { ClearValues(m_value); }

std::int32_t CtradeBase::UnpackField(const std::uint8_t* source, std::int32_t f,
                                     std::size_t readable) {
    if (f < 0 || f > 64) return -1;
    const auto i = static_cast<std::size_t>(f);
    return UnpackFieldValue(m_attr[i], m_value[i], m_arena, source, readable);
}

std::int32_t CtradeBase::UnpackWithin(const std::uint8_t* data, std::int32_t len,
                                      std::size_t readable) {
    return UnpackBody(Form(), Set(), data, len, readable, 0, DecodeContext{nullptr, len});
}

std::int32_t CtradeBase::UnpackReporting(const std::uint8_t* data, std::int32_t len,
                                         std::size_t readable, std::int64_t base,
                                         const DecodeContext& ctx) {
    return UnpackBody(Form(), Set(), data, len, readable, base, ctx);
}

std::int32_t CtradeBase::MaxPackedSize() const { return MaxBodySize(Form(), m_attr); }

CWebTrade::CWebTrade() {
    const std::vector<FieldAttr> attrs = AttrsOf(Form());
    std::copy_n(attrs.begin(), std::min(attrs.size(), m_attr.size()), m_attr.begin());
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
    // are stored for them; a codec without buffers shows zeros. A variable field shows its data
    // bytes only: neither the count nor the hex of its prefix.
    AppendBodyRows(rows, Form(), trade.m_attr, trade.m_fieldList, trade.m_value);
    return 0;
}
