// The TLV decode command: a bare TLV text (chip card data as a terminal log shows it) into rows.
#include "emv/DecodeTlvText.h"

#include <cstdint>
#include <span>
#include <string>
#include <utility>

#include "codec/Conversions.h"
#include "codec/Texts.h"
#include "emv/Tlv.h"
#include "emv/TlvRows.h"

namespace {

// Why text is not hex (the first character that is neither a hex digit nor white space, and its
// position from 1), or empty.
std::string NotHexReason(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (IsHexDigitChar(c) || IsHexTextSpace(c)) continue;
        const auto code = static_cast<unsigned char>(c);
        std::string what;
        if (code > 0x20 && code < 0x7F) {
            what = std::string("'") + c + "'";
        } else {
            char hex[3];
            BytesToHex(&code, 1, hex);
            what = "byte 0x" + std::string(hex, 2);
        }
        return "character " + what + " at position " + std::to_string(i + 1) +
               " is not a hex digit";
    }
    return {};
}

}  // namespace

void DecodeTlvText(std::string_view text, bool mask, CommandResult& result) {
    result.Reset();
    if (!OpenMessageText(text, kTextTlvTooLong, result)) return;
    if (std::string reason = NotHexReason(text); !reason.empty()) {
        result.Fail(kTextTlvNotHex, std::move(reason));
        return;
    }
    std::uint8_t bytes[(kMaxMessageText + 1) / 2];
    // An odd last digit is left out, as the parse command leaves it out of the message length.
    const std::size_t n = MessageTextToBytes(text, bytes) / 2;
    TlvList list;
    DecodeTlv(std::span<const std::uint8_t>(bytes, n), list);
    AppendTlvRows(result.rows, result.tlv, kNoFieldRow, std::span<const std::uint8_t>(bytes, n),
                  list, 0, mask);
}
