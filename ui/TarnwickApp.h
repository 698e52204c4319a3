// The application object: the main window run modally as the whole program.
#pragma once

class QTranslator;

/// Loads Qt's own Chinese texts ("确定", "打开") into translator and installs it; false when the
/// translation is not installed on this machine.
bool InstallQtTranslation(QTranslator& translator);

class CTarnwickApp {
public:
    CTarnwickApp() = default;
    CTarnwickApp(const CTarnwickApp&) = delete;
    CTarnwickApp& operator=(const CTarnwickApp&) = delete;
    virtual ~CTarnwickApp() = default;

    /// Sets up Qt (and its Chinese translation), runs InitInstance, then ExitInstance; the
    /// process exit code.
    int Run(int argc, char** argv);

    /// Runs the main window until the user closes it; false: the program then ends.
    virtual bool InitInstance();
    /// The exit code.
    virtual int ExitInstance();
};

extern CTarnwickApp theApp;
