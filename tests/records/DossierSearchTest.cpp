#include "app/records/DossierSearch.h"

#include "app/common/Clock.h"
#include "app/common/TextFolding.h"
#include "app/records/HistoryFixture.h"
#include "app/records/HistoryStore.h"
#include "tests/support/TestDataHome.h"

#include <gtest/gtest.h>
#include <random>

namespace {

// What French calls really hold beside plain letters: ligatures, decomposed accents, typographic
// apostrophes and spaces, a ß, an emoji, and now and then a broken character from a bad transcription.
const QStringList kOddPieces{
    QStringLiteral("œ"),      QStringLiteral("Œ"),  QStringLiteral("æ"),  QStringLiteral("Æ"),
    QStringLiteral("ß"),      QStringLiteral("é"),  QStringLiteral("É"),  QStringLiteral("e\u0301"),
    QStringLiteral("ç"),      QStringLiteral("Ç"),  QStringLiteral("’"),  QStringLiteral("«\u00A0"),
    QStringLiteral("\u202F"), QStringLiteral("ﬁ"),  QStringLiteral("İ"),  QStringLiteral("ǅ"),
    QStringLiteral("😀"),      QStringLiteral("Ω"),  QStringLiteral("ſ"),  QStringLiteral("…"),
    QStringLiteral("oe"),     QStringLiteral("OE"), QStringLiteral("ss"), QStringLiteral("\u00A0"),
    QString(QChar(0xD83D)),   QStringLiteral("È"),  QStringLiteral("à"),  QStringLiteral("Ï"),
};

QString mutate(const QString& text, std::mt19937& random)
{
    QString out;
    for (QChar c : text) {
        switch (random() % 24) {
        case 0:
            out += c.toUpper();
            break;
        case 1:
            out += c.toLower();
            break;
        case 2:
            out += kOddPieces[int(random() % kOddPieces.size())];
            out += c;
            break;
        default:
            out += c;
        }
    }
    return out;
}

// A query as someone types it: a piece of what was said, in any case, with or without its accents and
// ligatures.
QString queryFrom(const QString& text, std::mt19937& random)
{
    if (text.isEmpty())
        return QStringLiteral("e");
    const qsizetype start = qsizetype(random() % text.size());
    QString query = text.mid(start, 1 + qsizetype(random() % 12));
    switch (random() % 5) {
    case 0:
        query = query.toUpper();
        break;
    case 1:
        query = TextFolding::fold(query);
        break;
    case 2:
        query.replace(QStringLiteral("œ"), QStringLiteral("oe"))
            .replace(QStringLiteral("e"), QStringLiteral("é"));
        break;
    case 3:
        query = mutate(query, random);
        break;
    default:
        break;
    }
    return query;
}

QList<QUuid> ids(const QList<CallRecord>& records)
{
    QList<QUuid> list;
    for (const CallRecord& record : records)
        list << record.id;
    return list;
}

} // namespace

