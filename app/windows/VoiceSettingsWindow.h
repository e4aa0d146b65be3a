#pragma once

#include "app/windows/VoiceSettingsDraft.h"

#include <QDialog>
#include <QList>
#include <QPointer>
#include <QPushButton>
#include <memory>

class AppModel;
class QLabel;
class QPlainTextEdit;
class QSlider;

// The voice style and equaliser sheet, "Votre voix, à votre goût". The style text is a draft applied on
// request; each equaliser slider writes the model at once, so the change is heard during a conversation.
class VoiceSettingsWindow : public QDialog {
    Q_OBJECT
public:
    explicit VoiceSettingsWindow(AppModel& model, QWidget* parent = nullptr);
    // Edits `draft`, which the caller keeps for the sheet's lifetime.
    VoiceSettingsWindow(AppModel& model, VoiceSettingsDraft& draft, QWidget* parent = nullptr);
    ~VoiceSettingsWindow() override;

    // Re-reads what it shows from the model (connected to the model's coalesced `changed()`).
    void refresh();

    static const QStringList kBandLabels;
    static const QString kGentlePreset;
    // Half-decibel steps: the sliders are integer.
    static constexpr int kStepsPerDb = 2;

    const VoiceSettingsDraft& draft() const { return *m_draft; }
    // "+1.5 dB", "-3.0 dB", "+0.0 dB".
    static QString formatGain(float gainDb);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void build();
    QWidget* buildStyleSection();
    QWidget* buildEqualizerSection();
    void setStyleText(const QString& text);
    void styleEdited();
    void bandMoved(int band, int steps);
    void flatten();

    AppModel& m_model;
    std::unique_ptr<VoiceSettingsDraft> m_ownDraft;
    VoiceSettingsDraft* m_draft;
    QPlainTextEdit* m_styleEditor = nullptr;
    QPushButton* m_applyButton = nullptr;
    QLabel* m_styleStatus = nullptr;
    QList<QSlider*> m_sliders;
    QList<QLabel*> m_values;
};

// The button "Régler la voix et l’égaliseur" that presents `VoiceSettingsWindow` over its own window.
class VoiceSettingsLauncher : public QPushButton {
    Q_OBJECT
public:
    explicit VoiceSettingsLauncher(AppModel& model, QWidget* parent = nullptr);

    const VoiceSettingsDraft& draft() const { return m_draft; }
    // The sheet while it is shown.
    VoiceSettingsWindow* sheet() const { return m_sheet; }

private:
    void present();

    AppModel& m_model;
    VoiceSettingsDraft m_draft;
    QPointer<VoiceSettingsWindow> m_sheet;
};
