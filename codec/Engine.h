// The table-driven engine: one unpack loop, one pack loop, one row builder and one bitmap
// conversion for every message form (64 fields, 128 fields, the trade codec, loaded tables).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "codec/Failure.h"
#include "codec/FieldRow.h"
#include "codec/FieldStore.h"
#include "codec/FieldTable.h"

/// The live field records and values an engine call works on. attr, fieldList and value have
/// the same size (bits + 1).
struct FieldSet {
    std::span<const FieldAttr> attr;
    std::span<std::uint8_t> fieldList;
    std::span<FieldValue> value;
    FieldBufferArena& arena;
};

/// The field store record of one field definition (maxLen 0 when it is not defined).
[[nodiscard]] FieldAttr AttrOf(const FieldDef& def);
[[nodiscard]] bool SameAttr(const FieldAttr& a, const FieldAttr& b);
/// The field store records of a table value, index = field number (bitmap.bits + 1 entries).
[[nodiscard]] std::vector<FieldAttr> AttrsOf(const FieldTable& table);
/// The records of a sealed table as made when it was sealed, else made now from its fields
/// (readPast: the type, the bitmap and fields whose MAC input takes a fixed number of bytes).
[[nodiscard]] FieldAttrCache::Records SharedAttrsOf(const FieldTable& table);
/// Makes the table's records once, for a table whose fields no longer change (its copies start
/// without them).
void SealFieldAttrs(FieldTable& table);

/// Lists the set bits of the first bits/8 bytes of bitmap as field numbers, in order (bits cut to
/// 0..128); the number of entries. list needs `bits` bytes; the rest of them are zeroed.
std::int32_t BitmapToList(std::int32_t bits, const std::uint8_t* bitmap, std::uint8_t* list);
/// Sets the bits of the listed fields (the list ends at a 0 entry or after `bits` entries) in
/// bits/8 zeroed bytes; numbers below `lowest` or above `bits` are left out.
void ListToBitmap(const std::uint8_t* list, std::uint8_t* bitmap, std::int32_t bits,
                  std::int32_t lowest);

/// How the caller decides whether a Length part stands in front of the message.
enum class LengthRule : std::uint8_t {
    Present,  ///< it is there (skipped unread: the caller checked it)
    Absent,   ///< it is not there
    Match,    ///< it is there when its value counts the bytes after it
};

/// Capacity for the framing parts of one table.
inline constexpr std::size_t kMaxFrameParts = 8;

/// Which framing parts a decoded message carried, and where.
struct FrameFound {
    std::array<bool, kMaxFrameParts> present{};
    std::array<std::int32_t, kMaxFrameParts> offset{};
    std::int32_t body = 0;     ///< offset of the message type
    std::int64_t cutTo = -1;   ///< >=0: the Length part stated fewer bytes; decoded up to here
};

/// Where a decoding stopped, recorded where it happens; `whole` is the message's length.
struct DecodeContext {
    FailureDetail* failure = nullptr;  ///< null: not wanted
    std::int64_t whole = 0;            ///< bytes of the whole message, framing included
    std::vector<std::string>* warnings = nullptr;  ///< null: not wanted
};

/// The value of a Length part at data (bytes past readable read as zero). digits (may be null)
/// is set to false when a BCD or ASCII length holds something other than decimal digits.
[[nodiscard]] std::int64_t ReadLengthPart(const FramePart& part, const std::uint8_t* data,
                                          std::size_t readable, bool* digits = nullptr);
/// The whole frame's size that a Length part's value states; offset: where the part starts.
[[nodiscard]] std::int64_t FrameTotal(const FramePart& part, std::int64_t offset,
                                      std::int64_t value);
/// A Length part's bytes as a reader sees them (0x0099, "00?9" (30303F39), 0099).
[[nodiscard]] std::string LengthPartText(const FramePart& part, const std::uint8_t* bytes,
                                         std::size_t n);

/// Size of the MAC input scratch area; BuildMacText never writes more than this.
inline constexpr std::int32_t kMacInputScratch = 1876;

/// Writes the value text, whole: the hex of bytes, then, when text is not null, " -> " and the
/// bytes of text unchanged (the row's text ends at a zero byte among them).
void SetHexValue(FieldRow& row, const std::uint8_t* bytes, std::size_t n,
                 const std::uint8_t* text = nullptr, std::size_t textLen = 0);

