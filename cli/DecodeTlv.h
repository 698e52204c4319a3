// tarnwick-cli decode-tlv: a bare TLV text tag by tag, as a table or JSON.
#pragma once

#include <string_view>

#include "cli/Cli.h"

/// Decodes text and writes the rows (table) or {"tlv":[…]} (json); returns the exit status:
/// 0, or 1 when the text is refused or an object does not decode.
[[nodiscard]] int DecodeTlvCommand(std::string_view text, bool json, bool mask,
                                   const CliStreams& io);
