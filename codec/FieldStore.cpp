// The field store shared by the 64-field, 128-field and trade codec objects.
#include "codec/FieldStore.h"

#include <algorithm>
#include <cstring>

#include "codec/Conversions.h"

std::int32_t MaxEncodedSize(const FieldAttr& a) {
    if (a.maxLen <= 0) return 0;
    if (a.fixed == 1) return a.format == 'N' ? (a.maxLen + 1) / 2 : a.maxLen;
    return a.lenBytes + a.maxLen;
}

void FieldBufferArena::Reserve(std::span<const FieldAttr> attrs, std::span<FieldValue> values) {
    std::size_t total = 0;
    for (const FieldAttr& a : attrs) {
        if (const std::int32_t s = MaxEncodedSize(a); s > 0) total += BufferCapacity(s);
    }
    // Zero-filled once: every buffer starts with its first s+1 bytes zero, and nothing ever reads
    // an unwritten byte of the block.
    m_block = std::make_unique<std::uint8_t[]>(total);
    std::size_t at = 0;
    for (std::size_t f = 0; f < attrs.size() && f < values.size(); ++f) {
        const std::int32_t s = MaxEncodedSize(attrs[f]);
        if (s <= 0) continue;
        const std::size_t cap = static_cast<std::size_t>(BufferCapacity(s));
        values[f].data = std::span<std::uint8_t>(m_block.get() + at, cap);
        at += cap;
    }
}

std::span<std::uint8_t> FieldBufferArena::ReserveOne(std::int32_t capacity) {
    m_extra.push_back(std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(capacity)));
    return {m_extra.back().get(), static_cast<std::size_t>(capacity)};
}

namespace {

// Copies n bytes of source into out; bytes at or past `readable` are zero.
void CopyReadable(std::uint8_t* out, const std::uint8_t* source, std::size_t n,
                  std::size_t readable) {
    const std::size_t have = std::min(n, readable);
    if (have > 0) std::memcpy(out, source, have);
    if (n > have) std::memset(out + have, 0, n - have);
}

// The stated length of a variable field, read from its prefix bytes.
std::int32_t ReadStatedLength(const FieldAttr& a, const std::uint8_t* source,
                              std::size_t readable) {
    std::uint8_t prefix[8] = {};
    const std::size_t p = std::min<std::size_t>(static_cast<std::size_t>(a.lenBytes), 4);
    CopyReadable(prefix, source, p, readable);
    if (a.lenFormat == 'N') {
        std::int32_t l = 0;
        BcdToInt(prefix, p, &l);
        return l;
    }
    return DecimalTextToInt(reinterpret_cast<const char*>(prefix), p);
}

}  // namespace

std::int32_t UnpackFieldValue(const FieldAttr& a, FieldValue& value, FieldBufferArena& arena,
                              const std::uint8_t* source, std::size_t readable) {
    const std::int32_t s = MaxEncodedSize(a);
    if (s <= 0) return -1;

    std::int32_t n = 0;
    if (a.fixed == 1) {
        n = s;
    } else if (source == nullptr) {
        n = s;
    } else {
        std::int32_t l = ReadStatedLength(a, source, readable);
        // A stated length above the maximum is cut to it; the next field is read from there.
        // A negative one (a sign in an ASCII prefix) takes no data.
        l = std::clamp(l, 0, a.maxLen);
        if (a.format == 'N') l = (l + 1) / 2;
        n = a.lenBytes + l;
    }

    if (value.data.empty()) value.data = arena.ReserveOne(BufferCapacity(s));
    if (source == nullptr) return n;

    // n never exceeds the largest encoded size, so the field is always carried whole, with its
    // terminator, whatever its size.
    const std::size_t count = static_cast<std::size_t>(n);
    CopyReadable(value.data.data(), source, count, readable);
    value.data[count] = 0;
    value.length = n;
    return n;
}

void ExpandBitmap64(const std::uint8_t* bitmap, std::uint8_t* list) {
    for (int k = 0; k < 64; ++k) {
        const bool set = (bitmap[k / 8] >> (7 - k % 8)) & 1;
        list[k] = set ? static_cast<std::uint8_t>(k + 1) : 0;
    }
}

std::int32_t UnpackMessage64(Table64 t, const std::uint8_t* data, std::int32_t len,
                             std::size_t readable) {
    if (data == nullptr) return -1;
    auto rest = [&](std::int64_t off) {
        return off >= static_cast<std::int64_t>(readable)
                   ? std::size_t{0}
                   : readable - static_cast<std::size_t>(off);
    };
    // A field may start past the readable bytes (it then reads zeros): point at their end instead
    // of forming a pointer outside the caller's buffer.
    auto at = [&](std::int64_t off) {
        return data + std::min(static_cast<std::size_t>(off), readable);
    };
    std::int64_t off = UnpackFieldValue(t.attr[0], t.value[0], t.arena, data, readable);
    if (off < 0) return -1;
    const std::int32_t r1 = UnpackFieldValue(t.attr[1], t.value[1], t.arena, at(off), rest(off));
    if (r1 < 0) return -1;
    off += r1;
    std::uint8_t bitmap[8] = {};
    std::memcpy(bitmap, t.value[1].data.data(), std::min<std::size_t>(8, t.value[1].data.size()));
    ExpandBitmap64(bitmap, t.fieldList.data());
    for (const std::uint8_t e : t.fieldList) {
        if (e < 2) continue;
        if (off > len) return -1;
        const std::int32_t r = UnpackFieldValue(t.attr[e], t.value[e], t.arena, at(off), rest(off));
        if (r == -1) return -1;
        off += r;
    }
    return static_cast<std::int32_t>(off);
}

std::int32_t PackMessage64(Table64 t, std::uint8_t* out, std::int32_t* outLen) {
    if (out == nullptr) return 0;
    const FieldValue& type = t.value[0];
    if (type.length >= 1024) return -1;
    std::int32_t pos = type.length;
    if (pos > 0) std::memcpy(out, type.data.data(), static_cast<std::size_t>(pos));

    std::fill(t.fieldList.begin(), t.fieldList.end(), std::uint8_t{0});
    for (int f = 2; f <= 64; ++f) {
        if (t.value[f].length > 0) t.fieldList[f - 1] = static_cast<std::uint8_t>(f);
    }
    std::uint8_t* bitmap = out + pos;
    std::memset(bitmap, 0, 8);
    for (int k = 0; k < 64; ++k) {
        if (t.fieldList[k] != 0) bitmap[k / 8] |= static_cast<std::uint8_t>(0x80 >> (k % 8));
    }
    pos += t.value[1].length;
    // Field 64 is marked in the bitmap but never copied here: the MAC is the framing's business.
    for (int f = 2; f <= 63; ++f) {
        const FieldValue& v = t.value[f];
        if (v.length <= 0) continue;
        std::memcpy(out + pos, v.data.data(), static_cast<std::size_t>(v.length));
        pos += v.length;
    }
    if (outLen != nullptr) *outLen = pos;
    return pos;
}

std::int32_t MaxPackedSize64(std::span<const FieldAttr, 65> attr) {
    std::int32_t total = 8;  // the bitmap, whatever the table says of field 1
    for (const FieldAttr& a : attr) total += MaxEncodedSize(a);
    return total;
}

void ClearValues(std::span<FieldValue> values) {
    for (FieldValue& v : values) v.length = 0;
}
