// Rows of decoded 64-field and 128-field messages.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/Engine.h"
#include "codec/FieldRow.h"

class CCupPosPack;
class CCupPosPackExt;

/// Appends "TPDU", "Header", "Type", "Bit 1" and one "Bit %d" row per present field; returns 0.
std::int32_t BuildRows(FieldRowList& rows, const CCupPosPack& pack);
std::int32_t BuildRows(RowAppender& rows, const CCupPosPack& pack);
/// Appends the header rows, "MsgType", "Bit 1" and one "Bit %d" row per present field; returns 0.
std::int32_t BuildRows(FieldRowList& rows, const CCupPosPackExt& pack);
std::int32_t BuildRows(RowAppender& rows, const CCupPosPackExt& pack);
