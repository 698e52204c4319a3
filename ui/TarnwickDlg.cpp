// The main window: its controls laid out from dialog template 102, the shared operations and the
// handlers, each a thin call of a core command.
#include "ui/TarnwickDlg.h"

#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QValidator>
#include <algorithm>
#include <vector>

#include "iso/BuildIso8583.h"
#include "codec/Conversions.h"
#include "iso/ParseIso8583.h"
#include "codec/Texts.h"
#include "net/ReplyRows.h"
#include "emv/TlvRows.h"
#include "net/SendCommand.h"
#include "trade/ParseJsonPacket.h"
#include "iso/ParseIso8583.h"
#include "trade/TradeCommands.h"
#include "ui/DialogUnits.h"
#include "ui/HostSimDlg.h"
#include "ui/InterfaceTypeCombo.h"
#include "ui/IpAddressCtrl.h"
#include "ui/KeysDialog.h"
#include "ui/ListRows.h"
#include "ui/ListControlEx.h"
#include "ui/MessageEdit.h"
#include "ui/TableChoice.h"
#include "ui/TrafficTexts.h"
#include "ui/WindowTexts.h"
#include "tables/TableFile.h"

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

std::int32_t g_interfaceType = 0;

namespace {

enum class Kind { Static, IpAddress, PortEdit, Combo, GroupBox, List, Button, MessageEdit };

/// One control of a dialog template: id (empty for none), kind, text and rectangle in dialog
/// units. Template order is the tab order.
struct TemplateControl {
    const char* id;
    Kind kind;
    const char* text;
    int x, y, width, height;
};

constexpr TemplateControl kTemplate102[] = {
    {"", Kind::Static, "IP地址:", 10, 14, 22, 9},
    {"1024", Kind::IpAddress, "", 35, 12, 70, 12},
    {"", Kind::Static, "端口:", 110, 14, 17, 9},
    {"1025", Kind::PortEdit, "", 130, 12, 28, 12},
    {"1002", Kind::Combo, "", 433, 16, 71, 126},  // height: the open drop-down list
    {"", Kind::GroupBox, "", 7, 0, 155, 37},
    {"", Kind::GroupBox, "8583域参数", 7, 41, 522, 186},
    {"1000", Kind::List, "", 13, 53, 509, 169},
    {"1012", Kind::Button, "发送", 170, 11, 50, 15},
    {"1022", Kind::MessageEdit, "", 10, 248, 511, 128},
    {"1023", Kind::GroupBox, "8583报文", 7, 237, 521, 145},
    {"1013", Kind::Button, "解析orbo8583报文", 225, 2, 63, 15},
    {"1014", Kind::Button, "生成orbo8583报文", 225, 22, 63, 15},
    {"1015", Kind::Button, "解析iso8583包", 295, 2, 62, 15},
    {"1016", Kind::Button, "生成iso8583包", 295, 22, 62, 15},
    {"", Kind::GroupBox, "接口类型", 430, 5, 91, 31},
    {"1017", Kind::Button, "解析JSON包", 363, 2, 62, 15},
    {"1018", Kind::Button, "生成JSON包", 363, 22, 62, 15},
    {"1001", Kind::Button, "Clear", 11, 385, 38, 11},
};
constexpr int kTemplate102Width = 535;
constexpr int kTemplate102Height = 399;
constexpr int kDialogFontPoints = 9;

constexpr int kPortMaxChars = 5;
const char* const kTextPortTooLong = "请输入不多于 %1 个的字符。";
const char* const kTextAboutItem = "关于 Tarnwick(&A)...";
const char* const kTextHostSimItem = "模拟主机";
const char* const kTextKeysItem = "密钥设置…";
const char* const kTextAppName = "Tarnwick";
const char* const kTextReply = "主机应答 %1 字节:";
const char* const kTextParseReply = "解析应答";
const char* const kTextCancel = "取消";
const char* const kTextConfirmClose = "列表或报文框中还有内容，关闭后将丢失。确定要关闭吗？";
/// The window waits this long for the host's reply; it does not respond meanwhile.
constexpr int kSendReplyTimeoutMs = 1000;
/// Bytes per line of a reply's hex text.
constexpr std::size_t kReplyBytesPerLine = 32;
/// Lines of text a message box shows before the rest goes into its details.
constexpr qsizetype kMessageBoxLines = 17;
const char* const kInterfaceTypes[] = {"自动判断", "64域无报文长度", "128域无报文长度"};

const FileDialogSpec kXmlConfigDialog{QStringLiteral("打开"),
                                      QStringLiteral("配置文件(*.xml);;所有文件 (*.*)"),
                                      QStringLiteral("xml")};
const FileDialogSpec kTableFileDialog{QStringLiteral("打开"),
                                      QStringLiteral("域定义文件(*.json *.xml);;所有文件 (*.*)"),
                                      QStringLiteral("json")};

const FileDialogSpec kJsonConfigDialog{QStringLiteral("打开"),
                                       QStringLiteral("配置文件(*.json);;所有文件 (*.*)"),
                                       QStringLiteral("json")};

/// The port box takes at most 5 characters from the keyboard or the clipboard; text set by the
/// program is not limited, as with the native edit's text limit.
class PortValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        return input.size() > kPortMaxChars ? Invalid : Acceptable;
    }
};

