// The rows of the field list that a build packs: the checked ones, or all when none is checked.
#pragma once

#include "codec/FieldRow.h"

class QTableWidget;

/// The label and value texts (UTF-8) of the list's rows to pack: when at least one row is
/// checked, only the checked rows; when none is, every row.
[[nodiscard]] FieldRowList RowsToPack(const QTableWidget& list);
