// The rows of a JSON packet's members, shared by its build and its parse so that both show a
// member alike.
#pragma once

#include <string>
#include <string_view>

#include "codec/FieldRow.h"

/// A member's text as a row shows it: whole, a zero byte drawn as U+2400 "␀" (a row text would
/// end at it). A code page 936 text that holds a zero byte is shown in UTF-8 for that.
[[nodiscard]] std::string MemberRowText(std::string_view text);

/// Appends the row key / byte count of text / MemberRowText(text).
void AppendMemberRow(FieldRowList& rows, std::string_view key, std::string_view text);

/// `member "key"` for warnings: the key in UTF-8, JSON-quoted, so that it stays on one line.
[[nodiscard]] std::string MemberName(std::string_view key);
