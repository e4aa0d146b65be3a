#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class AppModel;

// What the "Mon assistant IA" sheet edits before it is saved: the company, the voice, the tone and the
// mission text. The tone is stored as a first line of the model's instructions ("Ton : … .") so the AI
// hears it, and is split off again when the sheet opens.
class AgentDraft {
public:
    static const QStringList kTemplates;
    static const QStringList kTones;
    static const QStringList kVoices;
    static const QString kCustomTemplate;

    QString company;
    QString instructions;
    QString voice = QStringLiteral("marin");
    bool showTest = false;
    QString templateName = kCustomTemplate;
    QString tone = kTones.first();
    QStringList templates = kTemplates;

    // The example text of `name`; nothing for "Personnalisé" and unknown names.
    static std::optional<QString> templateText(const QString& name);
    // The first line that carries `tone` in the stored instructions.
    static QString toneLine(const QString& tone);

    // Replaces the mission text by the selected example, if it has one.
    void applyTemplate();
    // Copies the model's settings, then splits a recognised tone line off the mission text.
    void load(const AppModel& model);
    // The instructions as stored: the tone line, then the mission text unchanged.
    QString composedInstructions() const;
    // Writes the draft into the model and saves its settings.
    void saveDraft(AppModel& model) const;
};
