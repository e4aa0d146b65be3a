#pragma once

#include "app/windows/AgentDraft.h"

#include <QDialog>
#include <QPointer>

class AppModel;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QToolButton;
class QWidget;

// The full agent editor sheet, "Mon assistant IA": examples, company, tone, voice and mission. It edits
// a draft loaded when it opens; nothing reaches the model until one of its save buttons is pressed.
class AgentSetupWindow : public QDialog {
    Q_OBJECT
public:
    explicit AgentSetupWindow(AppModel& model, QWidget* parent = nullptr);

    // Re-reads what it shows from the model (connected to the model's coalesced `changed()`).
    void refresh();

    const AgentDraft& draft() const { return m_draft; }
    // The Mac conversation test presented over this sheet, while it is open.
    QDialog* conversationTest() const { return m_test; }

    static const QString kCustomVoiceDocumentation;

private:
    QWidget* buildExampleSection();
    QWidget* buildCompanySection();
    QWidget* buildVoiceSection();
    QWidget* buildMissionSection();
    void showDraft();
    void useExample();
    void saveAndTalk();
    void saveAndClose();

    AppModel& m_model;
    AgentDraft m_draft;
    QComboBox* m_templatePicker = nullptr;
    QLineEdit* m_companyField = nullptr;
    QComboBox* m_tonePicker = nullptr;
    QComboBox* m_voicePicker = nullptr;
    QToolButton* m_customVoiceToggle = nullptr;
    QWidget* m_customVoiceDetails = nullptr;
    QPlainTextEdit* m_missionEditor = nullptr;
    QPointer<QDialog> m_test;
};
