// The table value that describes a whole message form: framing, bitmap and every field.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "codec/FieldStore.h"

/// How the data bytes of a field are encoded.
enum class DataEnc : std::uint8_t {
    Bcd,     ///< packed BCD, two digits a byte; maxLen counts digits
    Ascii,   ///< one character a byte; maxLen counts bytes
    Binary,  ///< raw bytes; maxLen counts bytes
};

/// How the length prefix of a variable field is encoded.
enum class PrefixEnc : std::uint8_t {
    Bcd,     ///< prefixBytes of packed BCD (1 byte: LL, 2 bytes: LLL)
    Ascii,   ///< prefixBytes ASCII digits (2: LL, 3: LLL, 4: LLLL)
    Binary,  ///< prefixBytes (1 or 2) big-endian binary
};

/// Where the pad nibble of an odd BCD digit count goes.
enum class PadSide : std::uint8_t { Left, Right };

/// Which bytes of a stored field its row shows as hex.
enum class RowHex : std::uint8_t {
    Stored,  ///< every stored byte, length prefix included
    Data,    ///< the data bytes only, without the length prefix
};

/// Which bytes of a stored field its row shows as text after " -> ".
enum class RowTextPart : std::uint8_t {
    None,    ///< no text part
    Data,    ///< the data bytes (after the length prefix)
    Stored,  ///< every stored byte, length prefix included
};

/// What to do with a stated length above a field's maximum.
enum class OverLength : std::uint8_t {
    Cut,     ///< read the maximum, with a warning; the next field starts there
    Whole,   ///< read the stated length, with a warning (later revisions send longer fields)
    Refuse,  ///< a decoding error
};

/// The meaning of a value, of the values starting with a prefix ("9*"), or of a range of values
/// of one width ("00-09", compared as text).
struct ValueMeaning {
    std::string from;     ///< the value, the prefix, or the range's first value
    std::string to;       ///< the range's last value; empty: a single value or a prefix
    bool prefix = false;  ///< from is a prefix
    std::string meaning;

    [[nodiscard]] bool Matches(std::string_view v) const {
        if (prefix) return v.starts_with(from);
        if (to.empty()) return v == from;
        return v.size() == from.size() && v >= std::string_view(from) && v <= std::string_view(to);
    }
};

/// The first meaning that matches v; empty when none does.
[[nodiscard]] inline std::string_view MeaningOf(const std::vector<ValueMeaning>& values,
                                                std::string_view v) {
    for (const ValueMeaning& m : values) {
        if (m.Matches(v)) return m.meaning;
    }
    return {};
}

/// How tagged sub-fields open (moov-io's tag spec): a tag of `length` units, then the value's
/// length as its prefix states it, then the value. A zero length: the sub-fields are positional.
/// Units are digits in a BCD field and bytes elsewhere; a Binary tag shows as hex, a BCD tag as
/// its packed digits (`length` digits).
struct TagSpec {
    std::int32_t length = 0;
    DataEnc enc = DataEnc::Ascii;
    /// The length prefix of a value whose tag the table does not list; 0 bytes: such a tag
    /// cannot be read past.
    std::int32_t prefixBytes = 0;
    PrefixEnc prefixEnc = PrefixEnc::Ascii;

    [[nodiscard]] bool Tagged() const { return length > 0; }
};

/// A sub-field: a positional slice of its field's data (digits of a BCD field, bytes otherwise),
/// or a tagged value found by its tag.
struct SubField {
    std::string path;          ///< "60.1", "60.2.1", "63.AS": row name and JSON "path"
    std::string name;          ///< title ("交易类型码")
    std::string tag;           ///< tagged: the tag as its row shows it ("AS", "9F")
    std::int32_t length = 0;   ///< positional, or a fixed tagged value: digits for BCD, bytes otherwise
    bool fixed = true;         ///< tagged: false when a prefix states the value's length
    std::int32_t prefixBytes = 0;            ///< tagged, not fixed: width of the length prefix
    PrefixEnc prefixEnc = PrefixEnc::Ascii;  ///< tagged, not fixed: its encoding
    DataEnc enc = DataEnc::Ascii;  ///< how a byte slice is shown (a BCD field's slices are digits)
    char padChar = '\0';           ///< an edit shorter than a fixed slot is padded with it; 0: refused
    PadSide padSide = PadSide::Left;
    std::vector<ValueMeaning> values;
    TagSpec inner;                    ///< how the sub-fields below this one open
    std::vector<SubField> subfields;  ///< one more level, parts of this one
};

