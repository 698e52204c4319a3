// tarnwick-cli diff: two messages compared field by field.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/Cli.h"
#include "cli/Options.h"
#include "codec/FieldRow.h"

/// One place where two decodings differ.
struct RowDifference {
    int field = -1;    ///< the field number (the parent field of a sub-field); -1: a frame part
    std::string path;  ///< "11", "55.9F26", "TPDU", "Header.field 3"
    std::optional<std::string> a;  ///< the value in A; empty: only in B
    std::optional<std::string> b;
};

/// The rows that differ, in A's order and then the rows only in B. Rows are matched by their
/// place: field number, frame part and member, and a sub-row's tag path under its field.
[[nodiscard]] std::vector<RowDifference> DiffRows(const FieldRowList& a, const FieldRowList& b);

/// Runs `diff` with its options on the texts A and B ("@FILE": the file's text); exit status 0
/// when the same, 1 when they differ, 2 when one does not decode or on a usage problem.
[[nodiscard]] int RunDiffCommand(const CliOptionList& options, std::string_view a,
                                 std::string_view b, const CliStreams& io,
                                 const std::function<int(std::string_view)>& usageError);

/// The text of `diff --help` after its usage line.
extern const std::string_view kDiffHelp;
