// The rows of two decodings compared: which rows changed, came or went.
#include "ui/RowCompare.h"

#include <QHash>

std::vector<RowChange> CompareRows(const std::vector<ShownRow>& before,
                                   const std::vector<ShownRow>& after) {
    // The old rows by name, in order, so that repeated names pair up one by one.
    QHash<QString, std::vector<std::size_t>> byName;
    for (std::size_t i = 0; i < before.size(); ++i) byName[before[i].name].push_back(i);
    QHash<QString, std::size_t> taken;
    std::vector<bool> matched(before.size(), false);
    std::vector<RowChange> changes;
    for (std::size_t i = 0; i < after.size(); ++i) {
        const ShownRow& now = after[i];
        const auto& olds = byName[now.name];
        std::size_t& n = taken[now.name];
        const int row = static_cast<int>(i);
        if (n >= olds.size()) {
            changes.push_back({RowChange::Kind::Added, row, now.name, {}, now.value});
            continue;
        }
        const ShownRow& old = before[olds[n]];
        matched[olds[n]] = true;
        ++n;
        if (old.length != now.length || old.value != now.value) {
            changes.push_back({RowChange::Kind::Changed, row, now.name, old.value, now.value});
        }
    }
    for (std::size_t i = 0; i < before.size(); ++i) {
        if (!matched[i]) changes.push_back({RowChange::Kind::Gone, -1, before[i].name, before[i].value, {}});
    }
    return changes;
}

QString ChangesText(const std::vector<RowChange>& changes) {
    QStringList lines;
    for (const RowChange& c : changes) {
        if (c.kind == RowChange::Kind::Gone) {
            lines << QStringLiteral("%1: 已无 (原为 %2)").arg(c.name, c.before);
        } else if (c.kind == RowChange::Kind::Added) {
            lines << QStringLiteral("%1: 新增 %2").arg(c.name, c.after);
        } else {
            lines << QStringLiteral("%1: %2 → %3").arg(c.name, c.before, c.after);
        }
    }
    return lines.join(QLatin1Char('\n'));
}
