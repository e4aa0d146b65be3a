#include "app/records/FollowUpDraft.h"

#include "app/common/TextFolding.h"
#include "app/records/Dossiers.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace {

// A model often wraps its JSON in a Markdown code block despite being told not to; the block is all
// that is taken off.
QString withoutCodeFence(const QString& text)
{
    static const QRegularExpression fence(QStringLiteral("^```[A-Za-z]*\\s*\\n([\\s\\S]*)\\n\\s*```$"));
    const QRegularExpressionMatch match = fence.match(text);
    return match.hasMatch() ? match.captured(1) : text;
}

// One field of the answer: a string (null and absent read as empty), on one line.
std::optional<QString> field(const QJsonObject& object, const char* key, QString* problem)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isUndefined() || value.isNull())
        return QString();
    if (!value.isString()) {
        *problem = QStringLiteral("champ « %1 » invalide").arg(QLatin1String(key));
        return std::nullopt;
    }
    const QString text = value.toString().simplified();
    if (text.size() > FollowUpDraft::kMaxFieldCharacters) {
        *problem =
            QStringLiteral("champ « %1 » trop long (%2 caractères)").arg(QLatin1String(key)).arg(text.size());
        return std::nullopt;
    }
    return text;
}

} // namespace

QString FollowUpDraft::urgencyWord() const
{
    return urgent ? QStringLiteral("urgent") : QStringLiteral("normal");
}

QString FollowUpDraft::urgencyLabel() const
{
    const QString word = urgent ? QStringLiteral("Urgent") : QStringLiteral("Normal");
    return urgencyReason.isEmpty() ? word : word + QStringLiteral(" · ") + urgencyReason;
}

QString FollowUpDraft::callerLabel(const QString& callerText) const
{
    return callerName.isEmpty() ? callerText : callerName;
}

QList<std::pair<QString, QString>> FollowUpDraft::fields() const
{
    const QList<std::pair<QString, QString>> all{
        {QStringLiteral("Appelant"), callerName},    {QStringLiteral("Rappel"), callbackNumber},
        {QStringLiteral("Logement"), address},       {QStringLiteral("Demande"), request},
        {QStringLiteral("Urgence"), urgencyLabel()}, {QStringLiteral("Dossier suggéré"), dossier},
    };
    QList<std::pair<QString, QString>> shown;
    for (const auto& entry : all) {
        if (!entry.second.isEmpty())
            shown.append(entry);
    }
    return shown;
}

std::variant<FollowUpDraft, QString> FollowUpDraft::fromAnswer(const QString& text,
                                                               const QStringList& existingDossiers)
{
    if (text.size() > kMaxCharacters)
        return QStringLiteral("réponse trop longue (%1 caractères)").arg(text.size());
    QJsonParseError parseError{};
    const QJsonDocument document =
        QJsonDocument::fromJson(withoutCodeFence(text.trimmed()).toUtf8(), &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return QStringLiteral("réponse illisible (un objet JSON était attendu)");
    const QJsonObject object = document.object();

    QString problem;
    FollowUpDraft draft;
    const std::pair<const char*, QString*> fields[] = {
        {"caller_name", &draft.callerName},
        {"callback_number", &draft.callbackNumber},
        {"address", &draft.address},
        {"request", &draft.request},
        {"urgency_reason", &draft.urgencyReason},
        {"dossier", &draft.dossier},
    };
    for (const auto& [key, target] : fields) {
        const std::optional<QString> value = field(object, key, &problem);
        if (!value)
            return problem;
        *target = *value;
    }
    const std::optional<QString> urgency = field(object, "urgency", &problem);
    if (!urgency)
        return problem;
    if (urgency->compare(QLatin1String("urgent"), Qt::CaseInsensitive) == 0)
        draft.urgent = true;
    else if (urgency->compare(QLatin1String("normal"), Qt::CaseInsensitive) != 0)
        return QStringLiteral("urgence « %1 » inconnue").arg(*urgency);
    if (draft.request.isEmpty())
        return QStringLiteral("demande absente");
    if (draft.dossier.isEmpty())
        return QStringLiteral("dossier suggéré vide");
    if (Dossiers::isReservedName(draft.dossier))
        return QStringLiteral("dossier suggéré « %1 » réservé").arg(draft.dossier);
    // "lilas" for an existing "Lilas" files the call with the others, not into a twin dossier.
    const QString folded = TextFolding::fold(draft.dossier);
    for (const QString& name : existingDossiers) {
        if (TextFolding::fold(name) == folded) {
            draft.dossier = name;
            break;
        }
    }
    return draft;
}
