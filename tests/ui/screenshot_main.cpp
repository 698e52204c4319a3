// Saves a picture of the workbench with a decoded message, for the README:
//   tarnwick_screenshot OUT.png [MESSAGE [ITEM]]   (under Xvfb or with QT_QPA_PLATFORM=offscreen)
// MESSAGE: the hex text to decode instead of the README's; ITEM: the interface type list's item.
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <QTranslator>
#include <cstdio>

#include "ui/IpAddressCtrl.h"
#include "ui/TarnwickApp.h"
#include "ui/TarnwickDlg.h"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "usage: tarnwick_screenshot OUT.png [MESSAGE [ITEM]]\n");
        return 2;
    }
    // The picture's choices are not remembered in the user's own settings.
    QStandardPaths::setTestModeEnabled(true);
    QApplication application(argc, argv);
    QTranslator translator;
    InstallQtTranslation(translator);
    CTarnwickDlg dialog;
    dialog.SetMessageReporter([](const ReportedMessage& m) {
        std::fprintf(stderr, "message: %s\n", m.text.toUtf8().constData());
    });
    dialog.show();
    dialog.activateWindow();
    (void)QTest::qWaitForWindowActive(&dialog, 2000);
    dialog.findChild<CIpAddressCtrl*>(QStringLiteral("1024"))->SetAddress(127, 0, 0, 1);
    dialog.findChild<QLineEdit*>(QStringLiteral("1025"))->setText(QStringLiteral("8583"));
    if (argc == 4) {
        auto* combo = dialog.findChild<QComboBox*>(QStringLiteral("1002"));
        combo->setCurrentIndex(QString::fromLocal8Bit(argv[3]).toInt());
        emit combo->activated(combo->currentIndex());
    }
    dialog.findChild<QPlainTextEdit*>(QStringLiteral("1022"))
        ->setPlainText(argc >= 3 ? QString::fromLocal8Bit(argv[2])
                                 : QStringLiteral(
            "0067600003000060310031000002007020048020C0801116622588012345678900000000000001000000"
            "0123051000286225880123456789D28122010000313233343536373831323334353637383930313233"
            "34353135360013220001230005003A4F9C0D12E5B776"));
    auto* parse = dialog.findChild<QPushButton*>(QStringLiteral("1015"));
    parse->setFocus();
    parse->click();
    QTest::qWait(300);
    if (!dialog.grab().save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
