#include "app/phone/PhoneAutomation.h"
#include "app/common/AppError.h"
#include "tests/phone/PhoneTestDesktop.h"

#include <gtest/gtest.h>

using sim::CallState;
using sim::PhoneApp;
using sim::Surface;

namespace {

class PhoneAutomationTest : public ::testing::Test {
protected:
    PhoneTestDesktop sim;
    PhoneAutomation automation{sim.desktop, sim.desktop, sim.clock};

    // The message of the AppError `operation` throws, or "" when it does not throw.
    template <typename F> QString errorOf(F operation)
    {
        try {
            operation();
        } catch (const AppError& error) {
            return error.message();
        }
        return QString();
    }

    // Gives FaceTime (a phone application) a window holding the given elements, in order.
    std::shared_ptr<sim::AxNode> faceTimeWindow()
    {
        sim.desktop.setRunning(PhoneApp::kFaceTimeBundle, true);
        auto* app = sim.desktop.application(PhoneApp::kFaceTimeBundle);
        app->root->removeAllChildren();
        return app->root->add(sim::AxNode::make(ax::kWindowRole, "FaceTime"));
    }
};

const QString kGone = QStringLiteral("L’appel n’est plus disponible.");
const QString kNoHangupButton =
    QStringLiteral("Bouton Raccrocher introuvable : terminez l’appel dans Téléphone.");

} // namespace

TEST_F(PhoneAutomationTest, AnswerLabelsMatchExactlyAfterFolding)
{
    const QStringList accepted = {"Accepter",           "Répondre à l'appel", "Répondre à l’appel",
                                  "RÉPONDRE À L’APPEL", "  Décrocher ",       "\nAnswer\n",
                                  "Accept Call",        "répondre a l’appel"};
    for (const QString& label : accepted) {
        sim.phone.setLabels(sim.labelsWithAnswer(label));
        sim.phone.ring("06 12 34 56 78", Surface::AppWindow);
        EXPECT_TRUE(automation.incoming().has_value())
            << "label «" << label.toStdString() << "» is an answer";
    }
    const QStringList rejected = {"Répondre maintenant",
                                  "Accepter l’invitation",
                                  "Acceptez",
                                  "Répondre à",
                                  "Décrocher !",
                                  "Refuser",
                                  "Rép ondre"};
    for (const QString& label : rejected) {
        sim.phone.setLabels(sim.labelsWithAnswer(label));
        sim.phone.ring("06 12 34 56 78", Surface::AppWindow);
        EXPECT_FALSE(automation.incoming().has_value())
            << "label «" << label.toStdString() << "» is not an answer (no substring matching)";
    }
}

TEST_F(PhoneAutomationTest, ButtonLabelsAreReadFromTitleDescriptionHelpAndValue)
{
    for (const QString& attribute :
         {ax::kTitleAttribute, ax::kDescriptionAttribute, ax::kHelpAttribute, ax::kValueAttribute}) {
        sim::CallLabels labels = sim.phone.labels();
        labels.labelAttribute = attribute;
        sim.phone.setLabels(labels);
        sim.phone.ring("06 12 34 56 78", Surface::AppWindow);
        EXPECT_TRUE(automation.incoming().has_value()) << "label in " << attribute.toStdString();
    }
    // A static text that says "Accepter" is not a button.
    auto window = faceTimeWindow();
    window->add(sim::AxNode::text("Accepter"));
    sim.phone.reset();
    EXPECT_FALSE(automation.incoming().has_value());
}

TEST_F(PhoneAutomationTest, BannerAnswerButtonsNeedACallScreenWordAround)
{
    // Alone, a calendar invitation's "Accept" is no call.
    sim.phone.showUnrelatedBanner("Calendrier", "Réunion d’équipe à 10:00", "Accept");
    EXPECT_FALSE(automation.incoming().has_value()) << "an unrelated banner must not be answered";

    // With a telephony banner beside it, the search goes past the invitation to the call.
    sim.phone.ring("+33 6 12 34 56 78", Surface::Banner);
    auto call = automation.incoming();
    ASSERT_TRUE(call.has_value());
    automation.answer(*call);
    EXPECT_EQ(sim.phone.state(), CallState::Active) << "the telephony banner's button was pressed";

    // Banner words are compared whole, folded: "FaceTime" and "Incoming Call" qualify, "Appels" does not.
    const std::pair<QString, bool> banners[] = {
        {"FaceTime", true}, {"  INCOMING CALL ", true}, {"Appels", false}, {"Téléphone portable", false}};
    for (const auto& [appName, isCall] : banners) {
        sim::CallLabels labels = sim.phone.labels();
        labels.appName = appName;
        sim.phone.setLabels(labels);
        sim.phone.ring("+33 6 12 34 56 78", Surface::Banner);
        EXPECT_EQ(automation.incoming().has_value(), isCall) << "banner titled " << appName.toStdString();
    }

    // Inside the Phone app the same button needs no call-screen word.
    sim::CallLabels labels = sim.phone.labels();
    labels.appName = "Appels";
    labels.incomingCall = "Nouvel appel";
    sim.phone.setLabels(labels);
    sim.phone.ring("Marie Dupont", Surface::AppWindow);
    EXPECT_TRUE(automation.incoming().has_value()) << "a phone application's answer button is trusted";
}

