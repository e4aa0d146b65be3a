#pragma once

#include <QWidget>

class AppModel;
class FollowUpDraftView;
class QFrame;
class QLabel;
class QPushButton;
class TranscriptView;
class UsageCounterView;

// The dashboard, "Le standard".
class DashboardPage : public QWidget {
    Q_OBJECT
public:
    explicit DashboardPage(AppModel& model, QWidget* parent = nullptr);

    // Re-reads what it shows from the model (connected to the model's coalesced `changed()`).
    void refresh();

    // The status card's label for the model's state: "CONVERSATION", "STANDARD ACTIF" or "STANDARD EN PAUSE".
    static QString statusLabel(bool busy, bool armed);

    // The status card's heading says the state in a few words; a longer status (the Mac audio check's
    // running report, a diagnostic) goes under it, wrapped and selectable.
    struct StatusLines {
        QString heading;
        QString diagnostic;
    };
    static constexpr int kHeadingMaxCharacters = 48;
    static StatusLines statusLines(const QString& status, bool busy, bool armed, bool checkingMacAudio);

private:
    QWidget* buildHeading();
    QWidget* buildReadinessBanner();
    QWidget* buildStatusCard();
    QWidget* buildInterventionRow();
    QWidget* buildTryCards();
    QWidget* buildLiveTranscript();
    QWidget* buildChecklist();
    void showDemonstration();
    void refreshStatusCard();
    void refreshLastCallDraft();

    AppModel& m_model;
    QPushButton* m_defineAgent = nullptr;
    QPushButton* m_talkOnMac = nullptr;

    QFrame* m_readinessBanner = nullptr;
    QLabel* m_readinessIssues = nullptr;

    QFrame* m_statusCard = nullptr;
    QString m_statusTone;
    QLabel* m_statusSymbol = nullptr;
    QLabel* m_statusLabel = nullptr;
    QLabel* m_status = nullptr;
    QLabel* m_detail = nullptr;
    QLabel* m_statusDiagnostic = nullptr;
    QLabel* m_relayStatus = nullptr;
    QLabel* m_audioDiagnostic = nullptr;
    QPushButton* m_toggleArmed = nullptr;
    QPushButton* m_stopAgent = nullptr;
    QPushButton* m_joinCall = nullptr;
    QPushButton* m_outgoingTest = nullptr;

    QLabel* m_interventionSymbol = nullptr;
    QLabel* m_interventionText = nullptr;
    QPushButton* m_intervention = nullptr;

    UsageCounterView* m_usage = nullptr;
    QLabel* m_responsiveness = nullptr;
    QPushButton* m_hangUp = nullptr;
    QPushButton* m_callTest = nullptr;
    TranscriptView* m_transcript = nullptr;
    FollowUpDraftView* m_lastCallDraft = nullptr;

    QLabel* m_keyTick = nullptr;
    QLabel* m_micTick = nullptr;
    QLabel* m_accessibilityTick = nullptr;
};
