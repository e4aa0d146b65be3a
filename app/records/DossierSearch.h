#pragma once

#include "app/records/Dossiers.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>
#include <vector>

class HistoryStore;

// The Dossiers filter and order at the scale of years of calls, with exactly the results of
// `Dossiers::matches`.
//
// Each record's search text is folded once and kept, as UTF-8, until the store stamps the record as
// changed, so a keystroke costs one byte search per record instead of folding every transcript again.
// The history sorted in the table's order is kept the same way, until the records or the order change.
// Main thread only, like the store it follows.
class DossierSearch {
public:
    explicit DossierSearch(const HistoryStore& store);

    // The store's records in `order`: their positions in the store's list, equal keys in history order.
    const QList<qsizetype>& sorted(const Dossiers::SortOrder& order);

    // The ranks in `sorted(order)` of the records that pass `filter`, ascending.
    QList<qsizetype> matches(const Dossiers::Filter& filter, const Dossiers::SortOrder& order);

    // `TextFolding::fold(Dossiers::searchText(record))` in UTF-8, or nullopt when that text holds a
    // lone surrogate, which UTF-8 cannot carry.
    static std::optional<QByteArray> foldedText(const CallRecord& record);

    // Search texts folded so far: each record once, and again only after it changed.
    qsizetype foldCount() const { return m_folds; }

private:
    struct Entry {
        quint64 revision = 0;
        bool folded = false;
        bool irregular = false; // the folded text has a lone surrogate: kept in `utf16` instead
        QByteArray utf8;
        QString utf16;
    };
    // Follows the store: entries of records that are new or changed since the last look are emptied.
    void sync();
    const Entry& folded(qsizetype position);

    const HistoryStore& m_store;
    quint64 m_revision = 0;
    bool m_synced = false;
    std::vector<Entry> m_entries; // parallel to the store's records
    qsizetype m_folds = 0;

    QList<qsizetype> m_sorted;
    std::optional<Dossiers::SortOrder> m_sortedBy;
};
