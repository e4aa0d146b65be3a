#include "app/desktop/HeadlessDemo.h"

#include "app/common/AppPaths.h"
#include "app/desktop/DemoCaller.h"
#include "app/desktop/DemoEnvironment.h"
#include "app/desktop/DemoStandIn.h"
#include "app/desktop/QuitGuard.h"
#include "app/model/AppModel.h"
#include "app/records/ResponseLatency.h"
#include "app/records/TranscriptExport.h"
#include "app/records/TranscriptFiles.h"
#include "platform/sim/mac/Mac.h"

#include <QLocale>
#include <cmath>
#include <cstdio>

namespace {

const QString kConfigured = QStringLiteral("Réglages vérifiés. Dernière étape : un appel test.");

QString milliseconds(double value)
{
    return QLocale().toString(qlonglong(std::lround(value))) + QStringLiteral("\u00a0ms");
}

QString firstLine(const QString& text)
{
    return text.section(QLatin1Char('\n'), 0, 0);
}

} // namespace

const QString HeadlessDemo::kCallerText = QStringLiteral("06 12 34 56 78");

HeadlessDemo::HeadlessDemo(DemoEnvironment& environment, QuitGuard& guard, QObject* parent)
    : QObject(parent), m_environment(environment), m_guard(guard)
{
    m_poll.setInterval(100);
    connect(&m_poll, &QTimer::timeout, this, &HeadlessDemo::step);
    m_watchdog.setSingleShot(true);
    m_watchdog.setInterval(int(kWatchdogSeconds * 1000));
    connect(&m_watchdog, &QTimer::timeout, this,
            [this] { fail(QStringLiteral("La démonstration n’a pas abouti en deux minutes.")); });
}

HeadlessDemo::~HeadlessDemo() = default;

void HeadlessDemo::say(const QString& line)
{
    std::fputs((line + QLatin1Char('\n')).toUtf8().constData(), stdout);
    std::fflush(stdout);
}

void HeadlessDemo::sayTimed(const QString& line)
{
    const QString seconds = QLocale().toString(double(m_elapsed.elapsed()) / 1000.0, 'f', 1);
    say(QStringLiteral("[%1 s] ").arg(seconds, 5) + line);
}

void HeadlessDemo::start()
{
    m_elapsed.start();
    AppModel& model = m_environment.model();
    sim::Mac& mac = m_environment.mac();
    say(QStringLiteral("Orlea · démonstration d’un appel, sans fenêtre"));
    say(QStringLiteral("Données : ") + AppPaths::applicationSupport());
    say(QStringLiteral("Mac simulé : ") + mac.stateFolder());
    say((m_environment.standIn() ? QStringLiteral("IA de démonstration : ") : QStringLiteral("IA : ")) +
        m_environment.aiURL().toString());
    m_caller = DemoCaller::make(mac.stateFolder() + QStringLiteral("/Voix"));
    if (m_hostSound) {
        const sim::ComputerSound& sound = mac.computerSound();
        say(QStringLiteral("Son de l’ordinateur : vous êtes l’appelant, au micro « ") +
            sound.describe(sound.callerInput()) + QStringLiteral(" », et vous l’entendez sur « ") +
            sound.describe(sound.callerOutput()) + QStringLiteral(" »."));
        if (sound.cancelsCallerEcho() || !sound.notice().isEmpty())
            say(sound.notice());
    } else if (!m_caller->fallbackReason().isEmpty())
        say(QStringLiteral("Voix de synthèse indisponible (") + m_caller->fallbackReason() +
            QStringLiteral(") : l’appelant parle par des bips."));

    // The demo's user grants whatever macOS asks for, as someone setting up the Mac would, and speaks
    // when the Mac's microphone is checked.
    mac.setUserAnswer(sim::UserAnswer::Grant);
    mac.setMacMicrophoneSound(DemoCaller::personAtTheMac(mac.stateFolder() + QStringLiteral("/Voix")));
    connect(&model, &AppModel::changed, this, &HeadlessDemo::modelChanged);
    modelChanged();
    // The assistant is open, so the setup resumes by itself once each macOS step is done.
    model.setShowSetupAssistant(true);
    model.configureAll();
    m_poll.start();
    m_watchdog.start();
}

