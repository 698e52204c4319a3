// The 128-field pack objects and the UnionPay 128-field table.
#include "codec/PosPackExt.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>

#include "codec/Conversions.h"

namespace {

constexpr FieldAttr Text(std::int32_t maxLen, std::uint8_t inMac) {
    return {1, maxLen, 0, 'A', 'A', inMac};
}
constexpr FieldAttr Binary(std::int32_t maxLen) { return {1, maxLen, 0, 'B', 'N', 0}; }
constexpr FieldAttr Var(std::int32_t maxLen, std::int32_t lenBytes, std::uint8_t inMac) {
    return {0, maxLen, lenBytes, 'A', 'A', inMac};
}

struct TableRow {
    int field;
    FieldAttr attr;
};

// ASCII text fields with ASCII length digits (LL 2, LLL 3); the last argument is inMac.
constexpr TableRow kUnionPay128Rows[] = {
    {0, Text(4, 1)},        // 0: message type
    {1, Binary(16)},        // 1: primary and secondary bitmap
    {2, Var(19, 2, 1)},     // 2: primary account number
    {3, Text(6, 1)},        // 3: processing code
    {4, Text(12, 1)},       // 4: amount
    {7, Text(10, 1)},       // 7: transmission date and time
    {11, Text(6, 1)},       // 11: system trace audit number
    {12, Text(6, 0)},       // 12: local time
    {13, Text(4, 0)},       // 13: local date
    {14, Text(4, 0)},       // 14: expiry date
    {15, Text(4, 0)},       // 15: settlement date
    {18, Text(4, 1)},       // 18: merchant type
    {22, Text(3, 0)},       // 22: point of service entry mode
    {23, Text(3, 0)},       // 23: card sequence number
    {25, Text(2, 1)},       // 25: point of service condition code
    {26, Text(2, 0)},       // 26: PIN capture code
    {28, Text(9, 1)},       // 28: transaction fee
    {32, Var(11, 2, 1)},    // 32: acquiring institution id
    {33, Var(11, 2, 1)},    // 33: forwarding institution id
    {35, Var(37, 2, 0)},    // 35: track 2 data
    {36, Var(104, 3, 0)},   // 36: track 3 data
    {37, Text(12, 0)},      // 37: retrieval reference number
    {38, Text(6, 1)},       // 38: authorisation code
    {39, Text(2, 1)},       // 39: response code
    {41, Text(8, 1)},       // 41: terminal id
    {42, Text(15, 1)},      // 42: merchant id
    {43, Text(40, 0)},      // 43: merchant name and location
    {44, Var(25, 2, 0)},    // 44: additional response data
    {48, Var(600, 3, 0)},   // 48: additional data
    {49, Text(3, 0)},       // 49: currency code
    {52, Binary(8)},        // 52: PIN block
    {53, Text(16, 0)},      // 53: security control information
    {54, Var(40, 3, 0)},    // 54: balance
    {55, Var(255, 3, 0)},   // 55: IC card data
    {59, Var(600, 3, 0)},   // 59: additional data
    {60, Var(100, 3, 0)},   // 60: reserved private
    {61, Var(255, 3, 0)},   // 61: cardholder verification data
    {62, Var(512, 3, 0)},   // 62: reserved private
    {63, Var(512, 3, 0)},   // 63: reserved private
    {70, Text(3, 0)},       // 70: network management code
    {90, Text(42, 1)},      // 90: original data elements
    {96, Binary(8)},        // 96: message security code
    {100, Var(11, 2, 0)},   // 100: receiving institution id
    {102, Var(28, 2, 1)},   // 102: account id 1
    {103, Var(28, 2, 1)},   // 103: account id 2
    {121, Var(100, 3, 0)},  // 121: reserved national
    {122, Var(100, 3, 0)},  // 122: reserved for acquirer
    {128, Binary(8)},       // 128: MAC
};

constexpr std::array<FieldAttr, 129> MakeTable() {
    std::array<FieldAttr, 129> t{};
    for (const TableRow& r : kUnionPay128Rows) t[static_cast<std::size_t>(r.field)] = r.attr;
    return t;
}
constexpr std::array<FieldAttr, 129> kUnionPay128 = MakeTable();

constexpr std::int32_t kHeaderBytes = 46;
constexpr std::int32_t kMacTextBytes = 8;
constexpr std::int32_t kMaxStored = 1024;  // stored values this long or longer are never copied

// The header Pack writes; headerField3 (bytes 2..5) is filled with the total length.
constexpr std::uint8_t kPackHeader[kHeaderBytes] = {
    0x2E, 0x81, '0',  '0',  '0', '0',                                            // 1, 2, 3
    '0',  '0',  '0',  '1',  '0', '0', '0', '0', ' ',  ' ', ' ',                  // 4
    '6',  '6',  '6',  '6',  '1', '2', '3', '4', ' ',  ' ', ' ',                  // 5
    0x00, 0x00, 0x00, 0x00,                                                      // 6, 7
    '0',  '0',  '0',  '0',  '0', '0', '0', '0', 0x00, '0', '0', '0', '0', '0'};  // 8, 9, 10

std::size_t ReadableOf(std::int32_t len) { return len > 0 ? static_cast<std::size_t>(len) : 0; }

// The stored bytes of a value that may be copied: never more than its buffer holds.
std::size_t StoredBytes(const FieldValue& v) {
    if (v.length <= 0) return 0;
    return std::min(static_cast<std::size_t>(v.length), v.data.size());
}

}  // namespace

