// The JSON packet parse command: a framed JSON packet text back into the rows of its members.
#pragma once

#include <string_view>

#include "iso/CommandResult.h"

/// Decodes a JSON packet text, in the mixed form the JSON build writes (12 hex digits of frame
/// head, the JSON text, 2 hex digits of check byte; its 13th character is '{') or as hex digits
/// of the whole frame (white space allowed). Ok: one row per member (key, length, value as the
/// JSON build shows them), then the row "校验" telling whether the check byte and the stated
/// length agree; with characters beyond ASCII in the mixed form, the JSON text is read in UTF-8 or
/// code page 936, whichever its check byte agrees with (else the one it came in), and the verdict
/// starts by naming it. Failed with "报文为空!" or "JSON包解析出错!" (detail: the reason) for a
/// text over 10239 characters, a frame too short, not hex, a marker other than F1, or a JSON text
/// that is not one object.
[[nodiscard]] CommandResult ParseJsonPacketText(std::string_view text);
void ParseJsonPacketText(std::string_view text, CommandResult& result);
