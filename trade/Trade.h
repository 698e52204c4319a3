// The orbo8583 trade codec, its trade frame and its rows.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "codec/Engine.h"
#include "codec/FieldRow.h"
#include "codec/FieldStore.h"

/// The largest payload a trade frame carries (command byte included).
inline constexpr std::int32_t kMaxTradePayload = 2048;

/// The trade codec: a face of the engine with the built-in trade form.
class CtradeBase {
public:
    CtradeBase();
    CtradeBase(const CtradeBase&) = delete;
    CtradeBase& operator=(const CtradeBase&) = delete;
    virtual ~CtradeBase();

    virtual std::int32_t Reserved2(std::int32_t, std::int32_t) { return 0; }
    /// Payload bytes consumed, or -1. Reads no byte past len.
    [[nodiscard]] virtual std::int32_t Unpack(const std::uint8_t* data, std::int32_t len);
    /// Payload bytes written; 0 for a null out; -1 on failure. out needs MaxPackedSize() bytes.
    [[nodiscard]] virtual std::int32_t Pack(std::uint8_t* out, std::int32_t* outLen);
    virtual void Clear();

    /// Bytes taken for field f, or -1 when the table does not define it (or f is not 0..64); a
    /// null source only reserves the buffer. Reads at most `readable` bytes; the rest count as 0.
    std::int32_t UnpackField(const std::uint8_t* source, std::int32_t f,
                             std::size_t readable = SIZE_MAX);
    /// Unpack that reads at most `readable` bytes of data; what follows counts as zero, as in the
    /// zero-filled buffer of the parse command. Payload bytes consumed (may exceed len), or -1.
    [[nodiscard]] std::int32_t UnpackWithin(const std::uint8_t* data, std::int32_t len,
                                            std::size_t readable);
    /// UnpackWithin that records in ctx where and why a decoding stops; base: the offset of data
    /// in the frame, for the offsets recorded.
    [[nodiscard]] std::int32_t UnpackReporting(const std::uint8_t* data, std::int32_t len,
                                               std::size_t readable, std::int64_t base,
                                               const DecodeContext& ctx);
    /// Upper bound of the bytes Pack writes.
    [[nodiscard]] std::int32_t MaxPackedSize() const;

    std::array<FieldAttr, 65> m_attr{};
    std::array<std::uint8_t, 65> m_fieldList{};
    std::array<FieldValue, 65> m_value{};

protected:
    FieldSet Set() { return {m_attr, m_fieldList, m_value, m_arena}; }
    FieldBufferArena m_arena;
};

/// The trade codec with the trade field table: fields 2..44 defined, 45..64 not.
class CWebTrade : public CtradeBase {
public:
    CWebTrade();
};

/// The trade frame's sizes, read from the trade table's framing: the bytes in front of the
/// payload (length, marker) and behind it (the check byte).
struct TradeFrameLayout {
    std::size_t head = 0;
    std::size_t tail = 0;
};
[[nodiscard]] const TradeFrameLayout& TradeFrame();
/// Whether bytes start as a trade frame does (its length a number, its marker in place).
[[nodiscard]] bool StartsAsTradeFrame(std::span<const std::uint8_t> bytes);
/// The check byte the trade frame carries after `before` (every byte in front of it).
[[nodiscard]] std::uint8_t TradeCheckByte(std::span<const std::uint8_t> before);

/// Wraps a payload of at most kMaxTradePayload bytes: length (payload + 7, low byte first), F1,
/// three zero bytes, payload, XOR check byte. frame needs payloadLen + 7 bytes. Returns false
/// (and writes nothing) for a longer payload.
bool BuildTradeFrame(const std::uint8_t* payload, std::int32_t payloadLen, std::uint8_t* frame,
                     std::int32_t* frameLen);

/// Appends "CMD", "Bit 1" and one "Bit %d" row per present field (data bytes as hex); returns 0.
std::int32_t BuildTradeRows(FieldRowList& rows, const CtradeBase& trade);
