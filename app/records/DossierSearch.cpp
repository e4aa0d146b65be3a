#include "app/records/DossierSearch.h"

#include "app/common/TextFolding.h"
#include "app/records/HistoryStore.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

// The folding of each character whose folding never depends on its neighbours: Latin letters up to the
// combining marks (U+0300), and general punctuation with the currency signs (U+2000..U+20CF). None of
// them is a combining mark or composes with one once the marks are gone, so folding a text made of them
// is folding each character and putting the pieces together. Any other character sends the whole text
// through `TextFolding::fold`.
class FoldTable {
public:
    // The most UTF-8 bytes one character folds to in the table.
    static constexpr quint8 kMaxBytes = 7;

    static const FoldTable& get()
    {
        static const FoldTable table;
        return table;
    }

    // Appends the folded UTF-8 of every unit of `text`; false, leaving `out` partly written, at the
    // first character the table does not hold. `out` must have room for kMaxBytes per unit.
    bool append(QByteArray& out, const QString& text) const
    {
        const char16_t* s = reinterpret_cast<const char16_t*>(text.constData());
        const char16_t* const end = s + text.size();
        const qsizetype size = out.size();
        out.resize(size + text.size() * kMaxBytes);
        char* p = out.data() + size;
        for (; s < end; ++s) {
            const char16_t c = *s;
            const Piece* piece;
            if (c < kLatinEnd)
                piece = &m_latin[c];
            else if (c >= kPunctuationStart && c < kPunctuationEnd)
                piece = &m_punctuation[c - kPunctuationStart];
            else
                return false;
            if (piece->size > kMaxBytes)
                return false;
            std::memcpy(p, piece->bytes, kMaxBytes);
            p += piece->size;
        }
        out.resize(p - out.constData());
        return true;
    }

private:
    static constexpr char16_t kLatinEnd = 0x300;
    static constexpr char16_t kPunctuationStart = 0x2000;
    static constexpr char16_t kPunctuationEnd = 0x20D0;
    struct Piece {
        quint8 size = 0xFF; // more than kMaxBytes: not held
        char bytes[kMaxBytes] = {};
    };

    FoldTable()
    {
        for (char16_t c = 0; c < kLatinEnd; ++c)
            fill(m_latin[c], c);
        for (char16_t c = kPunctuationStart; c < kPunctuationEnd; ++c)
            fill(m_punctuation[c - kPunctuationStart], c);
    }

    static void fill(Piece& piece, char16_t c)
    {
        const QByteArray folded = TextFolding::fold(QString(QChar(c))).toUtf8();
        if (folded.size() > kMaxBytes)
            return;
        piece.size = quint8(folded.size());
        std::memcpy(piece.bytes, folded.constData(), size_t(folded.size()));
    }

    std::array<Piece, kLatinEnd> m_latin;
    std::array<Piece, kPunctuationEnd - kPunctuationStart> m_punctuation;
};

bool hasLoneSurrogate(const QString& text)
{
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < size && text[i + 1].isLowSurrogate())
            ++i;
        else if (c.isSurrogate())
            return true;
    }
    return false;
}

// The fast fold of the search text, part by part as `Dossiers::searchText` joins them.
bool foldParts(const CallRecord& record, QByteArray& out)
{
    const FoldTable& table = FoldTable::get();
    const QStringList parts = Dossiers::searchParts(record);
    qsizetype size = parts.size();
    for (const QString& part : parts)
        size += part.size();
    out.reserve(size * FoldTable::kMaxBytes);
    for (qsizetype i = 0; i < parts.size(); ++i) {
        if (i > 0)
            out += ' ';
        if (!table.append(out, parts[i]))
            return false;
    }
    out.squeeze();
    return true;
}

} // namespace

DossierSearch::DossierSearch(const HistoryStore& store) : m_store(store) {}

std::optional<QByteArray> DossierSearch::foldedText(const CallRecord& record)
{
    QByteArray utf8;
    if (foldParts(record, utf8))
        return utf8;
    const QString folded = TextFolding::fold(Dossiers::searchText(record));
    if (hasLoneSurrogate(folded))
        return std::nullopt;
    return folded.toUtf8();
}

