// The host simulator on a loaded table: requests cut by its framing, decoded with the table and
// answered by the shared rule steps.
#include "codec/Conversions.h"
#include "codec/FrameCut.h"
#include "host/AnswerSteps.h"
#include "host/HostSimulator.h"

TableHost::TableHost(const FieldTable& table) : m_decoder(table), m_message(table) {}

std::string TableHost::CannotServe(const FieldTable& table) {
    if (CannotCut(table).empty()) return {};
    return "the table has no Length part in front to cut a stream into requests";
}

RequestCut TableHost::Cut(std::span<const std::uint8_t> stream) const {
    RequestCut cut;
    cut.form = SimForm::Table;
    return CutByTable(m_message.Table(), stream, cut);
}

bool TableHost::DecodeRequest(std::span<const std::uint8_t> request, SimExchange& x) {
    m_decoder.Parse(HexOf(request), m_result);
    const auto len = static_cast<std::int32_t>(request.size());
    if (!m_result.Ok() ||
        m_message.Decode(request.data(), len, request.size(), LengthRule::Match, {}) < 0) {
        x.error = "the request does not decode with the table";
        if (const std::string d = m_result.DetailLine(); !d.empty()) x.error += ": " + d;
        return false;
    }
    x.requestRows = m_result.rows;
    x.rowEncoding = m_result.rowEncoding;
    return true;
}

SimExchange TableHost::Answer(std::span<const std::uint8_t> request, const SimRules& rules,
                              HostKeys* keys) {
    SimExchange x;
    if (!DecodeRequest(request, x) || !AnswerMessage(m_message, rules, true, x, {keys, request})) {
        return x;
    }
    m_decoder.Parse(HexOf(x.reply), m_result);
    if (m_result.Ok()) x.replyRows = m_result.rows;
    return x;
}
