// The field list: a report list whose cells the user can overwrite in place, and its edit box.
#pragma once

#include <QFont>
#include <QLineEdit>
#include <QTableWidget>

#include <vector>

#include "codec/FieldRow.h"
#include "codec/TextDecode.h"
#include "ui/RowCompare.h"

/// A cell's text as the list shows it: control characters (0x00-0x1F, 0x7F) as the visible
/// symbols of the U+2400 block, so that no cell breaks its line or hides text.
[[nodiscard]] QString CellDisplayText(const QString& text);
/// The text a shown cell stands for: the symbols of CellDisplayText back to their characters.
[[nodiscard]] QString CellValueText(const QString& shown);

/// The in-place edit box. Losing the focus, Enter and Tab end the edit: the list writes the text
/// back at once. Esc ends it without writing back.
class CEditEx : public QLineEdit {
    Q_OBJECT
public:
    explicit CEditEx(QWidget* parent);

signals:
    /// Sent to the list when the box loses the focus; handled before the focus change completes.
    void EndEdit();
    /// Esc: the cell keeps its text.
    void CancelEdit();
    /// Tab (forward) or Shift+Tab: the edit is written back and moves to the next cell.
    void TabOut(bool forward);

protected:
    bool event(QEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
};

class CListControlEx : public QTableWidget {
    Q_OBJECT
public:
    explicit CListControlEx(QWidget* parent = nullptr);

    /// Removes all rows and sets up the four columns; the value column's width follows the
    /// list's outer width.
    void SetupColumns();
    /// Removes all rows.
    void ClearRows();
    /// Keeps what a decoded row shows with its "域" cell.
    void SetRowKey(int row, const FieldRow& key);
    /// Appends a row: an unchecked check box in column 0, then label, length and value.
    void AppendRow(const QString& label, const QString& length, const QString& value);
    /// Replaces all rows with the rows of a decoded message, their texts read in encoding.
    void LoadRows(const FieldRowList& rows, TextEncoding encoding);
    /// The item data role of the "域" cell that keeps a decoded row's field number, parent, part,
    /// member and name.
    static constexpr int kKeyRole = Qt::UserRole + 1;

    /// The rows of the last decoding loaded, and of the one before it (for comparing them).
    [[nodiscard]] const std::vector<ShownRow>& LastDecode() const { return m_lastDecode; }
    [[nodiscard]] const std::vector<ShownRow>& PreviousDecode() const { return m_previousDecode; }
    /// Marks rows with a highlight background (until the rows are replaced).
    void HighlightRows(const std::vector<int>& rows);

    /// Adds lines to the tip of a row's value cell, after the value.
    void AddRowTip(int row, const QString& lines);

    /// The in-place edit box; null until the first click on a cell.
    [[nodiscard]] CEditEx* EditBox() const { return m_edit; }
    /// The rectangle the edit box covers for a cell, in viewport coordinates.
    [[nodiscard]] QRect CellEditRect(int row, int column) const;
    /// True while the edit box is open on a cell.
    [[nodiscard]] bool Editing() const { return m_edit != nullptr && m_edit->isVisible(); }
    /// Writes an open edit back into its cell and closes the box (before a command reads cells).
    void CommitEdit();

    /// Scrolls vertically as usual; sideways only when the cell lies wholly outside the view, so
    /// that a click on a wide value never pushes the first columns out of sight.
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void BeginEdit(int row, int column);
    void OnEndEdit();
    void OnCancelEdit();
    void OnTabOut(bool forward);
    void AppendEmptyRow();
    /// No horizontal scroll bar while there are no rows; back at the left end.
    void UpdateScrollBars();

    std::vector<ShownRow> m_lastDecode;
    std::vector<ShownRow> m_previousDecode;
    int m_nItem = -1;           // row of the cell being edited; -1 after a click that hit no row
    int m_nSubItem = 0;         // column of the cell being edited
    QFont m_font;               // the edit box's font
    CEditEx* m_edit = nullptr;  // created on the first click on a cell, then kept (owned by Qt)
};
