// The TCP send command: a message text to bytes, sent to a host, and the host's reply read back.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "codec/CommandResult.h"
#include "net/Socket.h"

/// Failures the send command adds to the system's texts.
inline constexpr std::string_view kTextSendDataTooLong = "Send数据过长!";
inline constexpr std::string_view kTextSendDataFormatError = "Send数据格式错误!";
inline constexpr std::string_view kTextSendFailed = "发送数据失败!";

/// The reply area: a reply is read up to this many bytes.
inline constexpr std::size_t kMaxReplyBytes = 10240;
inline constexpr int kDefaultReplyTimeoutMs = 3000;

/// What the dialog (or the command line) hands to the send command.
struct SendRequest {
    bool ipBlank = true;                          // the IP control has all four fields empty
    std::array<int, 4> ipFields{};                // first field first; an empty field reads 0
    std::string_view portText;                    // read by the atoi rule, low 16 bits used
    std::string_view messageText;                 // hex text, or the JSON packet text
    int replyTimeoutMs = kDefaultReplyTimeoutMs;  // 0: do not wait for a reply
    int connectTimeoutMs = kConnectTimeoutMs;
};

struct SendResult {
    Outcome outcome = Outcome::Ok;
    std::string_view error;  // the message text when Failed
    std::string detail;      // English reason for the command line, one line
    std::size_t sent = 0;    // bytes sent
    std::vector<std::uint8_t> reply;

    [[nodiscard]] bool Ok() const { return outcome == Outcome::Ok; }
};

/// The port number of a port text: the C atoi rule (leading white space, one sign, digits up to
/// the first other character, 0 without digits), then its low 16 bits ("70000" gives 4464).
[[nodiscard]] std::uint16_t PortFromText(std::string_view portText);

/// The address text "%d.%d.%d.%d" of the four IP fields.
[[nodiscard]] std::string AddressText(const std::array<int, 4>& ipFields);

/// The bytes a message text stands for. The text ends at its first zero byte. A text whose
/// 13th character is '{' is a JSON packet (12 hex characters of head, the body's own bytes,
/// 2 hex characters of check byte; L-7 bytes); any other text is hex with white space removed
/// (S/2 bytes, a lone last digit dropped). Returns an empty text, or kTextSendDataTooLong
/// (over 10239 characters) or kTextSendDataFormatError (a JSON packet under 14 characters).
[[nodiscard]] std::string_view MessageTextToSendBytes(std::string_view text,
                                                      std::vector<std::uint8_t>& bytes);

/// Length of a complete reply by its own length form, judged from its first bytes: the trade
/// frame (marker F1 at byte 2, little-endian total length), a 4-digit ASCII length, or a
/// 2-byte big-endian binary length. 0 while the bytes so far do not tell.
[[nodiscard]] std::size_t ExpectedReplyLength(std::span<const std::uint8_t> reply);

/// Runs the send command: the checks ("IP为空!", "Port为空!", "Send数据为空!"), the text's
/// bytes, the connection ("建立socket连接异常!"), the send ("发送数据失败!") and the reply, read
/// until the host closes, the reply is complete by its length form, or the time-out passes.
[[nodiscard]] SendResult SendMessageText(const SendRequest& request);