TEST_F(PhoneAutomationTest, CallerIsTheDisplayedNumberOrIdentityToConfirm)
{
    sim.phone.ring("+33 6 12 34 56 78", Surface::Banner);
    auto call = automation.incoming();
    ASSERT_TRUE(call.has_value());
    EXPECT_EQ(call->caller, QString("+33 6 12 34 56 78")) << "the number exactly as displayed";

    sim.phone.ring("01.23.45.67.89", Surface::AppWindow);
    call = automation.incoming();
    ASSERT_TRUE(call.has_value());
    EXPECT_EQ(call->caller, QString("01.23.45.67.89"));

    // A contact name: the numbers of the recent-calls list elsewhere in the Phone app are not the caller.
    sim.phone.ring("Marie Dupont", Surface::AppWindow);
    call = automation.incoming();
    ASSERT_TRUE(call.has_value());
    EXPECT_EQ(call->caller, QString("Identité à confirmer"));

    sim.phone.ring("Marie Dupont", Surface::Banner);
    call = automation.incoming();
    ASSERT_TRUE(call.has_value());
    EXPECT_EQ(call->caller, QString("Identité à confirmer"));
}

TEST_F(PhoneAutomationTest, AnswerRechecksTheButtonAndReportsEachFailure)
{
    sim.phone.ring("06 12 34 56 78", Surface::AppWindow);
    EXPECT_FALSE(automation.hasActiveCall()) << "a ringing call is not active";
    auto call = automation.incoming();
    ASSERT_TRUE(call.has_value());

    // The Phone app redrew its window: the button found earlier no longer exists.
    sim.phone.refreshInterface();
    EXPECT_EQ(errorOf([&] { automation.answer(*call); }), kGone);
    EXPECT_EQ(sim.phone.answerPresses(), 0);

    // The caller gave up between the sighting and the answer.
    call = automation.incoming();
    ASSERT_TRUE(call.has_value());
    sim.phone.callerHangsUp();
    EXPECT_EQ(errorOf([&] { automation.answer(*call); }), kGone);

    // The button is there but does not react.
    sim.phone.ring("06 12 34 56 78", Surface::AppWindow);
    sim.phone.setAnswerPressFails(true);
    call = automation.incoming();
    ASSERT_TRUE(call.has_value());
    EXPECT_EQ(errorOf([&] { automation.answer(*call); }),
              QString("Le bouton Décrocher n’a pas répondu. Décrochez dans Téléphone."));

    // Trust withdrawn: nothing is seen, nothing is pressed.
    sim.phone.setAnswerPressFails(false);
    sim.desktop.setTrusted(false);
    EXPECT_FALSE(automation.incoming().has_value());
    EXPECT_EQ(errorOf([&] { automation.answer(*call); }), kGone);
    EXPECT_FALSE(automation.hasActiveCall());
    EXPECT_EQ(errorOf([&] { automation.hangup(); }), kNoHangupButton);

    sim.desktop.setTrusted(true);
    EXPECT_EQ(errorOf([&] { automation.answer(*call); }), QString());
    EXPECT_EQ(sim.phone.state(), CallState::Active);
    EXPECT_TRUE(automation.hasActiveCall());
}

