// The TLV decode command: a bare TLV text (chip card data as a terminal log shows it) into rows.
#include "emv/DecodeTlvText.h"

#include <cstdint>
#include <span>
#include <string>

#include "codec/Conversions.h"
#include "codec/Texts.h"
#include "emv/Tlv.h"
#include "emv/TlvRows.h"

void DecodeTlvText(std::string_view text, bool mask, CommandResult& result) {
    result.Reset();
    if (text.empty()) {
        result.Fail(kTextMessageEmpty);
        return;
    }
    if (text.size() > kMaxMessageText) {
        result.Fail(kTextTlvTooLong,
                    "TLV text longer than " + std::to_string(kMaxMessageText) + " characters");
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
