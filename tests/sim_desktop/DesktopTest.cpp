#include "platform/sim/desktop/Desktop.h"
#include "app/common/Clock.h"
#include "app/common/Scheduler.h"
#include "platform/sim/desktop/PhoneApp.h"

#include <gtest/gtest.h>

using sim::CallState;
using sim::PhoneApp;
using sim::Surface;

namespace {

class DesktopTest : public ::testing::Test {
protected:
    ManualClock clock;
    ManualScheduler scheduler{clock};
    sim::Desktop desktop{clock, scheduler};
    sim::PhoneApp phone{desktop};

    ax::Element application(const QString& bundle)
    {
        return desktop.createApplication(desktop.application(bundle)->pid);
    }

    QString title(const ax::Element& element)
    {
        return desktop.copyAttributeValue(element, ax::kTitleAttribute).string().value_or(QString());
    }

    ax::ElementList children(const ax::Element& element)
    {
        return desktop.copyAttributeValue(element, ax::kChildrenAttribute)
            .elements()
            .value_or(ax::ElementList());
    }

    // The first element under `root` (depth first, in child order) whose label is `label`.
    std::optional<ax::Element> find(const ax::Element& root, const QString& label)
    {
        for (const QString* attribute :
             {&ax::kTitleAttribute, &ax::kDescriptionAttribute, &ax::kValueAttribute})
            if (desktop.copyAttributeValue(root, *attribute).string() == label)
                return root;
        for (const ax::Element& child : children(root))
            if (auto found = find(child, label))
                return found;
        return std::nullopt;
    }
};

} // namespace

TEST_F(DesktopTest, SlowReadsTimeOutOnTheManualClock)
{
    desktop.setLatency(PhoneApp::kPhoneBundle, 0.1);
    ax::Element app = application(PhoneApp::kPhoneBundle);

    double start = clock.uptimeSeconds();
    EXPECT_EQ(title(app), QString("Téléphone")) << "the system's 6 s default waits for a 0.1 s answer";
    EXPECT_NEAR(clock.uptimeSeconds() - start, 0.1, 1e-9);

    ax::Element copy = app;
    ASSERT_EQ(desktop.setMessagingTimeout(app, 0.05f), ax::Error::Success);
    start = clock.uptimeSeconds();
    EXPECT_EQ(desktop.copyAttributeValue(copy, ax::kTitleAttribute).error, ax::Error::CannotComplete)
        << "copies of a handle share its time-out";
    EXPECT_NEAR(clock.uptimeSeconds() - start, 0.05, 1e-6) << "a timed-out read costs the time-out";

    ax::Element fresh = application(PhoneApp::kPhoneBundle);
    EXPECT_TRUE(fresh == app) << "two references to one element are equal";
    EXPECT_FALSE(fresh.isSameReference(app));
    EXPECT_EQ(title(fresh), QString("Téléphone")) << "a new reference has the default time-out";

    desktop.setNeverAnswers(PhoneApp::kPhoneBundle, true);
    start = clock.uptimeSeconds();
    EXPECT_EQ(desktop.copyAttributeValue(fresh, ax::kTitleAttribute).error, ax::Error::CannotComplete);
    EXPECT_NEAR(clock.uptimeSeconds() - start, 6.0, 1e-6);
    EXPECT_EQ(desktop.performAction(app, ax::kPressAction), ax::Error::CannotComplete)
        << "actions time out too";

    // A fast element inside a slow process answers at its own pace.
    desktop.setNeverAnswers(PhoneApp::kPhoneBundle, false);
    desktop.application(PhoneApp::kPhoneBundle)->root->latencySeconds = 0;
    start = clock.uptimeSeconds();
    EXPECT_EQ(children(app).size(), 2);
    EXPECT_EQ(clock.uptimeSeconds(), start);
}

