#pragma once

// Records for the Conversations and Dossiers page tests, and small ways to act on their widgets.

#include "app/common/Clock.h"
#include "app/model/AppModel.h"
#include "app/records/CallRecord.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDateTime>
#include <QHeaderView>
#include <QTableView>
#include <QTest>
#include <optional>

struct CallDetails {
    QString caller;
    QDateTime date;
    std::optional<QString> dossier;
    QStringList callerLines;
    QString kind = QStringLiteral("Appel");
};

inline CallRecord makeCall(const CallDetails& details)
{
    CallRecord record;
    record.id = QUuid::createUuid();
    record.date = secondsSinceReferenceDate(details.date);
    record.caller = details.caller;
    record.kind = details.kind;
    record.dossier = details.dossier;
    record.transcript << TranscriptLine::make(QStringLiteral("Orlea"),
                                              QStringLiteral("Bonjour, que puis-je pour vous ?"));
    for (const QString& line : details.callerLines)
        record.transcript << TranscriptLine::make(QStringLiteral("Interlocuteur"), line);
    return record;
}

// A finished call as a session inserts it: at the top of the history, then the views are told.
inline QUuid insertCall(AppModel& model, const CallDetails& details)
{
    CallRecord record = makeCall(details);
    const QUuid id = record.id;
    model.history().insert(std::move(record));
    model.setStatus(QStringLiteral("Appel enregistré · ") + id.toString()); // any change notifies
    return id;
}

inline QDateTime day(int dayOfMonth, int hour = 10)
{
    return QDateTime(QDate(2026, 11, dayOfMonth), QTime(hour, 0), Qt::LocalTime);
}

// Chooses an entry as a user would (the `activated` signal is the user's choice, not a program's).
inline bool pick(QComboBox* combo, const QString& text)
{
    const int index = combo->findText(text);
    if (index < 0)
        return false;
    combo->setCurrentIndex(index);
    emit combo->activated(index);
    return true;
}

inline QStringList entries(const QComboBox* combo)
{
    QStringList list;
    for (int i = 0; i < combo->count(); ++i)
        list << combo->itemText(i);
    return list;
}

inline void clickHeader(QTableView* table, int column)
{
    QHeaderView* header = table->horizontalHeader();
    const QPoint point(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                       header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, point);
}

inline void clickRow(QTableView* table, int row)
{
    const QRect rect = table->visualRect(table->model()->index(row, 2));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, rect.center());
}

inline QStringList column(const QTableView* table, int columnIndex)
{
    QStringList values;
    for (int row = 0; row < table->model()->rowCount(); ++row)
        values << table->model()->index(row, columnIndex).data().toString();
    return values;
}
