// Field tables from files: JSON tables, jPOS GenericPackager XML, and the tables shipped inside.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "codec/FieldTable.h"

#include "codec/FileRead.h"

/// The largest table file that is read.
inline constexpr std::size_t kMaxTableFileBytes = kMaxFileBytes;

/// The outcome of loading a table: the table when nothing is wrong, else every problem found.
struct TableLoad {
    std::optional<FieldTable> table;
    /// One line per problem, each naming its place ("offset 120", "field 2, key \"prefix\"")
    /// and what is wrong there.
    std::vector<std::string> problems;
    /// Remarks that do not stop the table from loading (a jPOS sub-field packager decoded whole).
    std::vector<std::string> notes;

    [[nodiscard]] bool Ok() const { return table.has_value(); }
};

/// A JSON table text (UTF-8, a leading byte-order mark skipped, // and /* */ comments allowed).
[[nodiscard]] TableLoad LoadJsonTable(std::string_view text);
/// A jPOS GenericPackager XML text.
[[nodiscard]] TableLoad LoadJposTable(std::string_view text);
/// Either form: XML when the first character after white space and a byte-order mark is '<'.
[[nodiscard]] TableLoad LoadTableText(std::string_view text);

/// Reads a table file (ReadBoundedFile: a regular file of at most 1 MiB; directories, FIFOs and
/// devices are refused without blocking), then LoadTableText. A problem of reading the file is
/// worded without the path ("is a directory, not a table file"): the caller names the file.
[[nodiscard]] TableLoad LoadTableFile(const std::string& path);

/// The problem text of a file that could not be read as a table file.
[[nodiscard]] std::string TableFileProblem(const FileRead& read);

/// A table that the programs carry inside them.
struct ShippedTable {
    std::string_view name;  ///< the file name without ".json": "unionpay-pos64"
    std::string_view file;  ///< "unionpay-pos64.json"
    std::string_view text;  ///< the file's bytes
};

/// The shipped tables, in the order they are listed.
[[nodiscard]] std::span<const ShippedTable> ShippedTables();
/// The shipped table of that name or file name; null when there is none.
[[nodiscard]] const ShippedTable* FindShippedTable(std::string_view name);

/// The loaded value of a shipped table, by name or file name, loaded once and kept for the
/// program's life (the meanings of the exact forms live in their -full tables); null: none.
[[nodiscard]] const FieldTable* ShippedTableValue(std::string_view name);

/// A shipped table by its name or its file name ("unionpay-pos64" or "unionpay-pos64.json"), else
/// a table file by path; a path that does not exist is "not a shipped table (see tarnwick-cli
/// tables) and not a file".
[[nodiscard]] TableLoad LoadTableByNameOrFile(const std::string& nameOrPath);

/// A short description of a table's framing: "length(2 bytes, binary, optional) tpdu(5) header(6)";
/// "none" without framing.
[[nodiscard]] std::string DescribeFraming(const FieldTable& table);
