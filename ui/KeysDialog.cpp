// The window's test keys and the "密钥设置" dialog.
#include "ui/KeysDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardPaths>
#include <QVBoxLayout>
#include <algorithm>
#include <array>

#include "crypto/Key.h"
#include "crypto/Mac.h"
#include "iso/MessageKeys.h"

namespace {

constexpr auto kKeysFileName = "keys.json";
const char* const kTextTitle = "密钥设置";
const char* const kTextShowKeys = "显示密钥";
const char* const kTextShowPin = "显示PIN明文";
const char* const kTextRemember = "记住密钥";
const char* const kTextMacAlgorithm = "MAC算法:";
const char* const kTextPinFormat = "PIN格式:";
const char* const kTextAuto = "自动";
const char* const kTextWrongKey = "%1 必须是 16、32 或 48 个十六进制数字 (8、16 或 24 字节)";
const char* const kTextSaveFailed = "无法保存密钥文件 %1";
const char* const kTextRemoveFailed = "无法删除密钥文件 %1";
const char* const kTextReadFailed = "密钥文件 %1 无法读取: %2";

/// A text that held key digits is overwritten before it goes.
void WipeText(QString& text) {
    std::fill(text.begin(), text.end(), QChar(u'0'));
    text.clear();
}

void WipeText(QByteArray& text) {
    WipeBytes(text.data(), static_cast<std::size_t>(text.size()));
    text.clear();
}

void AppendKey(std::string& out, const char* member, const SecretKey& key) {
    if (key.Empty()) return;
    std::string hex = ToHex(key.Bytes());
    out += out.size() > 1 ? ",\"" : "\"";
    out += member;
    out += "\":\"" + hex + "\"";
    WipeBytes(hex.data(), hex.size());
}

/// The keys file's JSON text of the keys.
std::string KeysJson(const KeySet& keys) {
    std::string out = "{";
    out.reserve(256);  // one buffer: no copy of a key is left behind by a reallocation
    AppendKey(out, "tmk", keys.tmk);
    AppendKey(out, "mak", keys.mak);
    AppendKey(out, "pik", keys.pik);
    AppendKey(out, "tdk", keys.tdk);
    out += out.size() > 1 ? "," : "";
    out += "\"macAlgorithm\":\"";
    out += keys.macAlgorithm ? MacAlgorithmName(*keys.macAlgorithm) : std::string_view("auto");
    out += "\",\"pinFormat\":" + std::to_string(keys.pinFormat) +
           ",\"kcvBytes\":" + std::to_string(keys.kcvBytes) + "}\n";
    return out;
}

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

/// The MAC field of a decoded message's rows: the table's, else field 128, else field 64 when
/// no field of the second bitmap is there; 0 when the message carries none.
std::int32_t MacFieldOf(const FieldRowList& rows, const ParseRequest& request) {
    const auto has = [&rows](std::int32_t f) {
        return std::any_of(rows.begin(), rows.end(), [f](const FieldRow& r) { return r.field == f; });
    };
    if (request.table != nullptr) return has(request.table->macField) ? request.table->macField : 0;
    if (has(128)) return 128;
    const bool secondBitmap = std::any_of(rows.begin(), rows.end(),
                                          [](const FieldRow& r) { return r.field > 64; });
    return has(64) && !secondBitmap ? 64 : 0;
}

QLineEdit* NewKeyEdit(const char* name, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setEchoMode(QLineEdit::Password);
    edit->setAccessibleName(QString::fromLatin1(name).toUpper());
    return edit;
}

QCheckBox* NewCheckBox(const char* text, const char* name, bool on, QWidget* parent) {
    auto* box = new QCheckBox(QString::fromUtf8(text), parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setChecked(on);
    return box;
}

}  // namespace

bool WindowKeys::Active() const {
    return !keys.tmk.Empty() || !keys.mak.Empty() || !keys.pik.Empty() || !keys.tdk.Empty();
}

QString WindowKeys::FilePath() {
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation))
        .filePath(QString::fromLatin1(kKeysFileName));
}

bool WindowKeys::Load(const QString& path, QString& problem) {
    QFile file(path);
    if (!file.exists()) return true;
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        problem = QString::fromUtf8(kTextReadFailed).arg(path, file.errorString());
        return false;
    }
    QByteArray text = file.readAll();
    std::string why;
    const bool ok = ParseKeysJson(std::string_view(text.constData(), static_cast<std::size_t>(text.size())),
                                  keys, why);
    WipeText(text);
    if (!ok) {
        problem = QString::fromUtf8(kTextReadFailed).arg(path, QString::fromStdString(why));
        return false;
    }
    remember = true;
    return true;
}

