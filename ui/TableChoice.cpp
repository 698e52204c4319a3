// The field tables of the interface-type combo: shipped tables, loaded files, and remembering them.
#include "ui/TableChoice.h"

#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <algorithm>

#include "codec/Texts.h"

namespace {

const QString kChoiceKey = QStringLiteral("interfaceType/choice");
const QString kFilesKey = QStringLiteral("interfaceType/tableFiles");

const QString kSettingsOwner = QStringLiteral("Tarnwick");

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

CTableChoice::CTableChoice(QComboBox* combo) : m_combo(combo) {}

CTableChoice::~CTableChoice() = default;

void CTableChoice::Insert(Entry entry, const QString& text, int at) {
    m_combo->insertItem(kBuiltinItems + at, text);
    m_combo->setItemData(kBuiltinItems + at, entry.file.isEmpty() ? QString() : entry.file,
                         Qt::ToolTipRole);
    m_entries.insert(m_entries.begin() + at, std::move(entry));
}

int CTableChoice::Populate() {
    for (const ShippedTable& shipped : ShippedTables()) {
        TableLoad load = LoadJsonTable(shipped.text);
        if (!load.Ok()) continue;
        const QString text = FromUtf8(load.table->name);
        Insert({std::make_unique<FieldTable>(std::move(*load.table)),
                QStringLiteral("shipped:") + FromUtf8(shipped.name),
                {}},
               text, static_cast<int>(m_entries.size()));
    }
    m_combo->addItem(FromUtf8(kTextLoadTableItem));
    const QSettings settings(kSettingsOwner, kSettingsOwner);
    for (const QString& path : settings.value(kFilesKey).toStringList()) {
        TableLoad load = LoadTableFile(QFile::encodeName(path).toStdString());
        if (!load.Ok()) continue;
        const QString text =
            FromUtf8(load.table->name) + QStringLiteral(" (") + QFileInfo(path).fileName() + u')';
        Insert({std::make_unique<FieldTable>(std::move(*load.table)),
                QStringLiteral("file:") + path, path},
               text, static_cast<int>(m_entries.size()));
    }
    const QString choice = settings.value(kChoiceKey).toString();
    int index = 0;
    if (choice.startsWith(QStringLiteral("builtin:"))) {
        index = std::clamp(choice.mid(8).toInt(), 0, kBuiltinItems - 1);
    }
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].key == choice) index = kBuiltinItems + static_cast<int>(i);
    }
    m_combo->setCurrentIndex(index);
    return index;
}

const FieldTable* CTableChoice::TableAt(int index) const {
    const int i = index - kBuiltinItems;
    if (i < 0 || i >= static_cast<int>(m_entries.size())) return nullptr;
    return m_entries[static_cast<std::size_t>(i)].table.get();
}

bool CTableChoice::IsLoadItem(int index) const {
    return index == kBuiltinItems + static_cast<int>(m_entries.size());
}

TableLoad CTableChoice::AddFile(const QString& path) {
    TableLoad load = LoadTableFile(QFile::encodeName(path).toStdString());
    if (!load.Ok()) return load;
    const QString key = QStringLiteral("file:") + path;
    int at = static_cast<int>(m_entries.size());
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].key == key) at = static_cast<int>(i);
    }
    if (at < static_cast<int>(m_entries.size())) {
        m_combo->removeItem(kBuiltinItems + at);
        m_entries.erase(m_entries.begin() + at);
    }
    const QString text =
        FromUtf8(load.table->name) + QStringLiteral(" (") + QFileInfo(path).fileName() + u')';
    Insert({std::make_unique<FieldTable>(*load.table), key, path}, text, at);
    m_combo->setCurrentIndex(kBuiltinItems + at);
    SaveFiles();
    Remember(kBuiltinItems + at);
    return load;
}

void CTableChoice::Remember(int index) const {
    QSettings settings(kSettingsOwner, kSettingsOwner);
    const int i = index - kBuiltinItems;
    if (i >= 0 && i < static_cast<int>(m_entries.size())) {
        settings.setValue(kChoiceKey, m_entries[static_cast<std::size_t>(i)].key);
    } else if (index >= 0 && index < kBuiltinItems) {
        settings.setValue(kChoiceKey, QStringLiteral("builtin:%1").arg(index));
    }
}

void CTableChoice::SaveFiles() const {
    QStringList files;
    for (const Entry& e : m_entries) {
        if (!e.file.isEmpty()) files << e.file;
    }
    QSettings settings(kSettingsOwner, kSettingsOwner);
    settings.setValue(kFilesKey, files);
}