/// One test of a layout's condition: the value at `key` ("type": the message type,
/// "processingCode": field 3, "62": a field, "60.3": a sub-field) starts with one of `prefixes`.
struct LayoutTest {
    std::string key;
    std::vector<std::string> prefixes;
};

/// Sub-fields that apply when every test holds (field 62 holds keys in a sign-in reply).
struct ConditionalLayout {
    std::vector<LayoutTest> when;
    TagSpec tag;
    std::vector<SubField> subfields;
};

/// What a field means beyond its bytes: meanings of its values and its sub-fields.
struct FieldExplain {
    std::vector<ValueMeaning> values;
    TagSpec tag;                      ///< how the default sub-fields open
    std::vector<SubField> subfields;  ///< the default sub-fields
    std::vector<ConditionalLayout> layouts;  ///< the first whose tests hold replaces the default

    [[nodiscard]] bool HasSubFields() const {
        return tag.Tagged() || !subfields.empty() || !layouts.empty();
    }
};

/// One data element. A field whose maxLen is 0 is not defined by the table.
struct FieldDef {
    std::string name;                      ///< title shown beside the row ("主账号"); may be empty
    bool fixed = true;                     ///< true: fixed length, no prefix
    std::int32_t maxLen = 0;               ///< digits for Bcd data, bytes otherwise; 0: undefined
    std::int32_t prefixBytes = 0;          ///< bytes of the length prefix (variable fields)
    PrefixEnc prefixEnc = PrefixEnc::Bcd;  ///< encoding of the length prefix
    DataEnc enc = DataEnc::Ascii;          ///< encoding of the data
    PadSide pad = PadSide::Right;          ///< side of the pad nibble for odd BCD digit counts
    std::uint8_t padNibble = 0x0;          ///< value of the pad nibble (0x0 or 0xF)
    bool inMac = false;                    ///< the MAC input takes this field
    std::int32_t macBytes = 0;             ///< >0: the MAC input takes at most this many bytes
    bool tlv = false;                      ///< the data is a BER-TLV list (IC card data)
    RowHex rowHex = RowHex::Stored;        ///< bytes shown as hex in the field's row
    RowTextPart rowText = RowTextPart::None;  ///< bytes shown as text in the field's row
    OverLength overLength = OverLength::Cut;  ///< a stated length above maxLen
    /// Meanings and sub-fields (shared: tables are copied whole); null: none.
    std::shared_ptr<const FieldExplain> explain;

    [[nodiscard]] bool Defined() const { return maxLen > 0; }
};

/// How a secondary bitmap is signalled.
enum class SecondaryBitmap : std::uint8_t {
    Bit1,    ///< present when bit 1 of the primary bitmap is set
    Always,  ///< the bitmap always has its full width (bits/8 bytes)
    Never,   ///< only the primary 64 bits; bit 1 has no meaning
};

/// How the bitmap bytes are carried.
enum class BitmapEnc : std::uint8_t {
    Binary,  ///< 8 bytes per 64 bits
    Ascii,   ///< hexadecimal characters, 16 per 64 bits
};

struct BitmapSpec {
    std::int32_t bits = 64;                              ///< 64 or 128
    SecondaryBitmap secondary = SecondaryBitmap::Never;  ///< how the second 64 bits are signalled
    BitmapEnc enc = BitmapEnc::Binary;                   ///< how the bitmap is carried
};

/// The kinds of framing part that may stand in front of the message type.
enum class FramePartKind : std::uint8_t {
    Length,  ///< the message's own length
    Tpdu,    ///< transport protocol data unit
    Header,  ///< a fixed-size header, optionally split into named members
    Marker,  ///< fixed bytes (packDefault) that every message carries: STX, ETX, a frame marker
    Check,   ///< trailer only: one check byte, the XOR of the frame's bytes from checkFrom on
};

/// Encoding of a Length part's value.
enum class LengthEnc : std::uint8_t {
    Binary,  ///< binary of `bytes` bytes (2 or 4), big-endian unless littleEndian
    Ascii,   ///< `bytes` ASCII decimal digits (4 or 6)
    Bcd,     ///< `bytes` bytes of packed BCD (2: up to 9999)
};

