// tarnwick-cli's field table commands: tables, check-table, and parse-iso8583 --table.
#pragma once

#include <optional>
#include <string_view>

#include "cli/Cli.h"
#include "codec/FieldTable.h"

/// Loads the table of a --table option: a shipped table's name or file name, else a FILE. Empty
/// when it has problems: "域定义文件有误!" and one line per problem, each after the name, stand on
/// io.err.
[[nodiscard]] std::optional<FieldTable> LoadCliTable(std::string_view nameOrFile,
                                                     const CliStreams& io);

/// Whether the table marks any field as TLV data (what --tlv decodes).
[[nodiscard]] bool TableHasTlvField(const FieldTable& table);

/// tarnwick-cli tables: one line per shipped table: name, file, bits, framing, title.
[[nodiscard]] int ListTables(const CliStreams& io);

/// tarnwick-cli check-table: every problem of a table file, one per line on io.out; exit status
/// 1 when there is any, 0 (and a summary line) when there is none.
[[nodiscard]] int CheckTable(std::string_view nameOrFile, const CliStreams& io);
