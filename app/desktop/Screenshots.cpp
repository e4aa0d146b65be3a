#include "app/desktop/DesktopApp.h"

#include "app/audio/CallAudioRecorder.h"
#include "app/audio/VelkaroDevices.h"
#include "app/common/AppPaths.h"
#include "app/common/Clock.h"
#include "app/common/UserDefaults.h"
#include "app/model/AppModel.h"
#include "app/phone/NativeAudioSetup.h"
#include "app/realtime/ConversationUsage.h"
#include "app/records/TranscriptExport.h"
#include "app/windows/AgentSetupWindow.h"
#include "app/windows/DossierTableModel.h"
#include "app/windows/DossiersPage.h"
#include "app/windows/MacConversationTestWindow.h"
#include "app/windows/MainWindow.h"
#include "app/windows/OutgoingCallTestWindow.h"
#include "app/windows/SetupAssistantWindow.h"
#include "app/windows/Theme.h"
#include "app/windows/VoiceSettingsWindow.h"
#include "platform/sim/mac/Mac.h"
#include "platform/sim/mac/PhoneCallAudio.h"
#include "tools/realtime-standin/RealtimeStandInThread.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocale>
#include <QPixmap>
#include <QScrollArea>
#include <QTableView>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QToolButton>
#include <QUrl>
#include <QtEndian>

#include <cmath>
#include <functional>
#include <memory>
#include <numbers>

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

// Points the realtime client at the stand-in for the run, then puts $ORLEA_REALTIME_URL back.
class RealtimeUrlOverride {
public:
    explicit RealtimeUrlOverride(const QString& url)
        : m_hadValue(qEnvironmentVariableIsSet("ORLEA_REALTIME_URL")),
          m_previous(qgetenv("ORLEA_REALTIME_URL"))
    {
        qputenv("ORLEA_REALTIME_URL", url.toUtf8());
    }
    ~RealtimeUrlOverride()
    {
        if (m_hadValue)
            qputenv("ORLEA_REALTIME_URL", m_previous);
        else
            qunsetenv("ORLEA_REALTIME_URL");
    }
    RealtimeUrlOverride(const RealtimeUrlOverride&) = delete;
    RealtimeUrlOverride& operator=(const RealtimeUrlOverride&) = delete;

private:
    bool m_hadValue;
    QByteArray m_previous;
};

const QSize kDefaultSize{1120, 780};
const QSize kSmallestSize{1020, 720};

// One simulated Mac on manual time with the model over it, in its own data folder.
struct Scene {
    explicit Scene(const QString& dataHome)
        : home(dataHome), mac(dataHome + QStringLiteral("/SimulatedMac")),
          defaults(AppPaths::preferencesFile())
    {
    }

