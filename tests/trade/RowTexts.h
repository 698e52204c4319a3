// The row texts of a command result as plain strings, for comparing with expected tables.
#pragma once

#include <string>
#include <vector>

#include "iso/CommandResult.h"

using RowTexts = std::vector<std::vector<std::string>>;

inline RowTexts Texts(const CommandResult& r) {
    RowTexts t;
    for (const FieldRow& row : r.rows) {
        t.push_back({std::string(row.Name()), std::string(row.Length()), std::string(row.Value())});
    }
    return t;
}
