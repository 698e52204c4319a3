// A host's reply decoded by the parse command that fits its form.
#include "net/ReplyRows.h"

#include "codec/Conversions.h"
#include "iso/ParseIso8583.h"
#include "net/SendCommand.h"
#include "trade/ParseJsonPacket.h"
#include "trade/TradeCommands.h"

std::string ReplyHexText(std::span<const std::uint8_t> reply) {
    std::string hex(2 * reply.size() + 1, '\0');
    if (!reply.empty()) BytesToHex(reply.data(), reply.size(), hex.data());
    hex.resize(2 * reply.size());
    return hex;
}

std::span<const std::uint8_t> ReplyMessage(const SendReport& report) {
    std::span<const std::uint8_t> reply = report.reply;
    if (report.ended == ReplyEnd::Complete && report.expected < reply.size()) {
        reply = reply.first(report.expected);
    }
    return reply;
}

CommandResult DecodeReply(const SendReport& report, int interfaceType) {
    const std::span<const std::uint8_t> reply = ReplyMessage(report);
    switch (ReplyFormOf(reply)) {
        case ReplyForm::JsonPacket:
            return ParseJsonPacketText(ReplyHexText(reply));
        case ReplyForm::TradeFrame:
            return ParseTradeText(ReplyHexText(reply));
        case ReplyForm::Iso8583:
            break;
    }
    return ParseIso8583Text(ReplyHexText(reply), interfaceType);
}
