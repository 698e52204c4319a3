// The "模拟主机" window: the simulated host of tarnwick-cli serve, on loopback, with its log.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <thread>

#include "net/Socket.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
struct ServeRecord;

class CHostSimDlg : public QDialog {
    Q_OBJECT
public:
    explicit CHostSimDlg(QWidget* parent = nullptr);
    ~CHostSimDlg() override;

    /// Starts the host on 127.0.0.1 at the port box's port (0: any free port).
    void OnStart();
    /// Stops the host; answers still due go out first (at most a second).
    void OnStop();
    [[nodiscard]] bool Running() const { return m_thread.joinable(); }
    /// The port listened on; 0 when not listening.
    [[nodiscard]] std::uint16_t Port() const { return m_port; }

private:
    void Stopped(const QString& why);
    void Listening(std::uint16_t port);
    void AppendLog(const QString& line);
    void closeEvent(QCloseEvent* event) override;

    QLineEdit* m_editPort = nullptr;
    QComboBox* m_comboForm = nullptr;
    QPushButton* m_buttonStart = nullptr;
    QPushButton* m_buttonStop = nullptr;
    QLabel* m_status = nullptr;
    QPlainTextEdit* m_log = nullptr;
    std::uint16_t m_port = 0;
    CancelFlag m_stop{false};
    std::thread m_thread;
};
