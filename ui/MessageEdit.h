// The message edit: a multi-line plain-text box with the native edit control's text limit.
#pragma once

#include <QPlainTextEdit>

/// Typing and pasting stop at kTextLimit characters, the native multi-line edit's default limit,
/// so that a 20 MB paste cannot freeze the window in text layout (every command refuses a text
/// over 10239 characters anyway). Text set by the program is not limited.
class CMessageEdit : public QPlainTextEdit {
    Q_OBJECT
public:
    static constexpr int kTextLimit = 32767;

    explicit CMessageEdit(QWidget* parent = nullptr);

protected:
    void insertFromMimeData(const QMimeData* source) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    /// How many characters may still go in, in place of the current selection.
    [[nodiscard]] qsizetype Room() const;
};