TEST_F(PhoneAutomationTest, HangupUsesOnlyPhoneApplications)
{
    EXPECT_EQ(errorOf([&] { automation.hangup(); }), kNoHangupButton) << "no call at all";

    // An outgoing call (dialled through a tel: URL) can be joined and hung up before it is answered.
    ASSERT_TRUE(sim.desktop.openUrl(QUrl("tel:0612345678")));
    EXPECT_TRUE(automation.hasActiveCall());
    EXPECT_FALSE(automation.incoming().has_value()) << "an outgoing call is not ringing";
    EXPECT_EQ(errorOf([&] { automation.hangup(); }), QString());
    EXPECT_EQ(sim.phone.state(), CallState::Ended);

    sim.phone.setActiveSurface(Surface::Banner);
    sim.phone.ring("06 12 34 56 78", Surface::Banner);
    automation.answer(*automation.incoming());
    EXPECT_TRUE(automation.hasActiveCall()) << "a telephony banner with Raccrocher shows an active call";
    EXPECT_EQ(errorOf([&] { automation.hangup(); }), kNoHangupButton) << "banners are never used to hang up";
    EXPECT_EQ(sim.phone.state(), CallState::Active);

    // In the call interface process the button is pressed.
    sim.phone.setCallProcess(PhoneApp::kCallUIBundle);
    sim.phone.setActiveSurface(Surface::AppWindow);
    sim.phone.setHangupPressFails(true);
    EXPECT_EQ(errorOf([&] { automation.hangup(); }), QString("Raccrochez dans Téléphone."));
    sim.phone.setHangupPressFails(false);
    EXPECT_EQ(errorOf([&] { automation.hangup(); }), QString());
    EXPECT_EQ(sim.phone.state(), CallState::Ended);
    EXPECT_FALSE(automation.hasActiveCall());

    // English and typographic-apostrophe labels of the hang-up button.
    for (const QString label : {"End Call", "Terminer l’appel", "terminer l'appel", " HANG UP "}) {
        sim::CallLabels labels = sim.phone.labels();
        labels.hangup = label;
        sim.phone.setLabels(labels);
        sim.phone.ring("06 12 34 56 78", Surface::AppWindow);
        automation.answer(*automation.incoming());
        EXPECT_TRUE(automation.hasActiveCall()) << label.toStdString();
        EXPECT_EQ(errorOf([&] { automation.hangup(); }), QString()) << label.toStdString();
    }
}

TEST_F(PhoneAutomationTest, AnEnglishMacWorksTheSame)
{
    sim.phone.setLabels(sim::CallLabels::english());
    sim.phone.setActiveSurface(Surface::AppWindowAndBanner);
    sim.phone.ring("+1 415 555 0100", Surface::Banner);
    auto call = automation.incoming();
    ASSERT_TRUE(call.has_value()) << "a banner titled Phone is a call banner";
    EXPECT_EQ(call->caller, QString("+1 415 555 0100"));
    automation.answer(*call);
    EXPECT_TRUE(automation.hasActiveCall());
    EXPECT_EQ(errorOf([&] { automation.hangup(); }), QString())
        << "pressed in the app window, not the banner";
    EXPECT_EQ(sim.phone.state(), CallState::Ended);
}

TEST_F(PhoneAutomationTest, NotificationHangupButtonsCountOnlyInTelephonyBanners)
{
    sim.phone.showUnrelatedBanner("Zoom", "Réunion en cours", "End Call");
    EXPECT_FALSE(automation.hasActiveCall()) << "a conferencing banner is not a phone call";
    sim::CallLabels labels = sim.phone.labels();
    labels.appName = "FaceTime";
    sim.phone.setLabels(labels);
    sim.phone.setActiveSurface(Surface::Banner);
    sim.phone.ring("06 12 34 56 78", Surface::Banner);
    automation.answer(*automation.incoming());
    EXPECT_TRUE(automation.hasActiveCall()) << "any FaceTime banner of the notification centre counts";
}