const std::array<FieldAttr, 129>& UnionPay128Table() { return kUnionPay128; }

CPosPackExt::CPosPackExt() = default;
CPosPackExt::~CPosPackExt() = default;

std::int32_t CPosPackExt::Unpack(const std::uint8_t* data, std::int32_t len) {
    return UnpackWithin(data, len, ReadableOf(len));
}

std::int32_t CPosPackExt::UnpackWithin(const std::uint8_t* data, std::int32_t len,
                                       std::size_t readable) {
    if (data == nullptr) return -1;
    const auto rest = [&](std::int64_t pos) {
        const auto p = static_cast<std::size_t>(pos);
        return p >= readable ? std::size_t{0} : readable - p;
    };
    // A field may start past the readable bytes (it then reads zeros): point at their end instead.
    const auto at = [&](std::int64_t pos) {
        return data + std::min(static_cast<std::size_t>(pos), readable);
    };
    std::int64_t pos = UnpackField(data, 0, readable);
    if (pos < 0) return -1;
    const std::int32_t r1 = UnpackField(at(pos), 1, rest(pos));
    if (r1 < 0) return -1;
    pos += r1;

    std::uint8_t bitmap[16] = {};
    std::memcpy(bitmap, m_value[1].data.data(), std::min<std::size_t>(16, m_value[1].data.size()));
    const std::int32_t count = BitmapToFieldList(128, bitmap, m_fieldList.data());
    for (std::int32_t i = 0; i < count; ++i) {
        const std::uint8_t e = m_fieldList[static_cast<std::size_t>(i)];
        // Entry 1 is the secondary bitmap, already part of the 16 bitmap bytes.
        if (e < 2) continue;
        if (pos > len) return -1;
        const std::int32_t r = UnpackField(at(pos), e, rest(pos));
        if (r == -1) return -1;
        pos += r;
    }
    return static_cast<std::int32_t>(pos);
}

