#include "tests/windows/WindowTestSupport.h"

#include "app/windows/DashboardPage.h"
#include "app/windows/MainWindow.h"
#include "app/windows/TranscriptView.h"

#include <QMessageBox>
#include <QPushButton>
#include <QTest>

namespace {
QLabel* labelNamed(QWidget& root, const char* name)
{
    return root.findChild<QLabel*>(QString::fromLatin1(name));
}

QString symbolOf(QWidget& root, const char* name)
{
    QLabel* label = labelNamed(root, name);
    return label ? label->property("symbol").toString() : QString("<missing>");
}
} // namespace

class DashboardPageTest : public ModelTest {};

TEST_F(DashboardPageTest, TheStatusCardTellsTheThreeStatesApart)
{
    auto model = makeModel();
    DashboardPage page(*model);
    page.resize(880, 780);
    settle();
    QLabel* label = labelNamed(page, "statusLabel");
    ASSERT_NE(label, nullptr);
    QWidget* card = page.findChild<QWidget*>("statusCard");
    ASSERT_NE(card, nullptr);

    EXPECT_EQ(label->text(), "STANDARD EN PAUSE");
    EXPECT_EQ(symbolOf(page, "statusSymbol"), "pause.circle");
    EXPECT_NE(findButton(page, "Activer le standard"), nullptr);
    EXPECT_TRUE(showsText(page, "Prêt à configurer"));
    EXPECT_TRUE(showsText(page, "Relais iPhone non vérifié"));
    EXPECT_TRUE(showsText(page,
                          "Le standard répond aux appels relayés par l’iPhone. Gardez le Mac éveillé et la "
                          "session ouverte."));
    const QString pausedTone = card->property("tone").toString();
    saveSnapshot(page, "dashboard-empty");

    model->setArmed(true);
    model->setStatus("À l’écoute des appels");
    settle();
    EXPECT_EQ(label->text(), "STANDARD ACTIF");
    EXPECT_EQ(symbolOf(page, "statusSymbol"), "circle.fill");
    EXPECT_NE(findButton(page, "Mettre en pause"), nullptr);
    EXPECT_EQ(findButton(page, "Activer le standard"), nullptr);
    EXPECT_FALSE(findButton(page, "Définir le rôle de l’agent")->isEnabled()) << "no role change while armed";
    EXPECT_TRUE(showsText(page, "À l’écoute des appels"));
    const QString armedTone = card->property("tone").toString();

    model->setBusy(true);
    model->setConnected(true);
    model->setAudioDiagnostic("Audio de l’appel : son reçu et envoyé");
    CallRecord live;
    live.id = QUuid::createUuid();
    live.transcript << TranscriptLine::make("Orlea", "Bonjour, je vous écoute.")
                    << TranscriptLine::make("Interlocuteur", "J’ai une fuite sous l’évier.");
    model->setCurrent(live);
    ConversationUsage usage;
    usage.inputTokens = 1200;
    usage.outputTokens = 300;
    usage.estimatedUSD = 0.08;
    model->setConversationUsage(usage);
    model->setTurnLatencies({0.9, 1.3});
    settle();
    EXPECT_EQ(label->text(), "CONVERSATION");
    EXPECT_TRUE(showsText(page, "Réactivité : 1,3 s · médiane 1,1 s"))
        << "the last answer time and the median";
    EXPECT_EQ(symbolOf(page, "statusSymbol"), "circle.fill");
    const QString busyTone = card->property("tone").toString();
    EXPECT_NE(pausedTone, armedTone);
    EXPECT_NE(armedTone, busyTone);
    EXPECT_NE(pausedTone, busyTone);
    EXPECT_TRUE(showsText(page, "Audio de l’appel : son reçu et envoyé"));
    EXPECT_TRUE(showsText(page, usage.label())) << "the usage counter shows while a conversation runs";
    EXPECT_TRUE(findButton(page, "Raccrocher et terminer")->isEnabled());
    EXPECT_TRUE(findButton(page, "Arrêter l’agent")->isEnabled());
    EXPECT_FALSE(findButton(page, "Rejoindre l’appel")->isEnabled());
    EXPECT_FALSE(findButton(page, "Parler à l’IA sur ce Mac")->isEnabled()) << "one conversation at a time";
    EXPECT_FALSE(findButton(page, "Tester en appelant")->isEnabled());
    auto* transcript = page.findChild<TranscriptView*>();
    ASSERT_NE(transcript, nullptr);
    EXPECT_FALSE(transcript->showsPlaceholder());
    EXPECT_TRUE(transcript->plainText().contains("J’ai une fuite sous l’évier."))
        << transcript->plainText().toStdString();
    saveSnapshot(page, "dashboard-conversation");

    model->setBusy(false);
    model->setArmed(false);
    model->setCurrent(std::nullopt);
    settle();
    EXPECT_FALSE(showsText(page, usage.label())) << "no usage counter without a conversation";
    EXPECT_FALSE(showsText(page, "Réactivité : 1,3 s · médiane 1,1 s"));
    EXPECT_TRUE(transcript->showsPlaceholder());
    EXPECT_TRUE(showsText(page, "La transcription apparaîtra ici dès les premières paroles."));
    EXPECT_FALSE(findButton(page, "Raccrocher et terminer")->isEnabled());

    // The Mac audio check reports as it runs: the heading keeps naming the state.
    const QString report = "Parlez maintenant : « Bonjour, test du microphone. »\nMicro du Mac : 0,8 s de "
                           "son reçu · 0,8 s envoyé à l’IA · aucune coupure";
    model->setAudioProbeActive(true);
    model->setStatus(report);
    settle();
    EXPECT_EQ(labelNamed(page, "statusText")->text(), "Vérification de l’audio du Mac…");
    QLabel* diagnostic = labelNamed(page, "statusDiagnostic");
    EXPECT_EQ(diagnostic->text(), report);
    EXPECT_TRUE(diagnostic->isVisibleTo(&page) && diagnostic->wordWrap());
    EXPECT_TRUE(diagnostic->textInteractionFlags() & Qt::TextSelectableByMouse) << "a report can be copied";
    model->setAudioProbeActive(false);
    model->setStatus("Audio du Mac à corriger");
    settle();
    EXPECT_EQ(labelNamed(page, "statusText")->text(), "Audio du Mac à corriger");
    EXPECT_FALSE(diagnostic->isVisibleTo(&page));
}

