#pragma once

#include "app/records/CallRecord.h"

#include <QFrame>
#include <QUuid>
#include <optional>

class AppModel;
class QGridLayout;
class QLabel;
class QPushButton;

// The AI's follow-up draft of one call, in a card: its fields and urgency, and — where the manager
// decides, as long as they have not — "Appliquer" and "Ignorer". Without a draft it shows the status
// line it is given (being prepared, none for this call), or nothing.
class FollowUpDraftView : public QFrame {
    Q_OBJECT
public:
    enum class Decision { Offered, NotOffered };
    FollowUpDraftView(AppModel& model, Decision decision, QWidget* parent = nullptr);

    // Shows the draft of `record`, else `status`; hides itself when there is neither.
    void showRecord(const CallRecord& record, const QString& status = QString());

    QPushButton* applyButton() const { return m_apply; }
    QPushButton* ignoreButton() const { return m_ignore; }

    static const QString kTitle;
    static const QString kApplyHelp;

private:
    void setTone(const QString& tone);

    AppModel& m_model;
    Decision m_decision;
    std::optional<QUuid> m_record;
    std::optional<FollowUpDraft> m_shown;
    QString m_tone;
    QLabel* m_mark = nullptr;
    QLabel* m_status = nullptr;
    QWidget* m_fields = nullptr;
    QGridLayout* m_grid = nullptr;
    QLabel* m_outcome = nullptr;
    QWidget* m_actions = nullptr;
    QPushButton* m_apply = nullptr;
    QPushButton* m_ignore = nullptr;
};
