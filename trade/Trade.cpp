// The orbo8583 trade codec: its field table, the trade frame and the rows of a decoded message.
#include "trade/Trade.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "codec/Conversions.h"
#include "codec/FrameCut.h"
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

const TradeFrameLayout& TradeFrame() {
    static const TradeFrameLayout layout = [] {
        TradeFrameLayout l;
        for (const FramePart& part : Form().frame) l.head += static_cast<std::size_t>(part.bytes);
        for (const FramePart& part : Form().trailer) l.tail += static_cast<std::size_t>(part.bytes);
        return l;
    }();
    return layout;
}

bool StartsAsTradeFrame(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= TradeFrame().head &&
           FramingFits(Form(), bytes.first(TradeFrame().head));
}

std::uint8_t TradeCheckByte(std::span<const std::uint8_t> before) {
    std::vector<std::uint8_t> frame(before.begin(), before.end());
    frame.resize(before.size() + TradeFrame().tail);
    WriteTrailer(Form(), frame.data(), before.size());
    return frame[before.size()];
}

bool BuildTradeFrame(const std::uint8_t* payload, std::int32_t payloadLen, std::uint8_t* frame,
                     std::int32_t* frameLen) {
    if (frame == nullptr || payloadLen < 0 || payloadLen > kMaxTradePayload) return false;
    if (payloadLen > 0 && payload == nullptr) return false;
    // The frame is the trade table's: its parts in front, the payload, its trailer.
    const FieldTable& form = Form();
    std::size_t head = 0;
    for (const FramePart& part : form.frame) head += static_cast<std::size_t>(part.bytes);
    if (payloadLen > 0) std::memcpy(frame + head, payload, static_cast<std::size_t>(payloadLen));
    const std::size_t body = head + static_cast<std::size_t>(payloadLen);
    std::size_t trailer = 0;
    for (const FramePart& part : form.trailer) trailer += static_cast<std::size_t>(part.bytes);
    const auto total = static_cast<std::int64_t>(body + trailer);
    std::size_t at = 0;
    for (const FramePart& part : form.frame) {
        if (part.kind == FramePartKind::Length) {
            WriteLengthPart(part, frame + at,
                            part.countsItself ? total - static_cast<std::int64_t>(at)
                                              : total - static_cast<std::int64_t>(at) - part.bytes);
        } else {
            std::memcpy(frame + at, part.packDefault.data(), part.packDefault.size());
        }
        at += static_cast<std::size_t>(part.bytes);
    }
    WriteTrailer(form, frame, body);
    if (frameLen != nullptr) *frameLen = static_cast<std::int32_t>(total);
    return true;
}

std::int32_t BuildTradeRows(FieldRowList& rows, const CtradeBase& trade) {
    // The first two rows always show one command byte and eight bitmap bytes, whatever lengths
    // are stored for them; a codec without buffers shows zeros. A variable field shows its data
    // bytes only: neither the count nor the hex of its prefix.
    AppendBodyRows(rows, Form(), trade.m_attr, trade.m_fieldList, trade.m_value);
    return 0;
}