std::int32_t CPosPackExt::Pack(std::uint8_t* out, std::int32_t* outLen) {
    if (out == nullptr) return 0;
    if (m_value[0].length >= kMaxStored) return -1;
    std::size_t pos = StoredBytes(m_value[0]);
    if (pos > 0) std::memcpy(out, m_value[0].data.data(), pos);

    m_fieldList.fill(0);
    std::size_t k = 0;
    for (std::size_t f = 1; f <= 128; ++f) {
        if (m_value[f].length > 0) m_fieldList[k++] = static_cast<std::uint8_t>(f);
    }
    // Bit 1 is set because the bitmap entry itself holds a value: the bitmap is always 128 bits.
    FieldListToBitmap(m_fieldList.data(), out + pos, 128);
    pos += static_cast<std::size_t>(std::max(m_value[1].length, 0));

    for (std::size_t i = 0; i < k; ++i) {
        const std::size_t f = m_fieldList[i];
        if (f < 2 || f > 127) continue;  // field 128 is the MAC that CCupPosPackExt appends
        const FieldValue& v = m_value[f];
        if (v.length >= kMaxStored) continue;
        const std::size_t n = StoredBytes(v);
        std::memcpy(out + pos, v.data.data(), n);
        pos += n;
    }
    if (outLen != nullptr) *outLen = static_cast<std::int32_t>(pos);
    return static_cast<std::int32_t>(pos);
}

std::int32_t CPosPackExt::BuildMacInput(std::uint8_t* out) {
    std::size_t pos = 0;
    for (std::size_t i = 0; i < 128; ++i) {
        const FieldValue& v = m_value[i];
        if (m_attr[i].inMac != 1 || v.length <= 0 || v.length >= kMaxStored) continue;
        // Field 90 (original data elements) enters with its first 20 bytes only.
        const std::size_t n = i == 90 ? std::min<std::size_t>(20, v.data.size()) : StoredBytes(v);
        if (pos + n + 1 > static_cast<std::size_t>(kMacInputScratch)) break;
        std::memcpy(out + pos, v.data.data(), n);
        pos += n;
        out[pos++] = ' ';
    }
    if (pos == 0) return 0;
    out[pos - 1] = 0;
    return static_cast<std::int32_t>(pos - 1);
}

void CPosPackExt::Clear() { ClearValues(m_value); }

std::int32_t CPosPackExt::UnpackField(const std::uint8_t* source, std::int32_t f,
                                      std::size_t readable) {
    if (f < 0 || f >= static_cast<std::int32_t>(m_attr.size())) return -1;
    const auto i = static_cast<std::size_t>(f);
    return UnpackFieldValue(m_attr[i], m_value[i], m_arena, source, readable);
}

std::int32_t CPosPackExt::BitmapToFieldList(std::int32_t bits, const std::uint8_t* bitmap,
                                            std::uint8_t* list) {
    bits = std::clamp(bits, 0, 128);
    std::memset(list, 0, static_cast<std::size_t>(bits));
    std::int32_t count = 0;
    for (std::int32_t j = 0; j < bits / 8; ++j) {
        // Set bits from the most significant down, found directly rather than tried one by one.
        for (auto b = static_cast<std::uint8_t>(bitmap[j]); b != 0;) {
            const int k = std::countl_zero(b);
            list[count++] = static_cast<std::uint8_t>(j * 8 + k + 1);
            b = static_cast<std::uint8_t>(b & ~(0x80u >> k));
        }
    }
    return count;
}

std::int32_t CPosPackExt::FieldListToBitmap(const std::uint8_t* list, std::uint8_t* bitmap,
                                            std::int32_t bits) {
    std::int32_t lowest = 0;
    if (bits == 128) {
        lowest = 1;
    } else if (bits == 64) {
        lowest = 2;  // field 1 never reaches a 64-bit bitmap
    } else {
        return -1;
    }
    std::memset(bitmap, 0, static_cast<std::size_t>(bits / 8));
    for (std::int32_t i = 0; i < bits && list[i] != 0; ++i) {
        const std::int32_t n = list[i];
        if (n < lowest || n > bits) continue;
        bitmap[(n - 1) / 8] |= static_cast<std::uint8_t>(0x80 >> ((n - 1) % 8));
    }
    return 0;
}

