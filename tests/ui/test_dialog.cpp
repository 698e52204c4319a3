// QtTest tests of the workbench dialog, driven offscreen through its real controls.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSet>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTranslator>
#include <memory>
#include <thread>
#include <vector>

#include "codec/Texts.h"
#include "trade/TradeCommands.h"
#include "ui/HostSimDlg.h"
#include "ui/IpAddressCtrl.h"
#include "ui/ListControlEx.h"
#include "ui/MessageEdit.h"
#include "ui/MessageText.h"
#include "ui/TarnwickApp.h"
#include "ui/TarnwickDlg.h"
#include "ui/WindowTexts.h"

namespace {

// A 64-field terminal message with its two-byte length (16 rows), and a framed trade message
// with command 01 and field 3 = 41 42 43.
const QString kMessage64 = QStringLiteral(
    "0067600003000060310031000002007020048020C08011166225880123456789000000000000010000000123"
    "051000286225880123456789D2812201000031323334353637383132333435363738393031323334353135"
    "360013220001230005003A4F9C0D12E5B776");
const QString kTradeMessage = QStringLiteral("1500F1000000012000000000000000000341424386");

/// A one-connection TCP listener on 127.0.0.1 (ephemeral port) in a thread: it reads until it has
/// `expect` bytes or the peer stops sending, then writes `reply` and closes.
class Listener {
public:
    Listener(std::size_t expect, QByteArray reply) : m_expect(expect), m_reply(std::move(reply)) {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(m_fd, 1) != 0 ||
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            qFatal("cannot listen on 127.0.0.1");
        }
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~Listener() {
        if (m_thread.joinable()) m_thread.join();
        ::close(m_fd);
    }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    [[nodiscard]] quint16 Port() const { return m_port; }
    /// The bytes received; waits for the connection to end.
    [[nodiscard]] QByteArray Received() {
        if (m_thread.joinable()) m_thread.join();
        return m_received;
    }

private:
    void Serve() {
        pollfd waiting{m_fd, POLLIN, 0};
        if (::poll(&waiting, 1, 5000) != 1) return;
        const int peer = ::accept(m_fd, nullptr, nullptr);
        if (peer < 0) return;
        char buffer[4096];
        while (static_cast<std::size_t>(m_received.size()) < m_expect) {
            pollfd reading{peer, POLLIN, 0};
            if (::poll(&reading, 1, 2000) != 1) break;
            const ssize_t n = ::recv(peer, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            m_received.append(buffer, static_cast<qsizetype>(n));
        }
        if (!m_reply.isEmpty())
            (void)::send(peer, m_reply.constData(), m_reply.size(), MSG_NOSIGNAL);
        ::close(peer);
    }

    std::size_t m_expect;
    QByteArray m_reply;
    int m_fd = -1;
    quint16 m_port = 0;
    QByteArray m_received;
    std::thread m_thread;
};

QString Utf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

class DialogTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<CTarnwickDlg> m_dlg;
    std::vector<ReportedMessage> m_messages;
    std::vector<FileDialogSpec> m_fileDialogs;
    QString m_nextPath;
    QTemporaryDir m_dir;

    template <typename T>
    T* Control(const char* id) const {
        T* widget = m_dlg->findChild<T*>(QString::fromLatin1(id));
        if (widget == nullptr) qFatal("no control %s", id);
        return widget;
    }
    QPushButton* Button(const char* id) const { return Control<QPushButton>(id); }
    CListControlEx* List() const { return Control<CListControlEx>("1000"); }
    QPlainTextEdit* MessageEdit() const { return Control<QPlainTextEdit>("1022"); }
    QLineEdit* PortBox() const { return Control<QLineEdit>("1025"); }
    CIpAddressCtrl* IpControl() const { return Control<CIpAddressCtrl>("1024"); }
    QComboBox* Combo() const { return Control<QComboBox>("1002"); }

    QStringList MessageTexts() const {
        QStringList texts;
        for (const ReportedMessage& m : m_messages) texts << m.text;
        return texts;
    }
    QStringList Row(int row) const {
        QStringList texts;
        for (int column = 1; column < 4; ++column) {
            const QTableWidgetItem* item = List()->item(row, column);
            texts << (item != nullptr ? item->text() : QString());
        }
        return texts;
    }
    QString WriteFile(const QString& name, const QByteArray& content) const {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)) qFatal("cannot write %s", qPrintable(path));
        file.write(content);
        return path;
    }
    void ClickCell(int row, int column) {
        QTest::mouseClick(List()->viewport(), Qt::LeftButton, {},
                          List()->visualRect(List()->model()->index(row, column)).center());
    }
    QPoint BelowLastRow() const {
        const int rows = List()->rowCount();
        const int y =
            rows == 0 ? 5 : List()->visualRect(List()->model()->index(rows - 1, 1)).bottom() + 8;
        return {List()->columnViewportPosition(2) + 5, y};
    }
    /// Types text key by key into whichever widget has the focus at each key.
    static void TypeIntoFocus(const QString& text) {
        for (const QChar c : text) QTest::keyClick(QApplication::focusWidget(), c.toLatin1());
    }
    /// The send runs on its own thread; its end comes back through the event loop.
    void WaitForSend() const { QTRY_VERIFY_WITH_TIMEOUT(!m_dlg->Sending(), 10000); }
    void Parse(const char* button, int interfaceType, const QString& text) {
        Combo()->setCurrentIndex(interfaceType);
        g_interfaceType = interfaceType;
        MessageEdit()->setPlainText(text);
        Button(button)->click();
    }

    /// Chooses a combo item as the user does.
    void Choose(int index) {
        Combo()->setCurrentIndex(index);
        emit Combo()->activated(index);
    }

