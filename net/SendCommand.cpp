// The TCP send command: a message text to bytes, sent to a host, and the host's reply read back.
#include "net/SendCommand.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <limits>

#include "codec/Conversions.h"
#include "codec/FieldTable.h"
#include "codec/FrameCut.h"
#include "codec/Texts.h"
#include "trade/Trade.h"

namespace {

constexpr std::size_t kJsonHeadChars = 12;  // frame head as hex: length, F1, three zero bytes
constexpr std::size_t kJsonMinChars = 14;   // head, '{' and the check byte's two characters

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
    // Four ASCII digits in front mean a 128-field length (as a binary length they would announce
    // more than 12000 bytes); a trade frame shows by its marker; else a 2-byte binary length.
    const FieldTable& t128 = BuiltinTable(BuiltinForm::kUnionPay128);
    const FieldTable* form =
        FirstFitting({&t128, &BuiltinTable(BuiltinForm::kTrade),
                      &BuiltinTable(BuiltinForm::kUnionPay64)},
                     reply);
    if (form == nullptr) return 0;
    // Until the parts every message of the form starts with have come, another form may fit.
    std::size_t head = 0;
    for (const FramePart& p : form->frame) {
        if (p.kind != FramePartKind::Length && p.presence != Presence::Always) break;
        head += static_cast<std::size_t>(std::max(p.bytes, 0));
    }
    if (reply.size() < head) return 0;
    const FrameCut cut = CutFrame(*form, reply, std::numeric_limits<std::size_t>::max());
    return cut.kind == FrameCut::Kind::Bad ? 0 : cut.length;
}

ReplyForm ReplyFormOf(std::span<const std::uint8_t> reply) {
    if (StartsAsTradeFrame(reply)) {
        const std::size_t head = TradeFrame().head;
        return reply.size() > head && reply[head] == '{' ? ReplyForm::JsonPacket
                                                         : ReplyForm::TradeFrame;
    }
    return ReplyForm::Iso8583;
}

std::string_view ReplyEndName(ReplyEnd ended) {
    switch (ended) {
        case ReplyEnd::Complete:
            return "complete";
        case ReplyEnd::Closed:
            return "closed";
        case ReplyEnd::Reset:
            return "reset";
        case ReplyEnd::Timeout:
            return "timeout";
        case ReplyEnd::None:
            break;
    }
    return "none";
}

CommandResult CheckSendRequest(const SendRequest& request, std::vector<std::uint8_t>& bytes) {
    CommandResult result;
    bytes.clear();
    if (request.ipBlank) {
        result.Fail(kTextIpEmpty);
    } else if (request.portText.empty()) {
        result.Fail(kTextPortEmpty);
    } else if (request.messageText.empty()) {
        result.Fail(kTextSendDataEmpty);
    } else if (const auto refused = MessageTextToSendBytes(request.messageText, bytes);
               !refused.empty()) {
        // The text is checked before connecting, so a refused text never reaches the host.
        result.Fail(refused, refused == kTextSendDataTooLong
                                 ? "the message text has more than 10239 characters"
                                 : "a JSON packet text needs at least 14 characters");
    }
    return result;
}

namespace {

/// Reads the reply into report until it ends; see SendMessageText.
void ReadReply(SocketHandle& socket, const SendRequest& request, SendReport& report,
               std::string& detail) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(request.replyTimeoutMs);
    std::vector<std::uint8_t> block(64 * 1024);
    report.ended = ReplyEnd::Timeout;
    std::string why;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return;
        const std::size_t room = request.maxReplyBytes - report.reply.size();
        std::size_t got = 0;
        const auto status =
            ReceiveSome(socket, std::span(block).first(std::min(room, block.size())),
                        static_cast<int>(left), got, why, request.cancel);
        switch (status) {
            case ReceiveStatus::Data:
                break;
            case ReceiveStatus::Closed:
                report.ended = ReplyEnd::Closed;
                return;
            case ReceiveStatus::TimedOut:
                return;
            case ReceiveStatus::Cancelled:
                report.cancelled = true;
                return;
            case ReceiveStatus::Reset:
            case ReceiveStatus::Failed:
                // The message went out; a reset while waiting only ends the reply.
                report.ended = ReplyEnd::Reset;
                detail = "reading the reply: " + why;
                return;
        }
        report.reply.insert(report.reply.end(), block.begin(),
                            block.begin() + static_cast<std::ptrdiff_t>(got));
        report.expected = ExpectedReplyLength(report.reply);
        if (report.expected != 0 && report.reply.size() >= report.expected) {
            report.ended = ReplyEnd::Complete;
            return;
        }
        if (report.reply.size() >= request.maxReplyBytes) {
            report.cut = true;
            return;
        }
    }
}

}  // namespace

CommandResult SendMessageText(const SendRequest& request) {
    std::vector<std::uint8_t> bytes;
    CommandResult result = CheckSendRequest(request, bytes);
    if (!result.Ok()) return result;

    const std::string address = AddressText(request.ipFields);
    const std::uint16_t port = PortFromText(request.portText);
    SocketHandle socket;
    std::string why;
    SendReport& report = result.send;
    const auto stopped = [&] { return request.cancel != nullptr && request.cancel->load(); };
    if (ConnectToHost(address.c_str(), port, socket, request.connectTimeoutMs, &why,
                      request.cancel) != kConnectOk) {
        report.cancelled = stopped();
        result.Fail(kTextConnectError,
                    "connect to " + address + ":" + std::to_string(port) + ": " + why);
        return result;
    }

    report.sent = SendAll(socket, bytes, request.connectTimeoutMs, why, request.cancel);
    if (report.sent < bytes.size()) {
        report.cancelled = stopped();
        result.Fail(kTextSendFailed, "sent " + std::to_string(report.sent) + " of " +
                                         std::to_string(bytes.size()) + " bytes: " + why);
        return result;
    }

    // Nothing sent, nothing to answer: the connection is closed at once.
    if (report.sent == 0 || request.replyTimeoutMs <= 0 || request.maxReplyBytes == 0) {
        return result;
    }
    ReadReply(socket, request, report, result.detail);
    return result;
}
