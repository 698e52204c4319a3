// The 64-field pack objects: faces of the engine with the built-in UnionPay 64-field form.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "codec/Engine.h"
#include "codec/FieldStore.h"

class CPosPack {
public:
    CPosPack();
    CPosPack(const CPosPack&) = delete;  // owns its buffers; never copied
    CPosPack& operator=(const CPosPack&) = delete;
    virtual ~CPosPack();

    virtual bool Reserved1(std::int32_t, std::int32_t, std::int32_t) { return true; }
    virtual std::int32_t Reserved2(std::int32_t, std::int32_t) { return 0; }
    /// Bytes consumed (may exceed len: a last field is read whole, bytes past len as zero), or -1.
    [[nodiscard]] virtual std::int32_t Unpack(const std::uint8_t* data, std::int32_t len);
    /// Bytes written; 0 when out is null; -1 on failure. out needs MaxPackedSize() bytes.
    [[nodiscard]] virtual std::int32_t Pack(std::uint8_t* out, std::int32_t* outLen);
    virtual void Clear();

    /// Bytes taken for field f, or -1 when the table does not define it; a null source only
    /// reserves the buffer. Reads at most `readable` bytes; the rest count as zero.
    std::int32_t UnpackField(const std::uint8_t* source, std::int32_t f,
                             std::size_t readable = SIZE_MAX);

    /// Unpack that reads at most `readable` bytes of data; what follows counts as zero.
    [[nodiscard]] std::int32_t UnpackWithin(const std::uint8_t* data, std::int32_t len,
                                            std::size_t readable);
    /// Upper bound of the bytes Pack writes.
    [[nodiscard]] virtual std::int32_t MaxPackedSize() const;
    /// UnpackWithin that records where a failing decoding stopped, and warnings.
    [[nodiscard]] virtual std::int32_t UnpackReporting(const std::uint8_t* data, std::int32_t len,
                                                       std::size_t readable,
                                                       const DecodeContext& ctx);

    std::array<FieldAttr, 65> m_attr{};
    std::array<std::uint8_t, 65> m_fieldList{};
    std::array<FieldValue, 65> m_value{};

protected:
    FieldSet Set() { return {m_attr, m_fieldList, m_value, m_arena}; }
    FieldBufferArena m_arena;
};

class CCupPosPack : public CPosPack {
public:
    CCupPosPack();

    /// Skips the 2-byte length when m_hasLengthPrefix is 1, takes TPDU and header when both start
    /// with the nibble 6, then decodes as CPosPack. Bytes consumed or -1 (also below 13 bytes).
    [[nodiscard]] std::int32_t Unpack(const std::uint8_t* data, std::int32_t len) override;
    /// Length, TPDU, header, body and the MAC placeholder; total bytes, 0 for a null argument, -1.
    [[nodiscard]] std::int32_t Pack(std::uint8_t* out, std::int32_t* outLen) override;
    void Clear() override;

    [[nodiscard]] std::int32_t UnpackWithin(const std::uint8_t* data, std::int32_t len,
                                            std::size_t readable);
    [[nodiscard]] std::int32_t MaxPackedSize() const override;
    [[nodiscard]] std::int32_t UnpackReporting(const std::uint8_t* data, std::int32_t len,
                                               std::size_t readable,
                                               const DecodeContext& ctx) override;

    std::uint8_t m_hasTpdu = 0;
    std::uint8_t m_hasLengthPrefix = 1;
    std::array<std::uint8_t, 7> m_header{};  // 6 bytes and a terminator
    std::array<std::uint8_t, 6> m_tpdu{};    // 5 bytes and a terminator
    std::array<std::array<char, 17>, 3> m_reservedText{};
};
