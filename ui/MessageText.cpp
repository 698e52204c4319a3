// The message edit's text and the bytes it stands for.
#include "ui/MessageText.h"

namespace {

bool IsAscii(const QString& text) {
    for (const QChar c : text) {
        if (c.unicode() >= 0x80) return false;
    }
    return true;
}

}  // namespace

QString DecodeMessageText(std::string_view bytes, TextEncoding encoding,
                          EditEncoding* editEncoding) {
    if (editEncoding != nullptr) {
        *editEncoding = encoding == TextEncoding::Utf8OrGbk && IsValidUtf8(bytes)
                            ? EditEncoding::Utf8
                            : EditEncoding::Gbk;
    }
    return QString::fromStdString(ToUtf8(bytes, encoding));
}

std::string EncodeMessageText(const QString& text, EditEncoding encoding) {
    if (IsAscii(text)) return text.toLatin1().toStdString();
    const std::string utf8 = text.toStdString();
    return encoding == EditEncoding::Utf8 ? utf8 : Utf8ToGbk(utf8);
}
