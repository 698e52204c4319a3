// Batch mode: every input line is one message text, every output line one JSON object.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "iso/CommandResult.h"

/// A parse command in its batch form: the result is reset and its capacity reused.
using LineCommand = void (*)(std::string_view text, int mode, CommandResult& result);

/// Turns input lines into JSON lines: {"rows":[...]} (with "warnings" when there are any),
/// {"error":"<message text>"} (with "field", "offset", "reason" and the rows decoded before the
/// failure when it was recorded) or {"error":null,"status":3}. Every input line, a blank one
/// included, gives exactly one output line.
class EachLineJson {
public:
    EachLineJson(LineCommand command, int mode) : m_command(command), m_mode(mode) {}
    EachLineJson(const EachLineJson&) = delete;
    EachLineJson& operator=(const EachLineJson&) = delete;

    /// Converts every line completed by chunk, appending to out; keeps an unfinished last line.
    void Feed(std::string_view chunk, std::string& out);
    /// Converts the unfinished last line, if any.
    void Finish(std::string& out);

private:
    void Line(std::string_view line, std::string& out);

    LineCommand m_command;
    int m_mode;
    CommandResult m_result;
    std::string m_partial;
    std::string m_scratch;
};

/// Reads in until its end and writes the JSON lines to out. Returns 0, or 1 on a read or write
/// error (a message then stands on standard error).
[[nodiscard]] int RunEachLine(std::FILE* in, std::FILE* out, LineCommand command, int mode);
