// Fuzzes sub-fields: a message decoded by a table with positional, tagged and conditional
// sub-fields, its rows built back as they are (a clean decode must give its rows again), then
// with one sub-row changed to bytes of the input (a refusal is fine, a crash or a message that
// does not decode is not).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "codec/Conversions.h"
#include "iso/BuildIso8583.h"
#include "iso/ParseIso8583.h"
#include "tables/TableFile.h"

namespace {

constexpr std::string_view kTable = R"({"name": "fuzz", "charset": "UTF-8",
  "bitmap": {"bits": 64, "enc": "Binary"},
  "fields": {
    "0": {"length": 4, "enc": "BCD"},
    "3": {"length": 6, "enc": "BCD"},
    "48": {"length": 99, "prefix": "BCD.LL", "tag": {"length": 2, "prefix": "ASCII.LL"},
           "subfields": {"AS": {"length": 20, "values": {"X*": "x"}},
                         "FX": {"prefix": "Fixed", "length": 3,
                                "subfields": {"1": {"length": 1}, "2": {"length": 2}}},
                         "BC": {"prefix": "BCD.LL", "enc": "BCD", "length": 9},
                         "BN": {"prefix": "Binary.L", "enc": "Binary"}}},
    "60": {"length": 30, "prefix": "BCD.LLL", "enc": "BCD", "subfields": {
           "1": {"length": 2}, "2": {"length": 6, "subfields": {"1": {"length": 2}, "2": {"length": 4}}},
           "3": {"length": 3}}},
    "61": {"length": 40, "prefix": "BCD.LL", "enc": "BCD", "tag": {"length": 2, "prefix": "BCD.LL"},
           "subfields": {"01": {"length": 6}, "02": {"prefix": "Fixed", "length": 3}}},
    "62": {"length": 99, "prefix": "BCD.LL", "enc": "Binary",
           "tag": {"length": 1, "enc": "Binary", "prefix": "Binary.L"},
           "subfields": {"DF": {"enc": "Binary", "subfields": {"1": {"length": 1, "enc": "Binary"},
                                                                 "2": {"length": 3, "enc": "BCD"}}}},
           "layouts": [{"when": {"type": "081", "60.3": ["003", "004"]}, "subfields": {
               "1": {"length": 4, "enc": "Binary"}, "2": {"length": 2, "enc": "ASCII"}}}]},
    "63": {"length": 99, "prefix": "BCD.LL", "subfields": {"1": {"length": 2}, "2": {"length": 9}},
           "layouts": [{"when": {"63": "AS", "3": ""}, "subfields": {"1": {"length": 2},
               "2": {"length": 90, "tag": {"length": 1, "enc": "BCD", "prefix": "ASCII.LL"}}}}]}}})";

const FieldTable& Table() {
    static const FieldTable table = *LoadJsonTable(kTable).table;
    return table;
}

std::string HexOfBytes(const std::uint8_t* p, std::size_t n) {
    std::string hex(2 * n, '0');
    BytesToHex(p, n, hex.data());
    return hex;
}

std::string RowsText(const CommandResult& r) {
    std::string s;
    for (const FieldRow& row : r.rows) {
        if (row.field == 1) continue;
        s.append(row.Name()).append("|").append(row.Value()) += '\n';
    }
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    // The first byte: which sub-row to change; the second: how many input bytes its value takes.
    const std::size_t pick = data[0];
    const std::size_t editBytes = data[1] % 16;
    data += 2;
    size -= 2;
    const std::size_t messageBytes = size > editBytes ? size - editBytes : size;
    const std::string hex = HexOfBytes(data, messageBytes);
    const FieldTable& t = Table();
    CommandResult decoded;
    ParseIso8583WithTable(hex, t, decoded);
    if (!decoded.Ok()) return 0;
    const BuiltMessage same = PackRows(decoded.rows, t, false);
    if (decoded.warnings.empty()) {
        // Built back unchanged, the message decodes to the same rows (the bitmap is computed
        // from the fields present; bytes after the last field are not part of the message).
        if (!same.ok) __builtin_trap();
        CommandResult again;
        ParseIso8583WithTable(HexOfBytes(reinterpret_cast<const std::uint8_t*>(same.bytes.data()),
                                         same.bytes.size()),
                              t, again);
        if (!again.Ok() || RowsText(again) != RowsText(decoded)) __builtin_trap();
    }
    std::size_t subRows = 0;
    for (const FieldRow& row : decoded.rows) subRows += row.parent >= 0 ? 1 : 0;
    if (subRows == 0) return 0;
    std::size_t n = pick % subRows;
    for (FieldRow& row : decoded.rows) {
        if (row.parent < 0 || n-- != 0) continue;
        const std::string_view edit(reinterpret_cast<const char*>(data) + messageBytes,
                                    size - messageBytes);
        SetRowText(row.value, edit);
        break;
    }
    const BuiltMessage built = PackRows(decoded.rows, t, false);
    if (!built.ok) return 0;
    CommandResult again;
    ParseIso8583WithTable(
        HexOfBytes(reinterpret_cast<const std::uint8_t*>(built.bytes.data()), built.bytes.size()),
        t, again);
    if (!again.Ok()) __builtin_trap();
    return 0;
}