/// Group boxes are named for the controls they frame, so that no two accessible names clash.
QString GroupAccessibleName(const QString& title) {
    return title.isEmpty() ? QStringLiteral("连接设置分组") : title + QStringLiteral("分组");
}

QFont DialogFont(const QFont& base) {
    QFont font(base);
    font.setPointSize(kDialogFontPoints);
    return font;
}

/// Template controls that are tab stops themselves (the IP control's four fields are).
bool TakesTab(Kind kind) {
    return kind != Kind::Static && kind != Kind::GroupBox && kind != Kind::IpAddress;
}

QLabel* NewStatic(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QComboBox* NewInterfaceCombo(QWidget* parent) {
    auto* combo = new CInterfaceTypeCombo(parent);
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->setAccessibleName(QStringLiteral("接口类型"));
    combo->lineEdit()->setAccessibleName(QStringLiteral("接口类型文本"));
    // A table's name longer than the box shows from its start, and whole in the tip.
    QObject::connect(combo, &QComboBox::currentIndexChanged, combo, [combo] {
        combo->lineEdit()->setCursorPosition(0);
        combo->setToolTip(combo->currentText());
    });
    return combo;
}

QGroupBox* NewGroupBox(const QString& title, QWidget* parent) {
    auto* group = new QGroupBox(title, parent);
    group->setAccessibleName(GroupAccessibleName(title));
    group->setFocusPolicy(Qt::NoFocus);
    return group;
}

QPushButton* NewButton(const QString& text, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setAccessibleName(text);
    button->setAutoDefault(false);  // Enter is handled by the dialog's keyPressEvent
    return button;
}

QPlainTextEdit* NewMessageEdit(QWidget* parent) {
    auto* edit = new CMessageEdit(parent);
    edit->setAccessibleName(QStringLiteral("8583报文"));
    edit->setTabChangesFocus(true);
    edit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    edit->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    return edit;
}

constexpr auto kSettingExpandTlv = "view/expandField55";
constexpr auto kSettingMaskCardNumbers = "view/maskCardNumbers";
constexpr auto kSettingExplain = "view/explain";

QSettings ViewSettings() {
    return QSettings(QSettings::UserScope, QStringLiteral("Tarnwick"), QStringLiteral("Tarnwick"));
}

}  // namespace

CAboutDlg::CAboutDlg(const QIcon& icon, QWidget* parent) : QDialog(parent) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("关于 Tarnwick"));
    setFont(DialogFont(font()));
    const DialogUnits units(font());

    auto* picture = new QLabel(this);
    picture->setAccessibleName(QStringLiteral("Tarnwick图标"));
    // An icon control takes the size of its icon, whatever the template says.
    const QRect pictureRect = units.Rect(14, 14, 21, 20);
    picture->setGeometry(pictureRect.left(), pictureRect.top(), 32, 32);
    picture->setPixmap(icon.pixmap(32, 32));

    auto* name = new QLabel(QStringLiteral("Tarnwick，1.0 版"), this);
    name->setTextFormat(Qt::PlainText);
    // Two units more than the template's height, so that fonts with deep descenders are not cut.
    name->setGeometry(units.Rect(42, 14, 114, 8).adjusted(0, 0, 0, units.Y(2)));

    auto* ok = new QPushButton(QStringLiteral("确定"), this);
    ok->setObjectName(QStringLiteral("1"));
    ok->setDefault(true);
    ok->setGeometry(units.Rect(113, 41, 50, 14));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    setFixedSize(units.X(170), units.Y(62));
}

