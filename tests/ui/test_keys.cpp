// QtTest tests of the window's test keys, driven offscreen through the real "密钥设置" dialog.
#include <sys/stat.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

#include "crypto/KeysFile.h"
#include "ui/KeysDialog.h"
#include "ui/ListControlEx.h"
#include "ui/TarnwickDlg.h"

namespace {

// A 64-field terminal message with its two-byte length, carrying field 64.
const QString kMessage64 = QStringLiteral(
    "0067600003000060310031000002007020048020C08011166225880123456789000000000000010000000123"
    "051000286225880123456789D2812201000031323334353637383132333435363738393031323334353135"
    "360013220001230005003A4F9C0D12E5B776");
const QString kMak = QStringLiteral("0123456789ABCDEFFEDCBA9876543210");

}  // namespace

class KeysTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_home;
    std::unique_ptr<CTarnwickDlg> m_dlg;
    QStringList m_errors;

    std::unique_ptr<CTarnwickDlg> NewWindow() {
        auto dlg = std::make_unique<CTarnwickDlg>();
        dlg->SetMessageReporter([this](const ReportedMessage& m) { m_errors << m.text; });
        return dlg;
    }
    template <typename T>
    static T* Child(QObject* parent, const char* name) {
        T* child = parent->findChild<T*>(QString::fromLatin1(name));
        if (child == nullptr) qFatal("no control %s", name);
        return child;
    }
    /// Opens "密钥设置…" from the context menu and runs act on the dialog, which act must close.
    bool WithKeysDialog(const std::function<void(QDialog*)>& act) {
        bool opened = false;
        QTimer::singleShot(0, this, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (menu == nullptr) return;
            QAction* item = nullptr;
            for (QAction* a : menu->actions()) {
                if (a->text() == QStringLiteral("密钥设置…")) item = a;
            }
            if (item == nullptr) {
                menu->close();
                return;
            }
            QTimer::singleShot(0, this, [&] {
                auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
                if (dialog == nullptr) return;
                opened = true;
                act(dialog);
            });
            item->trigger();
            menu->close();
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                                m_dlg->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(m_dlg.get(), &event);
        return opened;
    }
    /// Sets the MAK and the MAC algorithm's item, and "记住密钥"; returns the key boxes' texts
    /// after "确定".
    bool SetMak(const QString& mak, int algorithm, bool remember, QString* boxesAfter = nullptr) {
        return WithKeysDialog([&](QDialog* d) {
            Child<QLineEdit>(d, "mak")->setText(mak);
            Child<QComboBox>(d, "macAlgorithm")->setCurrentIndex(algorithm);
            Child<QCheckBox>(d, "rememberKeys")->setChecked(remember);
            Child<QPushButton>(d, "keysOk")->click();
            if (boxesAfter != nullptr) {
                for (const char* n : {"tmk", "pik", "mak", "tdk"}) {
                    *boxesAfter += Child<QLineEdit>(d, n)->text();
                }
            }
            if (d->isVisible()) d->reject();
        });
    }
    void Parse(CTarnwickDlg& dlg, const QString& text) {
        if (!text.isEmpty()) dlg.findChild<QPlainTextEdit*>(QStringLiteral("1022"))->setPlainText(text);
        Child<QPushButton>(&dlg, "1015")->click();
    }
    /// The values of the rows with this name.
    static QStringList RowValues(CTarnwickDlg& dlg, const QString& name) {
        auto* list = dlg.findChild<CListControlEx*>(QStringLiteral("1000"));
        QStringList values;
        for (int r = 0; r < list->rowCount(); ++r) {
            if (list->item(r, 1) != nullptr && list->item(r, 1)->text() == name) {
                values << list->item(r, 3)->text();
            }
        }
        return values;
    }

private slots:
    void initTestCase() {
        // The configuration directory (the keys file, the view settings) lies in a temporary home.
        QVERIFY(m_home.isValid());
        qputenv("HOME", QFile::encodeName(m_home.path()));
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(WindowKeys::FilePath().startsWith(m_home.path()));
    }
    void init() {
        QFile::remove(WindowKeys::FilePath());
        m_errors.clear();
        g_interfaceType = 0;
        m_dlg = NewWindow();
    }
    void cleanup() { m_dlg.reset(); }

    void macCheckedAndFilledByBuild() {
        QString boxes;
        QVERIFY(SetMak(kMak, 1, false, &boxes));  // unionpay-ecb
        QCOMPARE(boxes, QString());               // the key boxes are emptied on closing
        QVERIFY(!QFile::exists(WindowKeys::FilePath()));

        Parse(*m_dlg, kMessage64);
        QStringList mac = RowValues(*m_dlg, QStringLiteral("MAC校验"));
        QCOMPARE(mac.size(), 1);
        QVERIFY2(mac[0].startsWith(QStringLiteral("错误: 报文 3A4F9C0D")), qPrintable(mac[0]));

        // The build leaves the check row out and fills field 64; decoding shows it right.
        Child<QPushButton>(m_dlg.get(), "1016")->click();
        QCOMPARE(m_errors, QStringList());
        Parse(*m_dlg, {});
        QCOMPARE(RowValues(*m_dlg, QStringLiteral("MAC校验")),
                 QStringList({QStringLiteral("正确 (unionpay-ecb)")}));

        // The dialog shows the keys held, masked until "显示密钥"; with "自动" the match is named.
        QVERIFY(WithKeysDialog([&](QDialog* d) {
            auto* mak = Child<QLineEdit>(d, "mak");
            boxes = mak->text() + (mak->echoMode() == QLineEdit::Password ? "*" : "");
            Child<QCheckBox>(d, "showKeys")->setChecked(true);
            boxes += mak->echoMode() == QLineEdit::Normal ? "+" : "";
            Child<QComboBox>(d, "macAlgorithm")->setCurrentIndex(0);
            Child<QPushButton>(d, "keysOk")->click();
        }));
        QCOMPARE(boxes, kMak + "*+");
        Parse(*m_dlg, {});
        QCOMPARE(RowValues(*m_dlg, QStringLiteral("MAC校验")),
                 QStringList({QStringLiteral("正确 (unionpay-ecb)")}));
    }

    void keyOfWrongLengthRefusedByName() {
        QString problem;
        bool stayed = false;
        QVERIFY(WithKeysDialog([&](QDialog* d) {
            Child<QLineEdit>(d, "pik")->setText(QStringLiteral("1234567890"));  // 5 bytes
            Child<QPushButton>(d, "keysOk")->click();
            stayed = d->isVisible();
            problem = Child<QLabel>(d, "keysProblem")->text();
            Child<QPushButton>(d, "keysCancel")->click();
        }));
        QVERIFY(stayed);
        QVERIFY2(problem.contains(QStringLiteral("PIK")), qPrintable(problem));
        QVERIFY(!problem.contains(QStringLiteral("1234567890")));
        // Nothing was taken: decoding shows no check rows.
        Parse(*m_dlg, kMessage64);
        QCOMPARE(RowValues(*m_dlg, QStringLiteral("MAC校验")), QStringList());
    }

    void rememberedKeysSavedOwnerOnlyAndLoaded() {
        QVERIFY(SetMak(kMak, 1, true));
        const QString path = WindowKeys::FilePath();
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0600u);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray json = file.readAll();
        KeySet saved;
        std::string problem;
        QVERIFY(ParseKeysJson(json.toStdString(), saved, problem));
        QCOMPARE(saved.mak.Size(), 16u);
        QVERIFY(saved.tmk.Empty());
        QVERIFY(saved.macAlgorithm == MacAlgorithm::UnionPayEcb);

        // Build with this window; a new window reads the keys at start and checks the MAC.
        Parse(*m_dlg, kMessage64);
        Child<QPushButton>(m_dlg.get(), "1016")->click();
        const QString built = m_dlg->findChild<QPlainTextEdit*>(QStringLiteral("1022"))->toPlainText();
        auto second = NewWindow();
        Parse(*second, built);
        QCOMPARE(RowValues(*second, QStringLiteral("MAC校验")),
                 QStringList({QStringLiteral("正确 (unionpay-ecb)")}));

        // "记住密钥" off: the file goes, the keys stay for this run.
        QVERIFY(SetMak(kMak, 1, false));
        QVERIFY(!QFile::exists(path));
        QCOMPARE(m_errors, QStringList());
    }
};

QTEST_MAIN(KeysTest)
#include "test_keys.moc"
