#include "app/desktop/DesktopApp.h"

#include "app/audio/VelkaroDevices.h"
#include "app/common/AppPaths.h"
#include "app/common/Clock.h"
#include "app/common/UserDefaults.h"
#include "app/model/AppModel.h"
#include "app/records/TranscriptExport.h"
#include "app/windows/AgentSetupWindow.h"
#include "app/windows/MacConversationTestWindow.h"
#include "app/windows/MainWindow.h"
#include "app/windows/OutgoingCallTestWindow.h"
#include "app/windows/SetupAssistantWindow.h"
#include "app/windows/Theme.h"
#include "app/windows/VoiceSettingsWindow.h"
#include "platform/sim/mac/Mac.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTextStream>
#include <QUrl>

#include <functional>
#include <memory>

namespace {
// Nothing leaves the screenshot run: the desktop services only remember what they were given.
struct QuietClipboard final : Clipboard {
    bool setText(const QString&) override { return true; }
};
struct CancelledSavePanel final : SavePanel {
    std::optional<QString> askSaveURL(const QString&, ExportType) override { return std::nullopt; }
};
struct SilentRevealer final : FileRevealer {
    void reveal(const QString&) override {}
};

// Restores $ORLEA_DATA_HOME when the run ends, so a caller's own data folder is left as it was.
class DataHomeOverride {
public:
    explicit DataHomeOverride(const QString& path)
        : m_hadValue(qEnvironmentVariableIsSet("ORLEA_DATA_HOME")), m_previous(qgetenv("ORLEA_DATA_HOME"))
    {
        qputenv("ORLEA_DATA_HOME", path.toUtf8());
    }
    ~DataHomeOverride()
    {
        if (m_hadValue)
            qputenv("ORLEA_DATA_HOME", m_previous);
        else
            qunsetenv("ORLEA_DATA_HOME");
    }
    DataHomeOverride(const DataHomeOverride&) = delete;
    DataHomeOverride& operator=(const DataHomeOverride&) = delete;

private:
    bool m_hadValue;
    QByteArray m_previous;
};

// One simulated Mac on manual time with the model over it, in its own data folder.
struct Scene {
    explicit Scene(const QString& dataHome)
        : home(dataHome), mac(dataHome + QStringLiteral("/SimulatedMac")),
          defaults(AppPaths::preferencesFile())
    {
    }

    Platform platform(const std::optional<QString>& package)
    {
        ProbeTiming timing;
        timing.wait = [this](int milliseconds) {
            mac.manualClock()->advance(milliseconds / 1000.0);
            mac.syncAudio();
            QCoreApplication::processEvents();
        };
        timing.uptimeSeconds = [this] { return mac.clock().uptimeSeconds(); };
        return Platform{mac.hardware(),
                        mac.accessibility(),
                        mac.workspace(),
                        mac.microphone(),
                        mac.clock(),
                        mac.scheduler(),
                        defaults,
                        clipboard,
                        savePanel,
                        revealer,
                        timing,
                        package,
                        &mac.notifications()};
    }

