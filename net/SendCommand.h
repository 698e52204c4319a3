// The TCP send command: a message text to bytes, sent to a host, and the host's reply read back.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "iso/CommandResult.h"
#include "net/Socket.h"

/// Failures the send command adds to the system's texts.
inline constexpr std::string_view kTextSendDataTooLong = "Send数据过长!";
inline constexpr std::string_view kTextSendDataFormatError = "Send数据格式错误!";
inline constexpr std::string_view kTextSendFailed = "发送数据失败!";

/// A reply is read up to this many bytes (1 MiB); a longer one is cut and says so.
inline constexpr std::size_t kMaxReplyBytes = std::size_t{1} << 20;
inline constexpr int kDefaultReplyTimeoutMs = 3000;

/// What the dialog (or the command line) hands to the send command.
struct SendRequest {
    bool ipBlank = true;                          // the IP control has all four fields empty
    std::array<int, 4> ipFields{};                // first field first; an empty field reads 0
    std::string_view portText;                    // read by the atoi rule, low 16 bits used
    std::string_view messageText;                 // hex text, or the JSON packet text
    int replyTimeoutMs = kDefaultReplyTimeoutMs;  // 0: do not wait for a reply
    int connectTimeoutMs = kConnectTimeoutMs;
    std::size_t maxReplyBytes = kMaxReplyBytes;
    const CancelFlag* cancel = nullptr;  // set from another thread to stop the send
};

/// The forms a reply can take, as its first bytes show.
enum class ReplyForm { Iso8583, TradeFrame, JsonPacket };

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

/// The form of a reply: a trade frame (F1 at byte 2, three zero bytes) whose payload starts with
/// '{' is a JSON packet, any other trade frame a trade message; everything else ISO 8583.
[[nodiscard]] ReplyForm ReplyFormOf(std::span<const std::uint8_t> reply);

/// The name of a reply's end as the command line writes it: "complete", "closed", "reset",
/// "timeout" or "none".
[[nodiscard]] std::string_view ReplyEndName(ReplyEnd ended);

/// The checks the send command makes before it connects, in order: "IP为空!", "Port为空!",
/// "Send数据为空!", "Send数据过长!", "Send数据格式错误!". Ok with the bytes to send, or Failed.
[[nodiscard]] CommandResult CheckSendRequest(const SendRequest& request,
                                             std::vector<std::uint8_t>& bytes);

/// Runs the send command: the checks of CheckSendRequest, the connection ("建立socket连接异常!"),
/// the send ("发送数据失败!") and the reply, read until it is complete by its length form, the
/// host closes or resets, the time-out passes or the size cap is reached; result.send says
/// which. A cancelled send ends at once with send.cancelled set (Failed before all bytes went).
[[nodiscard]] CommandResult SendMessageText(const SendRequest& request);
