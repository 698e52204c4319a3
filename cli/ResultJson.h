// The JSON members a decoding adds beside its rows: where a failure stopped, and warnings.
#pragma once

#include <string>

#include "iso/CommandResult.h"

/// Appends the JSON object of a failed command: {"error":"<message text>"} and, when the failure
/// was recorded, "field", "offset", "reason" and the rows decoded before it; ends with "}".
void AppendFailureJson(std::string& out, const CommandResult& result, std::string& scratch);
/// Appends ,"warnings":[...] when the result has warnings.
void AppendWarningsJson(std::string& out, const CommandResult& result);
/// The warnings as lines for standard error, each after "tarnwick-cli: warning: ".
[[nodiscard]] std::string WarningLines(const CommandResult& result);