    Platform platform(const std::optional<QString>& package)
    {
        return Platform{mac.hardware(),  mac.accessibility(),
                        mac.workspace(), mac.microphone(),
                        mac.clock(),     mac.scheduler(),
                        defaults,        clipboard,
                        savePanel,       revealer,
                        package,         &mac.notifications()};
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

// What the meter of a conversation of `responses` answers would report: the estimate follows the tokens.
ConversationUsage usage(int responses, qint64 inputPerResponse, qint64 outputPerResponse, double audioSeconds)
{
    ConversationUsageMeter meter(QStringLiteral("gpt-realtime"));
    for (int response = 0; response < responses; ++response) {
        const QString id = QStringLiteral("resp_%1").arg(response);
        meter.started(id);
        meter.completed(id, QVariantMap{{QStringLiteral("input_tokens"), inputPerResponse},
                                        {QStringLiteral("output_tokens"), outputPerResponse}});
    }
    meter.addInput(audioSeconds);
    return meter.snapshot();
}

const QString kOrlea = QStringLiteral("Orlea");
const QString kCaller = QStringLiteral("Interlocuteur");

// Moves the Mac's time in small steps, letting sockets and queued work run in between.
void advance(Scene& scene, double seconds)
{
    for (double done = 0; done < seconds - 1e-9; done += 0.1) {
        scene.mac.advance(0.1);
        QCoreApplication::processEvents();
    }
}

// Real time for the AI's socket, without moving the Mac's clock.
bool waitFor(const std::function<bool()>& condition, int timeoutMs = 10000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition() && timer.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return condition();
}

// A call of three hours ago as the recorder leaves one: a few seconds of sound in the Recordings folder.
std::optional<QString> recordCall(const CallRecord& call, Clock& clock)
{
    const QString name = QStringLiteral("Appel-") + uuidText(call.id) + QStringLiteral(".wav");
    try {
        CallAudioRecorder recorder(AppPaths::recordingsFolder() + QLatin1Char('/') + name, clock);
        QByteArray pcm(int(CallAudioRecorder::kSampleRateHz) * 2 * 4, '\0');
        for (qsizetype frame = 0; frame < pcm.size() / 2; ++frame) {
            const double t = double(frame) / CallAudioRecorder::kSampleRateHz;
            const double envelope = std::fmod(t, 1.0) < 0.7 ? 0.25 : 0.0;
            qToLittleEndian(qint16(envelope * 32767 * std::sin(2 * std::numbers::pi * 220 * t)),
                            pcm.data() + 2 * frame);
        }
        recorder.append(pcm, 0);
        std::optional<QString> written;
        recorder.finish([&written, name](const CallAudioRecorder::Result& result) {
            if (std::holds_alternative<QString>(result))
                written = name;
        });
        recorder.waitUntilIdle();
        return written;
    } catch (const AppError&) {
        return std::nullopt;
    }
}

// A Mac set up end to end, with a few filed conversations, the AI checked and the switchboard at rest.
bool configure(Scene& scene, AppModel& model, const std::optional<QString>& package)
{
    if (package)
        scene.mac.workspace().openUrl(QUrl::fromLocalFile(*package));
    scene.mac.setAccessibilityTrusted(true);
    scene.mac.setPrivacySwitch(sim::PrivacyPage::Microphone, true);
    model.refresh();
    model.saveKey(QStringLiteral("sk-demo-orlea-screenshots"));
    model.setCompany(QStringLiteral("Agence Martin Gestion"));
    model.saveSettings();
    model.setInputUID(VelkaroDevices::kCallUID);
    model.setOutputUID(VelkaroDevices::kVoiceUID);
    // The Phone app on the two virtual devices, as the audio configuration leaves it.
    bool phoneReady = false;
    model.audioSetup().prepare([&phoneReady](std::optional<AppError> error) { phoneReady = !error; });
    advance(scene, 5.0);
    if (!phoneReady)
        return false;
    model.setRoutingConfirmed(true);
    model.setNativeAudioStatus(
        QStringLiteral("Son configuré · les deux circuits transmettent le signal de test"));
    model.setMacAudioVerified(true);

    const QDateTime now = scene.mac.clock().now();
    const double nowSeconds = secondsSinceReferenceDate(now);
    CallRecord leak =
        record(nowSeconds - 3 * 3600, QStringLiteral("06 12 34 56 78"), QStringLiteral("Appel"),
               {{kOrlea, QStringLiteral("Bonjour, Agence Martin Gestion, Orlea à votre écoute.")},
                {kCaller, QStringLiteral("Bonjour, j’ai une fuite sous l’évier depuis ce matin.")},
                {kOrlea, QStringLiteral("Je note. Quelle est l’adresse du logement ?")},
                {kCaller, QStringLiteral("12 rue des Tilleuls, appartement 4.")}});
    leak.dossier = QStringLiteral("Résidence Les Tilleuls");
    leak.note = QStringLiteral("Envoyer le plombier demain matin.");
    leak.followUpStatus = FollowUp::kInProgress;
    leak.usage = usage(3, 1740, 710, 52);
    leak.responseLatency = ResponseLatency{2, 850, 1100};
    FollowUpDraft leakDraft;
    leakDraft.address = QStringLiteral("12 rue des Tilleuls, appartement 4");
    leakDraft.request = QStringLiteral("Fuite sous l’évier depuis ce matin, à faire constater et réparer.");
    leakDraft.urgent = true;
    leakDraft.urgencyReason = QStringLiteral("Fuite d’eau en cours dans le logement");
    leakDraft.dossier = QStringLiteral("Résidence Les Tilleuls");
    leak.followUpDraft = leakDraft;
    leak.recordingFile = recordCall(leak, scene.mac.clock());
    CallRecord rent =
        record(nowSeconds - 26 * 3600, QStringLiteral("07 98 76 54 32"), QStringLiteral("Appel"),
               {{kOrlea, QStringLiteral("Bonjour, Agence Martin Gestion, Orlea à votre écoute.")},
                {kCaller, QStringLiteral("Je voudrais une quittance de loyer pour novembre.")},
                {kOrlea, QStringLiteral("C’est noté, elle vous sera envoyée par e-mail.")}});
    rent.dossier = QStringLiteral("Quittances");
    rent.followUpStatus = FollowUp::kDone;
    rent.usage = usage(2, 1550, 710, 31);
    rent.responseLatency = ResponseLatency{1, 780, 780};
    CallRecord visit =
        record(nowSeconds - 50 * 3600, QStringLiteral("01 44 55 66 77"), QStringLiteral("Appel"),
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
    visit.usage = usage(1, 1320, 590, 18);
    visit.recordingError = QStringLiteral("Le disque était plein.");
    CallRecord trial =
        record(nowSeconds - 72 * 3600, QStringLiteral("Essai sur le Mac"), QStringLiteral("Essai"),
               {{kOrlea, QStringLiteral("Bonjour, je vous écoute.")},
                {kCaller, QStringLiteral("Ceci est un essai de la voix.")}});
    trial.usage = usage(1, 980, 420, 9);
    model.addDemo();
    for (CallRecord* call : {&trial, &visit, &rent, &leak})
        model.history().insert(*call);
    model.setSelectedRecord(leak.id);
    // The relay was checked a few minutes ago with a call from another line.
    model.setRelayStatus(QStringLiteral("Appel détecté sur le Mac à ") +
                         QLocale().toString(now.addSecs(-240).toLocalTime().time(), QLocale::ShortFormat));
    model.verifyAI(false);
    return waitFor([&] { return !model.checkingAI(); }) && model.aiVerified();
}

// The switchboard armed, a call rung for three seconds and answered once the AI (the stand-in, which
// confirms sessions without speaking) is ready. Only the call's words are given, as the AI service would
// have transcribed them. False when the call could not be taken.
bool takeCall(Scene& scene, AppModel& model)
{
    model.toggleArmed();
    if (!waitFor([&] { return model.armed() && !model.checkingAI(); }))
        return false;
    scene.mac.ring(QStringLiteral("06 45 12 78 90"), sim::toneVoice(330, 0.3f));
    advance(scene, 3.5);
    if (!waitFor([&] { return model.connected() || !model.busy(); }) || !model.connected())
        return false;
    advance(scene, 2.5); // the greeting is asked for and the audio watchdog has looked once

    CallRecord live = *model.current();
    live.transcript.clear();
    for (const auto& [speaker, text] : QList<std::pair<QString, QString>>{
             {kOrlea, QStringLiteral("Bonjour, Agence Martin Gestion, Orlea à votre écoute.")},
             {kCaller, QStringLiteral("Bonjour, le chauffage ne marche plus dans mon studio.")},
             {kOrlea, QStringLiteral("Je suis désolée. Depuis quand est-il en panne ?")},
             {kCaller, QStringLiteral("Depuis hier soir, et il fait très froid.")},
             {kOrlea, QStringLiteral("Je préviens le gestionnaire en priorité. Quel est votre nom ?")}})
        live.transcript << TranscriptLine::make(speaker, text);
    live.usage = usage(3, 1190, 480, 24);
    model.setCurrent(live);
    model.setConversationUsage(*live.usage);
    model.setTurnLatencies({0.8, 1.1});
    model.setPage(QStringLiteral("Le standard"));
    return true;
}

// Ends the call of the populated state as the user would, and lets its recording be written before the
// data folder goes away.
void hangUp(Scene& scene, AppModel& model)
{
    if (!model.busy())
        return;
    model.hangUp();
    advance(scene, 1.0);
    waitFor([&] { return model.finalizingRecordings().isEmpty(); });
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

// The scroll area a page or sheet keeps its content in.
QScrollArea* scrollOf(QWidget* widget)
{
    return widget ? widget->findChild<QScrollArea*>() : nullptr;
}

// Renders every page and sheet of one state at the window's default and smallest sizes, and the whole
// length of each at the smallest; returns false when a file could not be written.
bool shoot(const QString& state, const QString& dataHome, const QString& folder, QTextStream& out)
{
    const std::optional<QString> package = findDriverPackage();
    QDir().mkpath(dataHome);
    const bool populated = state == QStringLiteral("populated");
    // Started first so that it outlives the model talking to it.
    RealtimeStandInThread standIn;
    std::optional<RealtimeUrlOverride> realtimeUrl;
    if (populated) {
        RealtimeStandInThread::Options options;
        options.agent = false;
        if (!standIn.start(options)) {
            out << "l’IA de démonstration n’a pas pu démarrer : " << standIn.errorString() << Qt::endl;
            return false;
        }
        realtimeUrl.emplace(standIn.url().toString());
    }
    Scene scene(dataHome);
    AppModel model(scene.platform(package));
    // The startup assistant is shot as a sheet of its own, not over every page.
    model.presentStartupAssistant();
    model.setShowSetupAssistant(false);
    if (populated && !configure(scene, model, package)) {
        out << "la configuration des captures a échoué : " << model.error().value_or(model.status())
            << Qt::endl;
        return false;
    }

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

    // The sheets as a user opens them on this Mac at rest (during a call they wait for its end).
    {
        QWidget host;
        host.setAttribute(Qt::WA_DontShowOnScreen);
        host.resize(kDefaultSize);
        host.show();
        for (const SheetShot& sheet : sheets()) {
            QDialog* dialog = sheet.create(model, &host);
            dialog->setAttribute(Qt::WA_DontShowOnScreen);
            dialog->show();
            settle();
            save(dialog->grab(), QStringLiteral("sheet-") + sheet.name);
            if (QScrollArea* scroll = scrollOf(dialog))
                save(scroll->widget()->grab(),
                     QStringLiteral("sheet-") + sheet.name + QStringLiteral("-entier"));
            dialog->hide();
            delete dialog;
            settle();
        }
    }
    if (populated && !takeCall(scene, model)) {
        out << "l’appel des captures n’a pas pu être pris : " << model.error().value_or(model.status())
            << Qt::endl;
        return false;
    }

    MainWindow window(model);
    window.setAttribute(Qt::WA_DontShowOnScreen);
    window.resize(kDefaultSize);
    window.show();
    settle();
    if (populated) {
        // The Dossiers page with a call opened, as after a click on its row.
        if (auto* dossiers = window.findChild<DossiersPage*>()) {
            model.setPage(QStringLiteral("Dossiers"));
            settle();
            const int row = dossiers->tableModel()->rowOf(*model.selectedRecord());
            if (row >= 0)
                dossiers->table()->selectRow(row);
        }
    }
    for (const QSize& size : {kDefaultSize, kSmallestSize}) {
        const bool smallest = size == kSmallestSize;
        const QString suffix =
            smallest ? QStringLiteral("-%1x%2").arg(size.width()).arg(size.height()) : QString();
        window.resize(size);
        for (const QString& title : MainWindow::pageTitles()) {
            model.setPage(title);
            settle();
            save(window.grab(), slug(title) + suffix);
            if (QScrollArea* scroll = scrollOf(window.currentPage()); smallest && scroll)
                save(scroll->widget()->grab(), slug(title) + suffix + QStringLiteral("-entier"));
        }
    }
    // The connections page with its options and troubleshooting open.
    model.setPage(QStringLiteral("Connexions"));
    settle();
    if (auto* options = window.findChild<QToolButton*>(QStringLiteral("optionsDisclosure"))) {
        options->setChecked(true);
        settle();
        if (QScrollArea* scroll = scrollOf(window.currentPage()))
            save(scroll->widget()->grab(), QStringLiteral("connexions-options-%1x%2-entier")
                                               .arg(kSmallestSize.width())
                                               .arg(kSmallestSize.height()));
        options->setChecked(false);
    }
    window.resize(kDefaultSize);
    model.setPage(QStringLiteral("Le standard"));
    settle();
    if (populated) {
        // Right after the call, hung up as the user would: its draft as the AI writes it (the stand-in of
        // the screenshots does not speak), urgent, and no notification could announce it.
        hangUp(scene, model);
        if (const std::optional<QUuid> last = model.lastCall()) {
            FollowUpDraft draft;
            draft.address = QStringLiteral("Studio, 12 rue des Tilleuls");
            draft.request = QStringLiteral("Chauffage en panne depuis hier soir, à faire réparer.");
            draft.urgent = true;
            draft.urgencyReason = QStringLiteral("Plus de chauffage par grand froid");
            draft.dossier = QStringLiteral("Résidence Les Tilleuls");
            model.history().update(*last, [&draft](CallRecord& call) { call.followUpDraft = draft; });
            model.setFollowUpDraftStatus(QString());
            model.setUrgentBanner(*last);
            settle();
            save(window.grab(), QStringLiteral("apres-appel"));
        }
    }

    hangUp(scene, model);
    return written;
}
} // namespace

int runScreenshots(int argc, char** argv, const QString& folder)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The recording player, as in the window.
    if (qEnvironmentVariableIsEmpty("QT_MEDIA_BACKEND"))
        qputenv("QT_MEDIA_BACKEND", "ffmpeg");
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
    // Dates and times as the window shows them; the caller's locale comes back afterwards.
    const QLocale callerLocale;
    QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
    bool written = shoot(QStringLiteral("empty"), data.filePath(QStringLiteral("empty")), folder, out);
    written = shoot(QStringLiteral("populated"), data.filePath(QStringLiteral("populated")), folder, out) &&
              written;
    QLocale::setDefault(callerLocale);
    return written ? 0 : 1;
}
