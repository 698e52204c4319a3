// The 64-field pack objects and the UnionPay 64-field table.
#include "codec/PosPack.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr FieldAttr Fixed(std::int32_t maxLen, char format) {
    return {1, maxLen, 0, format, 'N', 0};
}
constexpr FieldAttr Var(std::int32_t maxLen, std::int32_t lenBytes, char format) {
    return {0, maxLen, lenBytes, format, 'N', 0};
}

struct TableRow {
    int field;
    FieldAttr attr;
};

// Every length prefix is packed BCD; a field not listed is not defined.
constexpr TableRow kUnionPay64Rows[] = {
    {0, Fixed(4, 'N')},      // 0: message type, 4 BCD digits
    {1, Fixed(8, 'B')},      // 1: primary bitmap
    {2, Var(19, 1, 'N')},    // 2: primary account number, LLVAR
    {3, Fixed(6, 'N')},      // 3: processing code
    {4, Fixed(12, 'N')},     // 4: amount
    {11, Fixed(6, 'N')},     // 11: system trace audit number
    {12, Fixed(6, 'N')},     // 12: local time hhmmss
    {13, Fixed(4, 'N')},     // 13: local date MMDD
    {14, Fixed(4, 'N')},     // 14: expiry date YYMM
    {15, Fixed(4, 'N')},     // 15: settlement date
    {22, Fixed(3, 'N')},     // 22: point of service entry mode
    {23, Fixed(3, 'N')},     // 23: card sequence number
    {25, Fixed(2, 'N')},     // 25: point of service condition code
    {26, Fixed(2, 'N')},     // 26: PIN capture code
    {32, Var(11, 1, 'N')},   // 32: acquiring institution id, LLVAR
    {35, Var(37, 1, 'N')},   // 35: track 2 data, LLVAR
    {36, Var(104, 2, 'N')},  // 36: track 3 data, LLLVAR
    {37, Fixed(12, 'A')},    // 37: retrieval reference number
    {38, Fixed(6, 'A')},     // 38: authorisation code
    {39, Fixed(2, 'A')},     // 39: response code
    {41, Fixed(8, 'A')},     // 41: terminal id
    {42, Fixed(15, 'A')},    // 42: merchant id
    {44, Var(25, 1, 'A')},   // 44: additional response data, LLVAR
    {48, Var(512, 2, 'N')},  // 48: additional data, LLLVAR BCD
    {49, Fixed(3, 'A')},     // 49: currency code
    {52, Fixed(8, 'B')},     // 52: PIN block
    {53, Fixed(16, 'N')},    // 53: security control information
    {54, Var(40, 2, 'A')},   // 54: balance, LLLVAR
    {55, Var(255, 2, 'A')},  // 55: IC card data, LLLVAR
    {58, Var(100, 2, 'A')},  // 58: electronic cash data, LLLVAR
    {59, Var(600, 2, 'A')},  // 59: additional data, LLLVAR
    {60, Var(17, 2, 'N')},   // 60: reserved private, LLLVAR BCD
    {61, Var(29, 2, 'N')},   // 61: original message data, LLLVAR BCD
    {62, Var(512, 2, 'A')},  // 62: reserved private, LLLVAR
    {63, Var(512, 2, 'A')},  // 63: reserved private, LLLVAR
    {64, Fixed(8, 'B')},     // 64: MAC
};

constexpr std::array<FieldAttr, 65> MakeTable() {
    std::array<FieldAttr, 65> t{};
    for (const TableRow& r : kUnionPay64Rows) t[static_cast<std::size_t>(r.field)] = r.attr;
    return t;
}
constexpr std::array<FieldAttr, 65> kUnionPay64 = MakeTable();

constexpr std::uint8_t kDefaultTpdu[5] = {0x60, 0x00, 0x07, 0x00, 0x00};
constexpr std::uint8_t kDefaultHeader[6] = {0x60, 0x22, 0x00, 0x00, 0x00, 0x00};
constexpr std::int32_t kFrameBytes = 13;  // length, TPDU and header in front of a packed body

// Clamps readable to a signed message length that may be negative.
std::size_t ReadableOf(std::int32_t len) { return len > 0 ? static_cast<std::size_t>(len) : 0; }

}  // namespace

const std::array<FieldAttr, 65>& UnionPay64Table() { return kUnionPay64; }

CPosPack::CPosPack() = default;
CPosPack::~CPosPack() = default;