void HeadlessDemo::modelChanged()
{
    if (m_stage == Stage::Done)
        return;
    AppModel& model = m_environment.model();
    // The checks append live measurements on further lines; their first line says what happens.
    const QString configuration = firstLine(model.configurationStatus());
    if (configuration != m_shownConfiguration) {
        m_shownConfiguration = configuration;
        sayTimed(QStringLiteral("Configuration : ") + m_shownConfiguration);
    }
    const QString status = firstLine(model.status());
    const QString detail = firstLine(model.detail());
    if (status != m_shownStatus || detail != m_shownDetail) {
        m_shownStatus = status;
        m_shownDetail = detail;
        // The checks echo their progress into the status too; once is enough.
        if (status != configuration)
            sayTimed(status + QStringLiteral(" — ") + detail);
    }
    if (model.current() && model.current()->id != m_session) {
        m_session = model.current()->id;
        m_shownLines = 0;
    }
    // Lines added in the turn that ended the session are read from the saved record.
    const CallRecord* record = nullptr;
    if (model.current() && model.current()->id == m_session)
        record = &*model.current();
    else if (m_session)
        record = model.history().find(*m_session);
    if (record) {
        for (; m_shownLines < record->transcript.size(); ++m_shownLines)
            printLine(record->transcript[m_shownLines].speaker, record->transcript[m_shownLines].text);
    }
    // When the draft was asked for and when it came; its content is printed at the end.
    if (model.followUpDraftStatus() != m_shownDraftStatus) {
        m_shownDraftStatus = model.followUpDraftStatus();
        if (!m_shownDraftStatus.isEmpty())
            sayTimed(m_shownDraftStatus);
    }
    if (record && record->followUpDraft && !m_draftShown) {
        m_draftShown = true;
        sayTimed(QStringLiteral("Résumé de l’appel reçu de l’IA."));
    }
    if (model.error() != m_shownError) {
        m_shownError = model.error();
        if (m_shownError)
            fail(*m_shownError);
    }
}

void HeadlessDemo::printLine(const QString& speaker, const QString& text)
{
    sayTimed(QStringLiteral("   ") + speaker + QStringLiteral(" : ") + text);
}

void HeadlessDemo::step()
{
    switch (m_stage) {
    case Stage::Configuring:
        configure();
        break;
    case Stage::Arming: {
        AppModel& model = m_environment.model();
        if (model.armed()) {
            m_stage = Stage::Ringing;
            sayTimed(QStringLiteral("Un appelant francophone appelle le ") + kCallerText +
                     QStringLiteral("."));
            if (m_hostSound)
                m_environment.mac().ring(kCallerText, m_environment.mac().computerSound().callerVoice());
            else
                m_environment.mac().ring(kCallerText, m_caller);
        } else if (!model.checkingAI()) {
            fail(model.error().value_or(model.aiStatus()));
        }
        break;
    }
    case Stage::Ringing:
        if (m_environment.model().connected()) {
            m_stage = Stage::Talking;
            m_connectedAt = double(m_elapsed.elapsed()) / 1000.0;
        }
        break;
    case Stage::Talking:
        talk();
        break;
    case Stage::HangingUp:
        break;
    case Stage::Ending:
        conclude();
        break;
    case Stage::Done:
        break;
    }
}

void HeadlessDemo::configure()
{
    AppModel& model = m_environment.model();
    if (model.configuringAll() || model.setupWaiting() || model.setupWorking())
        return;
    if (!model.keyPresent() && !m_keySaved) {
        m_keySaved = true;
        sayTimed(QStringLiteral("La clé de démonstration est saisie."));
        model.saveKey(m_environment.demoKey());
        model.configureAll();
        return;
    }
    if (!model.readinessIssues().isEmpty() || model.configurationStatus() != kConfigured) {
        fail(model.configurationStatus());
        return;
    }
    model.setShowSetupAssistant(false);
    m_environment.mac().setMacMicrophoneSound(nullptr);
    m_stage = Stage::Arming;
    sayTimed(QStringLiteral("Activation du standard."));
    model.toggleArmed();
}

void HeadlessDemo::talk()
{
    AppModel& model = m_environment.model();
    const double now = double(m_elapsed.elapsed()) / 1000.0;
    if (!model.busy()) {
        // The call ended on the model's side; a failure has been reported through `error`.
        m_stage = Stage::Ending;
        return;
    }
    if (!m_answeredAt && model.current()) {
        int callerTurns = 0;
        for (const TranscriptLine& line : model.current()->transcript)
            callerTurns += line.speaker == QLatin1String("Interlocuteur");
        const QList<TranscriptLine>& lines = model.current()->transcript;
        const bool aiLast = !lines.isEmpty() && lines.last().speaker == QLatin1String("Orlea");
        // The person says what they like; the call ends when the AI takes its leave.
        const QString said = aiLast ? lines.last().text : QString();
        const bool farewell = said.contains(QStringLiteral("au revoir"), Qt::CaseInsensitive) ||
                              said.contains(QStringLiteral("bonne journée"), Qt::CaseInsensitive);
        if (m_hostSound ? farewell : callerTurns >= m_caller->turns() && aiLast)
            m_answeredAt = now;
    }
    const bool answered = m_answeredAt && now - *m_answeredAt >= kHangUpGraceSeconds;
    if (answered || now - m_connectedAt >= kLongestCallSeconds) {
        m_stage = Stage::Ending;
        sayTimed(QStringLiteral("L’appelant raccroche."));
        m_environment.mac().callerHangsUp();
    }
}

