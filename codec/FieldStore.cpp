// The field store shared by the 64-field, 128-field and trade codec objects.
#include "codec/FieldStore.h"

#include <algorithm>
#include <cstring>

#include "codec/Conversions.h"

FieldRecords MakeFieldRecords(std::vector<FieldAttr> attrs) {
    FieldRecords r;
    r.attrs = std::move(attrs);
    r.capacity.assign(r.attrs.size(), 0);
    r.readPast.assign(r.attrs.size(), 0);
    for (std::size_t f = 0; f < r.attrs.size(); ++f) {
        if (const std::int32_t s = MaxEncodedSize(r.attrs[f]); s > 0) {
            r.capacity[f] = static_cast<std::uint32_t>(BufferCapacity(s));
            r.total += r.capacity[f];
        }
    }
    return r;
}

void FieldBufferArena::Reserve(std::span<const FieldAttr> attrs, std::span<FieldValue> values,
                               Fill fill) {
    Reserve(MakeFieldRecords(std::vector<FieldAttr>(attrs.begin(), attrs.end())), values, fill);
}

void FieldBufferArena::Reserve(const FieldRecords& records, std::span<FieldValue> values,
                               Fill fill) {
    // Zero-filled once: every buffer starts with its first s+1 bytes zero, and nothing ever reads
    // an unwritten byte of the block. Without the fill only each buffer's first byte is written
    // (an empty value's terminator): most of a table's room is never used by a message.
    m_block = fill == Fill::Zeros ? std::make_unique<std::uint8_t[]>(records.total)
                                  : std::make_unique_for_overwrite<std::uint8_t[]>(records.total);
    std::size_t at = 0;
    const std::size_t n = std::min(records.capacity.size(), values.size());
    for (std::size_t f = 0; f < n; ++f) {
        const std::size_t cap = records.capacity[f];
        if (cap == 0) continue;
        values[f].data = std::span<std::uint8_t>(m_block.get() + at, cap);
        m_block[at] = 0;
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

}  // namespace

std::int32_t ReadStatedLength(const FieldAttr& a, const std::uint8_t* source, std::size_t readable,
                              bool* digits) {
    std::uint8_t prefix[8] = {};
    const std::size_t p =
        std::min<std::size_t>(static_cast<std::size_t>(std::max(a.lenBytes, 0)), 4);
    CopyReadable(prefix, source, p, readable);
    if (a.lenFormat == 'B') {
        std::int64_t l = 0;
        for (std::size_t i = 0; i < p; ++i) l = l * 256 + prefix[i];
        return static_cast<std::int32_t>(std::min<std::int64_t>(l, INT32_MAX));
    }
    if (a.lenFormat == 'N') {
        if (digits != nullptr) {
            for (std::size_t i = 0; i < p; ++i) {
                if ((prefix[i] >> 4) > 9 || (prefix[i] & 0x0F) > 9) *digits = false;
            }
        }
        std::int32_t l = 0;
        BcdToInt(prefix, p, &l);
        return l;
    }
    // Nearly every prefix is plain digits: read in one pass; anything else as the C library
    // reads a number (a sign, leading blanks).
    std::int32_t l = 0;
    for (std::size_t i = 0; i < p; ++i) {
        const auto d = static_cast<unsigned>(prefix[i] - '0');
        if (d > 9) {
            if (digits != nullptr) *digits = false;
            return DecimalTextToInt(reinterpret_cast<const char*>(prefix), p);
        }
        l = l * 10 + static_cast<std::int32_t>(d);
    }
    return l;
}

std::int32_t UnpackFieldValue(const FieldAttr& a, FieldValue& value, FieldBufferArena& arena,
                              const std::uint8_t* source, std::size_t readable,
                              std::int32_t* stated, bool* prefixDigits) {
    const std::int32_t s = MaxEncodedSize(a);
    if (s <= 0) return -1;

    std::int32_t n = 0;
    if (a.fixed == 1) {
        n = s;
    } else if (source == nullptr) {
        n = s;
    } else {
        std::int32_t l = ReadStatedLength(a, source, readable, prefixDigits);
        if (stated != nullptr) *stated = l;
        // A stated length above the maximum is cut to it; the next field is read from there.
        // A negative one (a sign in an ASCII prefix) takes no data.
        l = std::clamp(l, 0, a.maxLen);
        if (a.format == 'N') l = (l + 1) / 2;
        n = a.lenBytes + l;
    }

    // The buffer was sized from the record the object was built with; a record changed since
    // then gets a new buffer rather than a store past the old one.
    if (value.data.size() < static_cast<std::size_t>(s) + 1) {
        value.data = arena.ReserveOne(BufferCapacity(s));
    }
    if (source == nullptr) return n;

    // n never exceeds the largest encoded size, so the field is always carried whole, with its
    // terminator, whatever its size.
    const std::size_t count = static_cast<std::size_t>(n);
    CopyReadable(value.data.data(), source, count, readable);
    value.data[count] = 0;
    value.length = n;
    return n;
}

bool TakesWhole(const FieldAttr& a, std::span<const std::uint8_t> stored) {
    const std::int32_t s = MaxEncodedSize(a);
    if (s <= 0) return false;
    if (a.fixed == 1) return stored.size() == static_cast<std::size_t>(s);
    const auto p = static_cast<std::size_t>(std::max(a.lenBytes, 0));
    if (stored.size() < p) return false;
    bool digits = true;
    const std::int32_t stated = ReadStatedLength(a, stored.data(), stored.size(), &digits);
    if (!digits || stated < 0 || stated > a.maxLen) return false;
    const std::size_t data = a.format == 'N' ? (static_cast<std::size_t>(stated) + 1) / 2
                                             : static_cast<std::size_t>(stated);
    return stored.size() == p + data;
}

void ClearValues(std::span<FieldValue> values) {
    for (FieldValue& v : values) v.length = 0;
}
