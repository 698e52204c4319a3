// The 64-field pack objects: the engine with the built-in UnionPay 64-field form.
#include "codec/PosPack.h"

#include <algorithm>
#include <cstring>

namespace {

const FieldTable& Form() { return BuiltinTable(BuiltinForm::kUnionPay64); }

// Clamps readable to a signed message length that may be negative.
std::size_t ReadableOf(std::int32_t len) { return len > 0 ? static_cast<std::size_t>(len) : 0; }

}  // namespace

CPosPack::CPosPack() = default;
CPosPack::~CPosPack() = default;

std::int32_t CPosPack::Unpack(const std::uint8_t* data, std::int32_t len) {
    return UnpackWithin(data, len, ReadableOf(len));
}

std::int32_t CPosPack::UnpackWithin(const std::uint8_t* data, std::int32_t len,
                                    std::size_t readable) {
    return UnpackBody(Form(), Set(), data, len, readable, 0, DecodeContext{nullptr, len});
}

std::int32_t CPosPack::UnpackReporting(const std::uint8_t* data, std::int32_t len,
                                       std::size_t readable, const DecodeContext& ctx) {
    return UnpackBody(Form(), Set(), data, len, readable, 0, ctx);
}

std::int32_t CPosPack::Pack(std::uint8_t* out, std::int32_t* outLen) {
    return PackBody(Form(), Set(), out, outLen);
}

void CPosPack::Clear() { ClearValues(m_value); }

std::int32_t CPosPack::UnpackField(const std::uint8_t* source, std::int32_t f,
                                   std::size_t readable) {
    if (f < 0 || f >= static_cast<std::int32_t>(m_attr.size())) return -1;
    const auto i = static_cast<std::size_t>(f);
    return UnpackFieldValue(m_attr[i], m_value[i], m_arena, source, readable);
}

std::int32_t CPosPack::MaxPackedSize() const { return MaxBodySize(Form(), m_attr); }

CCupPosPack::CCupPosPack() {
    const std::vector<FieldAttr> attrs = AttrsOf(Form());
    std::copy_n(attrs.begin(), std::min(attrs.size(), m_attr.size()), m_attr.begin());
    m_arena.Reserve(m_attr, m_value);
}

std::int32_t CCupPosPack::Unpack(const std::uint8_t* data, std::int32_t len) {
    return UnpackWithin(data, len, ReadableOf(len));
}

std::int32_t CCupPosPack::UnpackWithin(const std::uint8_t* data, std::int32_t len,
                                       std::size_t readable) {
    return UnpackReporting(data, len, readable, DecodeContext{nullptr, len});
}

std::int32_t CCupPosPack::UnpackReporting(const std::uint8_t* data, std::int32_t len,
                                          std::size_t readable, const DecodeContext& ctx) {
    // The two length bytes are skipped, not compared with len: the parse command checked them.
    FrameFound found;
    const std::int32_t r =
        UnpackFramed(Form(), Set(), data, len, readable,
                     m_hasLengthPrefix == 1 ? LengthRule::Present : LengthRule::Absent, found, ctx);
    // The TPDU (part 1) and the header (part 2) are kept when found, even if the body fails.
    if (found.present[1]) {
        m_hasTpdu = 1;
        const auto at = [&](std::size_t i) -> std::uint8_t { return i < readable ? data[i] : 0; };
        const auto t = static_cast<std::size_t>(found.offset[1]);
        const auto h = static_cast<std::size_t>(found.offset[2]);
        for (std::size_t i = 0; i < 5; ++i) m_tpdu[i] = at(t + i);
        for (std::size_t i = 0; i < 6; ++i) m_header[i] = at(h + i);
    }
    return r;
}

std::int32_t CCupPosPack::Pack(std::uint8_t* out, std::int32_t* outLen) {
    if (out == nullptr || outLen == nullptr) return 0;
    // A stored TPDU and header serve one Pack only; the defaults stand in for them otherwise.
    FrameBytes parts{};
    if (m_tpdu[0] != 0) parts[1] = std::span<const std::uint8_t>(m_tpdu.data(), 5);
    if (m_header[0] != 0) parts[2] = std::span<const std::uint8_t>(m_header.data(), 6);
    std::array<std::uint8_t, 5> tpdu{};
    std::array<std::uint8_t, 6> header{};
    std::copy_n(m_tpdu.begin(), 5, tpdu.begin());
    std::copy_n(m_header.begin(), 6, header.begin());
    if (!parts[1].empty()) parts[1] = tpdu;
    if (!parts[2].empty()) parts[2] = header;
    m_tpdu.fill(0);
    m_header.fill(0);
    // The count of the bytes after the length never exceeds 0xFFFF: see MaxPackedSize.
    return PackFramed(Form(), Set(), parts, out, outLen);
}

void CCupPosPack::Clear() {
    m_tpdu.fill(0);
    m_header.fill(0);
    for (auto& t : m_reservedText) t.fill('\0');
    CPosPack::Clear();
}

std::int32_t CCupPosPack::MaxPackedSize() const { return MaxFramedSize(Form(), m_attr); }
