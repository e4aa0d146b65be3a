#include "platform/sim/window/VoiceChooser.h"

#include "platform/sim/mac/PhoneCallAudio.h"
#include "platform/sim/window/CallerPhrases.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QPushButton>
#include <QSignalBlocker>

namespace sim {
namespace {

enum class Kind { Silence, Tone, File, Phrases, Person };

constexpr float kToneAmplitude = 0.3f;

struct ToneChoice {
    const char* label;
    double frequencyHz;
};
constexpr ToneChoice kTones[] = {
    {"Tonalité grave (220 Hz)", 220}, {"Tonalité (440 Hz)", 440}, {"Tonalité aiguë (880 Hz)", 880}};

const QString kFileItem = QStringLiteral("Fichier WAV…");
constexpr int kShownNameLength = 20;

QString promptsFolder()
{
    const QString source = qEnvironmentVariable("ORLEA_SOURCE_DIR");
    const QStringList candidates = {
        source.isEmpty() ? QString() : source + QStringLiteral("/tools/realtime-standin/prompts"),
        QDir::currentPath() + QStringLiteral("/tools/realtime-standin/prompts")};
    for (const QString& folder : candidates)
        if (!folder.isEmpty() && QFileInfo(folder).isDir())
            return folder;
    return {};
}

} // namespace

QStringList VoiceChooser::callerPhraseFiles()
{
    // The stand-in's own prompts are the assistant's voice; only recordings named for the caller fit here.
    const QString folder = promptsFolder();
    if (folder.isEmpty())
        return {};
    QStringList files;
    for (const QFileInfo& info : QDir(folder).entryInfoList(
             {QStringLiteral("caller*.wav"), QStringLiteral("appelant*.wav")}, QDir::Files, QDir::Name))
        files.append(info.absoluteFilePath());
    return files;
}

VoiceChooser::VoiceChooser(bool withSilence, QWidget* parent)
    : QWidget(parent), m_combo(new QComboBox(this)),
      m_fileButton(new QPushButton(QStringLiteral("Choisir…"), this))
{
    if (withSilence)
        m_combo->addItem(QStringLiteral("Silence"), QVariantList{int(Kind::Silence)});
    if (CallerPhrases::available())
        m_combo->addItem(QStringLiteral("Phrases de l’appelant (voix de synthèse)"),
                         QVariantList{int(Kind::Phrases)});
    for (const ToneChoice& tone : kTones)
        m_combo->addItem(QString::fromUtf8(tone.label), QVariantList{int(Kind::Tone), tone.frequencyHz});
    for (const QString& file : callerPhraseFiles())
        m_combo->addItem(QStringLiteral("Phrase : ") + QFileInfo(file).completeBaseName(),
                         QVariantList{int(Kind::File), file});
    m_combo->addItem(kFileItem, QVariantList{int(Kind::File), QString()});
    m_combo->setCurrentIndex(0);
    m_combo->setMinimumContentsLength(16);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_combo, 1);
    layout->addWidget(m_fileButton);
    connect(m_fileButton, &QPushButton::clicked, this, &VoiceChooser::pickFile);
    connect(m_combo, &QComboBox::currentIndexChanged, this, [this] {
        updateFileButton();
        const QVariantList data = m_combo->currentData().toList();
        // Choosing the empty file entry opens the picker at once; the person wanted a file.
        if (data.value(0).toInt() == int(Kind::File) && data.value(1).toString().isEmpty() && isVisible())
            pickFile();
        emit choiceChanged();
    });
    updateFileButton();
}

void VoiceChooser::updateFileButton()
{
    m_fileButton->setVisible(m_combo->currentText() == kFileItem ||
                             m_combo->currentData().toList().value(0).toInt() == int(Kind::File));
}

void VoiceChooser::pickFile()
{
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Choisir un fichier WAV"),
                                                      QString(), QStringLiteral("Sons WAV (*.wav)"));
    if (!path.isEmpty())
        chooseFile(path);
}

void VoiceChooser::chooseFile(const QString& path)
{
    int index = -1;
    for (int i = 0; i < m_combo->count() && index < 0; ++i)
        if (m_combo->itemData(i).toList().value(1).toString() == path)
            index = i;
    if (index < 0) {
        // Long names are cut so the choice keeps its width; the full path is in the tooltip.
        QString name = QFileInfo(path).fileName();
        if (name.size() > kShownNameLength)
            name = name.left(kShownNameLength - 1) + QStringLiteral("…");
        index = m_combo->count() - 1; // just above "Fichier WAV…"
        m_combo->insertItem(index, QStringLiteral("Fichier : ") + name, QVariantList{int(Kind::File), path});
        m_combo->setItemData(index, path, Qt::ToolTipRole);
    }
    m_combo->setCurrentIndex(index);
}

QString VoiceChooser::personLabel()
{
    return QStringLiteral("Vous, au micro de cet ordinateur");
}

void VoiceChooser::setPersonOffered(bool offered)
{
    const int index = m_combo->findData(QVariantList{int(Kind::Person)});
    if (offered == (index >= 0))
        return;
    const QSignalBlocker blocker(m_combo);
    if (offered)
        m_combo->insertItem(m_combo->count() - 1, personLabel(), QVariantList{int(Kind::Person)});
    else
        m_combo->removeItem(index);
}

bool VoiceChooser::isPersonChosen() const
{
    return m_combo->currentData().toList().value(0).toInt() == int(Kind::Person);
}

QString VoiceChooser::currentLabel() const
{
    return m_combo->currentText();
}

std::shared_ptr<InputSource> VoiceChooser::makeSource(QString* error) const
{
    const QVariantList data = m_combo->currentData().toList();
    switch (Kind(data.value(0).toInt())) {
    case Kind::Silence:
        return nullptr;
    case Kind::Phrases:
        return CallerPhrases::voice(m_cacheFolder, error);
    case Kind::Person: {
        auto voice = personSource ? personSource() : nullptr;
        if (!voice && error)
            *error = QStringLiteral("Le micro de cet ordinateur n’est pas disponible.");
        return voice;
    }
    case Kind::Tone:
        return toneVoice(data.value(1).toDouble(), kToneAmplitude);
    case Kind::File: {
        const QString path = data.value(1).toString();
        if (path.isEmpty()) {
            if (error)
                *error = QStringLiteral("Aucun fichier WAV choisi.");
            return nullptr;
        }
        if (!QFileInfo::exists(path)) {
            if (error)
                *error = QStringLiteral("Fichier introuvable : ") + path;
            return nullptr;
        }
        auto source = InputSource::wavFile(path.toStdString());
        if (!source && error)
            *error = QStringLiteral("Ce fichier n’est pas un son WAV lisible : ") + path;
        return source;
    }
    }
    return nullptr;
}

} // namespace sim
