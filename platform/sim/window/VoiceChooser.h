#pragma once

#include "platform/sim/audio/InputSource.h"

#include <QString>
#include <QWidget>
#include <functional>
#include <memory>

class QComboBox;
class QLabel;
class QPushButton;

namespace sim {

// A sound for the simulated Mac to play: silence, one of a few tones, the French caller phrases (recorded
// next to the program, or spoken by the synthesiser), or a WAV file the person picks.
class VoiceChooser final : public QWidget {
    Q_OBJECT
public:
    // `withSilence`: offers "Silence" first (the Mac's microphone); a caller always says something.
    explicit VoiceChooser(bool withSilence, QWidget* parent = nullptr);

    // A new source for the current choice (each call gets its own, so tones restart at phase zero).
    // Null with `error` set when the chosen file cannot be read; null without error for silence.
    std::shared_ptr<InputSource> makeSource(QString* error = nullptr) const;
    QString currentLabel() const;
    // Chooses a WAV file as if picked in the file dialog.
    void chooseFile(const QString& path);
    QComboBox* combo() const { return m_combo; }
    // Where the synthesised caller phrases are kept.
    void setCacheFolder(const QString& folder) { m_cacheFolder = folder; }

    // Offers "Vous, au micro de cet ordinateur" (the person at the computer) last but one; `source` makes
    // the person's voice when it is chosen.
    void setPersonOffered(bool offered);
    bool isPersonChosen() const;
    std::function<std::shared_ptr<InputSource>()> personSource;
    static QString personLabel();

    // The French caller phrases shipped with the stand-in, when their recordings exist.
    static QStringList callerPhraseFiles();

signals:
    void choiceChanged();

private:
    void pickFile();
    void updateFileButton();

    QComboBox* m_combo;
    QPushButton* m_fileButton;
    QString m_cacheFolder;
};

} // namespace sim
