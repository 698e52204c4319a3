// The window's traffic items: the messages of a capture file, and the rows changed since the
// previous decoding.
#include <QFile>
#include <QPlainTextEdit>

#include "ui/CaptureListDlg.h"
#include "ui/ListControlEx.h"
#include "ui/TarnwickDlg.h"
#include "ui/TrafficTexts.h"

namespace {

const FileDialogSpec kCaptureFileDialog{
    QStringLiteral("打开"), QStringLiteral("抓包文件(*.pcap *.pcapng *.cap);;所有文件 (*.*)"),
    QStringLiteral("pcap")};

}  // namespace

void CTarnwickDlg::OnOpenCapture() {
    const QString path = ChooseFile(kCaptureFileDialog);
    if (path.isEmpty()) return;
    QString why;
    std::vector<CapturedMessage> messages = ReadCapturedMessages(path, why);
    if (!why.isEmpty()) {
        ShowError(why);
        return;
    }
    auto* list = new CCaptureListDlg(
        std::move(messages),
        [this](const std::string& hex) {
            m_editMessage->setPlainText(QString::fromLatin1(hex.data(), static_cast<qsizetype>(hex.size())));
            m_builtBytesShown = false;
            OnParseIso8583();
        },
        this);
    list->setAttribute(Qt::WA_DeleteOnClose);
    list->show();
}

void CTarnwickDlg::OnCompareWithPrevious() {
    const std::vector<RowChange> changes =
        CompareRows(m_listFields->PreviousDecode(), m_listFields->LastDecode());
    std::vector<int> rows;
    for (const RowChange& c : changes) {
        if (c.row >= 0) rows.push_back(c.row);
    }
    m_listFields->HighlightRows(rows);
    const QString caption = QString::fromUtf8(kTextCompareItem);
    Report({ReportedMessage::Icon::Information, caption,
            changes.empty() ? QStringLiteral("与上次解析相同") : ChangesText(changes)});
}