TEST_F(DashboardPageTest, TheUsageCounterSaysWhatItsPrudentEstimateIsWorth)
{
    auto model = makeModel();
    DashboardPage page(*model);
    page.resize(880, 1400);
    model->setBusy(true);
    ConversationUsage usage;
    usage.inputTokens = 10000;
    usage.outputTokens = 2000;
    usage.estimatedUSD = 0.59;
    usage.model = "gpt-realtime";
    model->setConversationUsage(usage);
    page.show();
    settle();

    QLabel* counter = labelNamed(page, "usageCounter");
    ASSERT_NE(counter, nullptr);
    EXPECT_EQ(counter->text(), "12000 tokens reçus d’OpenAI · budget prudent : 0.59 $ US");
    const QFontMetricsF digits(counter->font());
    for (const QChar digit : QStringLiteral("123456789"))
        EXPECT_EQ(digits.horizontalAdvance(digit), digits.horizontalAdvance('0'))
            << "a changing figure must not make the line jitter: " << QString(digit).toStdString();
    EXPECT_EQ(counter->parentWidget()->findChild<QLabel*>()->property("symbol").toString(), "chart.bar");
    EXPECT_TRUE(showsText(page,
                          "Estimation indicative et volontairement majorée, destinée à vous donner un "
                          "ordre de grandeur. Le montant affiché peut différer de la facturation réelle "
                          "de votre fournisseur d’IA."));

    const QString method =
        "Tokens de conversation confirmés à chaque fin de réponse. Pour gpt-realtime : tarifs audio sans "
        "remise "
        "de cache, marge de 25 %, arrondi au centime supérieur et provision transcription. Une réponse en "
        "cours réserve jusqu’à un contexte complet et une réponse maximale : ce montant peut baisser à "
        "réception du bilan. Estimation en dollars US hors taxes, limitée à cette conversation, pas votre "
        "facture ni votre solde. Tarifs vérifiés le 1er octobre 2026.";
    EXPECT_FALSE(showsText(page, method)) << "the method waits behind its disclosure";
    QAbstractButton* toggle = findButton(page, "Comment le budget est estimé");
    ASSERT_NE(toggle, nullptr);
    toggle->click();
    settle();
    EXPECT_TRUE(showsText(page, method));
    QAbstractButton* link = findButton(page, "Consulter la consommation OpenAI");
    ASSERT_NE(link, nullptr);
    EXPECT_TRUE(link->isVisibleTo(&page));
    EXPECT_EQ(link->property("url").toString(), "https://platform.openai.com/usage");
    saveSnapshot(page, "dashboard-usage");
}

TEST_F(DashboardPageTest, ArmingAFreshMacIsRefusedThroughTheAlert)
{
    auto model = makeModel();
    MainWindow window(*model);
    window.show();
    settle();
    model->setShowSetupAssistant(false);
    settle();
    auto* page = window.findChild<DashboardPage*>();
    ASSERT_NE(page, nullptr);
    QTest::mouseClick(findButton(*page, "Activer le standard"), Qt::LeftButton);
    settle();
    EXPECT_FALSE(model->armed());
    ASSERT_TRUE(model->error().has_value());
    ASSERT_NE(window.errorAlert(), nullptr);
    EXPECT_EQ(window.errorAlert()->text(), *model->error());
    EXPECT_EQ(labelNamed(*page, "statusLabel")->text(), "STANDARD EN PAUSE");
}