CTarnwickDlg::CTarnwickDlg(QWidget* parent) : QDialog(parent) {
    Q_INIT_RESOURCE(tarnwick);
    m_hIcon = QIcon(QStringLiteral(":/tarnwick.png"));
    m_chooseFile = [this](const FileDialogSpec& spec) {
        QFileDialog dialog(this, spec.title, QString(), spec.filter);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setDefaultSuffix(spec.defaultSuffix);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return QString();
        return dialog.selectedFiles().front();
    };
    m_confirm = [this](const QString& caption, const QString& text) {
        return QMessageBox::question(this, caption, text, QMessageBox::Yes | QMessageBox::No,
                                     QMessageBox::No) == QMessageBox::Yes;
    };
    m_report = [this](const ReportedMessage& message) {
        const QMessageBox::Icon icon =
            message.icon == ReportedMessage::Icon::Error     ? QMessageBox::Critical
            : message.icon == ReportedMessage::Icon::Warning ? QMessageBox::Warning
                                                             : QMessageBox::Information;
        QMessageBox box(icon, message.caption, message.text, QMessageBox::Ok, this);
        box.setTextInteractionFlags(Qt::TextSelectableByMouse);
        if (!message.informative.isEmpty()) box.setInformativeText(message.informative);
        QAbstractButton* extra = nullptr;
        if (!message.extraButton.isEmpty()) {
            extra = box.addButton(message.extraButton, QMessageBox::ActionRole);
        }
        // A long text (a large reply) shows its head; the whole text is under "详细信息".
        const QStringList lines = message.text.split(u'\n');
        if (lines.size() > kMessageBoxLines) {
            box.setText(lines.mid(0, kMessageBoxLines).join(u'\n') + QStringLiteral("\n…"));
            box.setDetailedText(message.text);
        }
        box.exec();
        if (extra != nullptr && box.clickedButton() == extra && message.extraAction) {
            message.extraAction();
        }
    };
    CreateControls();
    ConnectHandlers();
    OnInitDialog();
    m_keys = std::make_unique<WindowKeys>();
    if (QString problem; !m_keys->Load(WindowKeys::FilePath(), problem)) qWarning("%s", qPrintable(problem));
}

CTarnwickDlg::~CTarnwickDlg() {
    // A send still running is stopped; its result, queued for this window, is dropped with it.
    m_sendCancel = true;
    if (m_sendThread.joinable()) m_sendThread.join();
}

void CTarnwickDlg::CreateControls() {
    SetUpWindowFrame();
    std::vector<QWidget*> tabStops;
    LayOutTemplate(tabStops);
    for (std::size_t i = 0; i + 1 < tabStops.size(); ++i) setTabOrder(tabStops[i], tabStops[i + 1]);
    AddCancelButton();
    m_editPort->setValidator(new PortValidator(m_editPort));
    const DialogUnits units(font());
    setFixedSize(units.X(kTemplate102Width), units.Y(kTemplate102Height));
}

void CTarnwickDlg::SetUpWindowFrame() {
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(QString::fromUtf8(kTextAppName));
    setFont(DialogFont(font()));
}

void CTarnwickDlg::LayOutTemplate(std::vector<QWidget*>& tabStops) {
    const DialogUnits units(font());
    std::vector<QGroupBox*> groups;
    for (const TemplateControl& control : kTemplate102) {
        const QString text = QString::fromUtf8(control.text);
        QRect rect = units.Rect(control.x, control.y, control.width, control.height);
        QWidget* widget = nullptr;
        switch (control.kind) {
            case Kind::Static:
                widget = NewStatic(text, this);
                break;
            case Kind::IpAddress:
                m_ipAddress = new CIpAddressCtrl(this);
                widget = m_ipAddress;
                for (int i = 0; i < 4; ++i) tabStops.push_back(m_ipAddress->Field(i));
                break;
            case Kind::PortEdit:
                m_editPort = new QLineEdit(this);
                m_editPort->setAccessibleName(QStringLiteral("端口"));
                widget = m_editPort;
                break;
            case Kind::Combo:
                m_comboInterfaceType = NewInterfaceCombo(this);
                // The template's height is that of the open list; the closed box keeps its own.
                rect.setHeight(m_comboInterfaceType->sizeHint().height());
                widget = m_comboInterfaceType;
                break;
            case Kind::GroupBox:
                groups.push_back(NewGroupBox(text, this));
                widget = groups.back();
                break;
            case Kind::List:
                m_listFields = new CListControlEx(this);
                m_listFields->setAccessibleName(QStringLiteral("8583域参数"));
                widget = m_listFields;
                break;
            case Kind::Button:
                widget = NewButton(text, this);
                break;
            case Kind::MessageEdit:
                m_editMessage = NewMessageEdit(this);
                widget = m_editMessage;
                break;
        }
        if (TakesTab(control.kind)) tabStops.push_back(widget);
        widget->setObjectName(QString::fromUtf8(control.id));
        widget->setGeometry(rect);
    }
    // Group boxes only frame their controls: they lie beneath them, so clicks reach the controls.
    for (QGroupBox* group : groups) group->lower();
}

