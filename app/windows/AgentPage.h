#pragma once

#include <QString>
#include <QWidget>

class AppModel;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// The inline agent editor, "Mon agent": company, one of three voices and the greeting instructions,
// with the mission card that leads to the full editor. Like the dashboard's "Définir le rôle de l’agent",
// it is locked while the switchboard listens or talks; what was typed and not saved is dropped when the
// page is left.
class AgentPage : public QWidget {
    Q_OBJECT
public:
    explicit AgentPage(AppModel& model, QWidget* parent = nullptr);

    // Re-reads what it shows from the model (connected to the model's coalesced `changed()`).
    void refresh();

    // The voices the page offers, as (shown name, value).
    static const QList<QPair<QString, QString>> kVoices;

protected:
    void hideEvent(QHideEvent* event) override;

private:
    QWidget* buildEditor();
    QWidget* buildMissionCard();
    void selectVoice(const QString& voice);
    void save();
    // Puts the model's values back into the fields.
    void discardUnsaved();

    AppModel& m_model;
    QLineEdit* m_companyField = nullptr;
    QComboBox* m_voicePicker = nullptr;
    QPlainTextEdit* m_instructionsEditor = nullptr;
    QPushButton* m_saveButton = nullptr;
    QPushButton* m_openSheet = nullptr;
    QLabel* m_lockedNote = nullptr;
    // The model's values last put into the fields: a field is reloaded only when the model's value moves
    // away from it (saved elsewhere), so unrelated changes never wipe what the user is typing.
    QString m_shownCompany;
    QString m_shownVoice;
    QString m_shownInstructions;
};
