// Field tables from files: JSON tables, jPOS GenericPackager XML, and the tables shipped inside.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "codec/FieldTable.h"

/// The largest table file that is read.
inline constexpr std::size_t kMaxTableFileBytes = 1 << 20;

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

/// Reads a table file: a regular file of at most 1 MiB (directories, FIFOs and devices are
/// refused without blocking), then LoadTableText.
[[nodiscard]] TableLoad LoadTableFile(const std::string& path);

/// Reads a whole regular file of at most limit bytes. Empty optional with the problem in why.
[[nodiscard]] std::optional<std::string> ReadRegularFile(const std::string& path, std::size_t limit,
                                                         std::string& why);

/// A table that the programs carry inside them.
struct ShippedTable {
    std::string_view name;  ///< the file name without ".json": "unionpay-pos64"
    std::string_view file;  ///< "unionpay-pos64.json"
    std::string_view text;  ///< the file's bytes
};

/// The shipped tables, in the order they are listed.
[[nodiscard]] std::span<const ShippedTable> ShippedTables();
[[nodiscard]] const ShippedTable* FindShippedTable(std::string_view name);

/// A shipped table by NAME, else a table file by path.
[[nodiscard]] TableLoad LoadTableByNameOrFile(const std::string& nameOrPath);

/// A short description of a table's framing: "length(2 bytes, binary, optional) tpdu(5) header(6)";
/// "none" without framing.
[[nodiscard]] std::string DescribeFraming(const FieldTable& table);
