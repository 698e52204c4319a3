// The trade parse command and the two build commands (XML trade message, JSON packet; the JSON
// build lives in BuildJson.cpp).
#pragma once

#include <string_view>

#include "iso/CommandResult.h"

/// Decodes a framed trade message text (hex, white space allowed; it ends at a zero byte). Ok with
/// rows; Failed with "报文为空!" or "orbo8583报文解析出错!" (also for 10240 characters or more).
/// A decoding that stops records its field, the byte offset from the frame's first byte and the
/// reason in failure, and keeps the rows decoded before it (FailedRows::Partial).
[[nodiscard]] CommandResult ParseTradeText(std::string_view text);
void ParseTradeText(std::string_view text, CommandResult& result);

/// Builds a trade message from an XML build configuration file. Ok: message holds the frame's
/// hex text and rows the rows of parsing it again. Failed with "没有指定对应的配置文件!" (empty
/// path), "解析配置文件出错!", "<orbo8583-build-config>节点不存在!" or "orbo8583报文组包出错!".
[[nodiscard]] CommandResult BuildTradeFromXmlFile(std::string_view path);
/// The same from the XML text itself. "bit" numbers outside 0..44, values over the field's
/// maxLen and value texts of 10240 characters or more give "解析配置文件出错!"; a payload over
/// 2048 bytes gives "orbo8583报文组包出错!".
[[nodiscard]] CommandResult BuildTradeFromXmlText(std::string_view xml);

/// Builds a JSON packet from a JSON configuration file. Ok: rows of the members sent (UTF-8-or-936)
/// and message = 12 hex characters of frame head, the JSON text's own bytes, 2 hex characters of
/// check byte; a member not sent as it stands (0, a number outside 32 bits, another kind than
/// integer or string) is a warning naming it. Failed with "没有指定对应的配置文件!",
/// "解析配置文件出错!" or "orbojson报文组包出错!" (then the member rows stay in rows).
[[nodiscard]] CommandResult BuildJsonFromFile(std::string_view path);
/// The same from the JSON text itself. A top-level value that is not an object, a configuration
/// over 1 MiB or an object of more than 8192 members gives "解析配置文件出错!".
[[nodiscard]] CommandResult BuildJsonFromText(std::string_view json);