/// When a framing part is present in a message being decoded.
enum class Presence : std::uint8_t {
    Always,        ///< always there
    Detect,        ///< there when every test of `detect` holds
    WithPrevious,  ///< there exactly when the part before it is
    LengthMatch,   ///< a Length part: there when its value counts the bytes after it
};

/// One test of a detection rule: (byte at part start + offset) & mask == value.
struct ByteTest {
    std::int32_t offset = 0;
    std::uint8_t mask = 0xFF;
    std::uint8_t value = 0;
};

/// What a header member holds when a message is packed.
enum class MemberFill : std::uint8_t {
    Default,      ///< the member's bytes of the part's packDefault
    TotalLength,  ///< the packed message's total size in ASCII decimal digits, zero-padded
};

/// A named member of a header part, in wire order.
struct HeaderMember {
    std::string name;                      ///< row name ("field 3")
    std::int32_t bytes = 0;                ///< width
    bool withText = false;                 ///< the row shows the bytes as text too
    MemberFill fill = MemberFill::Default;  ///< how Pack fills it
};

/// One part of the framing in front of the message type.
struct FramePart {
    FramePartKind kind = FramePartKind::Length;
    std::string name;                     ///< row name of a Tpdu/Header part ("TPDU", "Header")
    std::int32_t bytes = 0;               ///< size on the wire
    LengthEnc lengthEnc = LengthEnc::Binary;  ///< Length parts: its encoding
    bool littleEndian = false;  ///< binary Length parts: low byte first
    bool countsItself = false;  ///< Length parts: the value counts the whole frame, not the rest
    std::int32_t checkFrom = 0;  ///< Check parts: offset in the frame where the XOR starts
    Presence presence = Presence::Always;     ///< when the part is present on decode
    std::vector<ByteTest> detect;             ///< Presence::Detect: all must hold
    std::vector<HeaderMember> members;  ///< Header parts: named members (sum of widths == bytes)
    std::vector<std::uint8_t> packDefault;  ///< bytes Pack writes when no value is stored
    bool showRow = true;  ///< Tpdu/Header parts: rows are shown when present
    bool packed = true;   ///< Pack writes this part
};

/// What the packed message carries for the MAC field.
enum class MacFill : std::uint8_t {
    Stored,     ///< the stored value, like any field
    Zeros,      ///< room of maxLen zero bytes (no MAC computed)
    ZeroHex,    ///< the hex text of four zero bytes, written back into the stored value too
};

/// What the MAC is computed over.
enum class MacInput : std::uint8_t {
    Bytes,   ///< the message's bytes as received, from macFrom up to the start of the MAC field
    Fields,  ///< the fields marked inMac before the MAC field, joined by macSeparator
};

/// What a message's MAC field holds of a computed MAC.
enum class MacForm : std::uint8_t {
    Algorithm,  ///< as the algorithm writes it: unionpay-ecb's 8 hex characters, else the block
    Block,      ///< the 8-byte final block
    Hex8,       ///< the block's first 4 bytes as 8 upper-case hex characters
};

/// The MAC algorithms a table may name as its default (the keys' own choice wins).
inline constexpr std::string_view kTableMacAlgorithms[] = {"unionpay-ecb", "x9.9", "x9.19"};

/// How the message type and bitmap rows look.
struct HeadRow {
    std::string name;        ///< row name ("Type", "MsgType", "CMD", "Bit 1")
    std::string lengthText;  ///< the row's length text ("4", "8", "1")
    std::int32_t shownBytes = 0;  ///< bytes shown as hex (zero where none stored); 0: as stored
    bool withText = false;        ///< the shown bytes as text too
};

/// Names a transaction: every test given must hold (empty tests hold). Values are compared as
/// text: the message type, the processing code (field 3) by prefix, and field 60.1.
struct TransactionRule {
    std::string name;         ///< "消费"
    std::string mtiPrefix;    ///< "02" matches 0200 and 0210 (request and reply alike)
    std::string procPrefix;   ///< processing code prefix ("00")
    std::string field60Prefix;  ///< field 60's first digits (60.1, "22")
};

/// The field store records of a table that no longer changes, made once and shared by every
/// message of the table. A copy of a table is a table its holder may still change, so a copy
/// starts without them; a move keeps them with the table they describe.
class FieldAttrCache {
public:
    using Records = std::shared_ptr<const FieldRecords>;

