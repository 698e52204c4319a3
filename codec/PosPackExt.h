// The 128-field pack objects: faces of the engine with the built-in UnionPay 128-field form.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "codec/Engine.h"
#include "codec/FieldStore.h"

/// The 46-byte message header, byte for byte as on the wire.
struct ExtHeader {
    std::uint8_t headerField1[1];  // header length, 0x2E
    std::uint8_t headerField2[1];
    std::uint8_t headerField3[4];  // total length, 4 ASCII digits
    std::uint8_t headerField4[11];
    std::uint8_t headerField5[11];
    std::uint8_t headerField6[3];
    std::uint8_t headerField7[1];
    std::uint8_t headerField8[8];
    std::uint8_t headerField9[1];
    std::uint8_t headerField10[5];
};
static_assert(sizeof(ExtHeader) == 46);

class CPosPackExt {
public:
    CPosPackExt();
    CPosPackExt(const CPosPackExt&) = delete;  // owns its buffers; never copied
    CPosPackExt& operator=(const CPosPackExt&) = delete;
    virtual ~CPosPackExt();

    virtual bool Reserved1(std::int32_t, std::int32_t, std::int32_t) { return true; }
    virtual std::int32_t Reserved2(std::int32_t, std::int32_t) { return 0; }
    /// Bytes consumed (may exceed len: a last field is read whole, bytes past len as zero), or -1.
    [[nodiscard]] virtual std::int32_t Unpack(const std::uint8_t* data, std::int32_t len);
    /// Message type, bitmap and fields 2..127; bytes written, 0 for a null out, -1.
    [[nodiscard]] virtual std::int32_t Pack(std::uint8_t* out, std::int32_t* outLen);
    /// The MAC input text into out (kMacInputScratch bytes); its length without terminator, 0 when
    /// no field qualifies. A field that would not fit the scratch area ends the text before it.
    virtual std::int32_t BuildMacInput(std::uint8_t* out);
    virtual void Clear();

    /// Bytes taken for field f, or -1 when the table does not define it; a null source only
    /// reserves the buffer. Reads at most `readable` bytes; the rest count as zero.
    std::int32_t UnpackField(const std::uint8_t* source, std::int32_t f,
                             std::size_t readable = SIZE_MAX);
    /// Lists the set bits of the first bits/8 bytes as field numbers (bits cut to 0..128); the
    /// number of entries. list needs `bits` bytes.
    std::int32_t BitmapToFieldList(std::int32_t bits, const std::uint8_t* bitmap,
                                   std::uint8_t* list);
    /// Sets the bits of the listed fields; 0, or -1 for a bit count other than 64 or 128.
    /// Numbers above the bit count lie outside the bitmap and are ignored.
    std::int32_t FieldListToBitmap(const std::uint8_t* list, std::uint8_t* bitmap,
                                   std::int32_t bits);

    /// Unpack that reads at most `readable` bytes of data; what follows counts as zero.
    [[nodiscard]] std::int32_t UnpackWithin(const std::uint8_t* data, std::int32_t len,
                                            std::size_t readable);
    /// Upper bound of the bytes Pack writes.
    [[nodiscard]] virtual std::int32_t MaxPackedSize() const;
    /// UnpackWithin that records where a failing decoding stopped, and warnings.
    [[nodiscard]] virtual std::int32_t UnpackReporting(const std::uint8_t* data, std::int32_t len,
                                                       std::size_t readable,
                                                       const DecodeContext& ctx);

    std::array<FieldAttr, 129> m_attr{};
    std::array<std::uint8_t, 129> m_fieldList{};
    std::array<FieldValue, 129> m_value{};

protected:
    FieldSet Set() { return {m_attr, m_fieldList, m_value, m_arena}; }
    FieldBufferArena m_arena;
};

class CCupPosPackExt : public CPosPackExt {
public:
    CCupPosPackExt();

    /// Skips the 4-byte length when m_hasLengthPrefix is 1, takes the 46-byte header when the
    /// next byte is 0x2E, then decodes as CPosPackExt. Bytes consumed or -1 (also below 13 bytes).
    [[nodiscard]] std::int32_t Unpack(const std::uint8_t* data, std::int32_t len) override;
    /// Header, body and the MAC field; total bytes, 0 for a null argument, -1 on failure.
    [[nodiscard]] std::int32_t Pack(std::uint8_t* out, std::int32_t* outLen) override;
    void Clear() override;

    [[nodiscard]] std::int32_t UnpackWithin(const std::uint8_t* data, std::int32_t len,
                                            std::size_t readable);
    [[nodiscard]] std::int32_t MaxPackedSize() const override;
    [[nodiscard]] std::int32_t UnpackReporting(const std::uint8_t* data, std::int32_t len,
                                               std::size_t readable,
                                               const DecodeContext& ctx) override;

    std::uint8_t m_hasHeader = 0;
    std::uint8_t m_hasLengthPrefix = 1;
    ExtHeader m_header{};
    std::array<std::array<char, 17>, 3> m_reservedText{};
};