void HeadlessDemo::conclude()
{
    AppModel& model = m_environment.model();
    if (model.busy() || !m_session || !model.finalizingRecordings().isEmpty() || model.draftingFollowUp())
        return;
    const CallRecord* record = model.history().find(*m_session);
    if (!record) {
        fail(QStringLiteral("La conversation n’a pas été enregistrée dans l’historique."));
        return;
    }
    // An urgent call is being announced: the system asks the user first.
    if (record->isUrgent() && m_environment.mac().notificationCenter().delivered().isEmpty() &&
        !model.urgentBanner())
        return;
    if (record->recordingError) {
        fail(QStringLiteral("L’enregistrement audio a échoué : ") + *record->recordingError);
        return;
    }
    m_stage = Stage::Done;
    m_poll.stop();
    m_watchdog.stop();
    printFiles();
    printLatencies();
    printFollowUp(*record);
    say(QStringLiteral("Démonstration terminée."));
    emit finished(0);
}

void HeadlessDemo::printFiles()
{
    AppModel& model = m_environment.model();
    say(QStringLiteral("Historique : ") + AppPaths::historyFile());
    if (!m_session)
        return;
    if (const CallRecord* record = model.history().find(*m_session)) {
        say(QStringLiteral("Transcription : ") + TranscriptFiles::filePath(record->id));
        if (const std::optional<QString> recording = TranscriptExport::recordingURL(*record))
            say(QStringLiteral("Enregistrement : ") + *recording);
    }
}

void HeadlessDemo::printLatencies()
{
    sim::Mac& mac = m_environment.mac();
    // What the caller heard starts at the answer, at 48 kHz.
    const std::vector<float> heard = mac.callAudio().heardByCaller();
    for (size_t i = 0; i < heard.size(); ++i) {
        if (std::fabs(heard[i]) >= DemoCaller::kSoundLevel) {
            say(QStringLiteral("Latence : décroché → première voix de l’IA au micro de Téléphone : ") +
                milliseconds(double(i) / DemoCaller::kSampleRateHz * 1000.0) +
                QStringLiteral(" (dont %1 d’attente avant l’accueil)")
                    .arg(milliseconds(AppModel::kGreetingDelaySeconds * 1000.0)));
            break;
        }
    }
    const auto spoke = m_hostSound ? std::nullopt : m_caller->firstSound();
    const auto received =
        m_environment.standIn() ? m_environment.standIn()->firstSoundReceived() : std::nullopt;
    if (spoke && received)
        say(QStringLiteral("Latence : voix de l’appelant sortie de Téléphone → premier envoi à l’IA : ") +
            milliseconds(std::chrono::duration<double, std::milli>(*received - *spoke).count()));
    // Measured by the application itself, answer after answer.
    const QList<double>& turns = m_environment.model().turnLatencies();
    if (turns.isEmpty())
        return;
    QStringList each;
    for (const double seconds : turns)
        each << milliseconds(seconds * 1000.0);
    const std::optional<ResponseLatency> summary = ResponseLatency::summarize(turns);
    say(QStringLiteral("Réactivité, réponse par réponse (fin de parole de l’appelant → première voix de l’IA "
                       "vers Téléphone) : ") +
        each.join(QStringLiteral(" · ")) + QStringLiteral(" ; médiane ") + milliseconds(summary->medianMs));
}

void HeadlessDemo::printFollowUp(const CallRecord& record)
{
    if (!record.followUpDraft) {
        const QStringList why = m_environment.model().log().filter(QStringLiteral("Résumé de l’appel"));
        say(QStringLiteral("Résumé de l’appel : aucun") +
            (why.isEmpty() ? QString()
                           : QStringLiteral(" (") + why.first().section(QStringLiteral(" · "), 1) + ')'));
        return;
    }
    say(QStringLiteral("Résumé de l’appel, proposé par l’IA après le raccroché :"));
    for (const auto& [label, value] : record.followUpDraft->fields())
        say(QStringLiteral("   ") + label + QStringLiteral(" : ") + value);
    for (const notifications::NotificationRequest& shown :
         m_environment.mac().notificationCenter().delivered())
        say(QStringLiteral("Notification : ") + shown.title + QStringLiteral(" — ") + shown.body);
    if (m_environment.model().urgentBanner())
        say(QStringLiteral("Appel urgent signalé dans la fenêtre (notification impossible)."));
}

void HeadlessDemo::fail(const QString& message)
{
    if (m_stage == Stage::Done)
        return;
    m_stage = Stage::Done;
    m_poll.stop();
    m_watchdog.stop();
    std::fputs(("Échec : " + message + QLatin1Char('\n')).toUtf8().constData(), stderr);
    std::fflush(stderr);
    // What was running is ended and saved before the program stops.
    m_guard.requestQuit(message, 1);
}

int HeadlessDemo::interrupted(const QString& reason)
{
    if (m_stage != Stage::Done) {
        m_stage = Stage::Done;
        m_poll.stop();
        m_watchdog.stop();
        say(reason + QStringLiteral(" : la conversation en cours est terminée et enregistrée."));
        printFiles();
    }
    return 0;
}
