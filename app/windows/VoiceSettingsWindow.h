#pragma once

#include <QDialog>
#include <QPushButton>

class AppModel;

// The voice style and equaliser sheet, "Votre voix, à votre goût".
class VoiceSettingsWindow : public QDialog {
    Q_OBJECT
public:
    explicit VoiceSettingsWindow(AppModel& model, QWidget* parent = nullptr);

    // Re-reads what it shows from the model (connected to the model's coalesced `changed()`).
    void refresh();

private:
    AppModel& m_model;
};

// The button "Régler la voix et l’égaliseur" that presents `VoiceSettingsWindow` over its own window.
class VoiceSettingsLauncher : public QPushButton {
    Q_OBJECT
public:
    explicit VoiceSettingsLauncher(AppModel& model, QWidget* parent = nullptr);

private:
    AppModel& m_model;
};
