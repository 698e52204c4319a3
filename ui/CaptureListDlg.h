// The messages of a capture file in a list; a double click hands one to the main window.
#pragma once

#include <QDialog>
#include <QString>

#include <functional>
#include <string>
#include <vector>

class QTableWidget;

/// One message of a capture as the list shows it.
struct CapturedMessage {
    QString time;       // UTC, with microseconds
    QString direction;  // "src → dst"
    QString type;
    QString field11;
    QString field39;
    QString latency;    // ms, for a reply paired with its request
    std::string hex;    // the whole message, length part included
};

/// Reads the messages of a pcap or pcapng file (built-in forms chosen per message); empty with
/// why when the file cannot be read.
[[nodiscard]] std::vector<CapturedMessage> ReadCapturedMessages(const QString& path, QString& why);

class CCaptureListDlg : public QDialog {
    Q_OBJECT
public:
    /// Called with a message's hex when its row is double-clicked.
    using Chosen = std::function<void(const std::string& hex)>;

    CCaptureListDlg(std::vector<CapturedMessage> messages, Chosen chosen, QWidget* parent);

    [[nodiscard]] QTableWidget* List() const { return m_list; }
    /// What a double click on row does.
    void Choose(int row);

private:
    std::vector<CapturedMessage> m_messages;
    Chosen m_chosen;
    QTableWidget* m_list = nullptr;
};
