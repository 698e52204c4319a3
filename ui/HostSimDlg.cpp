// The "模拟主机" window: the simulated host of tarnwick-cli serve, on loopback, with its log.
#include "ui/HostSimDlg.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTime>
#include <QVBoxLayout>

#include "host/HostServer.h"
#include "ui/WindowTexts.h"

namespace {

const char* const kTextTitle = "模拟主机";
const char* const kTextPort = "端口:";
const char* const kTextStart = "启动";
const char* const kTextStop = "停止";
const char* const kTextListening = "监听 127.0.0.1:%1";
const char* const kTextStopped = "已停止";
/// Entries of the form box, in the order of kForms.
const char* const kFormNames[] = {"自动判断", "64域", "128域", "orbo8583报文"};
constexpr SimForm kForms[] = {SimForm::Auto, SimForm::Iso64, SimForm::Iso128, SimForm::Trade};
/// The log keeps this many lines; older ones go.
constexpr int kLogLines = 2000;

/// One log line: time, peer, message type, how it ended and, for a bad request, why.
QString LogText(const ServeRecord& r) {
    QString line = QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")) + u' ' +
                   QString::fromUtf8(r.peer.data(), static_cast<qsizetype>(r.peer.size()));
    if (r.exchange != nullptr) line += u' ' + QString::fromStdString(r.exchange->type);
    line += u' ' + ChineseLogWord(r.ended);
    if (!r.error.empty()) line += QStringLiteral("：") + ChineseDetail(r.error);
    return line;
}

}  // namespace

CHostSimDlg::CHostSimDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromUtf8(kTextTitle));
    auto* portLabel = new QLabel(QString::fromUtf8(kTextPort), this);
    m_editPort = new QLineEdit(QStringLiteral("8000"), this);
    m_editPort->setObjectName(QStringLiteral("simPort"));
    m_editPort->setAccessibleName(QStringLiteral("模拟主机端口"));
    m_editPort->setMaxLength(5);
    portLabel->setBuddy(m_editPort);
    m_comboForm = new QComboBox(this);
    m_comboForm->setObjectName(QStringLiteral("simForm"));
    m_comboForm->setAccessibleName(QStringLiteral("报文格式"));
    for (const char* name : kFormNames) m_comboForm->addItem(QString::fromUtf8(name));
    m_buttonStart = new QPushButton(QString::fromUtf8(kTextStart), this);
    m_buttonStart->setObjectName(QStringLiteral("simStart"));
    m_buttonStop = new QPushButton(QString::fromUtf8(kTextStop), this);
    m_buttonStop->setObjectName(QStringLiteral("simStop"));
    m_buttonStop->setEnabled(false);
    m_status = new QLabel(QString::fromUtf8(kTextStopped), this);
    m_status->setObjectName(QStringLiteral("simStatus"));
    m_log = new QPlainTextEdit(this);
    m_log->setObjectName(QStringLiteral("simLog"));
    m_log->setAccessibleName(QStringLiteral("模拟主机日志"));
    m_log->setReadOnly(true);
    m_log->setMaximumBlockCount(kLogLines);

    auto* row = new QHBoxLayout;
    row->addWidget(portLabel);
    row->addWidget(m_editPort);
    row->addWidget(m_comboForm);
    row->addWidget(m_buttonStart);
    row->addWidget(m_buttonStop);
    row->addWidget(m_status, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(m_log);
    resize(640, 360);

    connect(m_buttonStart, &QPushButton::clicked, this, &CHostSimDlg::OnStart);
    connect(m_buttonStop, &QPushButton::clicked, this, &CHostSimDlg::OnStop);
}

CHostSimDlg::~CHostSimDlg() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
}

void CHostSimDlg::OnStart() {
    if (Running()) return;
    bool ok = false;
    const uint port = m_editPort->text().toUInt(&ok);
    if (!ok || port > 0xFFFF) {
        m_status->setText(QStringLiteral("端口无效"));
        return;
    }
    ServeOptions options;
    options.address = "127.0.0.1";  // testers' own machine only
    options.port = static_cast<std::uint16_t>(port);
    options.form = kForms[std::max(0, m_comboForm->currentIndex())];
    options.stop = &m_stop;
    options.listening = [this](std::uint16_t p) {
        QMetaObject::invokeMethod(
            this, [this, p] { Listening(p); }, Qt::QueuedConnection);
    };
    options.log = [this](const ServeRecord& r) {
        QMetaObject::invokeMethod(
            this, [this, line = LogText(r)] { AppendLog(line); }, Qt::QueuedConnection);
    };
    m_stop = false;
    m_buttonStart->setEnabled(false);
    m_buttonStop->setEnabled(true);
    m_thread = std::thread([this, options = std::move(options)] {
        std::string why;
        const QString ended = ServeHost(options, why) ? QString() : ChineseDetail(why);
        QMetaObject::invokeMethod(
            this, [this, ended] { Stopped(ended); }, Qt::QueuedConnection);
    });
}

void CHostSimDlg::OnStop() {
    m_stop = true;
    m_buttonStop->setEnabled(false);
}

void CHostSimDlg::Listening(std::uint16_t port) {
    m_port = port;
    m_status->setText(QString::fromUtf8(kTextListening).arg(port));
}

void CHostSimDlg::Stopped(const QString& why) {
    if (m_thread.joinable()) m_thread.join();
    m_port = 0;
    m_status->setText(why.isEmpty() ? QString::fromUtf8(kTextStopped) : why);
    m_buttonStart->setEnabled(true);
    m_buttonStop->setEnabled(false);
}

void CHostSimDlg::AppendLog(const QString& line) { m_log->appendPlainText(line); }

void CHostSimDlg::closeEvent(QCloseEvent* event) {
    OnStop();
    QDialog::closeEvent(event);
}
