// The TLV decode command: a bare TLV text (chip card data as a terminal log shows it) into rows.
#pragma once

#include <string_view>

#include "iso/CommandResult.h"

inline constexpr std::string_view kTextTlvNotHex = "TLV数据含有非十六进制字符!";

/// Decodes a hex text (white space allowed, at most 10239 characters; an odd last digit is not
/// counted) as BER-TLV: one row per object, tags of the top level without indent, and one row
/// "错误" when an object does not decode (result.tlv's last note then says where and why).
/// Failed with "报文为空!" for an empty text, "TLV数据过长!" for a longer one and "TLV数据含有非
/// 十六进制字符!" for a text with a character that is neither a hex digit nor white space (the
/// detail names the first and its position); any other text gives rows.
void DecodeTlvText(std::string_view text, bool mask, CommandResult& result);
