// Field attribute and value records, and the field store shared by every table-driven codec object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

/// One row of a field table. maxLen 0: the table does not define the field.
struct FieldAttr {
    std::uint8_t fixed = 0;      // 1: fixed length; 0: a length prefix stands before the data
    std::int32_t maxLen = 0;     // digits for format 'N', bytes otherwise
    std::int32_t lenBytes = 0;   // bytes of the length prefix (variable fields)
    char format = 0;             // 'N' packed BCD, 'A' text, 'B' binary
    char lenFormat = 0;          // 'N' packed BCD prefix, 'B' binary, otherwise ASCII digits
    std::uint8_t inMac = 0;      // 1: the 128-field MAC input takes the field
};

/// One stored field: its wire bytes, length prefix included, followed by a zero byte.
struct FieldValue {
    std::int32_t length = 0;         // stored bytes; 0: the field is absent
    std::span<std::uint8_t> data;    // the field's buffer (capacity data.size()); empty: none yet
};

/// Largest encoded size of a field: the bytes of a fixed field, prefix + maxLen for a variable
/// one (maxLen not halved for 'N'); 0 for an undefined field.
/// Inline: every field decoded, stored and packed asks it.
[[nodiscard]] inline std::int32_t MaxEncodedSize(const FieldAttr& a) {
    if (a.maxLen <= 0) return 0;
    if (a.fixed == 1) return a.format == 'N' ? (a.maxLen + 1) / 2 : a.maxLen;
    return a.lenBytes + a.maxLen;
}

/// Buffer capacity for a largest encoded size s; always leaves room for the terminator.
[[nodiscard]] constexpr std::int32_t BufferCapacity(std::int32_t s) { return 8 * ((s + 1) / 8) + 8; }

/// A table's field records and the room their buffers take, made once for a table that no
/// longer changes and shared by its messages.
struct FieldRecords {
    std::vector<FieldAttr> attrs;          ///< index = field number
    std::vector<std::uint32_t> capacity;   ///< each field's buffer capacity; 0: no buffer
    std::size_t total = 0;                 ///< all the buffers together
    std::vector<std::uint8_t> readPast;    ///< 1: a reader may read the field's buffer past its value
    std::int32_t maxFramed = 0;            ///< upper bound of a packed message (MaxFramedSize)
};

/// The records' buffer room (capacity and total); readPast all 0, maxFramed 0.
[[nodiscard]] FieldRecords MakeFieldRecords(std::vector<FieldAttr> attrs);

/// Owns the field buffers of one codec object: one allocation for the whole table, plus single
/// buffers for fields defined after construction.
class FieldBufferArena {
public:
    FieldBufferArena() = default;
    FieldBufferArena(const FieldBufferArena&) = delete;
    FieldBufferArena& operator=(const FieldBufferArena&) = delete;

    /// What a new buffer holds.
    enum class Fill : std::uint8_t {
        Zeros,       ///< the first s+1 bytes zero
        Terminator,  ///< its first byte zero, the rest unwritten: for an owner that reads no byte
                     ///< past a value's stored bytes and terminator, or zeroes the buffers it does
    };
    /// Gives every defined field its buffer (s: its largest encoded size); undefined ones get none.
    void Reserve(std::span<const FieldAttr> attrs, std::span<FieldValue> values,
                 Fill fill = Fill::Zeros);
    /// The same with the room worked out already.
    void Reserve(const FieldRecords& records, std::span<FieldValue> values, Fill fill);
    /// A zero-filled buffer of the given capacity for a field that has none yet.
    [[nodiscard]] std::span<std::uint8_t> ReserveOne(std::int32_t capacity);

private:
    std::unique_ptr<std::uint8_t[]> m_block;
    std::vector<std::unique_ptr<std::uint8_t[]>> m_extra;
};

/// The field store: takes one field from source into value by its attribute record.
/// Returns the bytes taken (prefix included), or -1 when the table does not define the field.
/// A null source only reserves the buffer and returns the largest encoded size.
/// Only `readable` bytes are read from source; the bytes after them count as zero, which is what a
/// message in a zero-filled buffer gives for a field that runs past the message end.
/// A buffer too small for what the record allows now (a table changed after the buffers were
/// reserved) is replaced by one that fits. stated (may be null): a variable field's stated length
/// before it is cut to the maximum.
[[nodiscard]] std::int32_t UnpackFieldValue(const FieldAttr& a, FieldValue& value,
                                            FieldBufferArena& arena, const std::uint8_t* source,
                                            std::size_t readable, std::int32_t* stated = nullptr,
                                            bool* prefixDigits = nullptr);

/// The length a variable field's prefix at source states (readable bytes, the rest zero). A BCD
/// nibble above 9 or a character that is not a digit still counts by its value (the built-in forms
/// have always read prefixes so); digits (may be null) is set to false when one is not a digit.
[[nodiscard]] std::int32_t ReadStatedLength(const FieldAttr& a, const std::uint8_t* source,
                                            std::size_t readable, bool* digits = nullptr);

/// Whether unpacking a field by a would take exactly these stored bytes: a fixed field its size, a
/// variable one a prefix of digits stating at most its maximum and the data it states.
[[nodiscard]] bool TakesWhole(const FieldAttr& a, std::span<const std::uint8_t> stored);

/// Sets every stored length to 0; buffers stay.
void ClearValues(std::span<FieldValue> values);
