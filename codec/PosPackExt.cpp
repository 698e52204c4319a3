// The 128-field pack objects: the engine with the built-in UnionPay 128-field form.
#include "codec/PosPackExt.h"

#include <algorithm>
#include <cstring>

namespace {

const FieldTable& Form() { return BuiltinTable(BuiltinForm::kUnionPay128); }

std::size_t ReadableOf(std::int32_t len) { return len > 0 ? static_cast<std::size_t>(len) : 0; }

}  // namespace

CPosPackExt::CPosPackExt() = default;
CPosPackExt::~CPosPackExt() = default;

std::int32_t CPosPackExt::Unpack(const std::uint8_t* data, std::int32_t len) {
    return UnpackWithin(data, len, ReadableOf(len));
}

std::int32_t CPosPackExt::UnpackWithin(const std::uint8_t* data, std::int32_t len,
                                       std::size_t readable) {
    return UnpackBody(Form(), Set(), data, len, readable, 0, DecodeContext{nullptr, len});
}

std::int32_t CPosPackExt::UnpackReporting(const std::uint8_t* data, std::int32_t len,
                                          std::size_t readable, const DecodeContext& ctx) {
    return UnpackBody(Form(), Set(), data, len, readable, 0, ctx);
}

std::int32_t CPosPackExt::Pack(std::uint8_t* out, std::int32_t* outLen) {
    return PackBody(Form(), Set(), out, outLen);
}

std::int32_t CPosPackExt::BuildMacInput(std::uint8_t* out) {
    return BuildMacText(Form(), Set(), out);
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
    return BitmapToList(bits, bitmap, list);
}

std::int32_t CPosPackExt::FieldListToBitmap(const std::uint8_t* list, std::uint8_t* bitmap,
                                            std::int32_t bits) {
    if (bits != 64 && bits != 128) return -1;
    // Field 1 never reaches a 64-bit bitmap: there its bit would announce a secondary bitmap.
    ListToBitmap(list, bitmap, bits, bits == 128 ? 1 : 2);
    return 0;
}

std::int32_t CPosPackExt::MaxPackedSize() const { return MaxBodySize(Form(), m_attr); }

CCupPosPackExt::CCupPosPackExt() {
    const std::vector<FieldAttr> attrs = AttrsOf(Form());
    std::copy_n(attrs.begin(), std::min(attrs.size(), m_attr.size()), m_attr.begin());
    m_arena.Reserve(m_attr, m_value);
}

std::int32_t CCupPosPackExt::Unpack(const std::uint8_t* data, std::int32_t len) {
    return UnpackWithin(data, len, ReadableOf(len));
}

std::int32_t CCupPosPackExt::UnpackWithin(const std::uint8_t* data, std::int32_t len,
                                          std::size_t readable) {
    return UnpackReporting(data, len, readable, DecodeContext{nullptr, len});
}

std::int32_t CCupPosPackExt::UnpackReporting(const std::uint8_t* data, std::int32_t len,
                                             std::size_t readable, const DecodeContext& ctx) {
    // The four length characters are skipped unread: the parse command checked them.
    FrameFound found;
    const std::int32_t r =
        UnpackFramed(Form(), Set(), data, len, readable,
                     m_hasLengthPrefix == 1 ? LengthRule::Present : LengthRule::Absent, found, ctx);
    if (found.present[1]) {
        m_hasHeader = 1;
        const auto at = [&](std::size_t i) -> std::uint8_t { return i < readable ? data[i] : 0; };
        auto* h = reinterpret_cast<std::uint8_t*>(&m_header);
        const auto base = static_cast<std::size_t>(found.offset[1]);
        for (std::size_t i = 0; i < sizeof m_header; ++i) h[i] = at(base + i);
    }
    return r;
}

std::int32_t CCupPosPackExt::Pack(std::uint8_t* out, std::int32_t* outLen) {
    // The header is always the fixed one, with the total length in member 3.
    return PackFramed(Form(), Set(), FrameBytes{}, out, outLen);
}

void CCupPosPackExt::Clear() {
    m_header = ExtHeader{};
    for (auto& t : m_reservedText) t.fill('\0');
    CPosPackExt::Clear();
}

std::int32_t CCupPosPackExt::MaxPackedSize() const { return MaxFramedSize(Form(), m_attr); }