TEST_F(PhoneAutomationTest, WalkStopsAt600ElementsAndDepth12)
{
    // root(1), window(2), then the texts from the last, then the button: it is visited at 597 + 3.
    auto populate = [&](int texts) {
        auto window = faceTimeWindow();
        window->add(sim::AxNode::button("Accepter", [] { return ax::Error::Success; }));
        for (int i = 0; i < texts; ++i)
            window->add(sim::AxNode::text(QString("Contact %1").arg(i)));
    };
    populate(597);
    EXPECT_TRUE(automation.incoming().has_value()) << "the 600th element is examined";
    populate(598);
    EXPECT_FALSE(automation.incoming().has_value()) << "the 601st element is not";

    auto chain = [&](int buttonDepth) {
        auto node = faceTimeWindow(); // depth 1
        for (int depth = 2; depth < buttonDepth; ++depth)
            node = node->add(sim::AxNode::make(ax::kGroupRole));
        auto button = node->add(sim::AxNode::make(ax::kButtonRole));
        button->title = "Accepter";
        for (int depth = buttonDepth + 1; depth < 20; ++depth)
            button = button->add(sim::AxNode::make(ax::kGroupRole));
    };
    chain(12);
    EXPECT_TRUE(automation.incoming().has_value()) << "depth 12 is examined";
    chain(13);
    EXPECT_FALSE(automation.incoming().has_value()) << "depth 13 is not";

    // Thousands of recent calls walked before the call window hide the call in the Phone app.
    sim.desktop.setRunning(PhoneApp::kFaceTimeBundle, false);
    sim.desktop.addFillerWindow(PhoneApp::kPhoneBundle, 5000, 30);
    sim.phone.ring("06 12 34 56 78", Surface::AppWindow);
    const int before = sim.desktop.requestCount();
    EXPECT_FALSE(automation.incoming().has_value());
    EXPECT_LT(sim.desktop.requestCount() - before, 4 * 700) << "each walk reads a bounded number of elements";
    sim.phone.ring("06 12 34 56 78", Surface::AppWindowAndBanner);
    EXPECT_TRUE(automation.incoming().has_value()) << "the banner is still found";
}

TEST_F(PhoneAutomationTest, SlowOrHungProcessesCostAboutOneSecond)
{
    sim.phone.ring("06 12 34 56 78", Surface::AppWindow);
    sim.desktop.addFillerWindow(PhoneApp::kPhoneBundle, 3000, 8);

    // Slow but answering within the 0.03 s time-out: the deadline ends the walk.
    sim.desktop.setLatency(PhoneApp::kPhoneBundle, 0.02);
    double start = sim.clock.uptimeSeconds();
    EXPECT_FALSE(automation.incoming().has_value());
    double spent = sim.clock.uptimeSeconds() - start;
    EXPECT_GE(spent, 0.99) << "the walk used its budget";
    EXPECT_LE(spent, 1.2) << "and stopped at the deadline";

    // Slower than the element time-out: each read gives up after 0.03 s instead of the system's 6 s.
    sim.desktop.setLatency(PhoneApp::kPhoneBundle, 2.0);
    sim.desktop.application(PhoneApp::kPhoneBundle)->root->latencySeconds = 0;
    start = sim.clock.uptimeSeconds();
    EXPECT_FALSE(automation.hasActiveCall());
    spent = sim.clock.uptimeSeconds() - start;
    EXPECT_LE(spent, 1.2);
    EXPECT_EQ(errorOf([&] { automation.hangup(); }), kNoHangupButton);

    // Every telephony process hung: the application elements give up after 0.15 s each.
    for (const QString& bundle : {PhoneApp::kPhoneBundle, PhoneApp::kCallUIBundle,
                                  PhoneApp::kNotificationCentreBundle, PhoneApp::kFaceTimeBundle})
        sim.desktop.setNeverAnswers(bundle, true);
    sim.desktop.setRunning(PhoneApp::kFaceTimeBundle, true);
    for (auto operation : {0, 1, 2}) {
        start = sim.clock.uptimeSeconds();
        if (operation == 0)
            EXPECT_FALSE(automation.incoming().has_value());
        else if (operation == 1)
            EXPECT_FALSE(automation.hasActiveCall());
        else
            EXPECT_EQ(errorOf([&] { automation.hangup(); }), kNoHangupButton);
        spent = sim.clock.uptimeSeconds() - start;
        EXPECT_GE(spent, 0.15) << "operation " << operation << " waited on the application elements";
        EXPECT_LE(spent, 1.2) << "operation " << operation;
    }

    // The slow process recovers: the call is found again.
    for (const QString& bundle : {PhoneApp::kPhoneBundle, PhoneApp::kCallUIBundle,
                                  PhoneApp::kNotificationCentreBundle, PhoneApp::kFaceTimeBundle})
        sim.desktop.setNeverAnswers(bundle, false);
    sim.desktop.setLatency(PhoneApp::kPhoneBundle, 0);
    sim.phone.ring("06 12 34 56 78", Surface::AppWindowAndBanner);
    EXPECT_TRUE(automation.incoming().has_value());
}
