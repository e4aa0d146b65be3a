#include "app/windows/AgentDraft.h"

#include "app/model/AppModel.h"

#include <QHash>

const QString AgentDraft::kCustomTemplate = QStringLiteral("Personnalisé");

const QStringList AgentDraft::kTemplates{AgentDraft::kCustomTemplate,        QStringLiteral("Accueil"),
                                         QStringLiteral("Gestion locative"), QStringLiteral("Commercial"),
                                         QStringLiteral("SAV / Support"),    QStringLiteral("Administratif")};

const QStringList AgentDraft::kTones{QStringLiteral("Chaleureux et naturel"),
                                     QStringLiteral("Professionnel et concis"),
                                     QStringLiteral("Calme et rassurant")};

const QStringList AgentDraft::kVoices{
    QStringLiteral("marin"),   QStringLiteral("cedar"),  QStringLiteral("coral"), QStringLiteral("alloy"),
    QStringLiteral("ash"),     QStringLiteral("ballad"), QStringLiteral("echo"),  QStringLiteral("sage"),
    QStringLiteral("shimmer"), QStringLiteral("verse")};

std::optional<QString> AgentDraft::templateText(const QString& name)
{
    static const QHash<QString, QString> texts{
        {QStringLiteral("Accueil"),
         QStringLiteral(
             "Accueille les appelants. Demande leur nom, la raison de leur appel et leur numéro de "
             "rappel. Reformule le message pour le responsable.")},
        {QStringLiteral("Gestion locative"),
         QStringLiteral("Réponds aux locataires. Confirme leur nom, l’adresse et le logement. Comprends le "
                        "problème, depuis quand et si la situation est urgente. Demande si des photos sont "
                        "disponibles. Prépare un message précis pour le gestionnaire et demande les "
                        "disponibilités pour un rappel.")},
        {QStringLiteral("Commercial"),
         QStringLiteral("Comprends le besoin du prospect, ses contraintes et son échéance. Recueille ses "
                        "coordonnées et prépare un rappel commercial. N’invente ni tarif ni disponibilité.")},
        {QStringLiteral("SAV / Support"),
         QStringLiteral(
             "Identifie le produit ou service concerné, les symptômes, leur date d’apparition et les "
             "essais déjà faits. Note les informations utiles et prépare un rappel du support.")},
        {QStringLiteral("Administratif"),
         QStringLiteral("Comprends la demande administrative, les documents concernés et les échéances. Les "
                        "paiements sont par virement ; une déclaration orale ne vaut pas confirmation de "
                        "paiement. Prépare les éléments pour un rappel humain.")},
    };
    const auto found = texts.constFind(name);
    if (found == texts.constEnd())
        return std::nullopt;
    return *found;
}

QString AgentDraft::toneLine(const QString& tone)
{
    return QStringLiteral("Ton : ") + tone + QStringLiteral(".\n");
}

void AgentDraft::applyTemplate()
{
    if (const std::optional<QString> text = templateText(templateName))
        instructions = *text;
}

void AgentDraft::load(const AppModel& model)
{
    company = model.company();
    voice = model.voice();
    instructions = model.customInstructions();
    for (const QString& candidate : kTones) {
        const QString prefix = toneLine(candidate);
        if (instructions.startsWith(prefix)) {
            tone = candidate;
            instructions.remove(0, prefix.size());
            return;
        }
    }
}

QString AgentDraft::composedInstructions() const
{
    return toneLine(tone) + instructions;
}

void AgentDraft::saveDraft(AppModel& model) const
{
    model.setCompany(company);
    model.setVoice(voice);
    model.setCustomInstructions(composedInstructions());
    model.saveSettings();
}
