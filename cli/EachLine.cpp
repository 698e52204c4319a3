// Batch mode: every input line is one message text, every output line one JSON object.
#include "cli/EachLine.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "cli/Output.h"
#include "cli/ResultJson.h"
#include "codec/Texts.h"
#include "trade/ParseJsonPacket.h"
#include "trade/TradeCommands.h"

namespace {

constexpr std::size_t kReadBlock = 1 << 20;
constexpr std::size_t kWriteBlock = 1 << 20;

// An unfinished line is kept only up to one character more than a command takes, so that the
// command still refuses it as too long while a line without end cannot exhaust memory.
constexpr std::size_t kLineKeep = kMaxMessageText + 1;

bool WhiteSpaceOnly(std::string_view text) {
    return text.find_first_not_of(" \t\r\n\v\f") == std::string_view::npos;
}

}  // namespace

LineDecoder::LineDecoder(const EachLineOptions& options) : m_options(options) {
    if (options.form == LineForm::Iso8583 && options.table != nullptr) {
        m_table = std::make_unique<TableDecoder>(*options.table);
    }
}

LineDecoder::LineDecoder(LineCommand command) : m_command(command) {}

LineDecoder::~LineDecoder() = default;

void LineDecoder::Decode(std::string_view text, CommandResult& result) {
    if (m_command != nullptr) return m_command(text, result);
    switch (m_options.form) {
        case LineForm::Iso8583:
            if (m_table != nullptr) return m_table->Parse(text, result, m_options.parse);
            return ParseIso8583Text(text, m_options.interfaceType, m_options.parse, result);
        case LineForm::Trade:
            return ParseTradeText(text, result);
        case LineForm::JsonPacket:
            return ParseJsonPacketText(text, result);
    }
}

void EachLineJson::Line(std::string_view line, std::string& out) {
    // Every line, a blank one included, gives one output line: output line N is input line N.
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    // A line of white space alone holds no message: it is an empty text, "报文为空!".
    if (WhiteSpaceOnly(line)) line = {};
    m_decoder.Decode(line, m_result);
    if (line.size() > kMaxMessageText && m_result.outcome == Outcome::Failed) {
        // The line was kept only up to one character more than a command takes.
        m_result.failure.reason =
            "the line is longer than " + std::to_string(kMaxMessageText) + " characters";
    }
    switch (m_result.outcome) {
        case Outcome::Ok:
            out.append(R"({"rows":)");
            AppendRowsJson(out, m_result.rows, m_result.rowEncoding, m_scratch, m_result.tlv);
            AppendWarningsJson(out, m_result);
            out.append("}\n");
            return;
        case Outcome::NoLengthMatch:
            out.append(R"({"error":null,"status":3})"
                       "\n");
            return;
        case Outcome::Failed:
            AppendFailureJson(out, m_result, m_scratch);
            out.append("\n");
            return;
    }
}

void EachLineJson::Feed(std::string_view chunk, std::string& out) {
    while (!chunk.empty()) {
        const void* nl = std::memchr(chunk.data(), '\n', chunk.size());
        if (nl == nullptr) {
            const std::size_t room =
                kLineKeep > m_partial.size() ? kLineKeep - m_partial.size() : 0;
            m_partial.append(chunk.data(), std::min(room, chunk.size()));
            return;
        }
        const auto end = static_cast<std::size_t>(static_cast<const char*>(nl) - chunk.data());
        if (m_partial.empty()) {
            Line(chunk.substr(0, std::min(end, kLineKeep)), out);
        } else {
            const std::size_t room = kLineKeep - std::min(kLineKeep, m_partial.size());
            m_partial.append(chunk.data(), std::min(room, end));
            Line(m_partial, out);
            m_partial.clear();
        }
        chunk.remove_prefix(end + 1);
    }
}

void EachLineJson::Finish(std::string& out) {
    if (m_partial.empty()) return;
    Line(m_partial, out);
    m_partial.clear();
}

int RunEachLine(std::FILE* in, std::FILE* out, const EachLineOptions& options) {
    EachLineJson batch(options);
    std::vector<char> block(kReadBlock);
    std::string text;
    text.reserve(kWriteBlock + kWriteBlock / 2);
    const auto flush = [&]() {
        const bool ok =
            text.empty() || std::fwrite(text.data(), 1, text.size(), out) == text.size();
        text.clear();
        return ok;
    };
    for (;;) {
        const std::size_t n = std::fread(block.data(), 1, block.size(), in);
        if (n > 0) batch.Feed({block.data(), n}, text);
        if (text.size() >= kWriteBlock && !flush()) {
            std::fputs("tarnwick-cli: write error on standard output\n", stderr);
            return 1;
        }
        if (n < block.size()) break;
    }
    if (std::ferror(in)) {
        std::fputs("tarnwick-cli: read error on standard input\n", stderr);
        return 1;
    }
    batch.Finish(text);
    if (!flush() || std::fflush(out) != 0) {
        std::fputs("tarnwick-cli: write error on standard output\n", stderr);
        return 1;
    }
    return 0;
}