    FieldAttrCache() = default;
    FieldAttrCache(const FieldAttrCache&) noexcept {}
    FieldAttrCache& operator=(const FieldAttrCache& o) noexcept {
        if (this != &o) m_records.reset();
        return *this;
    }
    FieldAttrCache(FieldAttrCache&&) noexcept = default;
    FieldAttrCache& operator=(FieldAttrCache&&) noexcept = default;
    ~FieldAttrCache() = default;

    /// The records; null when the table was not sealed (SealFieldAttrs).
    [[nodiscard]] const Records& Get() const { return m_records; }
    void Set(Records records) { m_records = std::move(records); }

private:
    Records m_records;
};

/// A whole message form.
struct FieldTable {
    std::string name;     ///< "UnionPay POS 64"
    std::string charset;  ///< "GBK" or "UTF-8": how row texts are read
    BitmapSpec bitmap;
    std::vector<FramePart> frame;  ///< framing parts, wire order, in front of the message type
    std::vector<FramePart> trailer;  ///< Marker and Check parts after the message, wire order
    /// Fields by number, 0..bitmap.bits: 0 the message type, 1 the bitmap (its maxLen the largest
    /// bitmap size in bytes), 2.. data elements. Entries not defined have maxLen 0.
    std::vector<FieldDef> fields;

    HeadRow typeRow{"Type", "4", 2, false};
    HeadRow bitmapRow{"Bit 1", "8", 8, false};
    std::string fieldRowPrefix = "Bit ";  ///< row name of field n: prefix + decimal n

    std::int32_t macField = 0;        ///< field carrying the MAC (64 or 128); 0: none
    MacFill macFill = MacFill::Stored;  ///< what Pack puts there
    MacInput macInput = MacInput::Bytes;  ///< what the MAC is computed over
    /// MacInput::Bytes: where the input starts, in bytes from the message's first byte as
    /// received (framing included); -1: at the message type.
    std::int32_t macFrom = -1;
    std::string macSeparator = " ";  ///< MacInput::Fields: between two fields' MAC text
    MacForm macForm = MacForm::Algorithm;  ///< what the MAC field holds
    /// The algorithm used when the keys name none ("auto"); empty: every one is tried.
    std::string macAlgorithm;

    /// A Length part may state fewer bytes than the text holds: only the stated bytes are
    /// decoded, with a warning about the rest.
    bool allowShorterLength = false;
    /// A message shorter than this (framing included) is refused before decoding.
    std::int32_t minMessageBytes = 0;
    /// Bit 1 is set on Pack when the bitmap field holds a value (a full-width bitmap).
    bool packSetsBit1 = false;
    /// Data fields packed: 2..packLastField; a stored field above it is marked but not copied.
    std::int32_t packLastField = 0;
    /// >0: Pack leaves out a stored field of this many bytes or more.
    std::int32_t packMaxStored = 0;
    /// Refuse what the built-in forms tolerate: a stated length above the field's maximum (the
    /// built-in forms cut it to the maximum) and a message shorter than its framing.
    bool strict = false;
    /// Fields marked tlv show their tags as sub-rows unless asked not to; false: only on request.
    bool tlvRowsByDefault = true;
    /// Length prefixes are read as the built-in forms always read them (a non-digit nibble or
    /// character counts by its value, with a warning); false: such a prefix is an error.
    bool lenientPrefixes = false;
    /// Meanings, sub-fields and the summary row are shown unless asked not to; false: only on
    /// request (the exact built-in forms keep their rows).
    bool explainByDefault = true;
    /// The shipped table whose meanings and sub-fields explain this table's fields, when this
    /// table carries none of its own ("unionpay-pos64-full"); empty: its own.
    std::string explainFrom;
    /// Rules that name a message's transaction for the summary row; empty: no summary row.
    std::vector<TransactionRule> transactions;
    /// The records of `fields`, for a table sealed once it is complete (the built-in forms).
    FieldAttrCache attrs;
};

/// The built-in forms, as table values.
enum class BuiltinForm : std::uint8_t {
    kUnionPay64,   ///< CCupPosPack: 64 fields, BCD, 2-byte length, TPDU and 6-byte header
    kUnionPay128,  ///< CCupPosPackExt: 128 fields, ASCII, 4-digit length, 46-byte header
    kTrade,        ///< CWebTrade: the trade codec's payload in its trade frame
};

/// The table of a built-in form; the same object on every call.
[[nodiscard]] const FieldTable& BuiltinTable(BuiltinForm form);