std::int32_t CPosPack::Unpack(const std::uint8_t* data, std::int32_t len) {
    return UnpackWithin(data, len, ReadableOf(len));
}

std::int32_t CPosPack::UnpackWithin(const std::uint8_t* data, std::int32_t len,
                                    std::size_t readable) {
    return UnpackMessage64(Table(), data, len, readable);
}

std::int32_t CPosPack::Pack(std::uint8_t* out, std::int32_t* outLen) {
    return PackMessage64(Table(), out, outLen);
}

void CPosPack::Clear() { ClearValues(m_value); }

std::int32_t CPosPack::UnpackField(const std::uint8_t* source, std::int32_t f,
                                   std::size_t readable) {
    if (f < 0 || f >= static_cast<std::int32_t>(m_attr.size())) return -1;
    const auto i = static_cast<std::size_t>(f);
    return UnpackFieldValue(m_attr[i], m_value[i], m_arena, source, readable);
}

void CPosPack::ExpandBitmap(const std::uint8_t* bitmap, std::uint8_t* list) {
    ExpandBitmap64(bitmap, list);
}

std::int32_t CPosPack::MaxPackedSize() const { return MaxPackedSize64(m_attr); }

CCupPosPack::CCupPosPack() {
    m_attr = kUnionPay64;
    m_arena.Reserve(m_attr, m_value);
}

std::int32_t CCupPosPack::Unpack(const std::uint8_t* data, std::int32_t len) {
    return UnpackWithin(data, len, ReadableOf(len));
}

std::int32_t CCupPosPack::UnpackWithin(const std::uint8_t* data, std::int32_t len,
                                       std::size_t readable) {
    if (data == nullptr || len < kFrameBytes) return -1;
    const auto at = [&](std::size_t i) -> std::uint8_t { return i < readable ? data[i] : 0; };
    // The two length bytes are skipped, not compared with len: the parse command checked them.
    std::size_t a = m_hasLengthPrefix == 1 ? 2 : 0;
    if ((at(a) & 0xF0) == 0x60 && (at(a + 5) & 0xF0) == 0x60) {
        m_hasTpdu = 1;
        for (std::size_t i = 0; i < 5; ++i) m_tpdu[i] = at(a + i);
        for (std::size_t i = 0; i < 6; ++i) m_header[i] = at(a + 5 + i);
        a += 11;
    }
    const std::uint8_t* body = data + std::min(a, readable);
    const std::size_t rest = readable > a ? readable - a : 0;
    const std::int32_t r = CPosPack::UnpackWithin(body, len - static_cast<std::int32_t>(a), rest);
    return r > 0 ? static_cast<std::int32_t>(a) + r : -1;
}

std::int32_t CCupPosPack::Pack(std::uint8_t* out, std::int32_t* outLen) {
    if (out == nullptr || outLen == nullptr) return 0;
    // A stored TPDU and header serve one Pack only; the defaults stand in for them otherwise.
    std::memcpy(out + 2, m_tpdu[0] != 0 ? m_tpdu.data() : kDefaultTpdu, 5);
    std::memcpy(out + 7, m_header[0] != 0 ? m_header.data() : kDefaultHeader, 6);
    m_tpdu.fill(0);
    m_header.fill(0);

    std::int32_t bodyLen = 0;
    const std::int32_t n = CPosPack::Pack(out + kFrameBytes, &bodyLen);
    if (n < 1) return -1;
    std::int32_t total = n + kFrameBytes;
    if (m_value[64].length > 0) {
        // Room for the MAC, left zero: no MAC is computed and the stored field 64 is not copied.
        const std::int32_t mac = m_attr[64].maxLen;
        std::memset(out + total, 0, static_cast<std::size_t>(mac));
        total += mac;
    }
    // The count of the bytes after the length, big-endian (it never exceeds 0xFFFF: see
    // MaxPackedSize).
    const std::int32_t after = total - 2;
    out[0] = static_cast<std::uint8_t>((after >> 8) & 0xFF);
    out[1] = static_cast<std::uint8_t>(after & 0xFF);
    *outLen = total;
    return total;
}

void CCupPosPack::Clear() {
    m_tpdu.fill(0);
    m_header.fill(0);
    for (auto& t : m_reservedText) t.fill('\0');
    CPosPack::Clear();
}

std::int32_t CCupPosPack::MaxPackedSize() const {
    return kFrameBytes + CPosPack::MaxPackedSize() + m_attr[64].maxLen;
}