TEST_F(DesktopTest, TrustGatesEveryRequestAndElementsVanish)
{
    phone.ring("06 12 34 56 78", Surface::AppWindow);
    auto answer = find(application(PhoneApp::kPhoneBundle), "Accepter");
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(desktop.copyAttributeValue(*answer, ax::kRoleAttribute).string(), ax::kButtonRole);
    EXPECT_EQ(desktop.copyAttributeValue(*answer, ax::kHelpAttribute).error, ax::Error::NoValue);
    EXPECT_EQ(desktop.copyAttributeValue(*answer, "AXNoSuchThing").error, ax::Error::AttributeUnsupported);

    desktop.setTrusted(false);
    EXPECT_EQ(desktop.copyAttributeValue(*answer, ax::kRoleAttribute).error, ax::Error::APIDisabled);
    EXPECT_EQ(desktop.performAction(*answer, ax::kPressAction), ax::Error::APIDisabled);
    EXPECT_FALSE(desktop.isProcessTrustedWithOptions(false));
    EXPECT_EQ(desktop.trustPromptCount(), 0);
    EXPECT_FALSE(desktop.isProcessTrustedWithOptions(true));
    EXPECT_EQ(desktop.trustPromptCount(), 1) << "asking with the prompt option shows the prompt";
    desktop.setTrusted(true);

    phone.refreshInterface();
    EXPECT_EQ(desktop.copyAttributeValue(*answer, ax::kRoleAttribute).error, ax::Error::InvalidUIElement);
    EXPECT_EQ(desktop.performAction(*answer, ax::kPressAction), ax::Error::InvalidUIElement);
    EXPECT_EQ(phone.state(), CallState::Ringing);

    desktop.setRunning(PhoneApp::kPhoneBundle, false);
    EXPECT_EQ(desktop.copyAttributeValue(application(PhoneApp::kFinderBundle), ax::kRoleAttribute).string(),
              ax::kApplicationRole);
    auto quitApp = find(application(PhoneApp::kFinderBundle), "Documents");
    ASSERT_TRUE(quitApp.has_value());
    desktop.setRunning(PhoneApp::kFinderBundle, false);
    EXPECT_EQ(desktop.copyAttributeValue(*quitApp, ax::kRoleAttribute).error, ax::Error::CannotComplete)
        << "a process that quit answers nothing";
}

TEST_F(DesktopTest, CallsRingGetAnsweredAndEnd)
{
    QList<CallState> changes;
    phone.onCallStateChanged = [&](CallState state) { changes.append(state); };

    phone.ring("+33 6 12 34 56 78", Surface::AppWindowAndBanner);
    auto inApp = find(application(PhoneApp::kPhoneBundle), "Accepter");
    auto inBanner = find(application(PhoneApp::kNotificationCentreBundle), "Accepter");
    ASSERT_TRUE(inApp && inBanner);
    EXPECT_TRUE(find(application(PhoneApp::kNotificationCentreBundle), "+33 6 12 34 56 78").has_value());

    EXPECT_EQ(desktop.performAction(*inBanner, ax::kPressAction), ax::Error::Success);
    EXPECT_EQ(phone.state(), CallState::Active);
    EXPECT_EQ(desktop.performAction(*inApp, ax::kPressAction), ax::Error::InvalidUIElement)
        << "the other surface's answer button is gone";
    auto hangup = find(application(PhoneApp::kPhoneBundle), "Raccrocher");
    ASSERT_TRUE(hangup.has_value());
    EXPECT_FALSE(find(application(PhoneApp::kNotificationCentreBundle), "Raccrocher").has_value());

    EXPECT_EQ(desktop.performAction(*hangup, ax::kPressAction), ax::Error::Success);
    EXPECT_EQ(phone.state(), CallState::Ended);
    EXPECT_FALSE(find(application(PhoneApp::kPhoneBundle), "Raccrocher").has_value());

    phone.ring("Marie Dupont", Surface::Banner);
    phone.callerHangsUp();
    EXPECT_FALSE(find(application(PhoneApp::kNotificationCentreBundle), "Accepter").has_value());
    EXPECT_EQ(changes, (QList<CallState>{CallState::Ringing, CallState::Active, CallState::Ended,
                                         CallState::Ringing, CallState::Ended}));

    phone.ring("Marie Dupont", Surface::AppWindow);
    auto decline = find(application(PhoneApp::kPhoneBundle), "Refuser");
    ASSERT_TRUE(decline.has_value());
    desktop.performAction(*decline, ax::kPressAction);
    EXPECT_EQ(phone.state(), CallState::Ended);
    EXPECT_EQ(phone.answerPresses(), 1);
}

