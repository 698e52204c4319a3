// The application object and start-up.
#include "ui/TarnwickApp.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include "ui/TarnwickDlg.h"

CTarnwickApp theApp;

bool InstallQtTranslation(QTranslator& translator) {
    // The window is Chinese throughout; Qt's own buttons and dialogs follow.
    if (!translator.load(QStringLiteral("qtbase_zh_CN"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        return false;
    }
    return QCoreApplication::installTranslator(&translator);
}

int CTarnwickApp::Run(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarnwick"));
    QApplication::setApplicationVersion(QStringLiteral("1.0.0.1"));
    QApplication::setDesktopFileName(QStringLiteral("tarnwick"));
    QTranslator translator;
    InstallQtTranslation(translator);
    InitInstance();
    return ExitInstance();
}

bool CTarnwickApp::InitInstance() {
    CTarnwickDlg dialog;
    dialog.exec();
    return false;
}

int CTarnwickApp::ExitInstance() { return 0; }
