// After the call: the follow-up draft the AI writes in the call's own session, the manager's decision on
// it, and the announcement of urgent calls.

#include "app/model/AppModel.h"
#include "app/model/FollowUpDrafter.h"
#include "app/realtime/RealtimeClient.h"
#include "app/records/Dossiers.h"
#include "platform/notifications/UserNotifications.h"
#include "platform/workspace/Workspace.h"

#include <QPointer>
#include <variant>

namespace {
const QString kDrafting = QStringLiteral("Résumé de l’appel en préparation…");
const QString kNoDraft = QStringLiteral("Pas de résumé pour cet appel.");
} // namespace

bool AppModel::wantsFollowUpDraft(const CallRecord& record) const
{
    if (!m_realtime->isReady())
        return false;
    for (const TranscriptLine& line : record.transcript) {
        if (line.speaker == QLatin1String("Interlocuteur"))
            return true;
    }
    return false;
}

bool AppModel::draftingFollowUp() const
{
    return m_drafter->isActive();
}

void AppModel::startFollowUpDraft(const CallRecord& record)
{
    setFollowUpDraftStatus(kDrafting);
    m_drafter->start(record.id, Dossiers::folders(records()));
}

void AppModel::abandonFollowUpDraft(const QString& reason)
{
    m_drafter->abandon(reason);
}

void AppModel::followUpDraftEnded(const QUuid& id, const std::optional<QString>& answer,
                                  const QString& failure, const std::optional<ConversationUsage>& usage)
{
    std::optional<FollowUpDraft> draft;
    QString problem = failure;
    if (answer) {
        std::variant<FollowUpDraft, QString> checked =
            FollowUpDraft::fromAnswer(*answer, Dossiers::existing(records()));
        if (FollowUpDraft* valid = std::get_if<FollowUpDraft>(&checked))
            draft = *valid;
        else
            problem = std::get<QString>(checked);
    }
    // The record was saved when the call ended; the draft and the final usage (the draft's tokens, or
    // their provision) are added to it now, in one save, and nothing else of it changes.
    if (const CallRecord* saved = m_history.find(id); saved && (draft || (usage && saved->usage != usage))) {
        m_history.update(id, [&](CallRecord& changed) {
            if (usage)
                changed.usage = usage;
            if (draft)
                changed.followUpDraft = draft;
        });
    }
    if (m_lastCall == id)
        setFollowUpDraftStatus(draft ? QString() : kNoDraft);
    markChanged();
    if (!draft) {
        event(QStringLiteral("Résumé de l’appel indisponible : ") + problem);
        return;
    }
    event(draft->urgent ? QStringLiteral("Résumé de l’appel prêt · appel urgent")
                        : QStringLiteral("Résumé de l’appel prêt"));
    if (draft->urgent)
        announceUrgentCall(id);
}

void AppModel::announceUrgentCall(const QUuid& id)
{
    const CallRecord* record = m_history.find(id);
    if (!record || !record->followUpDraft)
        return;
    if (!m_notifications) {
        announceInWindow(id, QStringLiteral("aucun service de notification"));
        return;
    }
    const notifications::NotificationRequest request{
        uuidText(id), QStringLiteral("Appel urgent · ") + record->followUpDraft->callerLabel(record->caller),
        record->followUpDraft->request};
    QPointer<AppModel> self(this);
    // The system asks the user the first time; later it answers from the setting.
    m_notifications->requestAuthorization(
        [self, id, request](bool granted, std::optional<notifications::Error> error) {
            if (!self)
                return;
            if (!granted) {
                self->announceInWindow(id, error ? error->localizedDescription
                                                 : QStringLiteral("notifications non autorisées"));
                return;
            }
            self->m_notifications->add(request, [self, id](std::optional<notifications::Error> refused) {
                if (self && refused)
                    self->announceInWindow(id, refused->localizedDescription);
            });
        });
}

void AppModel::announceInWindow(const QUuid& id, const QString& why)
{
    event(QStringLiteral("Notification impossible (") + why +
          QStringLiteral(") : l’appel urgent est signalé dans la fenêtre"));
    setUrgentBanner(id);
}

void AppModel::applyFollowUpDraft(const QUuid& id)
{
    if (m_history.applyFollowUpDraft(id))
        markChanged();
}

void AppModel::ignoreFollowUpDraft(const QUuid& id)
{
    if (m_history.ignoreFollowUpDraft(id))
        markChanged();
}

void AppModel::openCall(const QUuid& id)
{
    if (!m_history.find(id))
        return;
    setSelectedRecord(id);
    setPage(QStringLiteral("Conversations"));
    if (m_urgentBanner == id)
        setUrgentBanner(std::nullopt);
    // The system may decline to bring us forward; the call is selected all the same.
    m_workspace.activateSelf();
}
