// BER-TLV decoding of chip card data (ISO 8583 field 55): objects in document order, with depth.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

/// One decoded object. Objects are listed in document order; a constructed object is followed by
/// its descendants, which carry a depth one higher.
struct TlvObject {
    std::uint32_t tag = 0;          // the tag bytes, first byte highest (0x9F26)
    std::uint8_t tagBytes = 0;      // 1..3
    std::uint8_t depth = 0;         // 0 for an object at the top level
    bool constructed = false;       // bit 6 of the first tag byte
    bool opened = false;            // constructed and its value decoded as objects
    std::uint32_t offset = 0;       // first tag byte, from the start of the data
    std::uint32_t valueOffset = 0;  // first value byte, from the start of the data
    std::uint32_t length = 0;       // value bytes
    std::uint32_t next = 0;         // index of the first object after this one's descendants
};

/// Where and why decoding stopped; reason is empty when everything decoded.
struct TlvError {
    std::uint32_t offset = 0;  // first tag byte of the object that does not decode
    std::string_view reason;   // English, one line
};

struct TlvList {
    std::vector<TlvObject> objects;
    TlvError error;

    [[nodiscard]] bool Failed() const { return !error.reason.empty(); }
    void Clear() {
        objects.clear();
        error = {};
    }
};

/// The deepest level an object may stand at: constructed objects are opened down to it, and an
/// object below it stops the decoding ("nesting deeper than 32 levels"). Chip card data nests
/// three or four levels; the cap keeps the work's state a fixed size whatever the input.
inline constexpr std::uint8_t kTlvMaxDepth = 32;

/// Decodes data as BER-TLV into list (cleared first): tags of 1 to 3 bytes, lengths of one byte
/// or 0x81/0x82 and one or two more, constructed objects opened, 0x00 and 0xFF between objects
/// skipped as padding. A malformed object stops the decoding with one reason; the objects before
/// it stay. Every object of well-formed data is listed, however deep (up to kTlvMaxDepth), so
/// that a reader showing fewer levels still knows every card number and every fault.
void DecodeTlv(std::span<const std::uint8_t> data, TlvList& list);

/// The tag as upper-case hex text ("9F26"), written into out (at least 7 bytes); returns it.
std::string_view TlvTagText(const TlvObject& o, char* out);
