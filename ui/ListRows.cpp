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
        const QString name = CellText(list, row, 1);
        SetRowText(r.name, name.toStdString());
        SetRowText(r.value, CellText(list, row, 3).toStdString());
        // A decoded row keeps its field number while its name is the one it was decoded with; a
        // renamed or typed row is found by its name.
        if (const QTableWidgetItem* item = list.item(row, 1)) {
            const QVariantList key = item->data(CListControlEx::kKeyRole).toList();
            if (key.size() == 7 && key[4].toString() == item->text()) {
                r.field = static_cast<std::int16_t>(key[0].toInt());
                r.parent = static_cast<std::int16_t>(key[1].toInt());
                r.part = static_cast<std::int8_t>(key[2].toInt());
                r.member = static_cast<std::int8_t>(key[3].toInt());
                const QTableWidgetItem* value = list.item(row, 3);
                r.edited = value != nullptr && value->text() == key[5].toString() ? 0 : 1;
                r.summary = key[6].toBool();
            }
        }
    }
    return rows;
}