TEST_F(DashboardPageTest, JoiningWithoutACallOnlyShowsItsError)
{
    auto model = makeModel();
    DashboardPage page(*model);
    settle();
    QTest::mouseClick(findButton(page, "Rejoindre l’appel"), Qt::LeftButton);
    settle();
    EXPECT_EQ(model->error(),
              std::optional<QString>("Aucun appel actif détecté. Lancez ou décrochez un appel "
                                     "dans Téléphone."));
    EXPECT_FALSE(model->busy());
    EXPECT_FALSE(model->current().has_value());
    EXPECT_TRUE(model->records().isEmpty());
}

TEST_F(DashboardPageTest, BannerChecklistAndShortcutsFollowTheModel)
{
    auto model = makeModel();
    DashboardPage page(*model);
    page.resize(880, 780);
    page.show();
    settle();
    QWidget* banner = page.findChild<QWidget*>("readinessBanner");
    ASSERT_NE(banner, nullptr);
    EXPECT_TRUE(banner->isVisibleTo(&page)) << "a fresh Mac is not ready";
    for (const QString& issue : model->readinessIssues())
        EXPECT_TRUE(labelNamed(page, "readinessIssues")->text().contains(issue)) << issue.toStdString();
    QTest::mouseClick(findButton(page, "Terminer la configuration"), Qt::LeftButton);
    EXPECT_TRUE(model->showSetupAssistant());

    EXPECT_EQ(symbolOf(page, "keyTick"), "circle.dotted");
    EXPECT_EQ(symbolOf(page, "micTick"), "circle.dotted");
    EXPECT_EQ(symbolOf(page, "accessibilityTick"), "circle.dotted");
    model->setKeyPresent(true);
    settle();
    EXPECT_EQ(symbolOf(page, "keyTick"), "checkmark.circle.fill");
    EXPECT_EQ(symbolOf(page, "micTick"), "circle.dotted");
    model->setMicAllowed(true);
    model->setAccessibility(true);
    settle();
    EXPECT_EQ(symbolOf(page, "micTick"), "checkmark.circle.fill");
    EXPECT_EQ(symbolOf(page, "accessibilityTick"), "checkmark.circle.fill");

    QTest::mouseClick(findButton(page, "Configurer les connexions"), Qt::LeftButton);
    EXPECT_EQ(model->page(), "Connexions");
    QTest::mouseClick(findButton(page, "Définir le rôle de l’agent"), Qt::LeftButton);
    EXPECT_TRUE(model->showAgentSetup());
    QTest::mouseClick(findButton(page, "Parler à l’IA sur ce Mac"), Qt::LeftButton);
    EXPECT_TRUE(model->showMacTest());
    QTest::mouseClick(findButton(page, "Tester avec un appel sortant"), Qt::LeftButton);
    EXPECT_TRUE(model->showOutgoingTest());
    model->setShowOutgoingTest(false);
    QTest::mouseClick(findButton(page, "Tester en appelant"), Qt::LeftButton);
    EXPECT_TRUE(model->showOutgoingTest());

    EXPECT_FALSE(findButton(page, "Intervenir au micro")->isEnabled()) << "nobody to talk to without a call";
    EXPECT_TRUE(showsText(page, "Votre micro est fermé · l’IA répond seule"));
    model->setIntervening(true);
    settle();
    EXPECT_TRUE(showsText(page, "Votre micro est ouvert vers l’appelant · IA silencieuse"));
    EXPECT_NE(findButton(page, "Rendre la parole à l’IA"), nullptr);
}

TEST_F(DashboardPageTest, TheDemonstrationIsAddedOnceAndOpenedInConversations)
{
    auto model = makeModel();
    DashboardPage page(*model);
    settle();
    QTest::mouseClick(findButton(page, "Voir une démonstration"), Qt::LeftButton);
    settle();
    ASSERT_EQ(model->records().size(), 1);
    EXPECT_EQ(model->records().first().kind, "Démonstration");
    EXPECT_EQ(model->page(), "Conversations");
    EXPECT_EQ(model->selectedRecord(), std::optional<QUuid>(model->records().first().id));

    model->setPage("Le standard");
    model->setSelectedRecord(std::nullopt);
    QTest::mouseClick(findButton(page, "Voir une démonstration"), Qt::LeftButton);
    settle();
    EXPECT_EQ(model->records().size(), 1) << "the existing demonstration is reopened";
    EXPECT_EQ(model->page(), "Conversations");
    EXPECT_EQ(model->selectedRecord(), std::optional<QUuid>(model->records().first().id));
}