TEST_F(DesktopTest, AudioMenuListsSectionsMarksTheChoiceAndCloses)
{
    QStringList inputs = {"MacBook Pro Microphone"};
    phone.setInputDevices([&] { return inputs; });
    QList<sim::AudioRoute> routes;
    phone.onAudioRouteChanged = [&](const sim::AudioRoute& route) { routes.append(route); };

    ax::Element app = application(PhoneApp::kPhoneBundle);
    auto bar = desktop.copyAttributeValue(app, ax::kMenuBarAttribute).element();
    ASSERT_TRUE(bar.has_value());
    std::optional<ax::Element> video;
    for (const ax::Element& item : children(*bar))
        if (desktop.copyAttributeValue(item, ax::kIdentifierAttribute).string() ==
            "com.apple.facetime.menu.video")
            video = item;
    ASSERT_TRUE(video.has_value());
    EXPECT_EQ(title(*video), QString("Vidéo"));
    EXPECT_TRUE(children(*video).isEmpty()) << "closed until pressed";

    inputs.append("Velkaro — IA vers appel");
    ASSERT_EQ(desktop.performAction(*video, ax::kPressAction), ax::Error::Success);
    ax::ElementList menus = children(*video);
    ASSERT_EQ(menus.size(), 1);
    QStringList titles;
    QStringList marked;
    for (const ax::Element& item : children(menus[0])) {
        titles.append(title(item));
        if (!desktop.copyAttributeValue(item, ax::kMenuItemMarkCharAttribute).string().value_or("").isEmpty())
            marked.append(title(item));
    }
    EXPECT_EQ(titles, QStringList({"Caméra", "Caméra FaceTime HD", "Micro", "Utiliser le réglage système",
                                   "MacBook Pro Microphone", "Velkaro — IA vers appel", "", "Sortie",
                                   "Utiliser le réglage système", "MacBook Pro Speakers"}))
        << "devices are asked for at each opening";
    EXPECT_EQ(marked, QStringList({"Utiliser le réglage système", "Utiliser le réglage système"}));

    EXPECT_EQ(desktop.performAction(menus[0], ax::kCancelAction), ax::Error::Success);
    EXPECT_FALSE(phone.isMenuOpen());
    EXPECT_TRUE(children(*video).isEmpty());

    desktop.performAction(*video, ax::kPressAction);
    auto item = find(children(*video)[0], "Velkaro — IA vers appel");
    ASSERT_TRUE(item.has_value());
    EXPECT_EQ(desktop.performAction(*item, ax::kPressAction), ax::Error::Success);
    EXPECT_FALSE(phone.isMenuOpen()) << "choosing an item closes the menu";
    EXPECT_EQ(phone.audioRoute().inputDevice, QString("Velkaro — IA vers appel"));
    EXPECT_EQ(routes.size(), 1);
    EXPECT_EQ(phone.effectiveInputDevice(), QString("Velkaro — IA vers appel"));
    phone.setSystemDefaultDevices([] { return QString("AirPods Pro"); },
                                  [] { return QString("AirPods Pro"); });
    EXPECT_EQ(phone.effectiveOutputDevice(), QString("AirPods Pro"))
        << "the system setting follows the default";

    desktop.performAction(*video, ax::kPressAction);
    item = find(children(*video)[0], "Velkaro — IA vers appel");
    EXPECT_EQ(desktop.copyAttributeValue(*item, ax::kMenuItemMarkCharAttribute).string(), QString("✓"));
    EXPECT_EQ(phone.menuOpenCount(), 3);
}

TEST_F(DesktopTest, WorkspaceOpensApplicationsLaterAndPostsSleep)
{
    auto names = [&] {
        QStringList list;
        for (const auto& app : desktop.runningApplications())
            list.append(app.bundleIdentifier);
        return list;
    };
    EXPECT_EQ(names(), QStringList({PhoneApp::kFinderBundle, PhoneApp::kNotificationCentreBundle,
                                    PhoneApp::kCallUIBundle, PhoneApp::kPhoneBundle}));

    const auto url = desktop.urlForApplication(PhoneApp::kFaceTimeBundle);
    ASSERT_TRUE(url.has_value());
    std::optional<workspace::RunningApplication> opened;
    desktop.openApplication(*url, {}, [&](auto app, auto error) {
        EXPECT_FALSE(error.has_value());
        opened = app;
    });
    EXPECT_FALSE(opened.has_value()) << "the completion never runs inside the call";
    scheduler.advance(1);
    ASSERT_TRUE(opened.has_value());
    EXPECT_EQ(names().last(), PhoneApp::kFaceTimeBundle) << "a launched process is listed last";
    EXPECT_EQ(desktop.frontmostBundleIdentifier(), PhoneApp::kFaceTimeBundle);
    EXPECT_TRUE(desktop.activate(desktop.runningApplications().first(), workspace::ActivationOption::None));
    EXPECT_EQ(desktop.frontmostBundleIdentifier(), PhoneApp::kFinderBundle);

    std::optional<workspace::Error> failure;
    desktop.openApplication(QUrl::fromLocalFile("/Applications/Nope.app"), {},
                            [&](auto, auto error) { failure = error; });
    scheduler.advance(1);
    ASSERT_TRUE(failure.has_value());
    EXPECT_FALSE(failure->localizedDescription.isEmpty());
    EXPECT_FALSE(desktop.urlForApplication("com.example.absent").has_value());

    int sleeps = 0;
    const int token = desktop.addWillSleepObserver([&] { ++sleeps; });
    desktop.sleep();
    desktop.removeWillSleepObserver(token);
    desktop.sleep();
    EXPECT_EQ(sleeps, 1);

    desktop.urlHandler = [](const QUrl& url) { return url.scheme() == "tel"; };
    EXPECT_TRUE(desktop.openUrl(QUrl("tel:0612345678")));
    EXPECT_FALSE(desktop.openUrl(QUrl("x-apple.systempreferences:com.apple.preference.security")));
    EXPECT_EQ(desktop.openedUrls().size(), 2);

    desktop.setProcessOrder({PhoneApp::kPhoneBundle});
    EXPECT_EQ(names().first(), PhoneApp::kPhoneBundle);
}

