// The JSON members a decoding adds beside its rows: where a failure stopped, and warnings.
#include "cli/ResultJson.h"

#include "cli/Output.h"
#include "codec/TextDecode.h"

void AppendFailureJson(std::string& out, const CommandResult& result, std::string& scratch) {
    out.append(R"({"error":)");
    AppendJsonString(out, result.error);
    if (result.failure.Known()) {
        // What is not known is left out: a failure before field 1 names no field.
        if (result.failure.field >= 0) {
            out.append(R"(,"field":)").append(std::to_string(result.failure.field));
        }
        if (result.failure.offset >= 0) {
            out.append(R"(,"offset":)").append(std::to_string(result.failure.offset));
        }
        if (!result.failure.reason.empty()) {
            out.append(R"(,"reason":)");
            AppendJsonString(out, result.failure.reason);
        }
        if (result.failedRows == FailedRows::Partial) {
            out.append(R"(,"rows":)");
            AppendRowsJson(out, result.rows, result.rowEncoding, scratch, result.tlv);
        }
    }
    AppendWarningsJson(out, result);
    out.append("}");
}

void AppendWarningsJson(std::string& out, const CommandResult& result) {
    if (result.warnings.empty()) return;
    out.append(R"(,"warnings":[)");
    for (std::size_t i = 0; i < result.warnings.size(); ++i) {
        if (i > 0) out += ',';
        AppendJsonString(out, result.warnings[i]);
    }
    out += ']';
}

std::string WarningLines(const CommandResult& result) {
    std::string text;
    for (const std::string& w : result.warnings) {
        text.append("tarnwick-cli: warning: ").append(w).append("\n");
    }
    return text;
}