std::int32_t CPosPackExt::MaxPackedSize() const {
    std::int32_t total = 16;  // the bitmap, whatever the table says of field 1
    for (const FieldAttr& a : m_attr) total += MaxEncodedSize(a);
    return total;
}

CCupPosPackExt::CCupPosPackExt() {
    m_attr = kUnionPay128;
    m_arena.Reserve(m_attr, m_value);
}

std::int32_t CCupPosPackExt::Unpack(const std::uint8_t* data, std::int32_t len) {
    return UnpackWithin(data, len, ReadableOf(len));
}

std::int32_t CCupPosPackExt::UnpackWithin(const std::uint8_t* data, std::int32_t len,
                                          std::size_t readable) {
    if (data == nullptr || len < 13) return -1;
    const auto at = [&](std::size_t i) -> std::uint8_t { return i < readable ? data[i] : 0; };
    // The four length characters are skipped unread: the parse command checked them.
    std::size_t base = m_hasLengthPrefix == 1 ? 4 : 0;
    if (at(base) == kHeaderBytes) {
        m_hasHeader = 1;
        auto* h = reinterpret_cast<std::uint8_t*>(&m_header);
        for (std::size_t i = 0; i < kHeaderBytes; ++i) h[i] = at(base + i);
        base += kHeaderBytes;
    }
    const std::uint8_t* body = data + std::min(base, readable);
    const std::size_t rest = readable > base ? readable - base : 0;
    const std::int32_t r =
        CPosPackExt::UnpackWithin(body, len - static_cast<std::int32_t>(base), rest);
    return r > 0 ? static_cast<std::int32_t>(base) + r : -1;
}

std::int32_t CCupPosPackExt::Pack(std::uint8_t* out, std::int32_t* outLen) {
    if (out == nullptr || outLen == nullptr) return 0;
    std::uint8_t header[kHeaderBytes];
    std::memcpy(header, kPackHeader, kHeaderBytes);

    std::int32_t bodyLen = 0;
    const std::int32_t body = CPosPackExt::Pack(out + kHeaderBytes, &bodyLen);
    if (body <= 0) return -1;
    std::int32_t total = body + kHeaderBytes;

    FieldValue& mac = m_value[128];
    if (mac.length > 0) {
        // The MAC input only checks that some field qualifies; no key or MAC algorithm is
        // applied, so the MAC text is the hex of four zero bytes.
        std::uint8_t scratch[kMacInputScratch] = {};
        if (CPosPackExt::BuildMacInput(scratch) < 1) return -1;
        const std::uint8_t zero[4] = {};
        char text[kMacTextBytes];
        Word32ToHex(zero, text);
        const std::size_t keep = std::min<std::size_t>(kMacTextBytes, mac.data.size());
        std::memcpy(mac.data.data(), text, keep);
        std::memcpy(out + total, text, kMacTextBytes);
        total += kMacTextBytes;
    }

    // "%04d" of the total, its first four characters.
    char digits[16];
    const auto res = std::to_chars(digits, digits + sizeof digits, total);
    const std::size_t n = static_cast<std::size_t>(res.ptr - digits);
    char field3[4] = {'0', '0', '0', '0'};
    if (n >= 4) {
        std::memcpy(field3, digits, 4);
    } else {
        std::memcpy(field3 + (4 - n), digits, n);
    }
    std::memcpy(header + 2, field3, 4);
    std::memcpy(out, header, kHeaderBytes);
    *outLen = total;
    return total;
}

void CCupPosPackExt::Clear() {
    m_header = ExtHeader{};
    for (auto& t : m_reservedText) t.fill('\0');
    CPosPackExt::Clear();
}

std::int32_t CCupPosPackExt::MaxPackedSize() const {
    return kHeaderBytes + CPosPackExt::MaxPackedSize() + kMacTextBytes;
}
