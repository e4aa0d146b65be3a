#include "tests/model/StandInModelTest.h"

#include "app/common/PrivateFile.h"
#include "app/model/FollowUpDrafter.h"
#include "app/realtime/RealtimeClient.h"
#include "app/records/HistoryCodec.h"
#include "app/records/TranscriptFiles.h"
#include "platform/sim/mac/PhoneCallAudio.h"

#include <QDirIterator>
#include <QJsonArray>
#include <QMutex>

namespace {

// The caller says two things, a few seconds apart, then stays silent: the stand-in reports its first two
// caller lines (the leak, then the name and address) and answers each.
std::shared_ptr<sim::InputSource> twoTurns()
{
    constexpr int kRate = 48'000;
    std::vector<float> samples(size_t(7 * kRate), 0.0f);
    for (const double start : {2.0, 4.5}) {
        for (size_t i = size_t(start * kRate); i < size_t((start + 1.0) * kRate); ++i)
            samples[i] = 0.5f * float(std::sin(2.0 * M_PI * 440.0 * double(i) / kRate));
    }
    return sim::InputSource::samples(std::move(samples));
}

} // namespace

class FollowUpTest : public StandInModelTest {
protected:
    bool withAgent() const override { return true; }
    RealtimeStandInThread::Options standInOptions() const override
    {
        RealtimeStandInThread::Options options = StandInModelTest::standInOptions();
        options.onEvent = [this](const QJsonObject& event) {
            const QMutexLocker lock(&m_eventsLock);
            m_events << event;
        };
        return options;
    }

    // The client events of one type the stand-in received so far.
    QList<QJsonObject> received(const QString& type) const
    {
        const QMutexLocker lock(&m_eventsLock);
        QList<QJsonObject> found;
        for (const QJsonObject& event : m_events)
            if (event["type"].toString() == type)
                found << event;
        return found;
    }

    int callerLines() const
    {
        int lines = 0;
        if (model->current())
            for (const TranscriptLine& line : model->current()->transcript)
                lines += line.speaker == "Interlocuteur";
        return lines;
    }

    // Arms if needed, rings, lets the caller say both lines and hear the answers, then hangs up. Returns
    // the call's record.
    QUuid holdCall()
    {
        if (!model->armed()) {
            model->toggleArmed();
            EXPECT_TRUE(waitFor([&] { return model->armed(); })) << model->error().value_or("").toStdString();
        }
        mac.ring("06 12 34 56 78", twoTurns());
        advance(4.5);
        EXPECT_TRUE(waitFor([&] { return model->connected(); })) << model->error().value_or("").toStdString();
        if (!model->current())
            return {};
        const QUuid id = model->current()->id;
        for (int step = 0; step < 200 && callerLines() < 2; ++step) {
            mac.advance(0.1);
            waitFor([&] { return !model->realtime().isSending(); }, 500);
            waitFor([&] { return false; }, 5); // the stand-in runs on its own thread
        }
        EXPECT_EQ(callerLines(), 2);
        model->hangUp();
        return id;
    }

    const CallRecord& saved(const QUuid& id) const { return *model->history().find(id); }
    static QString json(const CallRecord& record)
    {
        return QString::fromUtf8(HistoryCodec::encodeRecord(record));
    }

private:
    mutable QMutex m_eventsLock;
    mutable QList<QJsonObject> m_events; // filled on the stand-in's thread
};