TEST_F(DesktopTest, SelfActivationIsDeclinedWhileAnotherApplicationIsInFront)
{
    const QString self = sim::Desktop::kSelfBundleIdentifier;
    EXPECT_TRUE(desktop.activateSelf()) << "nothing in front yet";
    EXPECT_EQ(desktop.frontmostBundleIdentifier(), self);
    EXPECT_TRUE(desktop.activateSelf()) << "already in front";

    ASSERT_TRUE(desktop.activate(desktop.runningApplications().last(), workspace::ActivationOption::None));
    EXPECT_FALSE(desktop.activateSelf()) << "the Phone app is in front and does not yield";
    EXPECT_EQ(desktop.frontmostBundleIdentifier(), PhoneApp::kPhoneBundle);

    desktop.setSelfActivation(sim::SelfActivation::Granted);
    EXPECT_TRUE(desktop.activateSelf());
    EXPECT_EQ(desktop.frontmostBundleIdentifier(), self);
}

TEST_F(DesktopTest, TelUrlsDialAndTimedOutPressesStillHappenLater)
{
    EXPECT_TRUE(desktop.openUrl(QUrl("tel:+33612345678")));
    EXPECT_EQ(phone.state(), CallState::Dialing);
    EXPECT_EQ(phone.dialledNumbers(), QStringList({"+33612345678"}));
    EXPECT_FALSE(desktop.openUrl(QUrl("tel:0698765432"))) << "one call at a time";
    auto hangup = find(application(PhoneApp::kPhoneBundle), "Raccrocher");
    ASSERT_TRUE(hangup.has_value()) << "an outgoing call can be hung up while it rings";
    phone.remoteAnswers();
    EXPECT_EQ(phone.state(), CallState::Active);

    // The Phone app is busy: the press times out for the caller, yet the app hangs up once it gets to it.
    hangup = find(application(PhoneApp::kPhoneBundle), "Raccrocher");
    ASSERT_TRUE(hangup.has_value());
    desktop.setLatency(PhoneApp::kPhoneBundle, 0.1);
    desktop.setMessagingTimeout(*hangup, 0.03f);
    EXPECT_EQ(desktop.performAction(*hangup, ax::kPressAction), ax::Error::CannotComplete);
    EXPECT_EQ(phone.state(), CallState::Active);
    scheduler.advance(0.1);
    EXPECT_EQ(phone.state(), CallState::Ended);

    // A hung process never does.
    phone.setDiallingRefused(false);
    ASSERT_TRUE(desktop.openUrl(QUrl("tel:0698765432")));
    desktop.setLatency(PhoneApp::kPhoneBundle, 0);
    hangup = find(application(PhoneApp::kPhoneBundle), "Raccrocher");
    ASSERT_TRUE(hangup.has_value());
    desktop.setNeverAnswers(PhoneApp::kPhoneBundle, true);
    desktop.setMessagingTimeout(*hangup, 0.03f);
    EXPECT_EQ(desktop.performAction(*hangup, ax::kPressAction), ax::Error::CannotComplete);
    scheduler.advance(60);
    EXPECT_EQ(phone.state(), CallState::Dialing);

    phone.setDiallingRefused(true);
    phone.reset();
    EXPECT_FALSE(desktop.openUrl(QUrl("tel:0698765432")));
}
