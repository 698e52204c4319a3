// The main window: every control of the workbench, the shared operations of the commands and the
// thin handlers that call the core commands.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "iso/CommandResult.h"
#include "net/Socket.h"
#include "ui/MessageText.h"

class CHostSimDlg;
class CIpAddressCtrl;
class CListControlEx;
class CTableChoice;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
struct WindowKeys;

/// Index of the selected interface type: 0 automatic, 1 64 fields without length, 2 128 fields
/// without length. Set by the dialog, read by the ISO 8583 parse command.
extern std::int32_t g_interfaceType;

/// What a file dialog asks for: title, filters ("name (*.ext);;..."), default suffix.
struct FileDialogSpec {
    QString title;
    QString filter;
    QString defaultSuffix;
};

/// A message box to show: its icon, caption and text; optionally an informative text and one
/// more button whose action runs when it is chosen.
struct ReportedMessage {
    enum class Icon { Error, Warning, Information };
    Icon icon = Icon::Error;
    QString caption;
    QString text;
    QString informative = {};
    QString extraButton = {};
    std::function<void()> extraAction = {};
};

/// The about box: icon, name and version, and "确定".
class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(const QIcon& icon, QWidget* parent = nullptr);
};

class CTarnwickDlg : public QDialog {
    Q_OBJECT
public:
    /// Picks a file; an empty text when the user cancels.
    using FileChooser = std::function<QString(const FileDialogSpec&)>;
    /// Shows a message and returns when the user has closed it.
    using MessageReporter = std::function<void(const ReportedMessage&)>;
    /// Asks a yes-or-no question (caption, text); true for yes.
    using Confirmer = std::function<bool(const QString&, const QString&)>;

    /// System command of the about item.
    static constexpr int kIdmAboutBox = 0x0010;

    explicit CTarnwickDlg(QWidget* parent = nullptr);
    ~CTarnwickDlg() override;

    /// Replace the file dialog and the message boxes (tests drive the dialog without blocking).
    void SetFileChooser(FileChooser chooser) { m_chooseFile = std::move(chooser); }
    void SetMessageReporter(MessageReporter reporter) { m_report = std::move(reporter); }
    void SetConfirmer(Confirmer confirmer) { m_confirm = std::move(confirmer); }

    /// Esc and the window's Close: the window closes, after asking when the list has rows or the
    /// message edit has text, which closing would lose.
    void reject() override;

    /// Copies the message edit and the port box into the stored texts. False, after telling the
    /// user and selecting the port box, when the port text has more than 5 characters.
    bool ReadControls();
    /// Puts the stored texts into the message edit and the port box.
    void WriteControls();
    /// Shows the exact bytes of a built message in the message edit, read in encoding.
    void ShowMessageText(const std::string& bytes, TextEncoding encoding);
    /// An error box owned by the dialog: caption "错误", error icon, OK.
    void ShowError(const QString& text);
    void ShowError(std::string_view text);
    /// The error box of a failed decoding: its text, the detail as informative text, and a
    /// button that loads the rows decoded before the failure and an error row.
    void ShowDecodeError(const CommandResult& result);

    /// The bytes the stored message text stands for: the very bytes of the last built message
    /// while the edit still shows it unchanged, else the text encoded by the edit's rule.
    [[nodiscard]] std::string MessageBytes() const;
    [[nodiscard]] const QString& StoredMessage() const { return m_strMessage; }
    [[nodiscard]] const QString& StoredPort() const { return m_strPort; }

    /// The view choices of the context menu, remembered across runs: field 55 tag by tag in the
    /// list (else as the tip of its row), and card numbers shown as 6 + 4 digits.
    [[nodiscard]] bool ExpandTlv() const { return m_expandTlv; }
    [[nodiscard]] bool MaskCardNumbers() const { return m_maskCardNumbers; }
    void SetExpandTlv(bool on);
    void SetMaskCardNumbers(bool on);
    /// Meanings, sub-rows and the summary row also for the exact forms (the built-in ones and
    /// the exact tables), which show them only on request; remembered as the choices above.
    [[nodiscard]] bool Explain() const { return m_explain; }
    void SetExplain(bool on);

    // Handlers of the buttons, the combo box and the about item.
    void OnParseIso8583();
    void OnParseTrade();
    void OnBuildTrade();
    void OnBuildJson();
    void OnBuildIso8583();
    void OnParseJson();
    void OnSend();
    /// Stops a send that runs; its end shows nothing.
    void OnCancelSend();
    /// Puts a reply into the message edit as hex and decodes it as if it had been pasted.
    void OnParseReply(const std::vector<std::uint8_t>& reply);
    [[nodiscard]] bool Sending() const { return m_sendThread.joinable(); }
    void OnClear();
    void OnInterfaceTypeChanged();
    void OnSysCommand(int id);
    /// Shows the "模拟主机" window (context menu).
    void OnHostSimulator();
    /// "打开抓包文件…": the messages of a chosen capture file in a list; a double click puts one
    /// into the message edit and decodes it.
    void OnOpenCapture();
    /// "与上次解析比较": the rows changed since the previous decoding highlighted and listed.
    void OnCompareWithPrevious();
    /// Opens "密钥设置" (context menu): the keys decodes are checked and builds are MACed with.
    void OnKeySettings();

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
#ifdef Q_OS_WIN
    void showEvent(QShowEvent* event) override;
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;
#endif

private:
    void CreateControls();
    void SetUpWindowFrame();
    void LayOutTemplate(std::vector<QWidget*>& tabStops);
    void AddCancelButton();
    void OnInitDialog();
    void ConnectHandlers();
    void LoadResultRows(const CommandResult& result);
    void OnSendFinished(const CommandResult& result);
    void ShowWarnings(const CommandResult& result);
    /// The error box of a failed command: its text, and where and why (field, offset, reason)
    /// in Chinese as informative text when the result says so.
    void ShowFailure(const CommandResult& result);
    QString ChooseFile(const FileDialogSpec& spec);
    void OnLoadTable();
    void Report(const ReportedMessage& message);

    QIcon m_hIcon;
    QComboBox* m_comboInterfaceType = nullptr;
    CListControlEx* m_listFields = nullptr;
    QString m_strMessage;
    CIpAddressCtrl* m_ipAddress = nullptr;
    QString m_strPort;

    QPlainTextEdit* m_editMessage = nullptr;
    QLineEdit* m_editPort = nullptr;

    // The last built message: its bytes, and the rule for edits of its text.
    std::string m_builtBytes;
    bool m_builtBytesShown = false;
    EditEncoding m_editEncoding = EditEncoding::Gbk;

    // The send that runs off the user-interface thread, and the flag that stops it.
    QPushButton* m_buttonSend = nullptr;
    QPushButton* m_buttonCancel = nullptr;
    CancelFlag m_sendCancel{false};
    std::thread m_sendThread;
    CHostSimDlg* m_hostSim = nullptr;
    // The test keys, held while the program runs (remembered ones are read at start).
    std::unique_ptr<WindowKeys> m_keys;
    bool m_expandTlv = false;
    bool m_maskCardNumbers = false;
    bool m_explain = false;
    // The combo's field tables after its built-in items, and the item chosen last.
    std::unique_ptr<CTableChoice> m_tables;
    int m_lastChoice = 0;

    FileChooser m_chooseFile;
    MessageReporter m_report;
    Confirmer m_confirm;
#ifdef Q_OS_WIN
    bool m_systemMenuReady = false;
#endif
};
