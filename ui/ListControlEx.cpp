// The field list and its in-place edit box.
#include "ui/ListControlEx.h"

#include <QApplication>
#include <QFocusEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStyle>
#include <algorithm>

namespace {

constexpr char16_t kControlPictures = 0x2400;  // U+2400..U+241F: symbols for 0x00..0x1F
constexpr char16_t kDeletePicture = 0x2421;    // the symbol for 0x7F

/// The first and last columns Tab walks through; column 0 only carries the check box.
constexpr int kFirstTabColumn = 1;
constexpr int kLastTabColumn = 3;

}  // namespace

QString CellDisplayText(const QString& text) {
    QString out(text);
    for (QChar& c : out) {
        const char16_t u = c.unicode();
        if (u < 0x20) {
            c = QChar(static_cast<char16_t>(kControlPictures + u));
        } else if (u == 0x7F) {
            c = QChar(kDeletePicture);
        }
    }
    return out;
}

QString CellValueText(const QString& shown) {
    QString out(shown);
    for (QChar& c : out) {
        const char16_t u = c.unicode();
        if (u >= kControlPictures && u < kControlPictures + 0x20) {
            c = QChar(static_cast<char16_t>(u - kControlPictures));
        } else if (u == kDeletePicture) {
            c = QChar(char16_t{0x7F});
        }
    }
    return out;
}

CEditEx::CEditEx(QWidget* parent) : QLineEdit(parent) {
    setObjectName(QStringLiteral("99"));
    setAccessibleName(QStringLiteral("单元格编辑框"));
    setFrame(false);
    setStyleSheet(QStringLiteral("QLineEdit { border: 1px solid palette(shadow); }"));
}

bool CEditEx::event(QEvent* event) {
    // Before QWidget's own handling, which would take Tab for a focus move and let Esc and Enter
    // reach the dialog (closing it, or pressing a button).
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
        switch (key->key()) {
            case Qt::Key_Escape:
                emit CancelEdit();
                return true;
            case Qt::Key_Return:
            case Qt::Key_Enter:
                if (mods != Qt::NoModifier) break;
                emit EndEdit();
                return true;
            case Qt::Key_Tab:
                if (mods != Qt::NoModifier) break;
                emit TabOut(true);
                return true;
            case Qt::Key_Backtab:
                emit TabOut(false);
                return true;
            default:
                break;
        }
    }
    return QLineEdit::event(event);
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
    // Scrolling sideways repaints the whole list, so that no cell keeps a stale piece of text.
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, viewport(),
            [this] { viewport()->update(); });
    UpdateScrollBars();
}

void CListControlEx::UpdateScrollBars() {
    if (rowCount() == 0) {
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        horizontalScrollBar()->setValue(0);
    } else {
        setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    }
}

void CListControlEx::scrollTo(const QModelIndex& index, ScrollHint hint) {
    QScrollBar* bar = horizontalScrollBar();
    const int before = bar->value();
    bool partlyVisible = false;
    if (index.isValid()) {
        const int left = columnViewportPosition(index.column());
        partlyVisible = left < viewport()->width() && left + columnWidth(index.column()) > 0;
    }
    QTableWidget::scrollTo(index, hint);
    if (partlyVisible) bar->setValue(before);
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
    UpdateScrollBars();
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
        auto* item = new QTableWidgetItem(CellDisplayText(*texts[column - 1]));
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        setItem(row, column, item);
    }
    // Long values are cut at the column's edge; the tip shows them whole.
    item(row, 3)->setToolTip(item(row, 3)->text());
    if (row == 0) UpdateScrollBars();
}

void CListControlEx::AppendEmptyRow() { AppendRow(QString(), QString(), QString()); }

void CListControlEx::LoadRows(const FieldRowList& rows, TextEncoding encoding) {
    setUpdatesEnabled(false);
    ClearRows();
    for (const FieldRow& row : rows) {
        AppendRow(QString::fromStdString(ToUtf8(row.Name(), encoding)),
                  QString::fromStdString(ToUtf8(row.Length(), encoding)),
                  QString::fromStdString(ToUtf8(row.Value(), encoding)));
        SetRowKey(rowCount() - 1, row);
        // A loaded table's field name: the tooltip of the row's "域" cell.
        if (!row.title.empty()) {
            item(rowCount() - 1, 1)
                ->setToolTip(QString::fromStdString(ToUtf8(row.title, TextEncoding::Utf8OrGbk)));
        }
    }
    setUpdatesEnabled(true);
    m_previousDecode = std::move(m_lastDecode);
    m_lastDecode.clear();
    m_lastDecode.reserve(rows.size());
    for (int r = 0; r < rowCount(); ++r) {
        m_lastDecode.push_back({item(r, 1)->text(), item(r, 2)->text(), item(r, 3)->text()});
    }
}

