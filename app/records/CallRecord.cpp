#include "app/records/CallRecord.h"

#include "app/records/CallPolicy.h"

#include <QDateTime>
#include <QLocale>
#include <cmath>

TranscriptLine TranscriptLine::make(QString speaker, QString text)
{
    return TranscriptLine{QUuid::createUuid(), std::move(speaker), std::move(text)};
}

QString uuidText(const QUuid& id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

QString CallRecord::reference() const
{
    return uuidText(id).left(8);
}

QString CallRecord::phoneLabel() const
{
    return CallPolicy::phoneNumber({caller}).value_or(QStringLiteral("Non communiqué"));
}

QString CallRecord::folderLabel() const
{
    return dossier.value_or(QStringLiteral("Non classé"));
}

QString CallRecord::statusLabel() const
{
    return followUpStatus.value_or(FollowUp::kToDo);
}

QString documentDateText(double secondsSinceReferenceDate)
{
    static const QDateTime reference(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    // A date read from a hand-edited file can be anything; beyond a few thousand years there is
    // nothing sensible to show.
    constexpr double kLimitSeconds = 1e11;
    if (!std::isfinite(secondsSinceReferenceDate) || std::abs(secondsSinceReferenceDate) > kLimitSeconds)
        return QStringLiteral("date inconnue");
    // Whole seconds are shown truncated, as a clock shows them.
    const qint64 msecs = qint64(std::floor(secondsSinceReferenceDate * 1000.0));
    const QDateTime local = reference.addMSecs(msecs).toLocalTime();
    const QLocale locale;
    // The long time format ends with the zone name, which the standard style leaves out.
    QString timeFormat = locale.timeFormat(QLocale::LongFormat);
    timeFormat.remove(QLatin1Char('t'));
    const QString time = locale.toString(local.time(), timeFormat.trimmed());
    const QString date = locale.toString(local.date(), QLocale::LongFormat);
    const QString joiner =
        locale.language() == QLocale::French ? QStringLiteral(" à ") : QStringLiteral(", ");
    return date + joiner + time;
}

QString CallRecord::transcriptDocument() const
{
    QString text;
    text.reserve(512 + transcript.size() * 128 + note.size());
    text += QStringLiteral("TRANSCRIPTION D’APPEL — ORLEA\nRéférence : ");
    text += uuidText(id);
    text += QStringLiteral("\nDate : ");
    text += documentDateText(date);
    text += QStringLiteral("\nType : ");
    text += kind;
    text += QStringLiteral("\nInterlocuteur : ");
    text += caller;
    text += QStringLiteral("\nNuméro affiché : ");
    text += phoneLabel();
    text += QStringLiteral("\nDossier : ");
    text += folderLabel();
    text += QStringLiteral("\nÉtat : ");
    text += statusLabel();
    if (followUpDraft) {
        // The gist above the lines, marked as the AI's: the manager reads it first, and checks it.
        text += QStringLiteral("\n\nRÉSUMÉ (proposé par l’IA)");
        for (const auto& [label, value] : followUpDraft->fields()) {
            text += QLatin1Char('\n');
            text += label;
            text += QStringLiteral(" : ");
            text += value;
        }
    }
    text += QStringLiteral("\n\nTRANSCRIPTION\n");
    if (transcript.isEmpty()) {
        text += QStringLiteral("Aucune parole transcrite.");
    } else {
        for (qsizetype i = 0; i < transcript.size(); ++i) {
            if (i > 0)
                text += QStringLiteral("\n\n");
            text += transcript[i].speaker;
            text += QStringLiteral(" : ");
            text += transcript[i].text;
        }
    }
    text += QStringLiteral("\n\nNOTE DU GESTIONNAIRE\n");
    text += note.isEmpty() ? QStringLiteral("Aucune note.") : note;
    return text;
}

namespace FollowUp {
const QStringList& states()
{
    static const QStringList list{kToDo, kInProgress, kDone};
    return list;
}

bool isValid(const QString& status)
{
    return states().contains(status);
}
} // namespace FollowUp
