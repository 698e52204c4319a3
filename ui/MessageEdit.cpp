// The message edit.
#include "ui/MessageEdit.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMimeData>
#include <QTextCursor>
#include <algorithm>

CMessageEdit::CMessageEdit(QWidget* parent) : QPlainTextEdit(parent) {}

qsizetype CMessageEdit::Room() const {
    const QTextCursor cursor = textCursor();
    // characterCount() counts one paragraph end more than the text holds.
    const qsizetype length = document()->characterCount() - 1;
    const qsizetype selected = cursor.selectionEnd() - cursor.selectionStart();
    return std::max<qsizetype>(0, kTextLimit - (length - selected));
}

void CMessageEdit::insertFromMimeData(const QMimeData* source) {
    if (source == nullptr || !source->hasText()) return;
    QString text = source->text();
    const qsizetype room = Room();
    if (text.size() > room) {
        // Only what fits goes in, cut before a character rather than inside one.
        qsizetype cut = room;
        if (cut > 0 && text[cut - 1].isHighSurrogate()) --cut;
        text.truncate(cut);
        QApplication::beep();
    }
    if (!text.isEmpty()) insertPlainText(text);
}

void CMessageEdit::keyPressEvent(QKeyEvent* event) {
    const QString text = event->text();
    const bool inserts = !text.isEmpty() && text.at(0).isPrint() &&
                         !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
    const bool newLine = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if ((inserts || newLine) && Room() < std::max<qsizetype>(1, text.size())) {
        QApplication::beep();
        event->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}
