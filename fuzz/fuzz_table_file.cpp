// Fuzzes the table loaders with arbitrary table files, and the decoding with each loaded table.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz/TempFile.h"
#include "tables/TableFile.h"
#include "iso/ParseIso8583.h"

// Input: a table text (JSON or jPOS XML), then optionally a zero byte and a message text.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t zero = input.find('\0');
    const std::string_view table = input.substr(0, zero);
    const std::string_view message =
        zero == std::string_view::npos ? std::string_view{} : input.substr(zero + 1);
    const TableLoad load = LoadTableText(table);
    if (load.Ok() != load.problems.empty()) __builtin_trap();
    // The file reader for one input in eight: it must agree with the text reader.
    if (size > 0 && data[0] % 8 == 0) {
        const auto fromFile = ReadThroughFile(table, LoadTableFile);
        if (fromFile && fromFile->Ok() != load.Ok()) __builtin_trap();
    }
    if (!load.Ok()) return 0;
    TableDecoder decoder(*load.table);
    CommandResult result;
    decoder.Parse(message, result);
    if (result.Ok() && result.rows.empty()) __builtin_trap();
    // Every row text is whole and holds no zero byte.
    for (const FieldRow& row : result.rows) {
        if (row.Value().find('\0') != std::string_view::npos) __builtin_trap();
    }
    return 0;
}
