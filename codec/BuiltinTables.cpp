// The built-in message forms as table values: UnionPay 64-field, UnionPay 128-field, trade.
#include <string>
#include <utility>

#include "codec/Engine.h"
#include "codec/FieldTable.h"

namespace {

// Bytes Pack writes in front of a 64-field body when no TPDU or header is stored.
constexpr std::uint8_t kDefaultTpdu[5] = {0x60, 0x00, 0x07, 0x00, 0x00};
constexpr std::uint8_t kDefaultHeader[6] = {0x60, 0x22, 0x00, 0x00, 0x00, 0x00};

// The 46-byte header Pack writes for a 128-field message; member 3 gets the total length.
constexpr std::uint8_t kPackHeader128[46] = {
    0x2E, 0x81, '0',  '0',  '0', '0',                                            // 1, 2, 3
    '0',  '0',  '0',  '1',  '0', '0', '0', '0', ' ',  ' ', ' ',                  // 4
    '6',  '6',  '6',  '6',  '1', '2', '3', '4', ' ',  ' ', ' ',                  // 5
    0x00, 0x00, 0x00, 0x00,                                                      // 6, 7
    '0',  '0',  '0',  '0',  '0', '0', '0', '0', 0x00, '0', '0', '0', '0', '0'};  // 8, 9, 10

struct Row {
    int field;
    const char* name;
    FieldDef def;
};

// 64-field rows: data encoding, fixed or BCD-prefixed; text fields show their characters.
FieldDef N64(std::int32_t maxLen, std::int32_t prefix = 0) {
    FieldDef d;
    d.fixed = prefix == 0;
    d.maxLen = maxLen;
    d.prefixBytes = prefix;
    d.prefixEnc = PrefixEnc::Bcd;
    d.enc = DataEnc::Bcd;
    return d;
}
FieldDef A64(std::int32_t maxLen, std::int32_t prefix = 0) {
    FieldDef d = N64(maxLen, prefix);
    d.enc = DataEnc::Ascii;
    d.rowText = RowTextPart::Data;
    return d;
}
FieldDef B64(std::int32_t maxLen) {
    FieldDef d = N64(maxLen);
    d.enc = DataEnc::Binary;
    return d;
}

// 128-field rows: ASCII text with ASCII length digits; every row shows all stored characters.
FieldDef T128(std::int32_t maxLen, bool inMac, std::int32_t prefix = 0) {
    FieldDef d;
    d.fixed = prefix == 0;
    d.maxLen = maxLen;
    d.prefixBytes = prefix;
    d.prefixEnc = PrefixEnc::Ascii;
    d.enc = DataEnc::Ascii;
    d.inMac = inMac;
    d.rowText = RowTextPart::Stored;
    return d;
}
FieldDef B128(std::int32_t maxLen) {
    FieldDef d = T128(maxLen, false);
    d.enc = DataEnc::Binary;
    d.prefixEnc = PrefixEnc::Bcd;
    return d;
}

void Put(FieldTable& t, const Row* rows, std::size_t n) {
    t.fields.assign(static_cast<std::size_t>(t.bitmap.bits) + 1, FieldDef{});
    for (std::size_t i = 0; i < n; ++i) {
        FieldDef d = rows[i].def;
        d.name = rows[i].name;
        t.fields[static_cast<std::size_t>(rows[i].field)] = std::move(d);
    }
}

FieldTable MakeUnionPay64() {
    FieldTable t;
    t.name = "UnionPay POS 64";
    t.charset = "GBK";
    t.bitmap = {64, SecondaryBitmap::Never, BitmapEnc::Binary};
    FramePart length;
    length.kind = FramePartKind::Length;
    length.bytes = 2;
    length.lengthEnc = LengthEnc::Binary;
    length.presence = Presence::LengthMatch;
    FramePart tpdu;
    tpdu.kind = FramePartKind::Tpdu;
    tpdu.name = "TPDU";
    tpdu.bytes = 5;
    tpdu.presence = Presence::Detect;
    // A TPDU is there when its first byte and the header's first byte have the high nibble 6.
    tpdu.detect = {{0, 0xF0, 0x60}, {5, 0xF0, 0x60}};
    tpdu.packDefault.assign(std::begin(kDefaultTpdu), std::end(kDefaultTpdu));
    FramePart header;
    header.kind = FramePartKind::Header;
    header.name = "Header";
    header.bytes = 6;
    header.presence = Presence::WithPrevious;
    header.packDefault.assign(std::begin(kDefaultHeader), std::end(kDefaultHeader));
    t.frame = {length, tpdu, header};

    // Every length prefix is packed BCD; a field not listed is not defined.
    const Row rows[] = {
        {0, "message type", N64(4)},
        {1, "bitmap", B64(8)},
        {2, "primary account number", N64(19, 1)},
        {3, "processing code", N64(6)},
        {4, "amount, transaction", N64(12)},
        {11, "system trace audit number", N64(6)},
        {12, "time, local transaction", N64(6)},
        {13, "date, local transaction", N64(4)},
        {14, "date, expiration", N64(4)},
        {15, "date, settlement", N64(4)},
        {22, "point of service entry mode", N64(3)},
        {23, "card sequence number", N64(3)},
        {25, "point of service condition code", N64(2)},
        {26, "point of service PIN capture code", N64(2)},
        {32, "acquiring institution identification code", N64(11, 1)},
        {35, "track 2 data", N64(37, 1)},
        {36, "track 3 data", N64(104, 2)},
        {37, "retrieval reference number", A64(12)},
        {38, "authorization identification response", A64(6)},
        {39, "response code", A64(2)},
        {41, "card acceptor terminal identification", A64(8)},
        {42, "card acceptor identification code", A64(15)},
        {44, "additional response data", A64(25, 1)},
        {48, "additional data, private", N64(512, 2)},
        {49, "currency code, transaction", A64(3)},
        {52, "PIN data", B64(8)},
        {53, "security related control information", N64(16)},
        {54, "additional amounts", A64(40, 2)},
        {55, "IC card data", A64(255, 2)},
        {58, "electronic cash data", A64(100, 2)},
        {59, "additional data", A64(600, 2)},
        {60, "reserved, private", N64(17, 2)},
        {61, "original message data", N64(29, 2)},
        {62, "reserved, private", A64(512, 2)},
        {63, "reserved, private", A64(512, 2)},
        {64, "message authentication code", B64(8)},
    };
    Put(t, rows, std::size(rows));
    t.fields[55].tlv = true;

    t.typeRow = {"Type", "4", 2, false};  // the type shows as its four digits
    t.bitmapRow = {"Bit 1", "8", 8, false};
    t.macField = 64;
    t.macFill = MacFill::Zeros;
    t.minMessageBytes = 13;
    t.packLastField = 63;
    t.tlvRowsByDefault = false;
    t.lenientPrefixes = true;
    t.explainByDefault = false;
    t.explainFrom = "unionpay-pos64-full";
    return t;
}

FieldTable MakeUnionPay128() {
    FieldTable t;
    t.name = "UnionPay 128";
    t.charset = "GBK";
    t.bitmap = {128, SecondaryBitmap::Always, BitmapEnc::Binary};
    FramePart length;
    length.kind = FramePartKind::Length;
    length.bytes = 4;
    length.lengthEnc = LengthEnc::Ascii;
    length.presence = Presence::LengthMatch;
    length.packed = false;  // Pack writes the header, whose member 3 holds the total length
    FramePart header;
    header.kind = FramePartKind::Header;
    header.name = "Header";
    header.bytes = 46;
    header.presence = Presence::Detect;
    header.detect = {{0, 0xFF, 0x2E}};  // the header's own length, 46
    header.members = {
        {"field 1", 1, false, MemberFill::Default},  {"field 2", 1, false, MemberFill::Default},
        {"field 3", 4, true, MemberFill::TotalLength}, {"field 4", 11, true, MemberFill::Default},
        {"field 5", 11, true, MemberFill::Default},  {"field 6", 3, false, MemberFill::Default},
        {"field 7", 1, false, MemberFill::Default},  {"field 8", 8, true, MemberFill::Default},
        {"field 9", 1, false, MemberFill::Default},  {"field 10", 5, true, MemberFill::Default},
    };
    header.packDefault.assign(std::begin(kPackHeader128), std::end(kPackHeader128));
    t.frame = {length, header};

    // ASCII text fields with ASCII length digits (LL 2, LLL 3); true: the MAC input takes it.
    const Row rows[] = {
        {0, "message type", T128(4, true)},
        {1, "bitmap", B128(16)},
        {2, "primary account number", T128(19, true, 2)},
        {3, "processing code", T128(6, true)},
        {4, "amount, transaction", T128(12, true)},
        {7, "transmission date and time", T128(10, true)},
        {11, "system trace audit number", T128(6, true)},
        {12, "time, local transaction", T128(6, false)},
        {13, "date, local transaction", T128(4, false)},
        {14, "date, expiration", T128(4, false)},
        {15, "date, settlement", T128(4, false)},
        {18, "merchant type", T128(4, true)},
        {22, "point of service entry mode", T128(3, false)},
        {23, "card sequence number", T128(3, false)},
        {25, "point of service condition code", T128(2, true)},
        {26, "point of service PIN capture code", T128(2, false)},
        {28, "amount, transaction fee", T128(9, true)},
        {32, "acquiring institution identification code", T128(11, true, 2)},
        {33, "forwarding institution identification code", T128(11, true, 2)},
        {35, "track 2 data", T128(37, false, 2)},
        {36, "track 3 data", T128(104, false, 3)},
        {37, "retrieval reference number", T128(12, false)},
        {38, "authorization identification response", T128(6, true)},
        {39, "response code", T128(2, true)},
        {41, "card acceptor terminal identification", T128(8, true)},
        {42, "card acceptor identification code", T128(15, true)},
        {43, "card acceptor name and location", T128(40, false)},
        {44, "additional response data", T128(25, false, 2)},
        {48, "additional data, private", T128(600, false, 3)},
        {49, "currency code, transaction", T128(3, false)},
        {52, "PIN data", B128(8)},
        {53, "security related control information", T128(16, false)},
        {54, "additional amounts", T128(40, false, 3)},
        {55, "IC card data", T128(255, false, 3)},
        {59, "additional data", T128(600, false, 3)},
        {60, "reserved, private", T128(100, false, 3)},
        {61, "cardholder verification data", T128(255, false, 3)},
        {62, "reserved, private", T128(512, false, 3)},
        {63, "reserved, private", T128(512, false, 3)},
        {70, "network management information code", T128(3, false)},
        {90, "original data elements", T128(42, true)},
        {96, "message security code", B128(8)},
        {100, "receiving institution identification code", T128(11, false, 2)},
        {102, "account identification 1", T128(28, true, 2)},
        {103, "account identification 2", T128(28, true, 2)},
        {121, "reserved, national", T128(100, false, 3)},
        {122, "reserved for acquirer", T128(100, false, 3)},
        {128, "message authentication code", B128(8)},
    };
    Put(t, rows, std::size(rows));
    t.fields[55].tlv = true;
    t.fields[90].macBytes = 20;  // original data elements enter the MAC with 20 bytes

    t.typeRow = {"MsgType", "4", 4, true};
    // The bitmap row's length is 1, not its byte count: that is how the list has always shown it.
    t.bitmapRow = {"Bit 1", "1", 16, false};
    t.macField = 128;
    t.macFill = MacFill::ZeroHex;
    t.macInput = MacInput::Fields;  // the marked fields' text, joined by single spaces
    t.macForm = MacForm::Hex8;
    t.minMessageBytes = 13;
    t.packSetsBit1 = true;
    t.packLastField = 127;
    t.packMaxStored = 1024;
    t.tlvRowsByDefault = false;
    t.lenientPrefixes = true;
    t.explainByDefault = false;
    t.explainFrom = "unionpay-128-full";
    return t;
}

FieldTable MakeTrade() {
    FieldTable t;
    t.name = "orbo8583 trade";
    t.charset = "GBK";
    t.bitmap = {64, SecondaryBitmap::Never, BitmapEnc::Binary};
    t.fields.assign(65, FieldDef{});
    FieldDef cmd = N64(2);
    cmd.name = "command code";
    t.fields[0] = cmd;
    FieldDef bitmap = B64(8);
    bitmap.name = "bitmap";
    t.fields[1] = bitmap;
    // Every data field carries a two-byte BCD byte count before its bytes and shows its data
    // bytes only; 45..64 stay undefined.
    for (int f = 2; f <= 44; ++f) {
        FieldDef d;
        d.fixed = false;
        d.maxLen = (f == 5 || f == 6) ? 260 : (f == 16 || f == 41 || f == 42) ? 1024 : 100;
        d.prefixBytes = 2;
        d.prefixEnc = PrefixEnc::Bcd;
        d.enc = DataEnc::Ascii;
        d.rowHex = RowHex::Data;
        d.name = "data";
        t.fields[static_cast<std::size_t>(f)] = d;
    }
    t.typeRow = {"CMD", "1", 1, false};
    t.bitmapRow = {"Bit 1", "8", 8, false};
    t.packLastField = 63;
    t.lenientPrefixes = true;

    // The trade frame: the whole frame's length, low byte first; the marker F1 and three zero
    // bytes; the payload; the XOR of every byte before the check byte.
    FramePart length;
    length.kind = FramePartKind::Length;
    length.name = "length";
    length.bytes = 2;
    length.lengthEnc = LengthEnc::Binary;
    length.littleEndian = true;
    length.countsItself = true;
    FramePart marker;
    marker.kind = FramePartKind::Marker;
    marker.name = "marker";
    marker.bytes = 4;
    marker.packDefault = {0xF1, 0x00, 0x00, 0x00};
    marker.showRow = false;
    FramePart check;
    check.kind = FramePartKind::Check;
    check.name = "check byte";
    check.bytes = 1;
    check.checkFrom = 0;
    t.frame = {length, marker};
    t.trailer = {check};
    return t;
}

}  // namespace

namespace {

// A built-in form never changes: its field records are made once, with the table.
FieldTable Sealed(FieldTable t) {
    SealFieldAttrs(t);
    return t;
}

}  // namespace

const FieldTable& BuiltinTable(BuiltinForm form) {
    static const FieldTable k64 = Sealed(MakeUnionPay64());
    static const FieldTable k128 = Sealed(MakeUnionPay128());
    static const FieldTable kTradeForm = Sealed(MakeTrade());
    switch (form) {
        case BuiltinForm::kUnionPay64:
            return k64;
        case BuiltinForm::kUnionPay128:
            return k128;
        case BuiltinForm::kTrade:
            break;
    }
    return kTradeForm;
}
