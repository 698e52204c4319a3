// Every message text the commands show, defined once for the dialog and the command-line tool.
#pragma once

#include <string_view>

inline constexpr std::string_view kTextMessageEmpty = "报文为空!";
inline constexpr std::string_view kTextIsoParseError = "iso8583报文解析出错!";
inline constexpr std::string_view kTextTradeParseError = "orbo8583报文解析出错!";
inline constexpr std::string_view kTextNoConfigFile = "没有指定对应的配置文件!";
inline constexpr std::string_view kTextConfigParseError = "解析配置文件出错!";
inline constexpr std::string_view kTextNoBuildConfigRoot = "<orbo8583-build-config>节点不存在!";
inline constexpr std::string_view kTextTradeBuildError = "orbo8583报文组包出错!";
inline constexpr std::string_view kTextJsonBuildError = "orbojson报文组包出错!";
inline constexpr std::string_view kTextIpEmpty = "IP为空!";
inline constexpr std::string_view kTextPortEmpty = "Port为空!";
inline constexpr std::string_view kTextSendDataEmpty = "Send数据为空!";
inline constexpr std::string_view kTextConnectError = "建立socket连接异常!";
inline constexpr std::string_view kTextErrorCaption = "错误";
inline constexpr std::string_view kTextTableFileError = "域定义文件有误!";
inline constexpr std::string_view kTextLoadTableItem = "载入域定义文件…";
inline constexpr std::string_view kTextShowPartialRows = "显示已解析部分";
inline constexpr std::string_view kTextErrorRowName = "错误";

/// The longest message text a command takes (its 10240-byte text buffer and terminator).
inline constexpr std::size_t kMaxMessageText = 10239;
