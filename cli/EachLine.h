// Batch mode: every input line is one message text, every output line one JSON object.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "codec/FieldTable.h"
#include "iso/CommandResult.h"
#include "iso/ParseIso8583.h"

/// The parse commands that have a batch form.
enum class LineForm { Iso8583, Trade, JsonPacket };

/// What every line is decoded with: the command and its options, handed to the batch as a value.
struct EachLineOptions {
    LineForm form = LineForm::Iso8583;
    int interfaceType = kInterfaceAuto;  // Iso8583 without a table
    ParseOptions parse;                  // Iso8583: --tlv, --mask
    const FieldTable* table = nullptr;   // Iso8583 --table; read only, shared by the threads
};

/// A stand-in for a parse command (tests, benchmarks): the result is reset and its capacity
/// reused.
using LineCommand = void (*)(std::string_view text, CommandResult& result);

/// Decodes message texts by the options, holding what the decoding needs (a table's decoder) for
/// as long as it lives; one per thread.
class LineDecoder {
public:
    explicit LineDecoder(const EachLineOptions& options);
    explicit LineDecoder(LineCommand command);
    LineDecoder(const LineDecoder&) = delete;
    LineDecoder& operator=(const LineDecoder&) = delete;
    ~LineDecoder();

    /// The result is reset first and its capacity reused.
    void Decode(std::string_view text, CommandResult& result);

private:
    EachLineOptions m_options;
    LineCommand m_command = nullptr;
    std::unique_ptr<TableDecoder> m_table;  // options.table's decoder, this object's own
};

/// Turns input lines into JSON lines: {"rows":[...]} (with "warnings" when there are any),
/// {"error":"<message text>"} (with "field", "offset", "reason" when they are known, and the
/// rows decoded before the failure) or {"error":null,"status":3}. Every input line, a blank one
/// included, gives exactly one output line. Each object holds its own LineDecoder.
class EachLineJson {
public:
    explicit EachLineJson(const EachLineOptions& options) : m_decoder(options) {}
    explicit EachLineJson(LineCommand command) : m_decoder(command) {}
    EachLineJson(const EachLineJson&) = delete;
    EachLineJson& operator=(const EachLineJson&) = delete;

    /// Converts every line completed by chunk, appending to out; keeps an unfinished last line.
    void Feed(std::string_view chunk, std::string& out);
    /// Converts the unfinished last line, if any.
    void Finish(std::string& out);

private:
    void Line(std::string_view line, std::string& out);

    LineDecoder m_decoder;
    CommandResult m_result;
    std::string m_partial;
    std::string m_scratch;
};

/// Reads in until its end and writes the JSON lines to out. Returns 0, or 1 on a read or write
/// error (a message then stands on standard error).
[[nodiscard]] int RunEachLine(std::FILE* in, std::FILE* out, const EachLineOptions& options);
