#pragma once

#include <QString>
#include <QWidget>

class AppModel;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;

// The inline agent editor, "Mon agent": company, one of three voices and the greeting instructions,
// with the mission card that leads to the full editor.
class AgentPage : public QWidget {
    Q_OBJECT
public:
    explicit AgentPage(AppModel& model, QWidget* parent = nullptr);

    // Re-reads what it shows from the model (connected to the model's coalesced `changed()`).
    void refresh();

    // The voices the page offers, as (shown name, value).
    static const QList<QPair<QString, QString>> kVoices;

private:
    QWidget* buildEditor();
    QWidget* buildMissionCard();
    void selectVoice(const QString& voice);
    void save();

    AppModel& m_model;
    QLineEdit* m_companyField = nullptr;
    QComboBox* m_voicePicker = nullptr;
    QPlainTextEdit* m_instructionsEditor = nullptr;
    // The model's values last put into the fields: a field is reloaded only when the model's value moves
    // away from it (saved elsewhere), so unrelated changes never wipe what the user is typing.
    QString m_shownCompany;
    QString m_shownVoice;
    QString m_shownInstructions;
};