private slots:
    void initTestCase() {
        // The remembered table choice goes to a test location, and starts empty for each test.
        QStandardPaths::setTestModeEnabled(true);
    }
    void init() {
        QSettings(QStringLiteral("Tarnwick"), QStringLiteral("Tarnwick")).clear();
        QVERIFY(m_dir.isValid());
        g_interfaceType = -1;
        m_messages.clear();
        m_fileDialogs.clear();
        m_nextPath.clear();
        m_dlg = std::make_unique<CTarnwickDlg>();
        m_dlg->SetMessageReporter([this](const ReportedMessage& m) { m_messages.push_back(m); });
        m_dlg->SetFileChooser([this](const FileDialogSpec& spec) {
            m_fileDialogs.push_back(spec);
            return m_nextPath;
        });
        m_dlg->show();
        m_dlg->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_dlg.get()));
    }
    void cleanup() { m_dlg.reset(); }

    void initialState() {
        QCOMPARE(Combo()->currentText(), QStringLiteral("自动判断"));
        QCOMPARE(Combo()->count(), 3 + 6 + 1);  // built-in items, shipped tables, load item
        QCOMPARE(Combo()->itemText(1), QStringLiteral("64域无报文长度"));
        QCOMPARE(Combo()->itemText(2), QStringLiteral("128域无报文长度"));
        QCOMPARE(g_interfaceType, 0);
        QCOMPARE(List()->rowCount(), 0);
        QCOMPARE(List()->columnCount(), 4);
        const QStringList headings{"", "域", "长度", "参数值"};
        const int widths[] = {20, 61, 60, ((List()->width() / 2) - 150) * 3};
        for (int c = 0; c < 4; ++c) {
            QCOMPARE(List()->horizontalHeaderItem(c)->text(), headings[c]);
            QCOMPARE(List()->columnWidth(c), widths[c]);
        }
        QVERIFY(List()->showGrid());
        QCOMPARE(List()->selectionMode(), QAbstractItemView::SingleSelection);
        QVERIFY(IpControl()->IsBlank());
        QCOMPARE(QApplication::focusWidget(), IpControl()->Field(0));
        QVERIFY(PortBox()->text().isEmpty());
        QVERIFY(MessageEdit()->toPlainText().isEmpty());
        QCOMPARE(m_dlg->windowTitle(), QStringLiteral("Tarnwick"));
        QCOMPARE(m_dlg->minimumSize(), m_dlg->maximumSize());  // not resizable
        QTest::keyClick(m_dlg.get(), Qt::Key_Escape);          // cancelling ends the dialog
        QVERIFY(!m_dlg->isVisible());
    }

    void templateControlsAndTabOrder() {
        const std::pair<const char*, const char*> buttons[] = {{"1012", "发送"},
                                                               {"1013", "解析orbo8583报文"},
                                                               {"1014", "生成orbo8583报文"},
                                                               {"1015", "解析iso8583包"},
                                                               {"1016", "生成iso8583包"},
                                                               {"1017", "解析JSON包"},
                                                               {"1018", "生成JSON包"},
                                                               {"1001", "Clear"}};
        for (const auto& [id, text] : buttons) QCOMPARE(Button(id)->text(), QString(text));
        // Tab from the IP control walks the template order and comes back.
        const std::vector<QWidget*> order{
            IpControl()->Field(0), PortBox(),      Combo(),        List(),         Button("1012"),
            MessageEdit(),         Button("1013"), Button("1014"), Button("1015"), Button("1016"),
            Button("1017"),        Button("1018"), Button("1001")};
        IpControl()->Field(0)->setFocus();
        for (std::size_t i = 1; i <= order.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget* focus = QApplication::focusWidget();
            QWidget* expected = order[i % order.size()];
            QVERIFY2(focus == expected || expected->isAncestorOf(focus),
                     qPrintable(QStringLiteral("tab stop %1").arg(i)));
        }
    }

    void enterPressesOnlyTheFocusedButton() {
        for (QWidget* widget :
             std::initializer_list<QWidget*>{IpControl()->Field(0), PortBox(), Combo(), List()}) {
            widget->setFocus();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        }
        QVERIFY(m_dlg->isVisible());
        QCOMPARE(MessageTexts(), QStringList());
        Button("1013")->setFocus();
        QTest::keyClick(Button("1013"), Qt::Key_Return);
        QCOMPARE(MessageTexts(), QStringList{Utf8(kTextMessageEmpty)});
    }

    void parseButtonsFillRows_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("interfaceType");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QStringList>("firstRow");
        QTest::addColumn<QStringList>("lastRow");
        QTest::newRow("64 automatic")
            << "1015" << 0 << kMessage64 << 16 << QStringList{"TPDU", "5", "6000030000"}
            << QStringList{"Bit 64", "8", "3A4F9C0D12E5B776"};
        QString split = kMessage64.toLower();
        split.insert(40, QStringLiteral("\n  ")).insert(10, QStringLiteral(" \r\n\t"));
        QTest::newRow("64 lower case, broken lines")
            << "1015" << 0 << split << 16 << QStringList{"TPDU", "5", "6000030000"}
            << QStringList{"Bit 64", "8", "3A4F9C0D12E5B776"};
        QTest::newRow("64 without length")
            << "1015" << 1 << kMessage64.mid(4) << 16 << QStringList{"TPDU", "5", "6000030000"}
            << QStringList{"Bit 64", "8", "3A4F9C0D12E5B776"};
        QTest::newRow("trade") << "1013" << 0 << kTradeMessage << 3 << QStringList{"CMD", "1", "01"}
                               << QStringList{"Bit 3", "3", "414243"};
        QTest::newRow("trade white space only")
            << "1013" << 0 << QStringLiteral(" \n ") << 2 << QStringList{"CMD", "1", "00"}
            << QStringList{"Bit 1", "8", "0000000000000000"};
    }
    void parseButtonsFillRows() {
        QFETCH(QString, button);
        QFETCH(int, interfaceType);
        QFETCH(QString, text);
        QFETCH(int, rows);
        Parse(qPrintable(button), interfaceType, text);
        QCOMPARE(MessageTexts(), QStringList());
        QCOMPARE(List()->rowCount(), rows);
        QTEST(Row(0), "firstRow");
        QTEST(Row(rows - 1), "lastRow");
        for (int r = 0; r < rows; ++r) {
            QCOMPARE(List()->item(r, 0)->checkState(), Qt::Unchecked);
        }
        // Parsing never changes the message edit (which keeps line breaks as LF only).
        QCOMPARE(MessageEdit()->toPlainText(), text.remove(u'\r'));
    }

    void failingParseKeepsRowsAndReports_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("interfaceType");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message");  // empty: nothing is shown
        QTest::newRow("iso empty") << "1015" << 0 << "" << Utf8(kTextMessageEmpty);
        QTest::newRow("iso too short") << "1015" << 1 << "0102" << Utf8(kTextIsoParseError);
        QTest::newRow("iso white space, 128") << "1015" << 2 << " \n " << Utf8(kTextIsoParseError);
        QTest::newRow("iso no length form") << "1015" << 0 << "6000070000"
                                            << "";
        QTest::newRow("iso white space, automatic") << "1015" << 0 << "  "
                                                    << "";
        QTest::newRow("trade empty") << "1013" << 0 << "" << Utf8(kTextMessageEmpty);
        QTest::newRow("trade field 50")
            << "1013" << 0 << "1500F1000000010000000000004000000341424386"
            << Utf8(kTextTradeParseError);
        QTest::newRow("iso over 10239 characters")
            << "1015" << 0 << QString(10240, u'0') << Utf8(kTextIsoParseError);
    }
    void failingParseKeepsRowsAndReports() {
        QFETCH(QString, button);
        QFETCH(int, interfaceType);
        QFETCH(QString, text);
        QFETCH(QString, message);
        List()->AppendRow(QStringLiteral("old"), QStringLiteral("1"), QStringLiteral("kept"));
        Parse(qPrintable(button), interfaceType, text);
        QCOMPARE(MessageTexts(), message.isEmpty() ? QStringList() : QStringList{message});
        if (!message.isEmpty()) {
            QCOMPARE(m_messages[0].caption, QStringLiteral("错误"));
            QCOMPARE(m_messages[0].icon, ReportedMessage::Icon::Error);
        }
        QCOMPARE(List()->rowCount(), 1);
        QCOMPARE(Row(0), (QStringList{"old", "1", "kept"}));
    }

    // The error box of a failed decoding names where it stopped; its button loads the rows
    // decoded before the failure and an error row.
    void failedDecodeOffersRowsBeforeTheFailure() {
        Parse("1015", 1, QStringLiteral("0200 0800000000000000 000000"));  // field 5 undefined
        QCOMPARE(MessageTexts(), QStringList{Utf8(kTextIsoParseError)});
        const ReportedMessage& m = m_messages[0];
        QCOMPARE(m.informative, QStringLiteral("位图中标记了域 5，但该域没有定义（第 10 字节）"));
        QCOMPARE(m.extraButton, Utf8(kTextShowPartialRows));
        QCOMPARE(List()->rowCount(), 0);
        QVERIFY(m.extraAction);
        m.extraAction();
        QCOMPARE(List()->rowCount(), 3);
        QCOMPARE(Row(0), (QStringList{"Type", "4", "0200"}));
        QCOMPARE(Row(2), (QStringList{"错误", "", m.informative}));
    }

    void hugePasteIsCutAndRefused() {
        // 20 MB of text in several scripts: the edit takes what fits its limit, and every command
        // refuses that with its own message.
        const QString text = QStringLiteral("0A 报文 ٣ Ω\n").repeated(20 * 1024 * 1024 / 12);
        QApplication::clipboard()->setText(text);
        MessageEdit()->setFocus();
        MessageEdit()->paste();
        QCOMPARE(MessageEdit()->toPlainText(), text.left(CMessageEdit::kTextLimit));
        Button("1015")->click();
        Button("1013")->click();
        QCOMPARE(MessageTexts(),
                 (QStringList{Utf8(kTextIsoParseError), Utf8(kTextTradeParseError)}));

        // The limit holds for typing and for a paste over a selection.
        QTest::keyClick(MessageEdit(), Qt::Key_A);
        QCOMPARE(MessageEdit()->toPlainText().size(), CMessageEdit::kTextLimit);
        MessageEdit()->moveCursor(QTextCursor::End);
        MessageEdit()->moveCursor(QTextCursor::Left, QTextCursor::KeepAnchor);
        QApplication::clipboard()->setText(QStringLiteral("XYZ"));
        MessageEdit()->paste();
        QVERIFY(MessageEdit()->toPlainText().endsWith(u'X'));
        QCOMPARE(MessageEdit()->toPlainText().size(), CMessageEdit::kTextLimit);
        QApplication::clipboard()->clear();
    }

    void comboSetsInterfaceType() {
        Combo()->setFocus();
        QTest::keyClick(Combo(), Qt::Key_Down);
        QCOMPARE(g_interfaceType, 1);
        QTest::keyClick(Combo(), Qt::Key_Down);
        QCOMPARE(g_interfaceType, 2);
        QCOMPARE(Combo()->currentText(), QStringLiteral("128域无报文长度"));
        // Typing into the box's text is not a selection.
        QTest::keyClicks(Combo()->lineEdit(), QStringLiteral("xyz"));
        QCOMPARE(g_interfaceType, 2);
        QTest::keyClick(Combo(), Qt::Key_Up);
        QCOMPARE(g_interfaceType, 1);
    }

    void fieldTablesInTheCombo() {
        QCOMPARE(Combo()->itemText(3), QStringLiteral("UnionPay POS 64"));
        QCOMPARE(Combo()->itemText(Combo()->count() - 1), QStringLiteral("载入域定义文件…"));
        // A shipped table decodes, and names its fields in the "域" cells' tooltips.
        Choose(4);
        QCOMPARE(g_interfaceType, 0);
        MessageEdit()->setPlainText(kMessage64);
        Button("1015")->click();
        // The full table explains: a summary row first, sub-rows under 3, 22 and 60.
        QCOMPARE(List()->rowCount(), 27);
        QCOMPARE(Row(5), (QStringList{"Bit 2", "8", "166225880123456789"}));
        QCOMPARE(List()->item(5, 1)->toolTip(), QStringLiteral("主账号"));
        QCOMPARE(List()->item(1, 1)->toolTip(), QString());  // the TPDU row has no field

        // A bad file: an error box naming the problem, the choice stays.
        const int load = Combo()->count() - 1;
        m_nextPath = WriteFile(QStringLiteral("bad.json"), R"({"name": "x", "fields": {)");
        Choose(load);
        QCOMPARE(m_fileDialogs.size(), std::size_t{1});
        QCOMPARE(Combo()->currentIndex(), 4);
        QCOMPARE(m_messages.size(), std::size_t{1});
        QVERIFY(m_messages[0].text.startsWith(QStringLiteral("域定义文件有误!\n偏移 25：")));

        // A good file: a new item, selected, remembered with the choice across restarts.
        m_nextPath = WriteFile(
            QStringLiteral("mine.json"),
            R"({"name": "Mine", "bitmap": {"bits": 64}, "fields": {"0": {"length": 4, "enc": "BCD"},
               "3": {"name": "processing code", "length": 6, "enc": "BCD"}}})");
        Choose(load);
        QCOMPARE(Combo()->currentText(), QStringLiteral("Mine (mine.json)"));
        QCOMPARE(Combo()->count(), 3 + 6 + 1 + 1);
        MessageEdit()->setPlainText(QStringLiteral("0200 2000000000000000 123456"));
        Button("1015")->click();
        QCOMPARE(Row(2), (QStringList{"Bit 3", "3", "123456"}));
        m_dlg = std::make_unique<CTarnwickDlg>();
        QCOMPARE(Combo()->currentText(), QStringLiteral("Mine (mine.json)"));
        // A cancelled file choice keeps the choice.
        m_nextPath.clear();
        m_dlg->SetFileChooser([](const FileDialogSpec&) { return QString(); });
        Choose(Combo()->count() - 1);
        QCOMPARE(Combo()->currentText(), QStringLiteral("Mine (mine.json)"));
        Choose(2);
        QCOMPARE(g_interfaceType, 2);
    }

    void clearEmptiesOnlyTheMessageEdit() {
        PortBox()->setText(QStringLiteral("80"));
        Parse("1015", 0, kMessage64);
        PortBox()->setText(QStringLiteral("81"));
        Button("1001")->click();
        QVERIFY(MessageEdit()->toPlainText().isEmpty());
        QCOMPARE(List()->rowCount(), 16);
        QCOMPARE(PortBox()->text(), QStringLiteral("80"));  // the port text last read
        QVERIFY(m_messages.empty());
    }

    void buildIso8583OfUnchangedRowsGivesTheMessageBack() {
        Parse("1015", 0, kMessage64);
        Button("1016")->click();
        QCOMPARE(List()->rowCount(), 16);
        QCOMPARE(MessageEdit()->toPlainText(), kMessage64);
        QVERIFY(m_messages.empty());
    }

    void buildIso8583PacksCheckedRowsOrReportsTheRow() {
        Parse("1015", 1, kMessage64.mid(4));  // 64 fields without length
        // Checked rows only: the type and field 3; the bitmap row says anything.
        for (const int row : {2, 5}) List()->item(row, 0)->setCheckState(Qt::Checked);
        List()->item(3, 3)->setText(QStringLiteral("FFFFFFFFFFFFFFFF"));
        Button("1016")->click();
        QCOMPARE(MessageTexts(), QStringList());
        QCOMPARE(MessageEdit()->toPlainText(), QStringLiteral("02002000000000000000000000"));
        QCOMPARE(List()->rowCount(), 3);
        // A row that cannot be packed: the box names it, the message edit stays.
        List()->item(2, 1)->setText(QStringLiteral("Bit 5"));
        Button("1016")->click();
        QCOMPARE(MessageTexts(), QStringList{QStringLiteral("组包出错!")});
        QCOMPARE(m_messages[0].informative, QStringLiteral("第 3 行“Bit 5”：域定义中没有域 5"));
        QCOMPARE(MessageEdit()->toPlainText(), QStringLiteral("02002000000000000000000000"));
    }

    void portBoxLimit() {
        PortBox()->setFocus();
        QTest::keyClicks(PortBox(), QStringLiteral("1234567"));
        QCOMPARE(PortBox()->text(), QStringLiteral("12345"));
        // Text put there by the program is not limited; a command then reports it and goes on.
        PortBox()->setText(QStringLiteral("123456"));
        MessageEdit()->setFocus();
        Button("1015")->click();
        QCOMPARE(MessageTexts(), (QStringList{QStringLiteral("请输入不多于 5 个的字符。"),
                                              Utf8(kTextMessageEmpty)}));
        QCOMPARE(m_messages[0].icon, ReportedMessage::Icon::Warning);
        QCOMPARE(QApplication::focusWidget(), PortBox());
        QCOMPARE(PortBox()->selectedText(), QStringLiteral("123456"));
        QCOMPARE(m_dlg->StoredPort(), QStringLiteral("123456"));
    }

    void clickEditsCellAndWritesBack() {
        List()->AppendRow(QStringLiteral("Bit 2"), QStringLiteral("8"), QStringLiteral("1234"));
        List()->AppendRow(QStringLiteral("Bit 3"), QStringLiteral("3"), QStringLiteral("000000"));
        ClickCell(0, 3);
        CEditEx* edit = List()->EditBox();
        QVERIFY(edit != nullptr);
        QVERIFY(edit->isVisible());
        QCOMPARE(edit->geometry(), List()->CellEditRect(0, 3));
        QCOMPARE(edit->text(), QStringLiteral("1234"));
        QCOMPARE(edit->cursorPosition(), 4);
        QVERIFY(!edit->hasSelectedText());
        QCOMPARE(QApplication::focusWidget(), edit);

        QTest::keyClicks(edit, QStringLiteral("AB"));
        ClickCell(1, 1);  // writes the first cell, opens the second
        QCOMPARE(Row(0), (QStringList{"Bit 2", "8", "1234AB"}));
        QVERIFY(edit->isVisible());
        QCOMPARE(edit->geometry(), List()->CellEditRect(1, 1));
        QCOMPARE(edit->text(), QStringLiteral("Bit 3"));

        edit->clear();  // an empty text empties the cell
        QTest::mouseClick(List()->viewport(), Qt::LeftButton, {}, BelowLastRow());
        QVERIFY(!edit->isVisible());
        QCOMPARE(Row(1), (QStringList{"", "3", "000000"}));

        ClickCell(0, 2);  // focus leaving for another control also ends the edit
        QTest::keyClicks(edit, QStringLiteral("9"));
        PortBox()->setFocus();
        QVERIFY(!edit->isVisible());
        QCOMPARE(Row(0), (QStringList{"Bit 2", "89", "1234AB"}));
    }

    void doubleClickAppendsBelowRowsOnly() {
        List()->AppendRow(QStringLiteral("Bit 2"), QStringLiteral("8"), QStringLiteral("1234"));
        QTest::mouseDClick(List()->viewport(), Qt::LeftButton, {}, BelowLastRow());
        QCOMPARE(List()->rowCount(), 2);
        QCOMPARE(Row(1), (QStringList{"", "", ""}));
        QCOMPARE(List()->item(1, 0)->checkState(), Qt::Unchecked);
        QTest::mouseDClick(List()->viewport(), Qt::LeftButton, {},
                           List()->visualRect(List()->model()->index(0, 2)).center());
        QCOMPARE(List()->rowCount(), 2);

        // Loading rows replaces appended and edited rows alike.
        Parse("1013", 0, kTradeMessage);
        QCOMPARE(List()->rowCount(), 3);
        QCOMPARE(Row(0), (QStringList{"CMD", "1", "01"}));
    }

    void buildTrade_data() {
        QTest::addColumn<QByteArray>("xml");  // empty: the file dialog is cancelled
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("error");
        QTest::newRow("two fields")
            << QByteArray(
                   "<orbo8583-build-config><bit number=\"3\" length=\"99\" value=\"41 42\n43\"/>"
                   "<bit number=\"0\" value=\"01\"/></orbo8583-build-config>")
            << kTradeMessage << "";
        QTest::newRow("empty root") << QByteArray("<orbo8583-build-config/>")
                                    << QStringLiteral("1000F1000000000000000000000000E1") << "";
        QTest::newRow("cancelled") << QByteArray() << "" << Utf8(kTextNoConfigFile);
        QTest::newRow("malformed")
            << QByteArray("<orbo8583-build-config>") << "" << Utf8(kTextConfigParseError);
        QTest::newRow("no root") << QByteArray("<other/>") << "" << Utf8(kTextNoBuildConfigRoot);
    }
    void buildTrade() {
        QFETCH(QByteArray, xml);
        QFETCH(QString, message);
        QFETCH(QString, error);
        MessageEdit()->setPlainText(QStringLiteral("before"));
        PortBox()->setText(QStringLiteral("7"));
        m_nextPath = xml.isEmpty() ? QString() : WriteFile(QStringLiteral("c.xml"), xml);
        Button("1014")->click();

        QCOMPARE(m_fileDialogs.size(), std::size_t{1});
        QCOMPARE(m_fileDialogs[0].filter, QStringLiteral("配置文件(*.xml);;所有文件 (*.*)"));
        QCOMPARE(m_fileDialogs[0].defaultSuffix, QStringLiteral("xml"));
        if (!error.isEmpty()) {
            QCOMPARE(MessageTexts(), QStringList{error});
            QCOMPARE(MessageEdit()->toPlainText(), QStringLiteral("before"));
            QCOMPARE(List()->rowCount(), 0);
            return;
        }
        QCOMPARE(MessageTexts(), QStringList());
        QCOMPARE(MessageEdit()->toPlainText(), message);
        QCOMPARE(Row(0)[0], QStringLiteral("CMD"));
        // No controls were read first, so the port box gets back the port text last read.
        QCOMPARE(PortBox()->text(), QString());
        QCOMPARE(m_dlg->MessageBytes(), message.toStdString());
    }

    void buildTradeWarnsInOneBoxAfterBuilding() {
        m_nextPath = WriteFile(QStringLiteral("w.xml"),
                               "<orbo8583-build-config>\n<bti number=\"3\" value=\"41\"/>\n"
                               "<bit number=\"0\" value=\"01\"/><bit number=\"3\" value=\"414243\" "
                               "valeu=\"1\"/></orbo8583-build-config>");
        Button("1014")->click();
        QCOMPARE(MessageEdit()->toPlainText(), kTradeMessage);
        QCOMPARE(m_messages.size(), std::size_t{1});
        QCOMPARE(m_messages[0].icon, ReportedMessage::Icon::Warning);
        QCOMPARE(m_messages[0].text, QStringLiteral("生成完成，但配置文件有2处可疑内容"));
        QCOMPARE(m_messages[0].informative,
                 QStringLiteral("第 2 行：元素 <bti> 不是 <bit>，已忽略\n"
                                "第 3 行：<bit> 的属性“valeu”不是 number、length 或 value，已忽略"));
    }

    void buildJson_data() {
        QTest::addColumn<QByteArray>("json");    // empty: the file dialog is cancelled
        QTest::addColumn<QString>("firstName");  // the list's one row afterwards; empty: none
        QTest::addColumn<QByteArray>("bytes");   // the bytes the message edit then stands for
        QTest::addColumn<QString>("error");
        // A member that is not sent is no row, and the build says so (a warning, not an error).
        QTest::newRow("integer") << QByteArray("{\"a\": 1, \"b\": true}") << "a"
                                 << QByteArray("1100F1000000{ \"a\": 1 }AC")
                                 << QStringLiteral("生成完成，但配置文件有1处可疑内容");
        QTest::newRow("empty object")
            << QByteArray("{}") << "" << QByteArray("0A00F1000000{ }DD") << "";
        QTest::newRow("cancelled")
            << QByteArray() << "old" << QByteArray("before") << Utf8(kTextNoConfigFile);
        QTest::newRow("malformed") << QByteArray("{\"a\": ") << "old" << QByteArray("before")
                                   << Utf8(kTextConfigParseError);
        // A packet over the frame's payload: the members' rows stay, the message edit too.
        QTest::newRow("too long") << "{\"s\": \"" + QByteArray(2100, 'x') + "\"}"
                                  << "s" << QByteArray("before") << Utf8(kTextJsonBuildError);
    }
    void buildJson() {
        QFETCH(QByteArray, json);
        QFETCH(QString, firstName);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, error);
        List()->AppendRow(QStringLiteral("old"), QString(), QString());
        MessageEdit()->setPlainText(QStringLiteral("before"));
        PortBox()->setText(QStringLiteral("9"));
        m_nextPath = json.isEmpty() ? QString() : WriteFile(QStringLiteral("c.json"), json);
        Button("1018")->click();
        QCOMPARE(MessageTexts(), error.isEmpty() ? QStringList() : QStringList{error});
        QCOMPARE(m_fileDialogs.size(), std::size_t{1});
        QCOMPARE(m_fileDialogs[0].filter, QStringLiteral("配置文件(*.json);;所有文件 (*.*)"));
        QCOMPARE(m_fileDialogs[0].defaultSuffix, QStringLiteral("json"));
        QCOMPARE(List()->rowCount(), firstName.isEmpty() ? 0 : 1);
        if (!firstName.isEmpty()) QCOMPARE(Row(0)[0], firstName);
        QCOMPARE(MessageEdit()->toPlainText(), QString::fromUtf8(bytes));
        QCOMPARE(PortBox()->text(), QStringLiteral("9"));  // read first, so kept
        m_dlg->ReadControls();
        QCOMPARE(QByteArray::fromStdString(m_dlg->MessageBytes()), bytes);
    }

    void parseJsonReadsBuiltPacketsBack() {
        // A built code page 936 packet reads back with its text; a bad marker is refused with
        // the reason as informative text, and the list stays.
        m_nextPath = WriteFile(QStringLiteral("p.json"), "{\"m\": \"\xC9\xCC\xBB\xA7\", \"n\": 7}");
        Button("1018")->click();
        Button("1017")->click();
        QCOMPARE(MessageTexts(), QStringList());
        QCOMPARE(List()->rowCount(), 3);
        QCOMPARE(Row(0), (QStringList{"m", "4", "商户"}));
        QCOMPARE(Row(2)[0], QStringLiteral("校验"));
        QVERIFY(Row(2)[2].endsWith(QStringLiteral("校验字节与长度正确")));
        Button("1001")->click();  // no longer the built packet
        MessageEdit()->setPlainText(QStringLiteral("1100F2000000{ }AC"));
        Button("1017")->click();
        QCOMPARE(MessageTexts(), QStringList{QStringLiteral("JSON包解析出错!")});
        QCOMPARE(m_messages[0].informative, QStringLiteral("frame marker is F2, not F1"));
        QCOMPARE(List()->rowCount(), 3);
    }

    void parseJsonReadsAPastedPacketAsBuilt() {
        // A packet that the command line built from a UTF-8 file, pasted: its check byte holds
        // whatever characters it carries, though the window takes typed text as code page 936.
        const CommandResult built = BuildJsonFromText("{\"m\": \"商户\xF0\x9F\x98\x80\"}");
        QVERIFY(built.Ok());
        MessageEdit()->setPlainText(QString::fromStdString(built.message));
        Button("1017")->click();
        QCOMPARE(MessageTexts(), QStringList());
        QCOMPARE(List()->rowCount(), 2);
        QCOMPARE(Row(0), (QStringList{"m", "10", QStringLiteral("商户\U0001F600")}));
        QCOMPARE(Row(1)[2], QString::fromStdString(built.message.substr(built.message.size() - 2)) +
                                QStringLiteral(" -> 按UTF-8编码: 校验字节与长度正确"));
    }

    void builtBytesSurviveOnlyUnchangedText() {
        // A packet built from a code page 936 file: shown decoded, given back as the file's bytes
        // until the user changes the text; an edited text is encoded by the same page again.
        const QByteArray gbk("{\"m\": \"\xC9\xCC\xBB\xA7\"}");  // 商户 in code page 936
        m_nextPath = WriteFile(QStringLiteral("gbk.json"), gbk);
        Button("1018")->click();
        QCOMPARE(MessageTexts(), QStringList());
        QVERIFY(MessageEdit()->toPlainText().contains(QStringLiteral("商户")));
        m_dlg->ReadControls();
        const std::string built = m_dlg->MessageBytes();
        QVERIFY(built.find("\xC9\xCC\xBB\xA7") != std::string::npos);

        MessageEdit()->moveCursor(QTextCursor::End);
        QTest::keyClicks(MessageEdit(), QStringLiteral("0"));
        m_dlg->ReadControls();
        QCOMPARE(m_dlg->MessageBytes(), built + "0");
        QTest::keyClick(MessageEdit(), Qt::Key_Backspace);
        m_dlg->ReadControls();
        QCOMPARE(m_dlg->MessageBytes(), built);

        Button("1001")->click();
        MessageEdit()->setPlainText(QStringLiteral("AB"));
        m_dlg->ReadControls();
        QCOMPARE(m_dlg->MessageBytes(), std::string("AB"));
    }

    void messageTextRule() {
        const std::string utf8 = QStringLiteral("0A商").toStdString();
        EditEncoding encoding = EditEncoding::Utf8;
        QCOMPARE(DecodeMessageText("0A", TextEncoding::Gbk, &encoding), QStringLiteral("0A"));
        QCOMPARE(encoding, EditEncoding::Gbk);
        QCOMPARE(DecodeMessageText(utf8, TextEncoding::Utf8OrGbk, &encoding),
                 QStringLiteral("0A商"));
        QCOMPARE(encoding, EditEncoding::Utf8);
        QCOMPARE(DecodeMessageText("\xC9\xCC", TextEncoding::Utf8OrGbk, &encoding),
                 QStringLiteral("商"));
        QCOMPARE(encoding, EditEncoding::Gbk);
        QCOMPARE(EncodeMessageText(QStringLiteral("0a F"), EditEncoding::Utf8),
                 std::string("0a F"));
        QCOMPARE(EncodeMessageText(QStringLiteral("0A商"), EditEncoding::Utf8), utf8);
        QCOMPARE(EncodeMessageText(QStringLiteral("0A商"), EditEncoding::Gbk),
                 std::string("0A\xC9\xCC"));
    }

    void ipAddressControl() {
        CIpAddressCtrl* ip = IpControl();
        ip->Field(0)->setFocus();
        TypeIntoFocus(QStringLiteral("192.168.0.1"));
        QCOMPARE(ip->AddressText(), QStringLiteral("192.168.0.1"));
        QCOMPARE(QApplication::focusWidget(), ip->Field(3));
        // Backspace at the start of a field goes back to the end of the one before.
        QTest::keyClick(ip->Field(3), Qt::Key_Home);
        QTest::keyClick(ip->Field(3), Qt::Key_Backspace);
        QCOMPARE(QApplication::focusWidget(), ip->Field(2));
        QTest::keyClick(ip->Field(2), Qt::Key_Backspace);
        QCOMPARE(ip->Field(2)->text(), QString());
        QVERIFY(!ip->IsBlank());
        QCOMPARE(ip->AddressText(), QStringLiteral("192.168.0.1"));  // an empty field reads 0

        ip->ClearAddress();
        QVERIFY(ip->IsBlank());
        ip->Field(1)->setFocus();
        QTest::keyClicks(ip->Field(1), QStringLiteral("9x7"));  // letters are refused
        QCOMPARE(ip->Field(1)->text(), QStringLiteral("97"));
        QTest::keyClicks(ip->Field(1), QStringLiteral("."));
        QCOMPARE(QApplication::focusWidget(), ip->Field(2));
        QTest::keyClicks(ip->Field(2), QStringLiteral("."));  // ignored in an empty field
        QCOMPARE(QApplication::focusWidget(), ip->Field(2));
        QTest::keyClicks(ip->Field(2), QStringLiteral("999"));
        QCOMPARE(ip->Field(2)->text(), QStringLiteral("255"));
        QCOMPARE(ip->AddressText(), QStringLiteral("0.97.255.0"));
    }

    void accessibleNamesAreDistinct() {
        QSet<QString> names;
        QStringList problems;
        for (QWidget* widget : m_dlg->findChildren<QWidget*>()) {
            if (!widget->isVisible() || qobject_cast<QScrollBar*>(widget) != nullptr) continue;
            if (widget->parentWidget() != m_dlg.get() && widget->parentWidget() != IpControl()) {
                continue;  // inside composite widgets (viewports, headers)
            }
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(widget);
            QVERIFY(a != nullptr);
            const QString name = a->text(QAccessible::Name);
            if (name.isEmpty()) problems << widget->metaObject()->className();
            if (names.contains(name)) problems << name;
            names.insert(name);
        }
        QCOMPARE(problems, QStringList());
        for (const char* name : {"IP地址", "端口", "接口类型", "8583报文", "8583域参数", "发送",
                                 "解析iso8583包", "Clear"}) {
            QVERIFY2(names.contains(QString::fromUtf8(name)), name);
        }
    }

    void sendChecksAndFailures_data() {
        QTest::addColumn<bool>("ip");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message");
        QTest::newRow("all empty") << false << ""
                                   << "" << Utf8(kTextIpEmpty);
        QTest::newRow("no port") << true << ""
                                 << "01" << Utf8(kTextPortEmpty);
        QTest::newRow("no text") << true << "1"
                                 << "" << Utf8(kTextSendDataEmpty);
        QTest::newRow("refused") << true << "refused"
                                 << "0102" << Utf8(kTextConnectError);
    }
    void sendChecksAndFailures() {
        QFETCH(bool, ip);
        QFETCH(QString, port);
        QFETCH(QString, text);
        QFETCH(QString, message);
        if (port == QStringLiteral("refused")) {
            // A port that was just listened on and closed again refuses the connection.
            const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            socklen_t length = sizeof address;
            QVERIFY(::bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0);
            QVERIFY(::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0);
            ::close(fd);
            port = QString::number(ntohs(address.sin_port));
        }
        if (ip) IpControl()->SetAddress(127, 0, 0, 1);
        PortBox()->setText(port);
        Parse("1013", 0, kTradeMessage);
        m_messages.clear();
        MessageEdit()->setPlainText(text);
        Button("1012")->click();
        WaitForSend();
        QCOMPARE(MessageTexts(), QStringList{message});
        QCOMPARE(List()->rowCount(), 3);  // the list stays as it was
    }

    void sendShowsReplyOnlyWhenOneArrives_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("reply") << "0102 \n03" << QByteArray("\x01\x02\x03", 3)
                               << QByteArray("\x00\x02\xAB\xCD", 4);
        QTest::newRow("no reply") << "01020" << QByteArray("\x01\x02", 2) << QByteArray();
        QTest::newRow("typed JSON packet form")
            << "1100F1000000{ \"a\": 1 }AC"
            << QByteArray("\x11\x00\xF1\x00\x00\x00{ \"a\": 1 }\xAC", 17) << QByteArray();
    }
    void sendShowsReplyOnlyWhenOneArrives() {
        QFETCH(QString, text);
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, reply);
        Listener listener(static_cast<std::size_t>(sent.size()), reply);
        IpControl()->SetAddress(127, 0, 0, 1);
        IpControl()->Field(2)->clear();  // an empty field reads as 0
        PortBox()->setText(QString::number(listener.Port()));
        MessageEdit()->setPlainText(text);
        Button("1012")->click();
        WaitForSend();
        QCOMPARE(listener.Received(), sent);
        if (reply.isEmpty()) {
            QCOMPARE(MessageTexts(), QStringList{QStringLiteral("已发送 %1 字节，主机关闭了连接，没有应答")
                                                     .arg(sent.size())});
            QCOMPARE(m_messages[0].icon, ReportedMessage::Icon::Warning);
        } else {
            QCOMPARE(MessageTexts(), QStringList{QStringLiteral("主机应答 4 字节:\n0002ABCD")});
            QCOMPARE(m_messages[0].icon, ReportedMessage::Icon::Information);
        }
        QCOMPARE(MessageEdit()->toPlainText(), text);
    }

    void sendBuiltJsonPacketAsItsBytes() {
        // The packet's check byte covers the file's UTF-8 bytes, which go out unchanged.
        const QByteArray utf8 = QStringLiteral("商户").toUtf8();
        m_nextPath = WriteFile(QStringLiteral("m.json"), "{\"m\": \"" + utf8 + "\"}");
        Button("1018")->click();
        QCOMPARE(MessageTexts(), QStringList());
        const QByteArray body = "{ \"m\": \"" + utf8 + "\" }";
        Listener listener(static_cast<std::size_t>(body.size()) + 7, QByteArray());
        IpControl()->SetAddress(127, 0, 0, 1);
        PortBox()->setText(QString::number(listener.Port()));
        Button("1012")->click();
        WaitForSend();
        QCOMPARE(MessageTexts(), QStringList{QStringLiteral("已发送 %1 字节，主机关闭了连接，没有应答")
                                                 .arg(body.size() + 7)});
        const QByteArray received = listener.Received();
        QCOMPARE(received.mid(6, body.size()), body);
        QCOMPARE(received.size(), body.size() + 7);
        char check = 0;
        for (const char c : received.left(received.size() - 1)) check ^= c;
        QCOMPARE(received.back(), check);
    }

    void sendRunsOffTheWindowThreadAndCancels() {
        Listener slowHost(1000, QByteArray());  // takes the bytes, never answers
        IpControl()->SetAddress(127, 0, 0, 1);
        PortBox()->setText(QString::number(slowHost.Port()));
        MessageEdit()->setPlainText(QStringLiteral("01"));
        auto* cancel = Control<QPushButton>("cancelSend");
        QElapsedTimer clock;
        clock.start();
        Button("1012")->click();
        QVERIFY(m_dlg->Sending());
        QVERIFY(!Button("1012")->isEnabled() && !Button("1012")->isVisible());
        QVERIFY(cancel->isVisible() && cancel->isEnabled());
        QCOMPARE(cancel->text(), QStringLiteral("取消"));
        bool ticked = false;  // the event loop runs while the host keeps the send waiting
        QTimer::singleShot(20, this, [&ticked] { ticked = true; });
        QTRY_VERIFY_WITH_TIMEOUT(ticked, 500);
        QVERIFY(m_dlg->Sending());
        cancel->click();
        WaitForSend();
        QVERIFY2(clock.elapsed() < 800, "the send ran to its time-out");  // reply wait is 1 s
        QCOMPARE(MessageTexts(), QStringList());
        QVERIFY(Button("1012")->isVisible() && Button("1012")->isEnabled());
        QVERIFY(!cancel->isVisible());
        QCOMPARE(slowHost.Received(), QByteArray("\x01", 1));
    }

    void parseReplyPutsItInTheEditAndDecodes_data() {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QStringList>("lastRow");
        QTest::newRow("64 fields")
            << kMessage64 << 16 << QStringList{"Bit 64", "8", "3A4F9C0D12E5B776"};
        QTest::newRow("trade frame") << kTradeMessage << 3 << QStringList{"Bit 3", "3", "414243"};
        QTest::newRow("JSON packet") << QStringLiteral("0E00F10000007B2261223A317D93") << 2
                                     << QStringList{"校验", "14", "93 -> 校验字节与长度正确"};
    }
    void parseReplyPutsItInTheEditAndDecodes() {
        QFETCH(QString, reply);
        QFETCH(int, rows);
        QFETCH(QStringList, lastRow);
        Listener host(1, QByteArray::fromHex(reply.toLatin1()));
        IpControl()->SetAddress(127, 0, 0, 1);
        PortBox()->setText(QString::number(host.Port()));
        MessageEdit()->setPlainText(QStringLiteral("01"));
        Button("1012")->click();
        WaitForSend();
        QCOMPARE(m_messages.size(), std::size_t{1});
        QCOMPARE(m_messages[0].extraButton, QStringLiteral("解析应答"));
        QVERIFY(m_messages[0].text.startsWith(QStringLiteral("主机应答 ")));
        m_messages[0].extraAction();
        QCOMPARE(MessageEdit()->toPlainText(), reply.toUpper());
        QCOMPARE(List()->rowCount(), rows);
        QCOMPARE(Row(rows - 1), lastRow);
    }

    void hostSimulatorAnswersTheWindowsSend() {
        m_dlg->OnHostSimulator();
        auto* sim = m_dlg->findChild<CHostSimDlg*>();
        QVERIFY(sim != nullptr && sim->isVisible());
        sim->findChild<QLineEdit*>(QStringLiteral("simPort"))->setText(QStringLiteral("0"));
        sim->findChild<QPushButton*>(QStringLiteral("simStart"))->click();
        QTRY_VERIFY(sim->Port() != 0);
        IpControl()->SetAddress(127, 0, 0, 1);
        PortBox()->setText(QString::number(sim->Port()));
        MessageEdit()->setPlainText(kMessage64);
        Button("1012")->click();
        WaitForSend();
        QCOMPARE(MessageTexts().size(), 1);
        QVERIFY(
            MessageTexts()[0].startsWith(QStringLiteral("主机应答 107 字节:\n0069600000000360")));
        auto* log = sim->findChild<QPlainTextEdit*>(QStringLiteral("simLog"));
        QTRY_VERIFY(log->toPlainText().contains(QStringLiteral(" 0200 已应答")));
        sim->findChild<QPushButton*>(QStringLiteral("simStop"))->click();
        QTRY_VERIFY(!sim->Running());
    }

    void aboutBoxFromContextMenu() {
        QString item;
        QString title;
        QString text;
        QString button;
        // The menu opens, its item opens the about box, whose "确定" closes it.
        QTimer::singleShot(0, this, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (menu == nullptr || menu->actions().isEmpty()) return;
            item = menu->actions().front()->text();
            QTimer::singleShot(0, this, [&] {
                auto* about = qobject_cast<QDialog*>(QApplication::activeModalWidget());
                if (about == nullptr) return;
                title = about->windowTitle();
                for (QLabel* label : about->findChildren<QLabel*>()) text += label->text();
                auto* ok = about->findChild<QPushButton*>(QStringLiteral("1"));
                button = ok->text();
                ok->click();
            });
            menu->actions().front()->trigger();
            menu->close();
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                                m_dlg->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(m_dlg.get(), &event);
        QCOMPARE(item, QStringLiteral("关于 Tarnwick(&A)..."));
        QCOMPARE(title, QStringLiteral("关于 Tarnwick"));
        QCOMPARE(text, QStringLiteral("Tarnwick，1.0 版"));
        QCOMPARE(button, QStringLiteral("确定"));
    }

    void field55FoldedExpandedAndMasked() {
        // PAN (15 digits), track 2, and field 55 with 5A and 57.
        const QString message = QStringLiteral(
            "004460000300006031003100000200600000002000020015622588012345678F000000286225880123"
            "456789D2812201000000185A08622588012345678F570662258801234D");
        Parse("1015", 0, message);
        QCOMPARE(List()->rowCount(), 8);
        QCOMPARE(List()->item(7, 1)->text(), QStringLiteral("Bit 55"));
        QVERIFY(List()->item(7, 3)->toolTip().contains(
            QStringLiteral("  5A  8  622588012345678F -> 应用主账号: 622588012345678")));

        QStringList items;
        QTimer::singleShot(0, this, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (menu == nullptr) return;
            for (QAction* a : menu->actions()) {
                if (a->isCheckable()) items << a->text() + (a->isChecked() ? "+" : "-");
            }
            for (QAction* a : menu->actions()) {
                if (a->isCheckable() && a->text() != QStringLiteral("显示含义")) a->trigger();
            }
            menu->close();
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                                m_dlg->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(m_dlg.get(), &event);
        QCOMPARE(items, QStringList({QStringLiteral("展开55域(IC卡数据)-"),
                                     QStringLiteral("隐藏卡号-"), QStringLiteral("显示含义-")}));

        Parse("1015", 0, message);
        QCOMPARE(List()->rowCount(), 10);
        QCOMPARE(Row(8), QStringList({QStringLiteral("  5A"), QStringLiteral("8"),
                                      QStringLiteral("622588*****5678F -> 应用主账号: "
                                                     "622588*****5678")}));
        for (int r = 0; r < List()->rowCount(); ++r) {
            for (int c = 1; c <= 3; ++c) {
                for (const QString& text :
                     {List()->item(r, c)->text(), List()->item(r, c)->toolTip()}) {
                    QVERIFY2(!text.contains(QStringLiteral("2588012")), qPrintable(text));
                }
            }
        }
        // Both choices are remembered for the next run.
        const CTarnwickDlg next;
        QVERIFY(next.ExpandTlv());
        QVERIFY(next.MaskCardNumbers());
        m_dlg->SetExpandTlv(false);
        m_dlg->SetMaskCardNumbers(false);
    }

    // "显示含义" explains the exact built-in form for the next decodes and builds, remembered.
    void explainItemShowsMeaningsOfTheExactForm() {
        // A 0210 reply of the 64-field form: field 3, 4, 39 "51", 49 "156".
        const QString message = QStringLiteral(
            "00236000030000603100310000021030000000020080000000000000000100003531313536");
        const auto names = [this] {
            QStringList list;
            for (int r = 0; r < List()->rowCount(); ++r) list << List()->item(r, 1)->text();
            return list;
        };
        const auto toggleExplain = [this] {
            QTimer::singleShot(0, this, [] {
                auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
                if (menu == nullptr) return;
                for (QAction* a : menu->actions()) {
                    if (a->text() == QStringLiteral("显示含义")) a->trigger();
                }
                menu->close();
            });
            QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                                    m_dlg->mapToGlobal(QPoint(5, 5)));
            QApplication::sendEvent(m_dlg.get(), &event);
        };
        Parse("1015", 0, message);
        const QStringList plain = names();
        QVERIFY(!plain.contains(QStringLiteral("交易")));

        toggleExplain();
        QVERIFY(m_dlg->Explain());
        QVERIFY(CTarnwickDlg().Explain());  // remembered for the next run
        Parse("1015", 0, message);
        QCOMPARE(List()->item(0, 1)->text(), QStringLiteral("交易"));
        QCOMPARE(List()->item(0, 3)->text(), QStringLiteral("消费应答 · 51 余额不足 · 100.00 CNY"));
        const int row39 = static_cast<int>(names().indexOf(QStringLiteral("Bit 39")));
        QVERIFY(row39 > 0);
        QVERIFY2(List()->item(row39, 3)->text().contains(QStringLiteral("余额不足")),
                 qPrintable(List()->item(row39, 3)->text()));
        // A build of the explained rows gives the same message and shows it explained again.
        Button("1016")->click();
        QCOMPARE(MessageEdit()->toPlainText().remove(QLatin1Char(' ')), message);
        QCOMPARE(List()->item(0, 1)->text(), QStringLiteral("交易"));

        toggleExplain();
        QVERIFY(!m_dlg->Explain());
        Parse("1015", 0, message);
        QCOMPARE(names(), plain);
    }

    // A field row and its sub-rows: whichever the user edits is built, and both edited
    // differently is refused naming both.
    void editedFieldRowOrSubRowIsBuilt() {
        const auto rowOf = [this](const QString& name) {
            for (int r = 0; r < List()->rowCount(); ++r) {
                if (List()->item(r, 1)->text() == name) return r;
            }
            return -1;
        };
        const auto edit = [this](int row, const QString& text) {
            List()->scrollToItem(List()->item(row, 3));
            ClickCell(row, 3);
            List()->EditBox()->setText(text);
            QTest::keyClick(List()->EditBox(), Qt::Key_Return);
        };
        const auto decode = [this] {
            Choose(4);  // the full terminal table: sub-rows under field 60
            MessageEdit()->setPlainText(kMessage64);
            MessageEdit()->document()->setModified(true);  // as typing or pasting leaves it
            Button("1015")->click();
        };
        const struct {
            const char* row;
            const char* value;
            const char* field60;  // in the built message; empty: refused
        } cases[] = {
            {"Bit 60", "001323000123000500", "0013230001230005"},
            {"  60.1", "24", "0013240001230005"},
            {"  60.2", "000999", "0013220009990005"},
        };
        for (const auto& c : cases) {
            decode();
            edit(rowOf(QString::fromUtf8(c.row)), QString::fromUtf8(c.value));
            Button("1016")->click();
            QVERIFY2(m_messages.empty(),
                     qPrintable(m_messages.empty() ? QString() : m_messages.front().informative));
            QVERIFY2(MessageEdit()->toPlainText().remove(QLatin1Char(' ')).contains(
                         QString::fromUtf8(c.field60)),
                     c.row);
        }
        decode();
        edit(rowOf(QStringLiteral("Bit 60")), QStringLiteral("001323000123000500"));
        edit(rowOf(QStringLiteral("  60.1")), QStringLiteral("24"));
        Button("1016")->click();
        QCOMPARE(m_messages.size(), std::size_t{1});
        QVERIFY2(m_messages[0].informative.contains(QStringLiteral("60.1")) &&
                     m_messages[0].informative.contains(QStringLiteral("Bit 60")) &&
                     m_messages[0].informative.contains(QStringLiteral("改得不一致")),
                 qPrintable(m_messages[0].informative));
    }

    // Esc in a cell edit cancels only the edit; with work in the window, closing asks first.
    void escCancelsEditAndClosingAsks() {
        QStringList asked;
        bool yes = false;
        m_dlg->SetConfirmer([&](const QString&, const QString& text) {
            asked << text;
            return yes;
        });
        List()->AppendRow(QStringLiteral("Bit 2"), QStringLiteral("8"), QStringLiteral("1234"));
        ClickCell(0, 3);
        QTest::keyClicks(List()->EditBox(), QStringLiteral("99"));
        QTest::keyClick(List()->EditBox(), Qt::Key_Escape);
        QVERIFY(!List()->EditBox()->isVisible());
        QCOMPARE(Row(0), (QStringList{"Bit 2", "8", "1234"}));
        QVERIFY(m_dlg->isVisible());
        QVERIFY(asked.isEmpty());

        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);  // rows: "no" keeps it
        QCOMPARE(asked.size(), 1);
        QVERIFY(m_dlg->isVisible());
        List()->ClearRows();
        MessageEdit()->setPlainText(QStringLiteral("01"));
        QVERIFY(!m_dlg->close());  // message text: the system menu's Close asks too
        QCOMPARE(asked.size(), 2);
        yes = true;
        QTest::keyClick(m_dlg.get(), Qt::Key_Escape);
        QCOMPARE(asked.size(), 3);
        QVERIFY(!m_dlg->isVisible());
    }

    void enterAndTabCommitTheEdit_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::newRow("Enter") << int(Qt::Key_Return) << int(Qt::NoModifier);
        QTest::newRow("keypad Enter") << int(Qt::Key_Enter) << int(Qt::KeypadModifier);
        QTest::newRow("Tab") << int(Qt::Key_Tab) << int(Qt::NoModifier);
    }
    void enterAndTabCommitTheEdit() {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        Parse("1015", 1, kMessage64.mid(4));
        ClickCell(5, 3);  // field 3
        CEditEx* edit = List()->EditBox();
        edit->selectAll();
        QTest::keyClicks(edit, QStringLiteral("310000"));
        QTest::keyClick(edit, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(Row(5)[2], QStringLiteral("310000"));
        QVERIFY(m_dlg->isVisible());
        QCOMPARE(MessageTexts(), QStringList());
        if (key == Qt::Key_Tab) {  // on to the next cell: the next row's label
            QVERIFY(edit->isVisible());
            QCOMPARE(edit->geometry(), List()->CellEditRect(6, 1));
            QCOMPARE(edit->text(), Row(6)[0]);
        } else {
            QVERIFY(!edit->isVisible());
            QCOMPARE(QApplication::focusWidget(), List());
        }
        Button("1016")->click();
        QVERIFY(MessageEdit()->toPlainText().contains(QStringLiteral("6225880123456789310000")));
    }

    void clickKeepsFirstColumnsInView() {
        QScrollBar* bar = List()->horizontalScrollBar();
        QCOMPARE(List()->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);  // no rows
        Parse("1015", 0, kMessage64);
        QVERIFY(bar->maximum() > 0);  // the value column reaches past the list's edge
        // A hand's click: the pointer moves a little while the button is down.
        const QPoint at = List()->visualRect(List()->model()->index(4, 3)).center();
        QTest::mousePress(List()->viewport(), Qt::LeftButton, {}, at);
        QMouseEvent move(QEvent::MouseMove, at + QPoint(2, 0),
                         List()->viewport()->mapToGlobal(at + QPoint(2, 0)), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(List()->viewport(), &move);
        QTest::mouseRelease(List()->viewport(), Qt::LeftButton, {}, at + QPoint(2, 0));
        QCOMPARE(bar->value(), 0);
        ClickCell(5, 2);  // Tab from the length onto the value: the same
        QTest::keyClick(List()->EditBox(), Qt::Key_Tab);
        QCOMPARE(List()->EditBox()->geometry(), List()->CellEditRect(5, 3));
        QCOMPARE(bar->value(), 0);
        QVERIFY(List()->EditBox()->isVisible());
        bar->setValue(bar->maximum());
        QCOMPARE(List()->horizontalHeader()->offset(), bar->value());
        Parse("1015", 0, kMessage64);  // a new decode starts at the left
        QCOMPARE(bar->value(), 0);
        QCOMPARE(List()->horizontalHeader()->offset(), 0);
        List()->ClearRows();
        QCOMPARE(List()->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    }

    void sendSaysHowTheReplyEnded_data() {
        QTest::addColumn<QByteArray>("reply");  // empty: the host takes the byte and waits
        QTest::addColumn<QString>("message");
        QTest::newRow("no answer") << QByteArray()
                                   << QStringLiteral("已发送 1 字节，主机在 1 秒内没有应答");
        QTest::newRow("cut short")
            << QByteArray("\x00\x05\xAB", 3)
            << QStringLiteral("已发送 1 字节，主机应答 3 字节后关闭了连接，应答不完整（按其长度"
                              "应为 7 字节）\n主机应答 3 字节:\n0005AB");
    }
    void sendSaysHowTheReplyEnded() {
        QFETCH(QByteArray, reply);
        Listener host(reply.isEmpty() ? 1000 : 1, reply);
        IpControl()->SetAddress(127, 0, 0, 1);
        PortBox()->setText(QString::number(host.Port()));
        MessageEdit()->setPlainText(QStringLiteral("01"));
        Button("1012")->click();
        WaitForSend();
        QTEST(MessageTexts().join(u'|'), "message");
        QCOMPARE(m_messages[0].icon, ReportedMessage::Icon::Warning);
    }

    void comboPopupShowsWholeNames() {
        m_nextPath = WriteFile(
            QStringLiteral("a-table-with-a-long-file-name.json"),
            R"({"name": "Mine", "bitmap": {"bits": 64}, "fields": {"0": {"length": 4, "enc": "BCD"}}})");
        Choose(Combo()->count() - 1);
        Combo()->showPopup();
        const QAbstractItemView* view = Combo()->view();
        for (int i = 0; i < Combo()->count(); ++i) {
            QVERIFY2(view->sizeHintForIndex(Combo()->model()->index(i, 0)).width() <=
                         view->viewport()->width(),
                     qPrintable(Combo()->itemText(i)));
        }
        QCOMPARE(view->textElideMode(), Qt::ElideNone);
        Combo()->hidePopup();
    }

    void windowTextsAreChinese() {
        const std::pair<const char*, QString> details[] = {
            {"field 7 states length 99, above its maximum 12; read as the maximum",
             QStringLiteral("域 7 声明长度 99，超过其最大长度 12，按最大长度读取")},
            {"the built message of 9 bytes does not decode: field 0 (message type) is not "
             "defined (byte 0)",
             QStringLiteral("生成的 9 字节报文无法解析：消息类型（域 0）未定义（第 0 字节）")},
            {"unexpected character at byte offset 4", QStringLiteral("意外的字符（第 4 字节）")},
            {"connect to 127.0.0.1:9: Connection refused",
             QStringLiteral("连接 127.0.0.1:9：连接被拒绝")},
            {"row 2 \"x: y\": given twice", QStringLiteral("第 2 行“x: y”：出现了两次")},
        };
        for (const auto& [english, chinese] : details) QCOMPARE(ChineseDetail(english), chinese);

        // EMV meanings in the tip of field 55: 9C, TVR and CVM results.
        Parse("1015", 1,
              QStringLiteral("600003000060310031000002000000000000000200"
                             "0016" "9C0100" "95058000000000" "9F34031E0302"));
        const QString tip = List()->item(4, 3)->toolTip();
        for (const QString& part : {QStringLiteral("00 商品和服务"),
                                    QStringLiteral("未进行脱机数据认证"),
                                    QStringLiteral("签名；终端支持该CVM时；结果成功")}) {
            QVERIFY2(tip.contains(part), qPrintable(tip));
        }
        QVERIFY2(!tip.contains(QStringLiteral("goods")), qPrintable(tip));
    }

    // Field 55 of the 64-field form read as text holds control bytes: shown as symbols, built
    // back as the bytes they stand for.
    void controlCharactersShownAsSymbols() {
        const QString message = QStringLiteral(
            "004460000300006031003100000200600000002000020015622588012345678F000000286225880123"
            "456789D2812201000000185A08622588012345678F570662258801234D");
        Parse("1015", 0, message);
        const QString value = Row(7)[2];
        QVERIFY(value.contains(QChar(0x2408)) && value.contains(QChar(0x2406)));
        for (const QChar c : value) QVERIFY(c.unicode() >= 0x20 && c.unicode() != 0x7F);
        ClickCell(7, 3);
        QTest::keyClick(List()->EditBox(), Qt::Key_Return);
        Button("1016")->click();
        QCOMPARE(MessageTexts(), QStringList());
        QCOMPARE(MessageEdit()->toPlainText(), message);
        QString all;
        for (char16_t c = 0; c < 0x80; ++c) all += QChar(c);
        QCOMPARE(CellValueText(CellDisplayText(all)), all);
    }

    void qtTranslationIsChinese() {
        QTranslator translator;
        QVERIFY(InstallQtTranslation(translator));
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "OK"), QStringLiteral("确定"));
        QCoreApplication::removeTranslator(&translator);
    }
};

QTEST_MAIN(DialogTest)
#include "test_dialog.moc"