// The search that keeps folded texts must find exactly what the plain filter finds, in the same order,
// and must notice a record that changed.
TEST(DossierSearch, FindsWhatThePlainFilterFindsOnARandomFrenchHistory)
{
    TestDataHome home;
    std::mt19937 random(20261208);
    QList<CallRecord> records = HistoryFixture::generate(160, 818431503.25, 7, 6);
    for (CallRecord& record : records) {
        record.caller = mutate(record.caller, random);
        record.note = mutate(record.note, random);
        if (record.dossier && random() % 2)
            record.dossier = mutate(*record.dossier, random);
        for (TranscriptLine& line : record.transcript)
            line.text = mutate(line.text, random);
        // Some calls with the AI's draft, a few of them urgent.
        if (random() % 3 == 0) {
            FollowUpDraft draft;
            draft.request = mutate(QStringLiteral("Fuite d’eau sous l’évier"), random);
            draft.urgent = random() % 2 == 0;
            draft.dossier = QStringLiteral("Lilas");
            record.followUpDraft = draft;
        }
    }
    HistoryFixture::write(records);
    ManualClock clock;
    HistoryStore store(clock, [](const QString& message) { FAIL() << message.toStdString(); });
    store.load();
    ASSERT_EQ(store.records().size(), records.size());
    DossierSearch search(store);

    QStringList queries{QString(),
                        QStringLiteral(" "),
                        QStringLiteral("e"),
                        QStringLiteral("É"),
                        QStringLiteral("oe"),
                        QStringLiteral("œ"),
                        QStringLiteral("ss"),
                        QStringLiteral("ß"),
                        QStringLiteral("fi"),
                        QStringLiteral("ﬁ"),
                        QStringLiteral("\u0301"),
                        QStringLiteral("non classe"),
                        QStringLiteral("NON COMMUNIQUÉ"),
                        QStringLiteral("😀"),
                        QString(QChar(0xD83D)),
                        QStringLiteral("chauffe-eau"),
                        QStringLiteral("l’"),
                        QStringLiteral("l'")};
    for (int i = 0; i < 90; ++i) {
        const CallRecord& record = store.records()[qsizetype(random() % store.records().size())];
        const QString source = random() % 3 ? record.transcript[int(random() % record.transcript.size())].text
                                            : Dossiers::searchText(record);
        queries << queryFrom(source, random);
    }
    const QStringList folders = Dossiers::folderFilterEntries(store.records());
    ASSERT_TRUE(folders.contains(Dossiers::kUrgent));
    const QStringList states = Dossiers::statusFilterEntries();

    auto expectSame = [&](const Dossiers::Filter& filter, const Dossiers::SortOrder& order) {
        QList<CallRecord> found;
        const QList<qsizetype>& sorted = search.sorted(order);
        for (qsizetype rank : search.matches(filter, order))
            found << store.records()[sorted[rank]];
        const QList<CallRecord> expected = Dossiers::matches(store.records(), filter, order);
        EXPECT_EQ(ids(found), ids(expected))
            << "query « " << filter.search.toStdString() << " » (" << filter.search.size()
            << " units), dossier « " << filter.folder.toStdString() << " », état « "
            << filter.status.toStdString() << " », column " << int(order.column)
            << (order.ascending ? " ascending" : " descending") << ": " << found.size() << " found, "
            << expected.size() << " expected";
    };
    for (qsizetype i = 0; i < queries.size(); ++i) {
        Dossiers::Filter filter;
        filter.search = queries[i];
        // Most queries over every dossier and state, as typed; some narrowed as well.
        if (i % 4 == 3) {
            filter.folder = folders[qsizetype(random() % folders.size())];
            filter.status = states[qsizetype(random() % states.size())];
        }
        const Dossiers::SortOrder order{Dossiers::SortColumn(random() % 6), random() % 2 == 0};
        expectSame(filter, order);
    }
    // The urgent calls, in every state, with and without a query.
    for (const QString& query : {QString(), QStringLiteral("e"), QStringLiteral("FUITE")}) {
        for (const QString& state : states) {
            Dossiers::Filter filter;
            filter.search = query;
            filter.folder = Dossiers::kUrgent;
            filter.status = state;
            const Dossiers::SortOrder order{Dossiers::SortColumn(random() % 6), random() % 2 == 0};
            expectSame(filter, order);
        }
    }
    Dossiers::Filter urgent;
    urgent.folder = Dossiers::kUrgent;
    const QList<qsizetype> urgentCalls = search.matches(urgent, Dossiers::SortOrder{});
    EXPECT_GT(urgentCalls.size(), 0);
    EXPECT_LT(urgentCalls.size(), store.records().size()) << "only the calls the AI found urgent";
    const qsizetype foldsOnce = search.foldCount();
    EXPECT_EQ(foldsOnce, store.records().size()) << "each record's text is folded once";

    // One record changes: only that one is folded again, and its new words are found.
    const QUuid changed = store.records()[42].id;
    ASSERT_TRUE(store.updateNote(changed, QStringLiteral("Cœur du problème : la VMC")));
    const Dossiers::SortOrder newest;
    Dossiers::Filter filter;
    filter.search = QStringLiteral("coeur du probleme");
    expectSame(filter, newest);
    filter.search = QStringLiteral("CŒUR DU PROBLÈME");
    expectSame(filter, newest);
    EXPECT_EQ(search.matches(filter, newest).size(), 1);
    EXPECT_EQ(search.foldCount(), foldsOnce + 1) << "only the changed record is folded again";

    // A new call at the top shifts every position; the kept texts still belong to their records.
    CallRecord fresh = HistoryStore::demoRecord();
    fresh.id = QUuid::createUuid();
    fresh.date = 818431503.25 + 60;
    store.insert(fresh);
    filter.search = QStringLiteral("robinet d’arret");
    expectSame(filter, newest);
    filter.search = QStringLiteral("la vmc");
    expectSame(filter, newest);
    EXPECT_EQ(search.foldCount(), foldsOnce + 2) << "the new call is folded, the others are kept";
}
