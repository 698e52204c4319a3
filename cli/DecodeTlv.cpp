// tarnwick-cli decode-tlv: a bare TLV text tag by tag, as a table or JSON.
#include "cli/DecodeTlv.h"

#include <cstdio>
#include <string>

#include "cli/Output.h"
#include "emv/DecodeTlvText.h"

namespace {

bool Write(std::FILE* f, std::string_view text) {
    return std::fwrite(text.data(), 1, text.size(), f) == text.size() && std::fflush(f) == 0;
}

}  // namespace

int DecodeTlvCommand(std::string_view text, bool json, bool mask, const CliStreams& io) {
    CommandResult result;
    DecodeTlvText(text, mask, result);
    if (!result.Ok()) {
        std::string message(result.error);
        message += '\n';
        if (!result.detail.empty()) message.append(result.detail).append("\n");
        Write(io.err, message);
        return kExitFailed;
    }
    const TlvRowNote* error =
        !result.tlv.empty() && result.tlv.back().error ? &result.tlv.back() : nullptr;
    std::string out;
    if (json) {
        std::string scratch;
        out.append(R"({"tlv":)");
        AppendTlvJson(out, result.rows, result.tlv, result.rowEncoding, scratch);
        if (error != nullptr) {
            out.append(R"(,"error":)");
            AppendTlvErrorJson(out, *error);
        }
        out.append("}\n");
    } else {
        out = FormatRowsTable(result.rows, result.rowEncoding);
    }
    if (!Write(io.out, out)) {
        Write(io.err, "tarnwick-cli: write error on standard output\n");
        return kExitFailed;
    }
    if (error == nullptr) return kExitOk;
    Write(io.err,
          "offset " + std::to_string(error->offset) + ": " + std::string(error->name) + "\n");
    return kExitFailed;
}
