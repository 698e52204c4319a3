// The message model: a table, its field values and its frame parts, decoded and encoded by the
// one engine. Commands hold a Message; rows are a view of it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "codec/Engine.h"
#include "codec/FieldRow.h"
#include "codec/FieldStore.h"
#include "codec/FieldTable.h"

/// Whether an encoding step worked, and why not.
struct EncodeStatus {
    bool ok = true;
    std::string reason;  ///< English, one phrase, naming the field ("field 3: …")

    static EncodeStatus Refused(std::string why) { return {false, std::move(why)}; }
};

/// Field f's stored bytes (length prefix included) from its data bytes, exactly as unpacking
/// field f would take them: `units` is the data's length as the prefix counts it (digits for BCD
/// data, whose odd count carries a pad nibble already in place; bytes otherwise); -1: taken from
/// the bytes (two digits a byte for BCD). A fixed field takes exactly its size; a variable one at
/// most its maximum, in a prefix that can state it.
[[nodiscard]] EncodeStatus EncodeFieldValue(const FieldDef& def, std::int32_t field,
                                            std::span<const std::uint8_t> data,
                                            std::int32_t units, std::vector<std::uint8_t>& out);

/// How value texts become data (EncodeFieldText).
struct TextRules {
    bool padFixed = true;      ///< fixed fields: BCD and digits with leading zeros, text with spaces
    bool lettersInBcd = false;  ///< hex letters allowed in a BCD field (its digits as they stand)
};

/// Field f's stored bytes from a value text: digits for packed BCD (padded by the field's pad
/// side and nibble), characters for text, hex digits for binary.
[[nodiscard]] EncodeStatus EncodeFieldText(const FieldDef& def, std::int32_t field,
                                           std::string_view text, const TextRules& rules,
                                           std::vector<std::uint8_t>& out);

/// How Message::Encode writes the message.
struct EncodeOptions {
    bool withLength = true;   ///< write the Length part (when the table has one)
    bool onlyGivenParts = false;  ///< frame parts only where values were set, no defaults
    bool macAsStored = false;  ///< the MAC field as stored, whatever the table's MAC rule
};

/// A message of one form. The table must outlive the message; buffers are sized from it.
class Message {
public:
    explicit Message(const FieldTable& table);
    Message(const Message&) = delete;
    Message& operator=(const Message&) = delete;
    ~Message();

    [[nodiscard]] const FieldTable& Table() const { return *m_table; }
    /// Number of fields: bitmap bits + 1.
    [[nodiscard]] std::size_t FieldCount() const { return m_values.size(); }

    /// Every field and frame part absent.
    void Clear();

    /// Decodes bytes (framing by lengthRule), the message's first len bytes; readable bytes may
    /// be read (an odd digit's byte past len), the rest counts as zero. Bytes consumed or -1,
    /// with failure and warnings in ctx.
    [[nodiscard]] std::int32_t Decode(const std::uint8_t* bytes, std::int32_t len,
                                      std::size_t readable, LengthRule lengthRule,
                                      const DecodeContext& ctx);
    /// Framing found by the last Decode.
    [[nodiscard]] const FrameFound& Found() const { return m_found; }

    [[nodiscard]] bool Has(std::int32_t f) const;
    /// Field f's stored bytes, length prefix included (empty: absent).
    [[nodiscard]] std::span<const std::uint8_t> Stored(std::int32_t f) const;
    /// Field f's data bytes, without the prefix.
    [[nodiscard]] std::span<const std::uint8_t> Data(std::int32_t f) const;
    /// Sets field f from data bytes (see EncodeFieldValue).
    EncodeStatus Set(std::int32_t f, std::span<const std::uint8_t> data, std::int32_t units = -1);
    /// Sets field f from a value text (see EncodeFieldText).
    EncodeStatus SetText(std::int32_t f, std::string_view text, const TextRules& rules = {});
    /// Sets field f from stored bytes that already carry their prefix; refused unless unpacking
    /// the field would take exactly them.
    EncodeStatus SetStored(std::int32_t f, std::span<const std::uint8_t> stored);
    void Clear(std::int32_t f);
    /// Fields present, in order (2 and above).
    [[nodiscard]] std::vector<std::int32_t> Present() const;

    /// Frame part i's bytes (empty: not there).
    [[nodiscard]] std::span<const std::uint8_t> Part(std::size_t i) const;
    /// Sets frame part i (its width: shorter bytes are zero-filled, longer ones refused).
    EncodeStatus SetPart(std::size_t i, std::span<const std::uint8_t> bytes);
    void ClearPart(std::size_t i);

    /// Packs framing, bitmap and fields by the table's pack rules.
    EncodeStatus Encode(std::vector<std::uint8_t>& out, const EncodeOptions& options = {});

    /// Appends the rows of the frame parts present, the type, bitmap and field rows.
    void AppendRows(RowAppender& rows) const;

    /// The engine's view of the values (for faces and tools that work on the engine directly).
    [[nodiscard]] FieldSet Fields() { return {Attrs(), m_fieldList, m_values, m_arena}; }
    [[nodiscard]] std::span<const FieldAttr> Attrs() const { return m_records->attrs; }
    [[nodiscard]] std::span<const FieldValue> Values() const { return m_values; }

private:
    [[nodiscard]] bool Defined(std::int32_t f) const;
    void Store(std::int32_t f, std::span<const std::uint8_t> stored);

    const FieldTable* m_table;
    FieldAttrCache::Records m_records;  // never null; shared with a sealed table
    std::vector<std::uint8_t> m_fieldList;
    std::vector<FieldValue> m_values;
    FieldBufferArena m_arena;
    std::array<std::vector<std::uint8_t>, kMaxFrameParts> m_parts;
    std::array<bool, kMaxFrameParts> m_hasPart{};
    FrameFound m_found;
    bool m_listStale = false;  // values were set or cleared since the last decode
};
