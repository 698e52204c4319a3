// The ISO 8583 parse command: message text and interface type in, rows or an error out.
#include "codec/ParseIso8583.h"

#include <cstdint>
#include <string>
#include <type_traits>

#include "codec/Conversions.h"
#include "codec/PosPack.h"
#include "codec/PosPackExt.h"
#include "codec/Rows.h"
#include "codec/Texts.h"

namespace {

constexpr std::size_t kMaxMessageBytes = (kMaxMessageText + 1) / 2;

enum class Choice { None, Ext128, Cup64 };

struct Decision {
    Choice object = Choice::None;
    std::uint8_t hasLengthPrefix = 1;
};

constexpr std::uint8_t LengthFlag(bool skipLength) { return skipLength ? 1 : 0; }

// Picks the object by the message's length form and the interface type. A matching ASCII length
// wins over a 64-field selection; the selection only decides whether the length is skipped.
Decision Choose(const std::uint8_t* bytes, std::size_t readable, std::int64_t L,
                int interfaceType) {
    const auto at = [&](std::size_t i) -> std::uint8_t { return i < readable ? bytes[i] : 0; };
    char first4[4];
    for (std::size_t i = 0; i < 4; ++i) first4[i] = static_cast<char>(at(i));
    const std::int64_t asciiLength = DecimalTextToInt(first4, 4);
    const std::int64_t binaryLength = at(0) * 256 + at(1);

    if (asciiLength == L - 4) return {Choice::Ext128, LengthFlag(interfaceType != 2)};
    if (interfaceType == 2) return {Choice::Ext128, 0};
    if (binaryLength == L - 2) return {Choice::Cup64, LengthFlag(interfaceType != 1)};
    if (interfaceType == 1) return {Choice::Cup64, 0};
    return {};
}

// Says where a failed decoding stopped, for the command line's detail line. The object is fresh,
// so the first listed field without a stored value is the one the decoding stopped at.
template <typename Pack>
std::string DescribeFailure(const Pack& pack, std::int64_t L, std::int64_t framing) {
    if (L < 13) return "message of " + std::to_string(L) + " bytes is shorter than 13 bytes";
    std::int64_t off = framing + pack.m_value[0].length + pack.m_value[1].length;
    for (const std::uint8_t e : pack.m_fieldList) {
        if (e < 2) continue;
        const FieldValue& v = pack.m_value[e];
        if (v.length > 0) {
            off += v.length;
            continue;
        }
        if (pack.m_attr[e].maxLen == 0) {
            return "field " + std::to_string(e) + " is marked in the bitmap but not defined";
        }
        return "field " + std::to_string(e) + " would start at byte " + std::to_string(off) +
               ", past the end of the " + std::to_string(L) + "-byte message";
    }
    return "the message could not be decoded";
}

template <typename Pack>
void Decode(Pack& pack, std::uint8_t hasLengthPrefix, const std::uint8_t* bytes, std::int32_t L,
            std::size_t readable, CommandResult& result) {
    pack.m_hasLengthPrefix = hasLengthPrefix;
    if (pack.UnpackWithin(bytes, L, readable) == -1) {
        std::int64_t framing = 0;
        if constexpr (std::is_same_v<Pack, CCupPosPack>) {
            framing = (hasLengthPrefix == 1 ? 2 : 0) + (pack.m_hasTpdu == 1 ? 11 : 0);
        } else {
            framing = (hasLengthPrefix == 1 ? 4 : 0) + (pack.m_hasHeader == 1 ? 46 : 0);
        }
        result.Fail(kTextIsoParseError, DescribeFailure(pack, L, framing));
        return;
    }
    BuildRows(result.rows, pack);
}

}  // namespace

CommandResult ParseIso8583Text(std::string_view text, int interfaceType) {
    CommandResult r;
    ParseIso8583Text(text, interfaceType, r);
    return r;
}

void ParseIso8583Text(std::string_view text, int interfaceType, CommandResult& result) {
    result.Reset();
    // Only an empty text counts as empty: white space alone goes on and fails later, if at all.
    if (text.empty()) {
        result.Fail(kTextMessageEmpty);
        return;
    }
    if (text.size() > kMaxMessageText) {
        result.Fail(kTextIsoParseError,
                    "message text longer than " + std::to_string(kMaxMessageText) + " characters");
        return;
    }

    // The text is zero-terminated in the edit: a zero byte ends it. Only the bytes that the
    // decoding can reach are written; it reads nothing past `readable` (the bytes of all digits,
    // an odd last digit included), which stands for the zeros that follow in a zero-filled buffer.
    char digits[kMaxMessageText];
    std::size_t stripped = 0;
    for (const char c : text) {
        if (c == '\0') break;
        if (!IsHexTextSpace(c)) digits[stripped++] = c;
    }
    std::uint8_t bytes[kMaxMessageBytes];
    HexToBytes(digits, stripped, bytes);
    // An odd last digit is not counted in the message length, though its byte (nF) is readable.
    const auto L = static_cast<std::int32_t>(stripped / 2);
    const std::size_t readable = (stripped + 1) / 2;

    const Decision d = Choose(bytes, readable, L, interfaceType);
    switch (d.object) {
        case Choice::None:
            result.outcome = Outcome::NoLengthMatch;
            return;
        case Choice::Ext128: {
            CCupPosPackExt pack;
            Decode(pack, d.hasLengthPrefix, bytes, L, readable, result);
            return;
        }
        case Choice::Cup64: {
            CCupPosPack pack;
            Decode(pack, d.hasLengthPrefix, bytes, L, readable, result);
            return;
        }
    }
}