bool WindowKeys::Store(const QString& path, QString& problem) const {
    if (!remember) {
        // Keys the user no longer wants remembered do not stay on the disk.
        if (QFile::exists(path) && !QFile::remove(path)) {
            problem = QString::fromUtf8(kTextRemoveFailed).arg(path);
            return false;
        }
        return true;
    }
    constexpr QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    // Created 0600; a file that was there is narrowed to 0600 before the keys go in.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered, kOwnerOnly) ||
        !file.setPermissions(kOwnerOnly)) {
        problem = QString::fromUtf8(kTextSaveFailed).arg(path);
        return false;
    }
    std::string json = KeysJson(keys);
    const bool written = file.write(json.data(), static_cast<qint64>(json.size())) ==
                         static_cast<qint64>(json.size());
    WipeBytes(json.data(), json.size());
    if (!written || !file.flush()) {
        file.close();
        QFile::remove(path);
        problem = QString::fromUtf8(kTextSaveFailed).arg(path);
        return false;
    }
    return true;
}

void WindowKeys::AddCheckRows(std::string_view text, const ParseRequest& request,
                              CommandResult& result) const {
    if (!Active() || !result.Ok()) return;
    MessageChecks checks;
    CheckTextKeys(text, request, keys, checks);
    AddKeyRows(result, checks, KeyShow{showPin, false});
}

void WindowKeys::AddCheckRows(std::string_view text, const ParseRequest& request,
                              FoldedRows& folded, TextEncoding encoding) const {
    if (!Active()) return;
    // A tip belongs to the n-th row of its field; the added rows carry no field number.
    std::vector<std::pair<std::int32_t, std::size_t>> tipRows;
    for (const auto& [row, tip] : folded.tips) {
        const std::int32_t f = folded.rows[row].field;
        const auto n = static_cast<std::size_t>(std::count_if(
            folded.rows.begin(), folded.rows.begin() + static_cast<std::ptrdiff_t>(row),
            [f](const FieldRow& r) { return r.field == f; }));
        tipRows.emplace_back(f, n);
    }
    CommandResult result;
    result.rows = std::move(folded.rows);
    result.rowEncoding = encoding;
    AddCheckRows(text, request, result);
    folded.rows = std::move(result.rows);
    for (std::size_t t = 0; t < tipRows.size(); ++t) {
        const auto [f, n] = tipRows[t];
        if (f < 0) continue;
        std::size_t seen = 0;
        for (std::size_t i = 0; i < folded.rows.size(); ++i) {
            if (folded.rows[i].field == f && seen++ == n) {
                folded.tips[t].first = i;
                break;
            }
        }
    }
}

FieldRowList WindowKeys::RowsToBuild(const FieldRowList& rows, std::string& pin) const {
    if (!Active()) return rows;
    FieldRowList kept;
    kept.reserve(rows.size());
    for (const FieldRow& row : rows) {
        if (IsKeyCheckRow(row)) continue;
        if (row.field < 0 && row.part < 0 && row.parent < 0 && Trimmed(row.Name()) == "PIN") {
            WipeBytes(pin.data(), pin.size());
            pin.assign(Trimmed(row.Value()));
            continue;
        }
        kept.push_back(row);
    }
    return kept;
}

void WindowKeys::FillBuilt(CommandResult& result, const ParseRequest& request,
                           std::string_view pin) const {
    if (!Active() || !result.Ok()) return;
    std::string problem;
    if (!pin.empty() && !FillMessagePin(result.message, request, keys, pin, problem)) {
        result.Fail(kTextIsoBuildError, problem);
        return;
    }
    CommandResult decoded;
    IsoParser parser;
    parser.Parse(result.message, request, decoded);
    if (!decoded.Ok()) return;
    // Keys set for checking alone, or a message without a MAC (a sign-in), build as they are.
    if (!keys.mak.Empty() && MacFieldOf(decoded.rows, request) != 0) {
        if (!FillMessageMac(result.message, request, keys, problem)) {
            result.Fail(kTextIsoBuildError, problem);
            return;
        }
        parser.Parse(result.message, request, decoded);
    } else if (pin.empty()) {
        return;
    }
    if (decoded.Ok()) result.rows = std::move(decoded.rows);
}