TEST_F(FollowUpTest, AWholeCallEndsWithItsDraftStoredShownCountedAndAnnounced)
{
    mac.notificationCenter().setPromptAnswer(sim::UserAnswer::Grant);
    const QUuid id = holdCall();
    ASSERT_FALSE(id.isNull());

    // Saved at once, as before; the draft comes after.
    const CallRecord atHangUp = saved(id);
    EXPECT_FALSE(atHangUp.followUpDraft.has_value());
    EXPECT_EQ(model->lastCall(), std::optional<QUuid>(id));
    EXPECT_EQ(model->followUpDraftStatus(), "Résumé de l’appel en préparation…");
    ASSERT_TRUE(waitFor([&] { return !model->draftingFollowUp(); }, 5000));

    const CallRecord& record = saved(id);
    ASSERT_TRUE(record.followUpDraft.has_value()) << model->log().join("\n").toStdString();
    const FollowUpDraft& draft = *record.followUpDraft;
    EXPECT_EQ(draft.callerName, "Claire Martin");
    EXPECT_EQ(draft.address, "12 rue des Lilas, appartement 4");
    EXPECT_EQ(draft.request, "Fuite d’eau sous l’évier de la cuisine, à faire constater et réparer.");
    EXPECT_TRUE(draft.urgent);
    EXPECT_EQ(draft.dossier, "12 rue des Lilas");
    EXPECT_FALSE(draft.decision.has_value()) << "a suggestion until the manager decides";
    EXPECT_TRUE(model->followUpDraftStatus().isEmpty());
    EXPECT_TRUE(model->log().first().endsWith(" · Résumé de l’appel prêt · appel urgent"));

    // The only answer asked for after the call: out of band, text, bounded, named by its metadata.
    const QList<QJsonObject> requests = received("response.create");
    ASSERT_FALSE(requests.isEmpty());
    const QJsonObject request = requests.last()["response"].toObject();
    EXPECT_EQ(request["conversation"], "none");
    EXPECT_EQ(request["output_modalities"], QJsonArray{"text"});
    EXPECT_EQ(request["max_output_tokens"], FollowUpDrafter::kMaxOutputTokens);
    EXPECT_EQ(request["metadata"].toObject(), FollowUpDrafter::metadata(id));

    // Nothing else of the record changed (the recording is finished meanwhile, on its own); its usage
    // now counts the draft's tokens, nothing pending.
    CallRecord unchanged = record;
    unchanged.followUpDraft.reset();
    unchanged.usage = atHangUp.usage;
    unchanged.recordingFile = atHangUp.recordingFile;
    EXPECT_EQ(json(unchanged), json(atHangUp));
    ASSERT_TRUE(record.usage && atHangUp.usage);
    EXPECT_GT(record.usage->outputTokens, atHangUp.usage->outputTokens);
    EXPECT_GT(record.usage->inputTokens, atHangUp.usage->inputTokens);
    EXPECT_EQ(record.usage->pendingResponses, 0);
    EXPECT_EQ(model->conversationUsage(), *record.usage);

    // Kept with the history and summed up above the transcript's lines.
    const std::optional<QByteArray> history = PrivateFile::read(AppPaths::historyFile());
    ASSERT_TRUE(history.has_value());
    EXPECT_TRUE(history->contains("\"followUpDraft\":{\"callerName\":\"Claire Martin\""));
    const std::optional<QByteArray> transcript = PrivateFile::read(TranscriptFiles::filePath(id));
    ASSERT_TRUE(transcript.has_value());
    const QString document = QString::fromUtf8(*transcript);
    EXPECT_TRUE(document.contains("RÉSUMÉ (proposé par l’IA)\nAppelant : Claire Martin\n"))
        << document.toStdString();
    EXPECT_LT(document.indexOf("RÉSUMÉ"), document.indexOf("TRANSCRIPTION\n"));

    // One notification names the caller and the request; clicking it opens the call.
    advance(1.0);
    const QList<notifications::NotificationRequest>& shown = mac.notificationCenter().delivered();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0].title, "Appel urgent · Claire Martin");
    EXPECT_EQ(shown[0].body, draft.request);
    EXPECT_FALSE(model->urgentBanner().has_value());
    model->setPage("Le standard");
    ASSERT_TRUE(mac.notificationCenter().activate(shown[0].identifier));
    EXPECT_EQ(model->selectedRecord(), std::optional<QUuid>(id));
    EXPECT_EQ(model->page(), "Conversations");
}

namespace {

// The stand-in's prompts with the draft suggesting `dossier` for the caller's address.
QString promptsSuggesting(const QString& folder, const QString& dossier)
{
    QDir().mkpath(folder);
    QDirIterator files(QStringLiteral(":/realtime-standin/prompts"));
    while (files.hasNext()) {
        const QString file = files.next();
        QFile::copy(file, folder + QLatin1Char('/') + QFileInfo(file).fileName());
    }
    QFile facts(folder + QStringLiteral("/follow-up.txt"));
    facts.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    if (facts.open(QIODevice::Append))
        facts.write("2\tdossier\t" + dossier.toUtf8() + "\n");
    return folder;
}

} // namespace

