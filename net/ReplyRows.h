// A host's reply decoded by the parse command that fits its form.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "iso/CommandResult.h"

/// The reply as the hex text that a user would paste: upper-case digits, no white space.
[[nodiscard]] std::string ReplyHexText(std::span<const std::uint8_t> reply);

/// The reply's message: a complete reply up to its expected length (what follows is not part of
/// it), any other reply whole.
[[nodiscard]] std::span<const std::uint8_t> ReplyMessage(const SendReport& report);

/// Decodes a reply as if its hex text had been pasted: a JSON packet with the JSON packet parse
/// command, a trade frame with the trade parse command, anything else with the ISO 8583 parse
/// command and interfaceType; of the bytes of ReplyMessage, so that bytes after a complete
/// reply do not spoil the length match.
[[nodiscard]] CommandResult DecodeReply(const SendReport& report, int interfaceType);
