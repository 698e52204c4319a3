// The messages of a capture file in a list; a double click hands one to the main window.
#include "ui/CaptureListDlg.h"

#include <QDateTime>
#include <QTimeZone>
#include <QFile>
#include <QHeaderView>
#include <QTableWidget>
#include <QVBoxLayout>

#include "capture/CaptureMessages.h"
#include "codec/Conversions.h"

namespace {

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString TimeText(std::int64_t us) {
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(us / 1000, QTimeZone::utc());
    return t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")) +
           QStringLiteral("%1").arg(us % 1000, 3, 10, QLatin1Char('0'));
}

}  // namespace

std::vector<CapturedMessage> ReadCapturedMessages(const QString& path, QString& why) {
    std::vector<CapturedMessage> messages;
    CaptureAnalyzer analyzer(CaptureOptions{}, [&messages](const CaptureItem& item) {
        if (item.kind != CaptureItemKind::Message) return;
        CapturedMessage m;
        m.time = TimeText(item.timeUs);
        m.direction = FromUtf8(EndpointText(*item.src) + " → " + EndpointText(*item.dst));
        m.type = FromUtf8(item.type);
        m.field11 = FromUtf8(item.field11);
        m.field39 = FromUtf8(item.field39);
        if (item.latencyUs >= 0) {
            m.latency = QString::number(static_cast<double>(item.latencyUs) / 1000.0, 'f', 3);
        }
        m.hex = HexOf(item.bytes);
        messages.push_back(std::move(m));
    });
    const std::string problem = ReadCaptureFile(QFile::encodeName(path).toStdString(), analyzer);
    why = FromUtf8(problem);
    if (!problem.empty()) messages.clear();
    return messages;
}

CCaptureListDlg::CCaptureListDlg(std::vector<CapturedMessage> messages, Chosen chosen,
                                 QWidget* parent)
    : QDialog(parent), m_messages(std::move(messages)), m_chosen(std::move(chosen)) {
    setWindowTitle(QStringLiteral("抓包文件"));
    m_list = new QTableWidget(static_cast<int>(m_messages.size()), 6, this);
    m_list->setHorizontalHeaderLabels({QStringLiteral("时间"), QStringLiteral("方向"),
                                       QStringLiteral("消息类型"), QStringLiteral("11"),
                                       QStringLiteral("39"), QStringLiteral("延迟(ms)")});
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->verticalHeader()->setVisible(false);
    for (std::size_t i = 0; i < m_messages.size(); ++i) {
        const CapturedMessage& m = m_messages[i];
        const QString* texts[] = {&m.time, &m.direction, &m.type, &m.field11, &m.field39, &m.latency};
        for (int column = 0; column < 6; ++column) {
            m_list->setItem(static_cast<int>(i), column, new QTableWidgetItem(*texts[column]));
        }
    }
    m_list->resizeColumnsToContents();
    connect(m_list, &QTableWidget::cellDoubleClicked, this, [this](int row, int) { Choose(row); });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list);
    resize(760, 420);
}

void CCaptureListDlg::Choose(int row) {
    if (row < 0 || static_cast<std::size_t>(row) >= m_messages.size() || !m_chosen) return;
    m_chosen(m_messages[static_cast<std::size_t>(row)].hex);
}
