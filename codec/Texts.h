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
inline constexpr std::string_view kTextJsonPacketParseError = "JSON包解析出错!";
inline constexpr std::string_view kTextIsoBuildError = "组包出错!";
/// The last row of a parsed JSON packet: its name, and what its value says after the check byte.
inline constexpr std::string_view kTextCheckRow = "校验";
inline constexpr std::string_view kTextCheckAgrees = "校验字节与长度正确";
inline constexpr std::string_view kTextCheckByteDiffers = "校验字节不符,应为";
inline constexpr std::string_view kTextCheckLengthDiffers = "长度不符,应为";
/// Before the verdict when the JSON text holds characters beyond ASCII: the encoding whose bytes
/// the check byte and length were computed over.
inline constexpr std::string_view kTextCheckAssumedUtf8 = "按UTF-8编码: ";
inline constexpr std::string_view kTextCheckAssumedGbk = "按GBK编码: ";
/// Shown after a build whose configuration had suspicious places; %1 is their count.
inline constexpr std::string_view kTextBuildWarnings = "生成完成，但配置文件有%1处可疑内容";
inline constexpr std::string_view kTextShowPartialRows = "显示已解析部分";
inline constexpr std::string_view kTextErrorRowName = "错误";
inline constexpr std::string_view kTextTlvTooLong = "TLV数据过长!";
inline constexpr std::string_view kTextExpandTlv = "展开55域(IC卡数据)";
inline constexpr std::string_view kTextMaskCardNumbers = "隐藏卡号";
inline constexpr std::string_view kTextExplainItem = "显示含义";
inline constexpr std::string_view kTextTableFileError = "域定义文件有误!";
inline constexpr std::string_view kTextLoadTableItem = "载入域定义文件…";

/// The longest message text a command takes (its 10240-byte text buffer and terminator).
inline constexpr std::size_t kMaxMessageText = 10239;