void CTarnwickDlg::AddCancelButton() {
    // "取消" takes the place of "发送" while a send runs.
    m_buttonSend = findChild<QPushButton*>(QStringLiteral("1012"), Qt::FindDirectChildrenOnly);
    m_buttonCancel = NewButton(QString::fromUtf8(kTextCancel), this);
    m_buttonCancel->setObjectName(QStringLiteral("cancelSend"));
    m_buttonCancel->setGeometry(m_buttonSend->geometry());
    m_buttonCancel->hide();
}

void CTarnwickDlg::ConnectHandlers() {
    const auto button = [this](const char* id) {
        return findChild<QPushButton*>(QString::fromUtf8(id), Qt::FindDirectChildrenOnly);
    };
    connect(button("1013"), &QPushButton::clicked, this, &CTarnwickDlg::OnParseTrade);
    connect(button("1014"), &QPushButton::clicked, this, &CTarnwickDlg::OnBuildTrade);
    connect(button("1015"), &QPushButton::clicked, this, &CTarnwickDlg::OnParseIso8583);
    connect(button("1012"), &QPushButton::clicked, this, &CTarnwickDlg::OnSend);
    connect(button("1018"), &QPushButton::clicked, this, &CTarnwickDlg::OnBuildJson);
    connect(button("1017"), &QPushButton::clicked, this, &CTarnwickDlg::OnParseJson);
    connect(button("1001"), &QPushButton::clicked, this, &CTarnwickDlg::OnClear);
    connect(m_buttonCancel, &QPushButton::clicked, this, &CTarnwickDlg::OnCancelSend);
    // The user's choice from the list (CBN_SELCHANGE); typing into the box's text changes nothing.
    connect(m_comboInterfaceType, &QComboBox::activated, this,
            &CTarnwickDlg::OnInterfaceTypeChanged);
    connect(button("1016"), &QPushButton::clicked, this, &CTarnwickDlg::OnBuildIso8583);
}

void CTarnwickDlg::OnInitDialog() {
    WriteControls();
    setWindowIcon(m_hIcon);
    m_listFields->SetupColumns();
    m_listFields->ClearRows();
    for (int i = 0; i < 3; ++i) {
        m_comboInterfaceType->insertItem(i, QString::fromUtf8(kInterfaceTypes[i]));
    }
    m_comboInterfaceType->setCurrentIndex(0);
    g_interfaceType = 0;
    const QSettings settings = ViewSettings();
    m_expandTlv = settings.value(QLatin1String(kSettingExpandTlv), false).toBool();
    m_maskCardNumbers = settings.value(QLatin1String(kSettingMaskCardNumbers), false).toBool();
    m_explain = settings.value(QLatin1String(kSettingExplain), false).toBool();
    m_tables = std::make_unique<CTableChoice>(m_comboInterfaceType);
    m_lastChoice = m_tables->Populate();
    if (m_lastChoice < CTableChoice::kBuiltinItems) g_interfaceType = m_lastChoice;
    m_ipAddress->setFocus(Qt::OtherFocusReason);
}

bool CTarnwickDlg::ReadControls() {
    m_strMessage = m_editMessage->toPlainText();
    m_strPort = m_editPort->text();
    if (m_strPort.size() > kPortMaxChars) {
        Report({ReportedMessage::Icon::Warning, QString::fromUtf8(kTextAppName),
                QString::fromUtf8(kTextPortTooLong).arg(kPortMaxChars)});
        m_editPort->setFocus(Qt::OtherFocusReason);
        m_editPort->selectAll();
        return false;
    }
    return true;
}

void CTarnwickDlg::WriteControls() {
    m_editMessage->setPlainText(m_strMessage);
    m_editPort->setText(m_strPort);
}

void CTarnwickDlg::ShowMessageText(const std::string& bytes, TextEncoding encoding) {
    m_strMessage = DecodeMessageText(bytes, encoding, &m_editEncoding);
    m_builtBytes = bytes;
    WriteControls();
    m_editMessage->document()->setModified(false);
    m_builtBytesShown = true;
}

std::string CTarnwickDlg::MessageBytes() const {
    // A packet's check byte was computed over its exact bytes: while the edit still shows the
    // built text, those bytes are used rather than a new encoding of the characters.
    if (m_builtBytesShown && !m_editMessage->document()->isModified()) return m_builtBytes;
    return EncodeMessageText(m_strMessage, m_editEncoding);
}

void CTarnwickDlg::ShowError(const QString& text) {
    Report({ReportedMessage::Icon::Error,
            QString::fromUtf8(kTextErrorCaption.data(), kTextErrorCaption.size()), text});
}

