// The field list and its in-place edit box.
#include "ui/ListControlEx.h"

#include <QApplication>
#include <QFocusEvent>
#include <QHeaderView>
#include <QMouseEvent>
#include <QStyle>
#include <algorithm>

CEditEx::CEditEx(QWidget* parent) : QLineEdit(parent) {
    setObjectName(QStringLiteral("99"));
    setAccessibleName(QStringLiteral("单元格编辑框"));
    setFrame(false);
    setStyleSheet(QStringLiteral("QLineEdit { border: 1px solid palette(shadow); }"));
}

void CEditEx::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    // The edit's own context menu takes the focus only for a moment; the edit goes on.
    if (event->reason() != Qt::PopupFocusReason) emit EndEdit();
}

CListControlEx::CListControlEx(QWidget* parent) : QTableWidget(parent) {
    setEditTriggers(QAbstractItemView::NoEditTriggers);  // cells are edited through the edit box
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setShowGrid(true);
    setWordWrap(false);
    setTextElideMode(Qt::ElideRight);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setMinimumSectionSize(0);  // column 0 is narrower than the style's least
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
}

void CListControlEx::SetupColumns() {
    ClearRows();
    const int outerWidth = frameGeometry().width();
    setColumnCount(4);
    setHorizontalHeaderLabels(
        {QString(), QStringLiteral("域"), QStringLiteral("长度"), QStringLiteral("参数值")});
    setColumnWidth(0, 20);
    setColumnWidth(1, 61);
    setColumnWidth(2, 60);
    setColumnWidth(3, ((outerWidth / 2) - 150) * 3);
}

void CListControlEx::ClearRows() {
    // An edit still open belongs to a row that goes away: it ends without writing back.
    if (m_edit != nullptr && m_edit->isVisible()) {
        m_nItem = -1;
        m_edit->hide();
    }
    setRowCount(0);
}

void CListControlEx::AppendRow(const QString& label, const QString& length, const QString& value) {
    const int row = rowCount();
    insertRow(row);
    auto* check = new QTableWidgetItem();
    check->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    check->setCheckState(Qt::Unchecked);
    setItem(row, 0, check);
    const QString* texts[] = {&label, &length, &value};
    for (int column = 1; column <= 3; ++column) {
        auto* item = new QTableWidgetItem(*texts[column - 1]);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        setItem(row, column, item);
    }
    // Long values are cut at the column's edge; the tip shows them whole.
    item(row, 3)->setToolTip(value);
}

void CListControlEx::AppendEmptyRow() { AppendRow(QString(), QString(), QString()); }

void CListControlEx::LoadRows(const FieldRowList& rows, TextEncoding encoding) {
    setUpdatesEnabled(false);
    ClearRows();
    for (const FieldRow& row : rows) {
        AppendRow(QString::fromStdString(ToUtf8(row.Name(), encoding)),
                  QString::fromStdString(ToUtf8(row.Length(), encoding)),
                  QString::fromStdString(ToUtf8(row.Value(), encoding)));
        // A loaded table's field name: the tooltip of the row's "域" cell.
        if (!row.title.empty()) {
            item(rowCount() - 1, 1)
                ->setToolTip(QString::fromStdString(ToUtf8(row.title, TextEncoding::Utf8OrGbk)));
        }
    }
    setUpdatesEnabled(true);
}

void CListControlEx::AddRowTip(int row, const QString& lines) {
    if (row < 0 || row >= rowCount()) return;
    if (QTableWidgetItem* value = item(row, 3)) {
        value->setToolTip(value->text() + QLatin1Char('\n') + lines);
    }
}

QRect CListControlEx::CellEditRect(int row, int column) const {
    QRect rect = visualRect(model()->index(row, column));
    if (column == 0) {
        // Column 0 carries the check box; its text area starts to the right of it.
        const int indicator = style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, this) + 4;
        rect.setLeft(std::min(rect.left() + indicator, rect.right()));
    }
    return rect;
}

void CListControlEx::mousePressEvent(QMouseEvent* event) {
    // Selection, the check box and the focus first; taking the focus ends an edit still open on
    // another cell, which is written back under the old row and column before they change.
    QTableWidget::mousePressEvent(event);
    if (event->button() != Qt::LeftButton) return;

    const QPoint point = event->position().toPoint();
    const int row = rowAt(point.y());
    const int column = columnAt(point.x());
    m_nItem = column >= 0 ? row : -1;  // right of the last column no cell is hit either
    if (m_nItem == -1) return;
    m_nSubItem = column;

    const QRect rect = CellEditRect(m_nItem, m_nSubItem);
    if (m_edit == nullptr) {
        m_edit = new CEditEx(viewport());
        m_edit->hide();
        m_font = font();
        m_edit->setFont(m_font);
        connect(m_edit, &CEditEx::EndEdit, this, &CListControlEx::OnEndEdit);
    }
    const QTableWidgetItem* cell = item(m_nItem, m_nSubItem);
    m_edit->setGeometry(rect);
    m_edit->show();
    m_edit->setText(cell != nullptr ? cell->text() : QString());
    m_edit->setFocus(Qt::MouseFocusReason);
    m_edit->deselect();
    m_edit->setCursorPosition(static_cast<int>(m_edit->text().size()));
}

void CListControlEx::OnEndEdit() {
    if (m_nItem >= 0 && m_nItem < rowCount() && m_nSubItem >= 0 && m_nSubItem < columnCount()) {
        QTableWidgetItem* cell = item(m_nItem, m_nSubItem);
        if (cell == nullptr) {
            cell = new QTableWidgetItem();
            setItem(m_nItem, m_nSubItem, cell);
        }
        cell->setText(m_edit->text());
        if (m_nSubItem == 3) cell->setToolTip(m_edit->text());
    }
    m_edit->hide();
}

void CListControlEx::mouseDoubleClickEvent(QMouseEvent* event) {
    // No default processing: a double click below the rows appends one, on a row it does nothing.
    if (event->button() != Qt::LeftButton) return;
    if (rowAt(event->position().toPoint().y()) == -1) AppendEmptyRow();
}