/// Message type, bitmap and the listed fields from data; the bytes consumed (may exceed len: a
/// field starting inside the message is read whole, bytes past `readable` as zero), or -1. Before
/// each listed field the offset must not exceed len. base: offset of data in the whole message.
[[nodiscard]] std::int32_t UnpackBody(const FieldTable& form, FieldSet s, const std::uint8_t* data,
                                      std::int32_t len, std::size_t readable, std::int64_t base,
                                      const DecodeContext& ctx);

/// The framing parts, then the body; the bytes consumed or -1. A message shorter than
/// form.minMessageBytes fails first.
[[nodiscard]] std::int32_t UnpackFramed(const FieldTable& form, FieldSet s,
                                        const std::uint8_t* data, std::int32_t len,
                                        std::size_t readable, LengthRule lengthRule,
                                        FrameFound& found, const DecodeContext& ctx);

/// Message type, bitmap rebuilt from the stored values, and the data fields up to
/// form.packLastField; bytes written, 0 for a null out, -1 when the message type is 1024 bytes or
/// longer. out needs MaxBodySize bytes.
[[nodiscard]] std::int32_t PackBody(const FieldTable& form, FieldSet s, std::uint8_t* out,
                                    std::int32_t* outLen);
/// Upper bound of what PackBody writes.
[[nodiscard]] std::int32_t MaxBodySize(const FieldTable& form, std::span<const FieldAttr> attr);

/// Bytes of each framing part for PackFramed; an empty span takes the part's packDefault.
using FrameBytes = std::array<std::span<const std::uint8_t>, kMaxFrameParts>;

/// Choices a packer makes beyond the table: parts left out, the MAC field packed as stored.
struct PackChoices {
    std::array<bool, kMaxFrameParts> omit{};
    bool macAsStored = false;
    bool withLength = false;  ///< a Length part is written even where the table's Pack leaves it
};
/// Framing parts (each with Pack set), body, the MAC field by form.macFill, then the trailer;
/// total bytes, 0 for a null out or outLen, -1 when the body is empty or the MAC has no input.
/// out needs MaxFramedSize bytes.
[[nodiscard]] std::int32_t PackFramed(const FieldTable& form, FieldSet s, const FrameBytes& parts,
                                      std::uint8_t* out, std::int32_t* outLen,
                                      const PackChoices& choices = {});
/// Writes a Length part's value in its encoding (part.bytes bytes; a longer number is cut).
void WriteLengthPart(const FramePart& part, std::uint8_t* out, std::int64_t value);
/// Writes the table's trailer after the frame's first `end` bytes (the check byte over them);
/// the bytes written.
std::size_t WriteTrailer(const FieldTable& form, std::uint8_t* frame, std::size_t end);
/// Upper bound of what PackFramed writes.
[[nodiscard]] std::int32_t MaxFramedSize(const FieldTable& form, std::span<const FieldAttr> attr);

/// The MAC input text of the fields marked inMac, separated by the form's macSeparator, into out
/// (kMacInputScratch bytes); its length without terminator, 0 when no field qualifies.
std::int32_t BuildMacText(const FieldTable& form, FieldSet s, std::uint8_t* out);

/// Appends the rows of one framing part: one row named after a Tpdu/Header part, or one per
/// header member.
/// partIndex: the part's index in the table's frame, carried by the rows.
void AppendFrameRows(FieldRowList& rows, const FramePart& part, const std::uint8_t* bytes,
                     std::int32_t partIndex = -1);
void AppendFrameRows(RowAppender& rows, const FramePart& part, const std::uint8_t* bytes,
                     std::int32_t partIndex = -1);
/// Appends the message type row, the bitmap row and one row per listed field with a value.
void AppendBodyRows(FieldRowList& rows, const FieldTable& form, std::span<const FieldAttr> attr,
                    std::span<const std::uint8_t> fieldList, std::span<const FieldValue> value);
void AppendBodyRows(RowAppender& rows, const FieldTable& form, std::span<const FieldAttr> attr,
                    std::span<const std::uint8_t> fieldList, std::span<const FieldValue> value);