    DataHomeOverride home;
    sim::Mac mac;
    UserDefaults defaults;
    QuietClipboard clipboard;
    CancelledSavePanel savePanel;
    SilentRevealer revealer;
};

// The driver's installer package next to the program (bin/../lib) or in the build folder.
std::optional<QString> findDriverPackage()
{
    const QString name = QStringLiteral("VelkaroAudio-0.2.0.pkg");
    QStringList candidates{QCoreApplication::applicationDirPath() + QStringLiteral("/../lib/") + name,
                           QCoreApplication::applicationDirPath() + QStringLiteral("/") + name};
    const QString buildDir = qEnvironmentVariable("ORLEA_BUILD_DIR");
    if (!buildDir.isEmpty())
        candidates.prepend(buildDir + QStringLiteral("/lib/") + name);
    for (const QString& candidate : candidates)
        if (QFileInfo::exists(candidate))
            return QFileInfo(candidate).canonicalFilePath();
    return std::nullopt;
}

void settle()
{
    for (int turn = 0; turn < 4; ++turn)
        QApplication::processEvents();
}

CallRecord record(double date, const QString& caller, const QString& kind,
                  const QList<std::pair<QString, QString>>& lines)
{
    CallRecord call;
    call.id = QUuid::createUuid();
    call.date = date;
    call.caller = caller;
    call.kind = kind;
    for (const auto& [speaker, text] : lines)
        call.transcript << TranscriptLine::make(speaker, text);
    return call;
}

ConversationUsage usage(qint64 input, qint64 output, double dollars)
{
    ConversationUsage figures;
    figures.inputTokens = input;
    figures.outputTokens = output;
    figures.estimatedUSD = dollars;
    figures.model = QStringLiteral("gpt-realtime");
    return figures;
}

const QString kOrlea = QStringLiteral("Orlea");
const QString kCaller = QStringLiteral("Interlocuteur");

// A Mac set up end to end, a few filed conversations and one call being answered right now.
void populate(Scene& scene, AppModel& model, const std::optional<QString>& package)
{
    if (package)
        scene.mac.workspace().openUrl(QUrl::fromLocalFile(*package));
    scene.mac.setAccessibilityTrusted(true);
    scene.mac.setPrivacySwitch(sim::PrivacyPage::Microphone, true);
    model.refresh();
    model.saveKey(QStringLiteral("sk-demo-orlea-screenshots"));
    model.setInputUID(VelkaroDevices::kCallUID);
    model.setOutputUID(VelkaroDevices::kVoiceUID);
    model.setRoutingConfirmed(true);
    model.setAiVerified(true);
    model.setAiStatus(QStringLiteral("Connexion IA vérifiée"));
    model.setMacAudioVerified(true);
    model.setRelayStatus(QStringLiteral("Relais iPhone vérifié · appel reçu il y a 2 min"));
    model.setCompany(QStringLiteral("Agence Martin Gestion"));

    model.addDemo();
    const double now = secondsSinceReferenceDate(scene.mac.clock().now());
    CallRecord leak =
        record(now - 3 * 3600, QStringLiteral("06 12 34 56 78"), QStringLiteral("Appel"),
               {{kOrlea, QStringLiteral("Bonjour, Agence Martin Gestion, Orlea à votre écoute.")},
                {kCaller, QStringLiteral("Bonjour, j’ai une fuite sous l’évier depuis ce matin.")},
                {kOrlea, QStringLiteral("Je note. Quelle est l’adresse du logement ?")},
                {kCaller, QStringLiteral("12 rue des Tilleuls, appartement 4.")}});
    leak.dossier = QStringLiteral("Résidence Les Tilleuls");
    leak.note = QStringLiteral("Envoyer le plombier demain matin.");
    leak.followUpStatus = FollowUp::kInProgress;
    leak.usage = usage(5230, 2140, 0.31);
    leak.responseLatency = ResponseLatency{2, 850, 1100};
    FollowUpDraft leakDraft;
    leakDraft.address = QStringLiteral("12 rue des Tilleuls, appartement 4");
    leakDraft.request = QStringLiteral("Fuite sous l’évier depuis ce matin, à faire constater et réparer.");
    leakDraft.urgent = true;
    leakDraft.urgencyReason = QStringLiteral("Fuite d’eau en cours dans le logement");
    leakDraft.dossier = QStringLiteral("Résidence Les Tilleuls");
    leak.followUpDraft = leakDraft;
    CallRecord rent =
        record(now - 26 * 3600, QStringLiteral("07 98 76 54 32"), QStringLiteral("Appel"),
               {{kOrlea, QStringLiteral("Bonjour, Agence Martin Gestion, Orlea à votre écoute.")},
                {kCaller, QStringLiteral("Je voudrais une quittance de loyer pour novembre.")},
                {kOrlea, QStringLiteral("C’est noté, elle vous sera envoyée par e-mail.")}});
    rent.dossier = QStringLiteral("Quittances");
    rent.followUpStatus = FollowUp::kDone;
    rent.usage = usage(3100, 1420, 0.19);
    CallRecord visit =
        record(now - 50 * 3600, QStringLiteral("01 44 55 66 77"), QStringLiteral("Appel"),
               {{kCaller, QStringLiteral("Bonjour, l’appartement du 3e est-il encore libre ?")},
                {kOrlea, QStringLiteral("Je transmets votre demande de visite au gestionnaire.")}});
    visit.note = QStringLiteral("Rappeler pour fixer une visite.");
    visit.followUpStatus = FollowUp::kToDo;
    FollowUpDraft visitDraft;
    visitDraft.request = QStringLiteral("Demande de visite de l’appartement libre du 3e étage.");
    visitDraft.urgencyReason = QStringLiteral("Simple demande de visite");
    visitDraft.dossier = QStringLiteral("Visites");
    visitDraft.decision = FollowUpDraft::Decision::Ignored;
    visit.followUpDraft = visitDraft;
    CallRecord trial = record(now - 72 * 3600, QStringLiteral("Essai sur le Mac"), QStringLiteral("Essai"),
                              {{kOrlea, QStringLiteral("Bonjour, je vous écoute.")},
                               {kCaller, QStringLiteral("Ceci est un essai de la voix.")}});
    for (CallRecord* call : {&trial, &visit, &rent, &leak})
        model.history().insert(*call);
    model.setSelectedRecord(leak.id);

    model.event(QStringLiteral("Standard activé"));
    model.event(QStringLiteral("Appel entrant · 06 45 12 78 90"));
    model.event(QStringLiteral("Décrochage demandé"));

    CallRecord live =
        record(now, QStringLiteral("06 45 12 78 90"), QStringLiteral("Appel"),
               {{kOrlea, QStringLiteral("Bonjour, Agence Martin Gestion, Orlea à votre écoute.")},
                {kCaller, QStringLiteral("Bonjour, le chauffage ne marche plus dans mon studio.")},
                {kOrlea, QStringLiteral("Je suis désolée. Depuis quand est-il en panne ?")},
                {kCaller, QStringLiteral("Depuis hier soir, et il fait très froid.")},
                {kOrlea, QStringLiteral("Je préviens le gestionnaire en priorité. Quel est votre nom ?")}});
    model.setArmed(true);
    model.setBusy(true);
    model.setConnected(true);
    model.setStatus(QStringLiteral("Conversation en cours"));
    model.setDetail(QStringLiteral("06 45 12 78 90 · Enregistrement audio actif"));
    model.setAudioDiagnostic(QStringLiteral("Audio de l’appel : son reçu et envoyé"));
    model.setCurrent(live);
    model.setConversationUsage(usage(1840, 760, 0.12));
    model.setTurnLatencies({0.8, 1.1});
    model.setPage(QStringLiteral("Le standard"));
}

QString slug(const QString& title)
{
    static const QHash<QString, QString> names{
        {QStringLiteral("Le standard"), QStringLiteral("le-standard")},
        {QStringLiteral("Conversations"), QStringLiteral("conversations")},
        {QStringLiteral("Dossiers"), QStringLiteral("dossiers")},
        {QStringLiteral("Mon agent"), QStringLiteral("mon-agent")},
        {QStringLiteral("Connexions"), QStringLiteral("connexions")},
        {QStringLiteral("Premiers pas"), QStringLiteral("premiers-pas")}};
    return names.value(title);
}

struct SheetShot {
    QString name;
    std::function<QDialog*(AppModel&, QWidget*)> create;
};

const QList<SheetShot>& sheets()
{
    static const QList<SheetShot> all{
        {QStringLiteral("assistant"), [](AppModel& m, QWidget* p) { return new SetupAssistantWindow(m, p); }},
        {QStringLiteral("agent"), [](AppModel& m, QWidget* p) { return new AgentSetupWindow(m, p); }},
        {QStringLiteral("essai-mac"),
         [](AppModel& m, QWidget* p) { return new MacConversationTestWindow(m, p); }},
        {QStringLiteral("appel-sortant"),
         [](AppModel& m, QWidget* p) { return new OutgoingCallTestWindow(m, p); }},
        {QStringLiteral("voix"), [](AppModel& m, QWidget* p) { return new VoiceSettingsWindow(m, p); }},
    };
    return all;
}

// Renders every page and sheet of one state; returns false when a file could not be written.
bool shoot(const QString& state, const QString& dataHome, const QString& folder, QTextStream& out)
{
    const std::optional<QString> package = findDriverPackage();
    QDir().mkpath(dataHome);
    Scene scene(dataHome);
    AppModel model(scene.platform(package));
    // The startup assistant is shot as a sheet of its own, not over every page.
    model.presentStartupAssistant();
    model.setShowSetupAssistant(false);
    if (state == QStringLiteral("populated"))
        populate(scene, model, package);

    bool written = true;
    auto save = [&](const QPixmap& image, const QString& name) {
        const QString path = QDir(folder).filePath(state + QLatin1Char('-') + name + QStringLiteral(".png"));
        if (image.save(path)) {
            out << path << Qt::endl;
        } else {
            out << "impossible d’écrire " << path << Qt::endl;
            written = false;
        }
    };

    MainWindow window(model);
    window.setAttribute(Qt::WA_DontShowOnScreen);
    window.resize(1120, 780);
    window.show();
    settle();
    for (const QString& title : MainWindow::pageTitles()) {
        model.setPage(title);
        settle();
        save(window.grab(), slug(title));
    }
    model.setPage(QStringLiteral("Le standard"));
    settle();
    if (state == QStringLiteral("populated")) {
        // Right after an urgent call that no notification could announce.
        const CallRecord& last = model.records().first();
        model.setCurrent(std::nullopt);
        model.setBusy(false);
        model.setStatus(QStringLiteral("À l’écoute des appels"));
        model.setDetail(QStringLiteral("La conversation est conservée sur ce Mac."));
        model.setLastCall(last.id);
        model.setUrgentBanner(last.id);
        settle();
        save(window.grab(), QStringLiteral("apres-appel"));
        model.setUrgentBanner(std::nullopt);
        model.setLastCall(std::nullopt);
        settle();
    }

    for (const SheetShot& sheet : sheets()) {
        QDialog* dialog = sheet.create(model, &window);
        dialog->setAttribute(Qt::WA_DontShowOnScreen);
        dialog->show();
        settle();
        save(dialog->grab(), QStringLiteral("sheet-") + sheet.name);
        dialog->hide();
        delete dialog;
        settle();
    }
    return written;
}
} // namespace

int runScreenshots(int argc, char** argv, const QString& folder)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::unique_ptr<QApplication> ownApplication;
    auto* application = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!application) {
        if (QCoreApplication::instance()) {
            QTextStream(stderr) << "Les captures demandent une application graphique." << Qt::endl;
            return 1;
        }
        ownApplication = std::make_unique<QApplication>(argc, argv);
        application = ownApplication.get();
    }
    Theme::apply(*application);

    QTextStream out(stdout);
    if (!QDir().mkpath(folder)) {
        QTextStream(stderr) << "Impossible de créer le dossier " << folder << Qt::endl;
        return 1;
    }
    QTemporaryDir data;
    if (!data.isValid()) {
        QTextStream(stderr) << "Impossible de créer un dossier temporaire." << Qt::endl;
        return 1;
    }
    bool written = shoot(QStringLiteral("empty"), data.filePath(QStringLiteral("empty")), folder, out);
    written = shoot(QStringLiteral("populated"), data.filePath(QStringLiteral("populated")), folder, out) &&
              written;
    return written ? 0 : 1;
}
