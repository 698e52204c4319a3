// The window's traffic items: a capture file's messages listed and one decoded by a double click;
// the rows changed since the previous decoding highlighted and listed.
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include "tests/capture/CaptureBuilder.h"
#include "ui/CaptureListDlg.h"
#include "ui/ListControlEx.h"
#include "ui/TarnwickDlg.h"

namespace {

// A terminal message of 12 fields with a 2-byte length, TPDU and header; field 11 is 000123.
constexpr char kRequestHex[] =
    "0067600003000060310031000002007020048020C08011166225880123456789000000000000010000000123"
    "051000286225880123456789D2812201000031323334353637383132333435363738393031323334353135360"
    "013220001230005003A4F9C0D12E5B776";

std::string Bytes(const QByteArray& hex) { return QByteArray::fromHex(hex).toStdString(); }

}  // namespace

class TrafficTest : public QObject {
    Q_OBJECT

    std::unique_ptr<CTarnwickDlg> m_dlg;
    std::vector<ReportedMessage> m_messages;
    QString m_nextPath;
    QTemporaryDir m_dir;

    CListControlEx* List() const { return m_dlg->findChild<CListControlEx*>(QStringLiteral("1000")); }
    QPlainTextEdit* MessageEdit() const {
        return m_dlg->findChild<QPlainTextEdit*>(QStringLiteral("1022"));
    }
    bool Highlighted(int row) const {
        return List()->item(row, 3)->background().style() != Qt::NoBrush;
    }

private slots:
    void initTestCase() {
        // The remembered view settings (the table choice above all) are the test's own, empty.
        QStandardPaths::setTestModeEnabled(true);
    }
    void init() {
        QSettings(QStringLiteral("Tarnwick"), QStringLiteral("Tarnwick")).clear();
        QVERIFY(m_dir.isValid());
        m_messages.clear();
        m_dlg = std::make_unique<CTarnwickDlg>();
        m_dlg->SetMessageReporter([this](const ReportedMessage& m) { m_messages.push_back(m); });
        m_dlg->SetFileChooser([this](const FileDialogSpec&) { return m_nextPath; });
        m_dlg->show();
    }
    void cleanup() { m_dlg.reset(); }

    // A request and its reply in one capture: listed with type, 11, 39 and the reply's latency;
    // a double click on the reply decodes it in the window.
    void captureListed() {
        using namespace capture_test;
        const std::string request = Bytes(kRequestHex);
        std::string reply = request;
        reply[14] = '\x10';  // the response type 0210
        const Host client = V4(1, 40000);
        const Host server = V4(2, 5000);
        const std::string file = Pcap({{1'700'000'000'000'000, TcpFrame(client, server, 100, kAck, request)},
                                       {1'700'000'000'002'500, TcpFrame(server, client, 900, kAck, reply)}});
        m_nextPath = m_dir.filePath(QStringLiteral("two.pcap"));
        QFile out(m_nextPath);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(file.data(), static_cast<qint64>(file.size()));
        out.close();

        m_dlg->OnOpenCapture();
        auto* dialog = m_dlg->findChild<CCaptureListDlg*>();
        QVERIFY(dialog != nullptr);
        QTableWidget* list = dialog->List();
        QCOMPARE(list->rowCount(), 2);
        const auto row = [list](int r) {
            QStringList texts;
            for (int c = 0; c < list->columnCount(); ++c) texts << list->item(r, c)->text();
            return texts;
        };
        QCOMPARE(row(0), (QStringList{"2023-11-14 22:13:20.000000", "10.0.0.1:40000 → 10.0.0.2:5000",
                                      "0200", "000123", "", ""}));
        QCOMPARE(row(1).mid(1), (QStringList{"10.0.0.2:5000 → 10.0.0.1:40000", "0210", "000123",
                                             "", "2.500"}));

        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(list->item(1, 2)).center());
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {},
                           list->visualItemRect(list->item(1, 2)).center());
        QCOMPARE(MessageEdit()->toPlainText(),
                 QString::fromLatin1(QByteArray::fromStdString(reply).toHex().toUpper()));
        QVERIFY(m_messages.empty());
        QVERIFY(!List()->findItems(QStringLiteral("0210"), Qt::MatchExactly).isEmpty());

        // A file that is no capture: one error, no list.
        m_nextPath = m_dir.filePath(QStringLiteral("none.pcap"));
        m_dlg->OnOpenCapture();
        QCOMPARE(m_messages.size(), std::size_t{1});
    }

    // Two decodings: the changed row highlighted and named in the box with both values, the
    // others not; a decoding the same as the last: "与上次解析相同".
    void compareWithPrevious() {
        QPushButton* parse = m_dlg->findChild<QPushButton*>(QStringLiteral("1015"));
        QVERIFY(parse != nullptr);
        MessageEdit()->setPlainText(QString::fromLatin1(kRequestHex));
        parse->click();
        QString edited = QString::fromLatin1(kRequestHex);
        edited.replace(QStringLiteral("0000000123051000"), QStringLiteral("0000000456051000"));
        MessageEdit()->setPlainText(edited);
        parse->click();
        m_messages.clear();
        m_dlg->OnCompareWithPrevious();
        QCOMPARE(m_messages.size(), std::size_t{1});
        QVERIFY2(m_messages[0].text.contains(QStringLiteral("000123 → 000456")),
                 qPrintable(m_messages[0].text));
        QCOMPARE(m_messages[0].text.count(QLatin1Char('\n')), 0);
        int highlighted = 0;
        for (int r = 0; r < List()->rowCount(); ++r) highlighted += Highlighted(r) ? 1 : 0;
        QCOMPARE(highlighted, 1);

        parse->click();
        m_messages.clear();
        m_dlg->OnCompareWithPrevious();
        QCOMPARE(m_messages.at(0).text, QStringLiteral("与上次解析相同"));
    }

    // Rows matched by name, a repeated name one by one: changed, new and gone rows.
    void rowsCompared() {
        const std::vector<ShownRow> before{{"11", "6", "000001"}, {"55", "3", "A"}, {"55", "3", "B"},
                                           {"39", "2", "00"}};
        const std::vector<ShownRow> after{{"11", "6", "000002"}, {"55", "3", "A"}, {"55", "3", "C"},
                                          {"38", "6", "123456"}};
        QCOMPARE(ChangesText(CompareRows(before, after)),
                 QStringLiteral("11: 000001 → 000002\n55: B → C\n38: 新增 123456\n39: 已无 (原为 00)"));
        QVERIFY(CompareRows(after, after).empty());
    }
};

QTEST_MAIN(TrafficTest)
#include "test_traffic.moc"
