// The TLV decode command: a bare TLV text (chip card data as a terminal log shows it) into rows.
#pragma once

#include <string_view>

#include "iso/CommandResult.h"

/// Decodes a hex text (white space allowed, at most 10239 characters; an odd last digit is not
/// counted) as BER-TLV: one row per object, tags of the top level without indent, and one row
/// "错误" when an object does not decode (result.tlv's last note then says where and why).
/// Failed with "报文为空!" for an empty text and "TLV数据过长!" for a longer one; any other text
/// gives rows.
void DecodeTlvText(std::string_view text, bool mask, CommandResult& result);
