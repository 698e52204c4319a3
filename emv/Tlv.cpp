// BER-TLV decoding of chip card data (ISO 8583 field 55): objects in document order, with depth.
#include "emv/Tlv.h"

#include <array>

#include "codec/Conversions.h"

namespace {

constexpr std::size_t kMaxTagBytes = 3;
constexpr std::string_view kTooDeep = "nesting deeper than 32 levels";
static_assert(kTlvMaxDepth == 32, "the reason names the depth");

struct Frame {
    std::uint32_t end;    // end of the constructed object's value
    std::uint32_t index;  // the constructed object in the list
};

// Reads one object header at pos (below end). Fills o and returns the empty reason, or the
// reason it does not decode.
std::string_view ReadHeader(std::span<const std::uint8_t> data, std::uint32_t pos,
                            std::uint32_t end, TlvObject& o) {
    o.offset = pos;
    const std::uint8_t first = data[pos];
    o.constructed = (first & 0x20) != 0;
    std::uint32_t tag = first;
    std::uint32_t p = pos + 1;
    if ((first & 0x1F) == 0x1F) {
        // More tag bytes follow; each with bit 8 set is followed by another.
        for (;;) {
            if (p >= end) return "tag cut short";
            if (p - pos >= kMaxTagBytes) return "tag longer than 3 bytes";
            const std::uint8_t b = data[p++];
            tag = tag << 8 | b;
            if ((b & 0x80) == 0) break;
        }
    }
    o.tag = tag;
    o.tagBytes = static_cast<std::uint8_t>(p - pos);
    if (p >= end) return "length missing";
    const std::uint8_t l = data[p++];
    std::uint32_t length = l;
    if (l == 0x81 || l == 0x82) {
        const std::uint32_t count = l & 0x7F;
        if (end - p < count) return "length bytes missing";
        length = 0;
        for (std::uint32_t k = 0; k < count; ++k) length = length << 8 | data[p++];
    } else if (l >= 0x80) {
        return l == 0x80 ? "indefinite length not allowed" : "length form above 0x82";
    }
    if (end - p < length) return "length past the end";
    o.valueOffset = p;
    o.length = length;
    return {};
}

}  // namespace

void DecodeTlv(std::span<const std::uint8_t> data, TlvList& list) {
    list.Clear();
    // Offsets are 32-bit; field data is far shorter, and a longer input is decoded up to 4 GiB.
    const auto size = static_cast<std::uint32_t>(
        data.size() < 0xFFFFFFFFu ? data.size() : std::size_t{0xFFFFFFFFu});
    std::array<Frame, kTlvMaxDepth + 1> open{};  // objects at depth kTlvMaxDepth may open
    std::size_t depth = 0;
    std::uint32_t pos = 0;
    std::uint32_t end = size;
    for (;;) {
        // Close every constructed object whose value is used up.
        while (pos >= end && depth > 0) {
            --depth;
            list.objects[open[depth].index].next = static_cast<std::uint32_t>(list.objects.size());
            end = depth > 0 ? open[depth - 1].end : size;
        }
        if (pos >= end) break;
        if (data[pos] == 0x00 || data[pos] == 0xFF) {
            ++pos;
            continue;
        }
        TlvObject o;
        const std::string_view reason =
            depth > kTlvMaxDepth ? kTooDeep : ReadHeader(data, pos, end, o);
        if (!reason.empty()) {
            list.error = {pos, reason};
            // Objects left open end where the decoding stopped.
            while (depth > 0) {
                --depth;
                list.objects[open[depth].index].next =
                    static_cast<std::uint32_t>(list.objects.size());
            }
            return;
        }
        o.depth = static_cast<std::uint8_t>(depth);
        const auto index = static_cast<std::uint32_t>(list.objects.size());
        o.next = index + 1;
        o.opened = o.constructed && o.length > 0;
        list.objects.push_back(o);
        if (o.opened) {
            open[depth++] = {o.valueOffset + o.length, index};
            pos = o.valueOffset;
            end = o.valueOffset + o.length;
        } else {
            pos = o.valueOffset + o.length;
        }
    }
}

std::string_view TlvTagText(const TlvObject& o, char* out) {
    std::uint8_t bytes[kMaxTagBytes];
    for (std::size_t k = 0; k < o.tagBytes; ++k) {
        bytes[k] = static_cast<std::uint8_t>(o.tag >> (8 * (o.tagBytes - 1 - k)));
    }
    BytesToHex(bytes, o.tagBytes, out);
    return {out, 2u * o.tagBytes};
}
