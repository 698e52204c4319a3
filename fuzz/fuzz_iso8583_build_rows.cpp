// Fuzzes building a message from arbitrary row lists: one row a line, "name<TAB>value"; the first
// byte picks the interface type. A message that builds must decode, and build again the same.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "iso/BuildIso8583.h"
#include "codec/Texts.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const int mode = data[0] % 3;
    std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    FieldRowList rows;
    while (!text.empty() && rows.size() < 300) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = text.substr(0, end);
        const std::size_t tab = std::min(line.find('\t'), line.size());
        FieldRow& row = rows.emplace_back();
        SetRowText(row.name, line.substr(0, tab));
        SetRowText(row.value, line.substr(std::min(tab + 1, line.size())));
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    const CommandResult built = BuildIso8583FromRows(rows, mode);
    if (!built.Ok()) {
        if (built.error != kTextIsoBuildError || built.detail.empty()) __builtin_trap();
        return 0;
    }
    if (built.message.size() > kMaxMessageText || built.rows.empty()) __builtin_trap();
    // The rows of the built message give the very same message again.
    const CommandResult again = BuildIso8583FromRows(built.rows, mode, built.rowEncoding);
    if (!again.Ok() || again.message != built.message) __builtin_trap();
    return 0;
}
