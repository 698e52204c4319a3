// Reading rows back from the JSON that the parse commands print: {"rows":[{"name":…,"value":…}]}.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "codec/CommandResult.h"
#include "codec/FieldRow.h"

/// Reads the rows of a JSON text {"rows":[{"name":"…","value":"…"},…]} (other members, such as
/// "length", are not read; a missing "value" is empty). A UTF-8 byte-order mark is skipped.
/// False with the reason (json-c's own error and its byte offset, or the member at fault).
[[nodiscard]] bool ReadRowsJson(std::string_view json, FieldRowList& rows, std::string& why);

/// The build-iso8583 command on such a JSON text: its rows packed by BuildIso8583FromRows.
/// Failed with "解析配置文件出错!" when the text holds no such rows, else as that command.
[[nodiscard]] CommandResult BuildIso8583FromRowsJson(std::string_view json,
                                                     std::int32_t interfaceType);
/// The same from a file, read as the build commands read configuration files.
[[nodiscard]] CommandResult BuildIso8583FromRowsFile(std::string_view path,
                                                     std::int32_t interfaceType);
