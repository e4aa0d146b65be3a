#include "app/records/HistoryFixture.h"

#include "app/common/AppPaths.h"
#include "app/common/PrivateFile.h"
#include "app/records/HistoryCodec.h"
#include "app/records/TranscriptFiles.h"

#include <random>

namespace HistoryFixture {

namespace {

const char* const kFirstNames[] = {"Élodie", "Jean",   "Lætitia", "Benoît",  "Zoé",   "Chloé",
                                   "Noël",   "Maëlle", "Hélène",  "Jérôme",  "Anaïs", "Gaëtan",
                                   "Inès",   "Léa",    "Raphaël", "Cécile",  "Marc",  "Sophie",
                                   "Œdipe",  "Agnès",  "Thomas",  "Aurélie", "Karim", "Françoise"};
const char* const kLastNames[] = {"Martin",   "Dupont",    "Lefèvre", "Cœurdevey", "Mérieux", "Gauthier",
                                  "Da Silva", "N’Diaye",   "Bœuf",    "Roussel",   "Nguyen",  "Perrin",
                                  "Lemaître", "Saint-Cyr", "Bertin",  "Æbischer",  "Moreau",  "Faure"};
const char* const kDossiers[] = {"SCI Lilas · lot 4",         "Résidence Les Érables",
                                 "Copropriété Cœur de Ville", "SCI Les Hauts de Valmont · bât. B",
                                 "12 rue des Lilas · appt 4", "Impasse des Sœurs · maison",
                                 "Les Jardins d’Œnone",       "Bureaux Quai Saint-Éloi",
                                 "Résidence Étoile · lot 12", "Résidence Étoile · lot 2"};
const char* const kNotes[] = {
    "Rappeler le locataire ; vérifier l’assurance habitation.",
    "Fuite sous évier, robinet fermé. Plombier à prévoir.",
    "Chauffage en panne depuis deux jours : URGENT, personne âgée.",
    "Demande de rendez-vous pour l’état des lieux de sortie.",
    "Le syndic doit être relancé au sujet de l’œil-de-bœuf cassé.",
    "",
    "Avis d’échéance contesté : envoyer le détail des charges.",
    "Nuisances sonores signalées par la voisine du 3e étage.",
};
const char* const kAssistant[] = {
    "Bonjour, vous êtes bien au service de gestion locative. Comment puis-je vous aider ?",
    "Pouvez-vous me rappeler votre nom et l’adresse du logement, s’il vous plaît ?",
    "Depuis quand avez-vous remarqué le problème ?",
    "Est-ce que l’eau coule encore et pouvez-vous fermer le robinet d’arrêt sans risque ?",
    "Je note. Le gestionnaire prendra connaissance de votre message pour organiser la suite.",
    "Avez-vous des photos de la situation ? Je ne peux pas les recevoir ici, mais le gestionnaire vous "
    "les demandera.",
    "À quel numéro le gestionnaire peut-il vous rappeler ?",
    "Merci. Je reformule : le chauffe-eau ne chauffe plus depuis hier soir, c’est bien cela ?",
    "D’accord. Y a-t-il un danger immédiat, une odeur de gaz ou de l’eau près d’une prise ?",
    "Très bien, je transmets votre demande ; quelqu’un vous rappellera.",
};
const char* const kCaller[] = {
    "Bonjour, j’ai une fuite d’eau sous l’évier de la cuisine, au %1 rue des Lilas.",
    "Le chauffage ne fonctionne plus depuis hier soir, il fait très froid dans l’appartement %1.",
    "Ma sœur a remarqué des traces d’humidité au plafond de la chambre.",
    "LE CHAUFFE-EAU FAIT UN BRUIT ÉTRANGE ET L’EAU N’EST PLUS CHAUDE.",
    "Je voudrais un rendez-vous pour l’état des lieux, je déménage le %1 du mois prochain.",
    "L’œil-de-bœuf de la cage d’escalier est cassé depuis la tempête.",
    "Vous pouvez me rappeler au 06 %1 34 56 78, plutôt en fin de journée.",
    "Le détecteur de fumée sonne sans arrêt, même quand je ne cuisine pas.",
    "J’ai reçu l’avis d’échéance, mais le montant des charges me paraît élevé : %1 euros.",
    "Mon ex-colocataire a laissé les clés chez la gardienne, Mme Lefèvre.",
    "Les travaux de la façade commencent quand ? Personne ne nous a prévenus.",
    "Il y a une odeur de brûlé près du tableau électrique, j’ai coupé le disjoncteur.",
    "Ça fait trois fois que j’appelle pour la porte du garage, elle ne ferme plus.",
    "Æsa, ma voisine du %1e, a le même problème de ventilation dans la salle de bains.",
    "Oui, c’est bien ça. Merci beaucoup, bonne journée !",
    "Non, ce sera tout. Au revoir.",
};

template <size_t N> const char* pick(std::mt19937& random, const char* const (&list)[N])
{
    return list[std::uniform_int_distribution<size_t>(0, N - 1)(random)];
}

QUuid uuid(std::mt19937& random)
{
    uchar bytes[16];
    for (uchar& byte : bytes)
        byte = uchar(random() & 0xFF);
    bytes[6] = uchar((bytes[6] & 0x0F) | 0x40); // version 4
    bytes[8] = uchar((bytes[8] & 0x3F) | 0x80); // RFC 4122 variant
    return QUuid::fromRfc4122(QByteArrayView(reinterpret_cast<const char*>(bytes), 16));
}

QString phone(std::mt19937& random)
{
    std::uniform_int_distribution<int> pair(10, 99);
    const bool international = random() % 4 == 0;
    return QStringLiteral("%1 %2 %3 %4 %5")
        .arg(international ? QStringLiteral("+33 6") : QStringLiteral("06"))
        .arg(pair(random))
        .arg(pair(random))
        .arg(pair(random))
        .arg(pair(random));
}

QString caller(std::mt19937& random)
{
    const QString name = QString::fromUtf8(pick(random, kFirstNames)) + QLatin1Char(' ') +
                         QString::fromUtf8(pick(random, kLastNames));
    switch (random() % 8) {
    case 0:
        return QStringLiteral("Numéro masqué");
    case 1:
        return phone(random);
    case 2:
        return name;
    default:
        return name + QLatin1Char(' ') + phone(random);
    }
}

} // namespace

QList<CallRecord> generate(int count, double newestDate, quint32 seed, int linesPerCall)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> number(1, 120);
    // About two years for 5,000 calls: three and a half hours apart, give or take.
    std::uniform_real_distribution<double> gap(1800.0, 23400.0);
    QList<CallRecord> records;
    records.reserve(count);
    double date = newestDate;
    for (int i = 0; i < count; ++i) {
        CallRecord record;
        record.id = uuid(random);
        record.date = date;
        date -= gap(random);
        record.caller = caller(random);
        record.kind = random() % 20 == 0 ? QStringLiteral("Essai") : QStringLiteral("Appel");
        record.transcript.reserve(linesPerCall);
        for (int line = 0; line < linesPerCall; ++line) {
            if (line % 2 == 0) {
                record.transcript.append(TranscriptLine{uuid(random), QStringLiteral("Orlea"),
                                                        QString::fromUtf8(pick(random, kAssistant))});
            } else {
                QString text = QString::fromUtf8(pick(random, kCaller));
                if (text.contains(QLatin1String("%1")))
                    text = text.arg(number(random));
                record.transcript.append(TranscriptLine{uuid(random), QStringLiteral("Interlocuteur"), text});
            }
        }
        record.note = QString::fromUtf8(pick(random, kNotes));
        if (random() % 3 == 0)
            record.dossier = QString::fromUtf8(pick(random, kDossiers));
        if (random() % 4 == 0)
            record.usage =
                ConversationUsage{12000 + qint64(random() % 9000), 8000 + qint64(random() % 6000),
                                  1.25 + double(random() % 100) / 100.0, 0, QStringLiteral("gpt-realtime")};
        switch (random() % 6) {
        case 0:
            record.followUpStatus = FollowUp::kInProgress;
            break;
        case 1:
            record.followUpStatus = FollowUp::kDone;
            break;
        case 2:
            record.followUpStatus = FollowUp::kToDo;
            break;
        default:
            break; // reads as « À traiter »
        }
        records.append(std::move(record));
    }
    return records;
}

void write(const QList<CallRecord>& records)
{
    PrivateFile::ensureFolder(AppPaths::dataFolder());
    PrivateFile::write(AppPaths::historyFile(), HistoryCodec::encode(records));
    TranscriptFiles files;
    files.ensureFolder();
    for (const CallRecord& record : records) {
        const QByteArray content = record.transcriptDocument().toUtf8();
        files.write(record.id, content, TranscriptFiles::digest(content));
    }
}

} // namespace HistoryFixture
