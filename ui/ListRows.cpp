// The rows of the field list that a build packs: the checked ones, or all when none is checked.
#include "ui/ListRows.h"

#include <QTableWidget>

#include "ui/ListControlEx.h"

namespace {

QString CellText(const QTableWidget& list, int row, int column) {
    // The symbols that show control characters stand for those characters.
    const QTableWidgetItem* item = list.item(row, column);
    return item != nullptr ? CellValueText(item->text()) : QString();
}

bool Checked(const QTableWidget& list, int row) {
    const QTableWidgetItem* item = list.item(row, 0);
    return item != nullptr && item->checkState() == Qt::Checked;
}

}  // namespace

FieldRowList RowsToPack(const QTableWidget& list) {
    bool anyChecked = false;
    for (int row = 0; row < list.rowCount() && !anyChecked; ++row) anyChecked = Checked(list, row);
    FieldRowList rows;
    for (int row = 0; row < list.rowCount(); ++row) {
        if (anyChecked && !Checked(list, row)) continue;
        FieldRow& r = rows.emplace_back();
        SetRowText(r.name, CellText(list, row, 1).toStdString());
        SetRowText(r.value, CellText(list, row, 3).toStdString());
    }
    return rows;
}