void CTarnwickDlg::ShowError(std::string_view text) {
    ShowError(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

void CTarnwickDlg::Report(const ReportedMessage& message) {
    if (m_report) m_report(message);
}

QString CTarnwickDlg::ChooseFile(const FileDialogSpec& spec) {
    return m_chooseFile ? m_chooseFile(spec) : QString();
}

void CTarnwickDlg::LoadResultRows(const CommandResult& result) {
    switch (result.outcome) {
        case Outcome::Ok:
            m_listFields->LoadRows(result.rows, result.rowEncoding);
            return;
        case Outcome::NoLengthMatch:  // automatic mode found no length form: nothing to show
            return;
        case Outcome::Failed:
            if (result.failedRows == FailedRows::Partial) {
                ShowDecodeError(result);
                return;
            }
            ShowFailure(result);
            return;
    }
}

void CTarnwickDlg::ShowDecodeError(const CommandResult& result) {
    const QString detail = ChineseDetail(result.DetailLine());
    ReportedMessage message{
        ReportedMessage::Icon::Error,
        QString::fromUtf8(kTextErrorCaption.data(),
                          static_cast<qsizetype>(kTextErrorCaption.size())),
        QString::fromUtf8(result.error.data(), static_cast<qsizetype>(result.error.size())),
        detail,
        QString::fromUtf8(kTextShowPartialRows.data(),
                          static_cast<qsizetype>(kTextShowPartialRows.size())),
        {}};
    // The rows decoded before the failure, then one row named "错误" whose value is the detail.
    FieldRowList rows = result.rows;
    FieldRow& error = rows.emplace_back();
    const std::string name = result.rowEncoding == TextEncoding::Gbk
                                 ? Utf8ToGbk(kTextErrorRowName)
                                 : std::string(kTextErrorRowName);
    SetRowText(error.name, name);
    SetRowText(error.length, "");
    const std::string detailText = result.rowEncoding == TextEncoding::Gbk
                                       ? Utf8ToGbk(detail.toStdString())
                                       : detail.toStdString();
    SetRowText(error.value, detailText);
    const TextEncoding encoding = result.rowEncoding;
    message.extraAction = [this, rows = std::move(rows), encoding]() {
        m_listFields->LoadRows(rows, encoding);
    };
    Report(message);
}

void CTarnwickDlg::OnParseIso8583() {
    ReadControls();
    // Field 55's sub-rows are always made: folded, they become the tip of its row.
    CommandResult result;
    ParseOptions options{true, m_maskCardNumbers};
    options.explain = m_explain;
    options.explainTable = &ShippedTableValue;  // the exact tables take the -full tables' meanings
    if (const FieldTable* table = m_tables->TableAt(m_comboInterfaceType->currentIndex())) {
        ParseIso8583WithTable(MessageBytes(), *table, options, result);
    } else {
        ParseIso8583Text(MessageBytes(), g_interfaceType, options, result);
    }
    TranslateTlvRows(result.rows, result.tlv, result.rowEncoding);
    ParseRequest keysRequest;
    keysRequest.interfaceType = g_interfaceType;
    keysRequest.table = m_tables->TableAt(m_comboInterfaceType->currentIndex());
    if (m_expandTlv || result.tlv.empty()) {
        m_keys->AddCheckRows(MessageBytes(), keysRequest, result);
        LoadResultRows(result);
        return;
    }
    FoldedRows folded = FoldTlvRows(result.rows, result.tlv);
    if (!result.Ok()) {
        // The rows decoded before a failure come folded too.
        result.rows = std::move(folded.rows);
        result.tlv.clear();
        LoadResultRows(result);
        return;
    }
    m_keys->AddCheckRows(MessageBytes(), keysRequest, folded, result.rowEncoding);
    m_listFields->LoadRows(folded.rows, result.rowEncoding);
    for (const auto& [row, tip] : folded.tips) {
        m_listFields->AddRowTip(static_cast<int>(row),
                                QString::fromStdString(ToUtf8(tip, result.rowEncoding)));
    }
}

void CTarnwickDlg::SetExpandTlv(bool on) {
    m_expandTlv = on;
    ViewSettings().setValue(QLatin1String(kSettingExpandTlv), on);
}

void CTarnwickDlg::SetMaskCardNumbers(bool on) {
    m_maskCardNumbers = on;
    ViewSettings().setValue(QLatin1String(kSettingMaskCardNumbers), on);
}

void CTarnwickDlg::SetExplain(bool on) {
    m_explain = on;
    ViewSettings().setValue(QLatin1String(kSettingExplain), on);
}

void CTarnwickDlg::OnParseTrade() {
    ReadControls();
    LoadResultRows(ParseTradeText(MessageBytes()));
}

void CTarnwickDlg::OnBuildTrade() {
    // No ReadControls first: putting the text in also puts the port text last read back.
    const QString path = ChooseFile(kXmlConfigDialog);
    const CommandResult result = BuildTradeFromXmlFile(QFile::encodeName(path).toStdString());
    if (!result.Ok()) {
        ShowFailure(result);
        return;
    }
    ShowMessageText(result.message, result.messageEncoding);
    // What the trade parse command does next: read the controls and show the message's rows.
    ReadControls();
    m_listFields->LoadRows(result.rows, result.rowEncoding);
    ShowWarnings(result);
}

void CTarnwickDlg::ShowWarnings(const CommandResult& result) {
    if (result.warnings.empty()) return;
    QStringList lines;
    for (const std::string& w : result.warnings) lines << ChineseDetail(w);
    const QString text = QString::fromUtf8(kTextBuildWarnings.data(),
                                           static_cast<qsizetype>(kTextBuildWarnings.size()));
    Report({ReportedMessage::Icon::Warning, QString::fromUtf8(kTextAppName),
            text.arg(result.warnings.size()), lines.join(u'\n')});
}

void CTarnwickDlg::OnBuildJson() {
    ReadControls();
    const QString path = ChooseFile(kJsonConfigDialog);
    const CommandResult result = BuildJsonFromFile(QFile::encodeName(path).toStdString());
    if (!result.Ok()) {
        // A packet that could not be serialised leaves the members' rows in the list.
        if (result.RowsStand()) {
            m_listFields->LoadRows(result.rows, result.rowEncoding);
        }
        ShowFailure(result);
        return;
    }
    m_listFields->LoadRows(result.rows, result.rowEncoding);
    ShowMessageText(result.message, result.messageEncoding);
    ShowWarnings(result);
}

void CTarnwickDlg::OnBuildIso8583() {
    ReadControls();
    m_listFields->CommitEdit();  // a cell still being edited is built with its new text
    std::string pin;
    const FieldRowList rows = m_keys->RowsToBuild(RowsToPack(*m_listFields), pin);
    const FieldTable* table = m_tables->TableAt(m_comboInterfaceType->currentIndex());
    // Sub-rows of the explained rows are read by the same tables that made them.
    CommandResult result =
        table != nullptr
            ? BuildIso8583WithTable(rows, *table, TextEncoding::Utf8OrGbk, &ShippedTableValue)
            : BuildIso8583FromRows(rows, g_interfaceType, TextEncoding::Utf8OrGbk,
                                   &ShippedTableValue);
    ParseRequest keysRequest;
    keysRequest.interfaceType = g_interfaceType;
    keysRequest.table = table;
    keysRequest.titles = table != nullptr;
    m_keys->FillBuilt(result, keysRequest, pin);
    WipeBytes(pin.data(), pin.size());
    if (!result.Ok()) {
        ShowFailure(result);
        return;
    }
    // As the trade build: the message goes into the message edit and is decoded again.
    ShowMessageText(result.message, result.messageEncoding);
    ReadControls();
    if (m_explain) {
        // The built message shows explained as a decode of it would.
        OnParseIso8583();
        return;
    }
    m_listFields->LoadRows(result.rows, result.rowEncoding);
}

void CTarnwickDlg::OnParseJson() {
    ReadControls();
    // A typed or pasted packet goes to the parse as its characters in UTF-8, which holds every
    // one of them; the parse takes them in the encoding its check byte was computed over.
    const bool built = m_builtBytesShown && !m_editMessage->document()->isModified();
    const CommandResult result = ParseJsonPacketText(
        built ? MessageBytes() : EncodeMessageText(m_strMessage, EditEncoding::Utf8));
    if (!result.Ok()) {
        ShowFailure(result);
        return;
    }
    m_listFields->LoadRows(result.rows, result.rowEncoding);
}

void CTarnwickDlg::ShowFailure(const CommandResult& result) {
    Report({ReportedMessage::Icon::Error,
            QString::fromUtf8(kTextErrorCaption.data(), kTextErrorCaption.size()),
            QString::fromUtf8(result.error.data(), static_cast<qsizetype>(result.error.size())),
            ChineseDetail(result.DetailLine())});
}

void CTarnwickDlg::reject() {
    m_listFields->CommitEdit();
    const bool holdsWork =
        m_listFields->rowCount() > 0 || !m_editMessage->toPlainText().isEmpty();
    if (holdsWork && m_confirm &&
        !m_confirm(QString::fromUtf8(kTextAppName), QString::fromUtf8(kTextConfirmClose))) {
        return;
    }
    QDialog::reject();
}

void CTarnwickDlg::OnSend() {
    if (Sending()) return;
    ReadControls();
    SendRequest request;
    request.ipBlank = m_ipAddress->IsBlank();
    const auto address = m_ipAddress->GetAddress();
    for (std::size_t i = 0; i < address.size(); ++i) request.ipFields[i] = address[i];
    std::string port = EncodeMessageText(m_strPort, EditEncoding::Gbk);
    std::string message = MessageBytes();
    request.portText = port;
    request.messageText = message;
    request.replyTimeoutMs = kSendReplyTimeoutMs;
    // The checks come first, here, so that their message boxes appear as before.
    std::vector<std::uint8_t> bytes;
    if (const CommandResult checked = CheckSendRequest(request, bytes); !checked.Ok()) {
        ShowError(checked.error);
        return;
    }

    // Connecting, sending and waiting for the reply run on their own thread: the window keeps
    // painting, and "取消" stops them.
    m_sendCancel = false;
    m_buttonSend->setEnabled(false);
    m_buttonSend->hide();
    m_buttonCancel->setEnabled(true);
    m_buttonCancel->show();
    m_sendThread = std::thread(
        [this, request, port = std::move(port), message = std::move(message)]() mutable {
            request.portText = port;
            request.messageText = message;
            request.cancel = &m_sendCancel;
            CommandResult result = SendMessageText(request);
            QMetaObject::invokeMethod(
                this, [this, result = std::move(result)] { OnSendFinished(result); },
                Qt::QueuedConnection);
        });
}

void CTarnwickDlg::OnCancelSend() {
    m_sendCancel = true;
    m_buttonCancel->setEnabled(false);
}

void CTarnwickDlg::OnSendFinished(const CommandResult& result) {
    if (m_sendThread.joinable()) m_sendThread.join();
    m_buttonCancel->hide();
    m_buttonSend->show();
    m_buttonSend->setEnabled(true);
    if (result.send.cancelled) return;  // the user stopped it: nothing to report
    if (!result.Ok()) {
        ShowFailure(result);
        return;
    }
    const std::vector<std::uint8_t>& reply = result.send.reply;
    // A reply that is not complete first says how it ended; without bytes that is all.
    const QString ended = ReplyEndSentence(result.send, kSendReplyTimeoutMs, result.detail);
    const auto icon =
        ended.isEmpty() ? ReportedMessage::Icon::Information : ReportedMessage::Icon::Warning;
    if (reply.empty()) {
        if (!ended.isEmpty()) Report({icon, QString::fromUtf8(kTextAppName), ended});
        return;
    }
    QString text = ended.isEmpty() ? QString() : ended + u'\n';
    text += QString::fromUtf8(kTextReply).arg(reply.size());
    std::string hex(2 * kReplyBytesPerLine + 1, '\0');
    for (std::size_t at = 0; at < reply.size(); at += kReplyBytesPerLine) {
        const std::size_t n = std::min(kReplyBytesPerLine, reply.size() - at);
        BytesToHex(reply.data() + at, n, hex.data());
        text += u'\n' + QString::fromLatin1(hex.data(), static_cast<qsizetype>(2 * n));
    }
    const auto message = ReplyMessage(result.send);
    std::vector<std::uint8_t> bytes(message.begin(), message.end());
    ReportedMessage box{icon, QString::fromUtf8(kTextAppName), text};
    box.extraButton = QString::fromUtf8(kTextParseReply);
    box.extraAction = [this, bytes = std::move(bytes)] { OnParseReply(bytes); };
    Report(box);
}

void CTarnwickDlg::OnParseReply(const std::vector<std::uint8_t>& reply) {
    m_strMessage = QString::fromLatin1(ReplyHexText(reply));
    m_builtBytes.clear();
    m_builtBytesShown = false;
    m_editEncoding = EditEncoding::Gbk;
    WriteControls();
    switch (ReplyFormOf(reply)) {
        case ReplyForm::TradeFrame:
            OnParseTrade();
            return;
        case ReplyForm::JsonPacket:
            OnParseJson();
            return;
        case ReplyForm::Iso8583:
            OnParseIso8583();
            return;
    }
}

void CTarnwickDlg::OnClear() {
    m_strMessage.clear();
    m_builtBytes.clear();
    m_builtBytesShown = false;
    m_editEncoding = EditEncoding::Gbk;
    WriteControls();
}

void CTarnwickDlg::OnInterfaceTypeChanged() {
    const int index = m_comboInterfaceType->currentIndex();
    if (m_tables->IsLoadItem(index)) {
        OnLoadTable();
        return;
    }
    if (index < CTableChoice::kBuiltinItems) g_interfaceType = index;
    m_lastChoice = index;
    m_tables->Remember(index);
}

void CTarnwickDlg::OnLoadTable() {
    const QString path = ChooseFile(kTableFileDialog);
    if (path.isEmpty()) {
        m_comboInterfaceType->setCurrentIndex(m_lastChoice);
        return;
    }
    const TableLoad load = m_tables->AddFile(path);
    if (!load.Ok()) {
        m_comboInterfaceType->setCurrentIndex(m_lastChoice);
        QString shown = QString::fromUtf8(kTextTableFileError.data(),
                                          static_cast<qsizetype>(kTextTableFileError.size()));
        for (const std::string& problem : load.problems) shown += u'\n' + ChineseDetail(problem);
        ShowError(shown);
        return;
    }
    m_lastChoice = m_comboInterfaceType->currentIndex();
    if (!load.notes.empty()) {
        QString text;
        for (const std::string& note : load.notes) {
            if (!text.isEmpty()) text += u'\n';
            text += ChineseDetail(note);
        }
        Report({ReportedMessage::Icon::Information, QString::fromUtf8(kTextAppName), text});
    }
}

void CTarnwickDlg::OnHostSimulator() {
    // One window for the whole session; closing it stops its host.
    if (m_hostSim == nullptr) m_hostSim = new CHostSimDlg(this);
    m_hostSim->show();
    m_hostSim->raise();
    m_hostSim->activateWindow();
}

void CTarnwickDlg::OnKeySettings() {
    if (const QString problem = EditWindowKeys(*m_keys, this); !problem.isEmpty()) ShowError(problem);
}

void CTarnwickDlg::OnSysCommand(int id) {
    if ((id & 0xFFF0) == kIdmAboutBox) {
        CAboutDlg about(m_hIcon, this);
        about.exec();
    }
}

void CTarnwickDlg::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        // Enter presses the focused button and nothing else: there is no OK button, so Enter in
        // a text box neither ends the program nor runs a command the user did not point at.
        if (auto* button = qobject_cast<QPushButton*>(QApplication::focusWidget())) button->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CTarnwickDlg::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.addAction(QString::fromUtf8(kTextAboutItem), this, [this] { OnSysCommand(kIdmAboutBox); });
    menu.addAction(QString::fromUtf8(kTextHostSimItem), this, [this] { OnHostSimulator(); });
    menu.addAction(QString::fromUtf8(kTextKeysItem), this, [this] { OnKeySettings(); });
    menu.addSeparator();
    const auto addChoice = [&](std::string_view text, bool on, void (CTarnwickDlg::*set)(bool)) {
        QAction* action =
            menu.addAction(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())),
                           this, [this, set](bool checked) { (this->*set)(checked); });
        action->setCheckable(true);
        action->setChecked(on);
    };
    addChoice(kTextExpandTlv, m_expandTlv, &CTarnwickDlg::SetExpandTlv);
    addChoice(kTextMaskCardNumbers, m_maskCardNumbers, &CTarnwickDlg::SetMaskCardNumbers);
    addChoice(kTextExplainItem, m_explain, &CTarnwickDlg::SetExplain);
    menu.addSeparator();
    menu.addAction(QString::fromUtf8(kTextOpenCaptureItem), this, [this] { OnOpenCapture(); });
    menu.addAction(QString::fromUtf8(kTextCompareItem), this, [this] { OnCompareWithPrevious(); });
    menu.exec(event->globalPos());
}

#ifdef Q_OS_WIN
void CTarnwickDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (m_systemMenuReady) return;
    m_systemMenuReady = true;
    // The about item joins the window's own system menu, after a separator.
    HMENU menu = GetSystemMenu(reinterpret_cast<HWND>(winId()), FALSE);
    if (menu == nullptr) return;
    const QString text = QString::fromUtf8(kTextAboutItem);
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, static_cast<UINT_PTR>(kIdmAboutBox),
                reinterpret_cast<LPCWSTR>(text.utf16()));
}

bool CTarnwickDlg::nativeEvent(const QByteArray& eventType, void* message, qintptr* result) {
    const auto* msg = static_cast<const MSG*>(message);
    if (eventType == "windows_generic_MSG" && msg->message == WM_SYSCOMMAND &&
        static_cast<int>(msg->wParam & 0xFFF0) == kIdmAboutBox) {
        OnSysCommand(kIdmAboutBox);
        *result = 0;
        return true;
    }
    return QDialog::nativeEvent(eventType, message, result);
}
#endif