void CListControlEx::HighlightRows(const std::vector<int>& rows) {
    const QBrush highlight(QColor(255, 236, 160));
    for (const int r : rows) {
        if (r < 0 || r >= rowCount()) continue;
        for (int column = 0; column < columnCount(); ++column) {
            if (QTableWidgetItem* cell = item(r, column)) cell->setBackground(highlight);
        }
    }
}

void CListControlEx::SetRowKey(int row, const FieldRow& key) {
    QTableWidgetItem* name = item(row, 1);
    if (name == nullptr) return;
    // What the row shows, by number, for as long as its name stays the one it was given; and
    // the value it was given, so that a build knows whether the user changed it.
    const QTableWidgetItem* value = item(row, 3);
    name->setData(kKeyRole, QVariantList{key.field, key.parent, key.part, key.member, name->text(),
                                         value != nullptr ? value->text() : QString(),
                                         key.summary});
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

    BeginEdit(m_nItem, m_nSubItem);
}

void CListControlEx::BeginEdit(int row, int column) {
    m_nItem = row;
    m_nSubItem = column;
    const QRect rect = CellEditRect(row, column);
    if (m_edit == nullptr) {
        m_edit = new CEditEx(viewport());
        m_edit->hide();
        m_font = font();
        m_edit->setFont(m_font);
        connect(m_edit, &CEditEx::EndEdit, this, &CListControlEx::OnEndEdit);
        connect(m_edit, &CEditEx::CancelEdit, this, &CListControlEx::OnCancelEdit);
        connect(m_edit, &CEditEx::TabOut, this, &CListControlEx::OnTabOut);
    }
    const QTableWidgetItem* cell = item(row, column);
    m_edit->setGeometry(rect);
    m_edit->show();
    m_edit->setText(cell != nullptr ? cell->text() : QString());
    m_edit->setFocus(Qt::MouseFocusReason);
    m_edit->deselect();
    m_edit->setCursorPosition(static_cast<int>(m_edit->text().size()));
}

void CListControlEx::CommitEdit() {
    if (Editing()) OnEndEdit();
}

void CListControlEx::OnCancelEdit() {
    m_nItem = -1;  // the end of the edit writes nothing back
    OnEndEdit();
}

void CListControlEx::OnTabOut(bool forward) {
    int row = m_nItem;
    int column = m_nSubItem;
    CommitEdit();
    if (row < 0) return;
    if (forward) {
        if (++column > kLastTabColumn) {
            column = kFirstTabColumn;
            ++row;
        }
    } else if (--column < kFirstTabColumn) {
        column = kLastTabColumn;
        --row;
    }
    if (row < 0 || row >= rowCount()) return;
    setCurrentCell(row, column);
    BeginEdit(row, column);
}

void CListControlEx::OnEndEdit() {
    if (m_edit->hasFocus()) {
        // Enter, Tab, Esc or a command: the focus goes back to the list, and the box losing it
        // ends the edit (this function again, now without the focus).
        setFocus(Qt::OtherFocusReason);
        if (!m_edit->isVisible()) return;
    }
    if (m_nItem >= 0 && m_nItem < rowCount() && m_nSubItem >= 0 && m_nSubItem < columnCount()) {
        QTableWidgetItem* cell = item(m_nItem, m_nSubItem);
        if (cell == nullptr) {
            cell = new QTableWidgetItem();
            setItem(m_nItem, m_nSubItem, cell);
        }
        cell->setText(CellDisplayText(m_edit->text()));
        if (m_nSubItem == 3) cell->setToolTip(cell->text());
    }
    // Written once: hiding the focused box moves the focus, which ends the edit again.
    m_nItem = -1;
    m_edit->hide();
}

void CListControlEx::mouseDoubleClickEvent(QMouseEvent* event) {
    // No default processing: a double click below the rows appends one, on a row it does nothing.
    if (event->button() != Qt::LeftButton) return;
    if (rowAt(event->position().toPoint().y()) == -1) AppendEmptyRow();
}
