// The window's test keys: held while the program runs, edited in the "密钥设置" dialog, saved to a
// file of their own only when the user asks, and applied to decodes and builds of ISO 8583
// messages as the command line's --keys does.
#pragma once

#include <QDialog>
#include <QString>
#include <string>
#include <string_view>

#include "crypto/KeysFile.h"
#include "emv/TlvRows.h"
#include "iso/CommandResult.h"
#include "iso/ParseIso8583.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;

/// The keys of the window and how they are shown. The keys wipe themselves when they go.
struct WindowKeys {
    KeySet keys;
    bool showPin = false;   ///< "显示PIN明文": PIN check rows carry the digits
    bool remember = false;  ///< "记住密钥": the keys are kept in the keys file across runs

    /// Whether any key is set (checks and MAC filling apply).
    [[nodiscard]] bool Active() const;

    /// Where remembered keys are kept: keys.json in the application's configuration directory.
    [[nodiscard]] static QString FilePath();
    /// Reads the remembered keys when their file is there (remember is then on); false with a
    /// problem naming the member (never a key) when it cannot be read.
    bool Load(const QString& path, QString& problem);
    /// Saves the keys with remember on (file mode 0600), else removes a file saved before.
    bool Store(const QString& path, QString& problem) const;

    /// Adds the rows "MAC校验", "PIN校验" and the sign-in key rows of the decoded text to its rows.
    void AddCheckRows(std::string_view text, const ParseRequest& request,
                      CommandResult& result) const;
    /// The same into rows whose field 55 is folded, keeping each tip on its field's row.
    void AddCheckRows(std::string_view text, const ParseRequest& request, FoldedRows& folded,
                      TextEncoding encoding) const;

    /// The rows to build: without the rows the checks added; a row "PIN" (clear digits) is taken
    /// into pin, to become field 52.
    [[nodiscard]] FieldRowList RowsToBuild(const FieldRowList& rows, std::string& pin) const;
    /// Puts the PIN block (when a PIN is given) and the MAC (when a MAK is set and the message has
    /// a MAC field) into a built message and decodes it again for its rows.
    void FillBuilt(CommandResult& result, const ParseRequest& request, std::string_view pin) const;
};

/// "密钥设置": TMK, PIK, MAK and TDK (hex, masked unless "显示密钥"), the MAC algorithm, the PIN
/// format, "显示PIN明文" and "记住密钥". Its key boxes are emptied when it closes.
class CKeysDlg : public QDialog {
    Q_OBJECT
public:
    explicit CKeysDlg(const WindowKeys& keys, QWidget* parent = nullptr);

    /// The keys as accepted (valid after Accepted).
    [[nodiscard]] const WindowKeys& Keys() const { return m_keys; }

    /// "确定": takes the boxes' keys, or names the one of the wrong length and stays open.
    void accept() override;
    void done(int result) override;

private:
    bool ReadKey(QLineEdit* edit, const char* member, SecretKey& key);
    void ClearKeyBoxes();

    WindowKeys m_keys;
    QLineEdit* m_tmk = nullptr;
    QLineEdit* m_pik = nullptr;
    QLineEdit* m_mak = nullptr;
    QLineEdit* m_tdk = nullptr;
    QCheckBox* m_showKeys = nullptr;
    QComboBox* m_macAlgorithm = nullptr;
    QSpinBox* m_pinFormat = nullptr;
    QCheckBox* m_showPin = nullptr;
    QCheckBox* m_remember = nullptr;
    QLabel* m_problem = nullptr;
};

/// Opens "密钥设置" over parent and takes its keys on "确定", saving or forgetting them as
/// "记住密钥" says; a problem saving is returned (empty when none).
[[nodiscard]] QString EditWindowKeys(WindowKeys& keys, QWidget* parent);
