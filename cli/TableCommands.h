// tarnwick-cli's field table commands: tables, check-table, and parse-iso8583 --table.
#pragma once

#include <optional>
#include <string_view>

#include "cli/Cli.h"
#include "iso/CommandResult.h"
#include "codec/FieldTable.h"

/// Loads the table for parse-iso8583 --table (a shipped table's NAME, else a FILE). False when
/// it has problems: "域定义文件有误!" and one line per problem stand on io.err.
[[nodiscard]] bool UseCliTable(std::string_view nameOrFile, const CliStreams& io);

/// Loads a table as UseCliTable does, for a command of its own. Empty when it has problems
/// (reported on io.err as by UseCliTable).
[[nodiscard]] std::optional<FieldTable> LoadCliTable(std::string_view nameOrFile,
                                                     const CliStreams& io);

/// Whether the table UseCliTable loaded marks any field as TLV data (what --tlv decodes).
[[nodiscard]] bool CliTableHasTlvField();

/// Row options of the batch form's one int (kParseTlvFlag, kParseMaskFlag).
inline constexpr int kParseTlvFlag = 0x100;
inline constexpr int kParseMaskFlag = 0x200;

/// Decodes a message text with the table UseCliTable loaded (the batch form; flags: row options).
void ParseWithCliTable(std::string_view text, int flags, CommandResult& result);

/// tarnwick-cli tables: one line per shipped table: name, file, bits, framing, title.
[[nodiscard]] int ListTables(const CliStreams& io);

/// tarnwick-cli check-table: every problem of a table file, one per line on io.out; exit status
/// 1 when there is any, 0 (and a summary line) when there is none.
[[nodiscard]] int CheckTable(std::string_view nameOrFile, const CliStreams& io);
