// The field tables of the interface-type combo: shipped tables, loaded files, and remembering them.
#pragma once

#include <QString>
#include <memory>
#include <vector>

#include "codec/FieldTable.h"
#include "tables/TableFile.h"

class QComboBox;

/// After the combo's three built-in items come the shipped tables by name, then the table files
/// the user loaded, then the item "载入域定义文件…". The choice and the loaded files are kept in
/// the settings and restored by Populate.
class CTableChoice {
public:
    static constexpr int kBuiltinItems = 3;

    explicit CTableChoice(QComboBox* combo);
    ~CTableChoice();
    CTableChoice(const CTableChoice&) = delete;
    CTableChoice& operator=(const CTableChoice&) = delete;

    /// Adds the items after the built-in ones, the remembered files among them (a file that no
    /// longer loads is left out), and selects the remembered choice; its index.
    int Populate();
    /// The table of an item; null for the built-in items and the load item.
    [[nodiscard]] const FieldTable* TableAt(int index) const;
    [[nodiscard]] bool IsLoadItem(int index) const;
    /// Loads a table file and adds it as an item, selected (the item of the same file is
    /// replaced). The problems when it does not load; nothing changes then.
    TableLoad AddFile(const QString& path);
    /// Keeps the choice of an item in the settings.
    void Remember(int index) const;

private:
    struct Entry {
        std::unique_ptr<FieldTable> table;
        QString key;   ///< "shipped:NAME" or "file:PATH"
        QString file;  ///< the path of a loaded file; empty for a shipped table
    };
    void Insert(Entry entry, const QString& text, int at);
    void SaveFiles() const;

    QComboBox* m_combo;
    std::vector<Entry> m_entries;  ///< item kBuiltinItems + i
};