CKeysDlg::CKeysDlg(const WindowKeys& keys, QWidget* parent) : QDialog(parent), m_keys(keys) {
    setWindowTitle(QString::fromUtf8(kTextTitle));
    auto* form = new QFormLayout;
    m_tmk = NewKeyEdit("tmk", this);
    m_pik = NewKeyEdit("pik", this);
    m_mak = NewKeyEdit("mak", this);
    m_tdk = NewKeyEdit("tdk", this);
    const std::array<std::pair<QLineEdit*, const SecretKey*>, 4> boxes{
        {{m_tmk, &keys.keys.tmk}, {m_pik, &keys.keys.pik}, {m_mak, &keys.keys.mak},
         {m_tdk, &keys.keys.tdk}}};
    for (const auto& [edit, key] : boxes) {
        std::string hex = ToHex(key->Bytes());
        edit->setText(QString::fromLatin1(hex.data(), static_cast<qsizetype>(hex.size())));
        WipeBytes(hex.data(), hex.size());
        form->addRow(edit->accessibleName() + u':', edit);
    }
    m_showKeys = NewCheckBox(kTextShowKeys, "showKeys", false, this);
    connect(m_showKeys, &QCheckBox::toggled, this, [boxes](bool show) {
        for (const auto& box : boxes) {
            box.first->setEchoMode(show ? QLineEdit::Normal : QLineEdit::Password);
        }
    });
    form->addRow(QString(), m_showKeys);

    m_macAlgorithm = new QComboBox(this);
    m_macAlgorithm->setObjectName(QStringLiteral("macAlgorithm"));
    m_macAlgorithm->addItem(QString::fromUtf8(kTextAuto));
    for (const MacAlgorithm alg : kMacAlgorithms) {
        const std::string_view name = MacAlgorithmName(alg);
        m_macAlgorithm->addItem(
            QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())));
        if (keys.keys.macAlgorithm == alg) m_macAlgorithm->setCurrentIndex(m_macAlgorithm->count() - 1);
    }
    form->addRow(QString::fromUtf8(kTextMacAlgorithm), m_macAlgorithm);

    m_pinFormat = new QSpinBox(this);
    m_pinFormat->setObjectName(QStringLiteral("pinFormat"));
    m_pinFormat->setRange(0, 4);
    m_pinFormat->setValue(keys.keys.pinFormat);
    form->addRow(QString::fromUtf8(kTextPinFormat), m_pinFormat);

    m_showPin = NewCheckBox(kTextShowPin, "showPin", keys.showPin, this);
    m_remember = NewCheckBox(kTextRemember, "rememberKeys", keys.remember, this);
    form->addRow(QString(), m_showPin);
    form->addRow(QString(), m_remember);

    m_problem = new QLabel(this);
    m_problem->setObjectName(QStringLiteral("keysProblem"));
    m_problem->setTextFormat(Qt::PlainText);
    m_problem->setWordWrap(true);
    m_problem->hide();

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("keysOk"));
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("keysCancel"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    connect(buttons, &QDialogButtonBox::accepted, this, &CKeysDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CKeysDlg::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_problem);
    layout->addWidget(buttons);
}

bool CKeysDlg::ReadKey(QLineEdit* edit, const char* member, SecretKey& key) {
    QString text = edit->text().trimmed();
    QByteArray digits = text.toLatin1();
    WipeText(text);
    key.Wipe();
    const HexStatus status =
        ParseKeyHex(std::string_view(digits.constData(), static_cast<std::size_t>(digits.size())), key);
    WipeText(digits);
    const bool fits = status == HexStatus::Empty ||
                      (status == HexStatus::Ok &&
                       (key.Size() == 8 || key.Size() == 16 || key.Size() == 24));
    if (fits) return true;
    key.Wipe();
    // The member is named; its digits are not repeated.
    m_problem->setText(QString::fromUtf8(kTextWrongKey).arg(QString::fromLatin1(member)));
    m_problem->show();
    edit->setFocus(Qt::OtherFocusReason);
    return false;
}

void CKeysDlg::accept() {
    KeySet& k = m_keys.keys;
    if (!ReadKey(m_tmk, "TMK", k.tmk) || !ReadKey(m_pik, "PIK", k.pik) ||
        !ReadKey(m_mak, "MAK", k.mak) || !ReadKey(m_tdk, "TDK", k.tdk)) {
        return;
    }
    const int alg = m_macAlgorithm->currentIndex();
    k.macAlgorithm = alg <= 0 ? std::nullopt
                              : std::optional<MacAlgorithm>(kMacAlgorithms[alg - 1]);
    k.pinFormat = m_pinFormat->value();
    m_keys.showPin = m_showPin->isChecked();
    m_keys.remember = m_remember->isChecked();
    QDialog::accept();
}

void CKeysDlg::done(int result) {
    ClearKeyBoxes();
    if (result != Accepted) m_keys = WindowKeys{};
    QDialog::done(result);
}

void CKeysDlg::ClearKeyBoxes() {
    for (QLineEdit* edit : {m_tmk, m_pik, m_mak, m_tdk}) {
        edit->clear();
        edit->setEchoMode(QLineEdit::Password);
    }
    m_showKeys->setChecked(false);
}

QString EditWindowKeys(WindowKeys& keys, QWidget* parent) {
    CKeysDlg dialog(keys, parent);
    if (dialog.exec() != QDialog::Accepted) return {};
    keys = dialog.Keys();
    QString problem;
    (void)keys.Store(WindowKeys::FilePath(), problem);
    return problem;
}