TEST_F(FollowUpTest, EachBadDraftLeavesTheRecordAsItWasAndIsLoggedOnce)
{
    mac.notificationCenter().setPromptAnswer(sim::UserAnswer::Grant);
    enum class Ending { Answered, Deadline, NewCall, Quit };
    struct Case {
        const char* what;
        StandInAgent::DraftFault fault;
        QString dossier; // empty: the script's own
        Ending ending;
        const char* logged;
        bool provision; // the draft started and never ended: its bounded provision stays
    };
    const Case cases[] = {
        {"malformed", StandInAgent::DraftFault::Malformed, {}, Ending::Answered, "réponse illisible", false},
        {"oversized",
         StandInAgent::DraftFault::Oversized,
         {},
         Ending::Answered,
         "champ « request » trop long",
         false},
        {"a reserved dossier", StandInAgent::DraftFault::None, "Urgents", Ending::Answered, "réservé", false},
        {"a blank dossier", StandInAgent::DraftFault::None, "   ", Ending::Answered, "dossier suggéré vide",
         false},
        {"none",
         StandInAgent::DraftFault::Silent,
         {},
         Ending::Deadline,
         "aucune réponse dans les 8 secondes",
         true},
        {"late",
         StandInAgent::DraftFault::Late,
         {},
         Ending::Deadline,
         "aucune réponse dans les 8 secondes",
         true},
        {"a new call",
         StandInAgent::DraftFault::Silent,
         {},
         Ending::NewCall,
         "une nouvelle conversation a commencé",
         true},
        {"quitting", StandInAgent::DraftFault::Silent, {}, Ending::Quit, "Orlea se ferme", true},
    };
    const QString prompts = home.path() + QStringLiteral("/prompts-");
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RealtimeStandInThread::Options options = standInOptions();
        options.draftFault = c.fault;
        if (!c.dossier.isNull())
            options.promptsFolder = promptsSuggesting(prompts + QString::number(++index), c.dossier);
        ASSERT_TRUE(standIn.start(options)) << standIn.errorString().toStdString();
        qputenv("ORLEA_REALTIME_URL", standIn.url().toString().toUtf8());

        const QUuid id = holdCall();
        ASSERT_FALSE(id.isNull());
        const CallRecord atHangUp = saved(id);
        waitFor([] { return false; },
                200); // the request reaches the stand-in and its answer or start comes back
        switch (c.ending) {
        case Ending::Answered:
            ASSERT_TRUE(waitFor([&] { return !model->draftingFollowUp(); }, 5000));
            break;
        case Ending::Deadline:
            EXPECT_TRUE(model->draftingFollowUp());
            advance(FollowUpDrafter::kMaxSeconds + 0.2);
            break;
        case Ending::NewCall:
            mac.ring("07 00 00 00 00", sim::toneVoice(440, 0.5f, 0.5));
            advance(0.5);
            model->takeCurrentCall();
            EXPECT_TRUE(model->busy());
            EXPECT_FALSE(model->lastCall().has_value()) << "the live card is the new call's";
            break;
        case Ending::Quit:
            model->finishBeforeQuit(0, [] {});
            break;
        }
        EXPECT_FALSE(model->draftingFollowUp());

        const CallRecord& record = saved(id);
        EXPECT_FALSE(record.followUpDraft.has_value());
        CallRecord unchanged = record;
        unchanged.usage = atHangUp.usage;
        unchanged.recordingFile = atHangUp.recordingFile;
        EXPECT_EQ(json(unchanged), json(atHangUp));
        ASSERT_TRUE(record.usage.has_value());
        EXPECT_EQ(record.usage->pendingSummaries, c.provision ? 1 : 0);
        EXPECT_EQ(record.usage->label().endsWith(" · provision du résumé incluse"), c.provision)
            << record.usage->label().toStdString();
        const QStringList lines = model->log().filter(" · Résumé de l’appel indisponible : ");
        ASSERT_EQ(lines.size(), 1) << model->log().join("\n").toStdString();
        EXPECT_TRUE(lines[0].contains(QString::fromUtf8(c.logged))) << lines[0].toStdString();
        EXPECT_TRUE(mac.notificationCenter().delivered().isEmpty());

        // Ready for the next: the log cleared of this one, no call, the cool-down over.
        if (model->busy())
            model->hangUp();
        model->setLog({});
        advance(AppModel::kCooldownSeconds + 1);
    }
}

TEST_F(FollowUpTest, AnUrgentCallThatNoNotificationCanAnnounceIsShownInTheWindow)
{
    mac.notificationCenter().setPromptAnswer(sim::UserAnswer::Deny);
    const QUuid id = holdCall();
    ASSERT_TRUE(waitFor([&] { return !model->draftingFollowUp(); }, 5000));
    advance(1.0);
    EXPECT_TRUE(mac.notificationCenter().delivered().isEmpty());
    EXPECT_EQ(model->urgentBanner(), std::optional<QUuid>(id));
    EXPECT_TRUE(model->log().first().endsWith(" · Notification impossible (notifications non autorisées) : "
                                              "l’appel urgent est signalé dans la fenêtre"))
        << model->log().first().toStdString();
    model->openCall(id);
    EXPECT_FALSE(model->urgentBanner().has_value());
    EXPECT_EQ(model->selectedRecord(), std::optional<QUuid>(id));
}