void DossierSearch::sync()
{
    if (m_synced && m_store.revision() == m_revision)
        return;
    const QList<CallRecord>& records = m_store.records();
    // Records only ever arrive at the top or change in place, so an entry is found again by skipping the
    // newcomers; anything else folds again, which is merely slower.
    std::vector<Entry> entries(size_t(records.size()));
    const qsizetype added = records.size() - qsizetype(m_entries.size());
    for (qsizetype i = 0; i < records.size(); ++i) {
        const qsizetype old = i - added;
        const quint64 revision = m_store.revisionOf(i);
        if (old >= 0 && old < qsizetype(m_entries.size()) && m_entries[size_t(old)].revision == revision)
            entries[size_t(i)] = std::move(m_entries[size_t(old)]);
        entries[size_t(i)].revision = revision;
    }
    m_entries = std::move(entries);
    m_revision = m_store.revision();
    m_synced = true;
    m_sortedBy.reset();
}

const DossierSearch::Entry& DossierSearch::folded(qsizetype position)
{
    Entry& entry = m_entries[size_t(position)];
    if (entry.folded)
        return entry;
    const CallRecord& record = m_store.records()[position];
    if (std::optional<QByteArray> utf8 = foldedText(record)) {
        entry.utf8 = std::move(*utf8);
    } else {
        entry.irregular = true;
        entry.utf16 = TextFolding::fold(Dossiers::searchText(record));
    }
    entry.folded = true;
    ++m_folds;
    return entry;
}

const QList<qsizetype>& DossierSearch::sorted(const Dossiers::SortOrder& order)
{
    sync();
    if (m_sortedBy == order)
        return m_sorted;
    const QList<CallRecord>& records = m_store.records();
    m_sorted.resize(records.size());
    for (qsizetype i = 0; i < records.size(); ++i)
        m_sorted[i] = i;
    // A stable sort of the whole history: any subset of it keeps the order that `Dossiers::matches`
    // would give that subset.
    std::stable_sort(m_sorted.begin(), m_sorted.end(), [&](qsizetype a, qsizetype b) {
        const int sign = Dossiers::compare(records[a], records[b], order.column);
        return order.ascending ? sign < 0 : sign > 0;
    });
    m_sortedBy = order;
    return m_sorted;
}

QList<qsizetype> DossierSearch::matches(const Dossiers::Filter& filter, const Dossiers::SortOrder& order)
{
    const QList<qsizetype>& positions = sorted(order);
    const QList<CallRecord>& records = m_store.records();
    const bool everyFolder = filter.folder == Dossiers::kAllFolders;
    const bool everyState = filter.status == Dossiers::kAllStates;
    const QString query = filter.search.isEmpty() ? QString() : TextFolding::fold(filter.search);
    // A lone surrogate in the query can match half of a pair in the text, which UTF-8 cannot express:
    // such a query is answered the plain way.
    const bool plain = !query.isEmpty() && hasLoneSurrogate(query);
    const QByteArray needle = query.toUtf8();
    QList<qsizetype> ranks;
    for (qsizetype rank = 0; rank < positions.size(); ++rank) {
        const qsizetype position = positions[rank];
        const CallRecord& record = records[position];
        if ((!everyFolder || !everyState) && !Dossiers::passesFolderAndStatus(record, filter))
            continue;
        if (filter.search.isEmpty() || query.isEmpty()) {
            // An empty query passes; so does one that folds to nothing, as every text contains it.
            ranks.append(rank);
            continue;
        }
        bool found;
        if (plain) {
            found = Dossiers::passes(record, filter);
        } else {
            const Entry& entry = folded(position);
            found = entry.irregular ? entry.utf16.contains(query)
                                    : ::memmem(entry.utf8.constData(), size_t(entry.utf8.size()),
                                               needle.constData(), size_t(needle.size())) != nullptr;
        }
        if (found)
            ranks.append(rank);
    }
    return ranks;
}
