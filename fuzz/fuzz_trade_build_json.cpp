// Fuzzes the JSON build command with arbitrary configuration texts, a share of them through a file.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "codec/Texts.h"
#include "fuzz/TempFile.h"
#include "trade/ParseJsonPacket.h"
#include "trade/TradeCommands.h"

namespace {

void Check(const CommandResult& r) {
    // A packet is 12 hex characters of head, at least "{ }" and 2 of check byte.
    if (r.Ok() && (r.message.size() < 17 || r.message.size() > 12 + 2048 + 2)) __builtin_trap();
    if (!r.Ok() && !r.message.empty()) __builtin_trap();
    if (!r.Ok()) return;
    // What was built reads back: the parse gives every row of the build (what was sent), then a
    // check row that agrees.
    const CommandResult parsed = ParseJsonPacketText(r.message);
    if (!parsed.Ok() || parsed.rows.size() != r.rows.size() + 1) __builtin_trap();
    for (std::size_t i = 0; i < r.rows.size(); ++i) {
        const FieldRow& a = r.rows[i];
        const FieldRow& b = parsed.rows[i];
        if (a.Name() != b.Name() || a.Length() != b.Length() || a.Value() != b.Value()) {
            __builtin_trap();
        }
    }
    if (!parsed.rows.back().Value().ends_with(kTextCheckAgrees)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The text form, and the file form for one input in eight. json-c's file reader stops at a
    // read of zero bytes only, so text and file agree on every input.
    CheckTextAndFileForms(
        std::string_view(reinterpret_cast<const char*>(data), size), BuildJsonFromText,
        [](const std::string& path) { return BuildJsonFromFile(path); }, Check);
    return 0;
}
