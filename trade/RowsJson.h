// Reading rows back from the JSON that the parse commands print: {"rows":[{"name":…,"value":…}]}.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "iso/CommandResult.h"
#include "codec/FieldRow.h"

/// Reads the rows of a JSON text {"rows":[{"name":"…","value":"…"},…]} (other members, such as
/// "length", are not read; a missing "value" is empty). A UTF-8 byte-order mark is skipped.
/// False with the reason (json-c's own error and its byte offset, or the member at fault).
[[nodiscard]] bool ReadRowsJson(std::string_view json, FieldRowList& rows, std::string& why);

/// What packs the rows read (BuildIso8583FromRows or BuildIso8583WithTable, bound to a form).
using RowsBuilder = std::function<CommandResult(std::span<const FieldRow> rows)>;

/// The build-iso8583 command on such a JSON text: its rows packed by build. Failed with
/// "解析配置文件出错!" when the text holds no such rows, else as build.
[[nodiscard]] CommandResult BuildFromRowsJson(std::string_view json, const RowsBuilder& build);
/// The same from a file, read as the build commands read configuration files.
[[nodiscard]] CommandResult BuildFromRowsFile(std::string_view path, const RowsBuilder& build);
