// The rows of two decodings compared: which rows changed, came or went.
#pragma once

#include <QString>

#include <vector>

/// A row as the list shows it.
struct ShownRow {
    QString name;
    QString length;
    QString value;
    friend bool operator==(const ShownRow&, const ShownRow&) = default;
};

/// One difference: a row of the new decoding (row >= 0) that changed or is new, or a row of the
/// old one that is gone (row -1).
struct RowChange {
    enum class Kind { Changed, Added, Gone };
    Kind kind = Kind::Changed;
    int row = -1;     // in the new rows
    QString name;
    QString before;   // Added: empty
    QString after;    // Gone: empty
};

/// Rows are matched by name (the n-th row of a name with the n-th of the same name); a matched
/// row whose length or value differs is changed.
[[nodiscard]] std::vector<RowChange> CompareRows(const std::vector<ShownRow>& before,
                                                 const std::vector<ShownRow>& after);

/// The changes in words, one line each: "域 11: 000001 → 000002", new and gone rows marked.
[[nodiscard]] QString ChangesText(const std::vector<RowChange>& changes);
