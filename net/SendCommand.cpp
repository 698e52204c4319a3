// The TCP send command: a message text to bytes, sent to a host, and the host's reply read back.
#include "net/SendCommand.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#include "codec/Conversions.h"
#include "codec/Texts.h"

namespace {

constexpr std::size_t kJsonHeadChars = 12;  // frame head as hex: length, F1, three zero bytes
constexpr std::size_t kJsonMinChars = 14;   // head, '{' and the check byte's two characters
constexpr std::uint8_t kTradeMarker = 0xF1;

bool IsDigit(std::uint8_t c) { return c >= '0' && c <= '9'; }

}  // namespace

std::uint16_t PortFromText(std::string_view portText) {
    return static_cast<std::uint16_t>(DecimalTextToInt(portText.data(), portText.size()) & 0xFFFF);
}

std::string AddressText(const std::array<int, 4>& ipFields) {
    char text[64];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", ipFields[0], ipFields[1], ipFields[2],
                  ipFields[3]);
    return text;
}

std::string_view MessageTextToSendBytes(std::string_view text, std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    // The message edit holds a zero-terminated text: it ends at its first zero byte.
    if (const std::size_t zero = text.find('\0'); zero != std::string_view::npos) {
        text = text.substr(0, zero);
    }
    if (text.size() > kMaxMessageText) return kTextSendDataTooLong;
    const std::size_t n = text.size();
    if (n > kJsonHeadChars && text[kJsonHeadChars] == '{') {
        // JSON packet: the head and the check byte are hex, the JSON body goes as it stands.
        if (n < kJsonMinChars) return kTextSendDataFormatError;
        bytes.resize(n - 7);
        HexToBytes(text.data(), kJsonHeadChars, bytes.data());
        std::memcpy(bytes.data() + 6, text.data() + kJsonHeadChars, n - kJsonHeadChars - 2);
        HexToBytes(text.data() + n - 2, 2, bytes.data() + n - 8);
        return {};
    }
    bytes.resize((text.size() + 1) / 2);
    const std::size_t s = HexTextToBytes(text, bytes.data());
    bytes.resize(s / 2);  // a lone last digit is not sent
    return {};
}

std::size_t ExpectedReplyLength(std::span<const std::uint8_t> reply) {
    const std::size_t n = reply.size();
    if (n < 2) return 0;
    // A reply that starts with digits carries a 4-digit ASCII length: as a binary length its
    // first byte alone would announce more than 12000 bytes.
    bool digits = true;
    for (std::size_t i = 0; i < n && i < 4; ++i) digits = digits && IsDigit(reply[i]);
    if (digits) {
        if (n < 4) return 0;
        return 4 + static_cast<std::size_t>((reply[0] - '0') * 1000 + (reply[1] - '0') * 100 +
                                            (reply[2] - '0') * 10 + (reply[3] - '0'));
    }
    // Trade frame: little-endian total length, F1, three zero bytes.
    if (n >= 3 && reply[2] == kTradeMarker) {
        if (n < 6) return 0;
        const std::size_t total = reply[0] | (std::size_t{reply[1]} << 8);
        if (reply[3] == 0 && reply[4] == 0 && reply[5] == 0 && total >= 7) return total;
    }
    return 2 + ((std::size_t{reply[0]} << 8) | reply[1]);
}

SendResult SendMessageText(const SendRequest& request) {
    SendResult result;
    const auto fail = [&result](std::string_view text, std::string why = {}) {
        result.outcome = Outcome::Failed;
        result.error = text;
        result.detail = std::move(why);
        return std::move(result);
    };
    if (request.ipBlank) return fail(kTextIpEmpty);
    if (request.portText.empty()) return fail(kTextPortEmpty);
    if (request.messageText.empty()) return fail(kTextSendDataEmpty);

    // The text is checked before connecting, so a refused text never reaches the host.
    std::vector<std::uint8_t> bytes;
    if (const auto refused = MessageTextToSendBytes(request.messageText, bytes); !refused.empty()) {
        return fail(refused, refused == kTextSendDataTooLong
                                 ? "the message text has more than 10239 characters"
                                 : "a JSON packet text needs at least 14 characters");
    }

    const std::string address = AddressText(request.ipFields);
    const std::uint16_t port = PortFromText(request.portText);
    SocketHandle socket;
    std::string why;
    if (ConnectToHost(address.c_str(), port, socket, request.connectTimeoutMs, &why) !=
        kConnectOk) {
        return fail(kTextConnectError,
                    "connect to " + address + ":" + std::to_string(port) + ": " + why);
    }

    result.sent = SendAll(socket, bytes, request.connectTimeoutMs, why);
    if (result.sent < bytes.size()) {
        return fail(kTextSendFailed, "sent " + std::to_string(result.sent) + " of " +
                                         std::to_string(bytes.size()) + " bytes: " + why);
    }

    // Nothing sent, nothing to answer: the connection is closed at once.
    if (result.sent == 0 || request.replyTimeoutMs <= 0) return result;

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(request.replyTimeoutMs);
    result.reply.resize(kMaxReplyBytes);
    std::size_t have = 0;
    while (have < result.reply.size()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) break;
        std::size_t got = 0;
        const auto status = ReceiveSome(socket, std::span(result.reply).subspan(have),
                                        static_cast<int>(left), got, why);
        if (status != ReceiveStatus::Data) {
            // The message went out; a reset while waiting only ends the reply.
            if (status == ReceiveStatus::Failed) result.detail = "reading the reply: " + why;
            break;
        }
        have += got;
        const std::size_t expected = ExpectedReplyLength(std::span(result.reply).first(have));
        if (expected != 0 && have >= expected) break;
    }
    result.reply.resize(have);
    return result;
}
