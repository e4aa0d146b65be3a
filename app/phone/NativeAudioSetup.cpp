#include "app/phone/NativeAudioSetup.h"

#include "app/common/Scheduler.h"
#include "app/common/TextFolding.h"
#include "app/common/UserDefaults.h"
#include "platform/workspace/Workspace.h"

namespace {

const QString kPhoneBundle = QStringLiteral("com.apple.mobilephone");
const QString kAudioMenuIdentifier = QStringLiteral("com.apple.facetime.menu.video");

const QStringList& microphoneHeaderWords()
{
    static const QStringList words = {QStringLiteral("micro"), QStringLiteral("microphone")};
    return words;
}

const QStringList& speakerHeaderWords()
{
    static const QStringList words = {QStringLiteral("sortie"), QStringLiteral("output"),
                                      QStringLiteral("speakers"), QStringLiteral("haut-parleurs")};
    return words;
}

const QStringList& systemSettingWords()
{
    static const QStringList words = {QStringLiteral("utiliser le reglage systeme"),
                                      QStringLiteral("use system setting")};
    return words;
}

} // namespace

NativeAudioSetup::NativeAudioSetup(ax::Accessibility& accessibility, workspace::Workspace& workspace,
                                   Scheduler& scheduler, UserDefaults& defaults)
    : m_accessibility(accessibility), m_workspace(workspace), m_scheduler(scheduler), m_defaults(defaults)
{
}

NativeAudioSetup::~NativeAudioSetup()
{
    *m_alive = false;
}

std::function<void()> NativeAudioSetup::guarded(std::function<void()> step)
{
    std::weak_ptr<bool> alive = m_alive;
    return [alive, step = std::move(step)] {
        if (!alive.expired())
            step();
    };
}

// --- reading the menu

ax::ElementList NativeAudioSetup::children(const ax::Element& element)
{
    return m_accessibility.copyAttributeValue(element, ax::kChildrenAttribute)
        .elements()
        .value_or(ax::ElementList());
}

QString NativeAudioSetup::title(const ax::Element& element)
{
    return m_accessibility.copyAttributeValue(element, ax::kTitleAttribute).string().value_or(QString());
}

bool NativeAudioSetup::selected(const ax::Element& item)
{
    if (auto mark = m_accessibility.copyAttributeValue(item, ax::kMenuItemMarkCharAttribute).string();
        mark && !mark->isEmpty())
        return true;
    return m_accessibility.copyAttributeValue(item, ax::kSelectedAttribute).boolean().value_or(false);
}

void NativeAudioSetup::cancel(const ax::Element& menu)
{
    // Best effort: a menu that already closed has nothing left to cancel.
    m_accessibility.performAction(menu, ax::kCancelAction);
}

ax::ElementList NativeAudioSetup::section(const ax::Element& menu, bool input)
{
    enum class Section { None, Microphone, Speaker };
    const Section wanted = input ? Section::Microphone : Section::Speaker;
    Section current = Section::None;
    ax::ElementList items;
    for (const ax::Element& child : children(menu)) {
        const QString label = TextFolding::normalizedLabel(title(child));
        if (microphoneHeaderWords().contains(label))
            current = Section::Microphone;
        else if (speakerHeaderWords().contains(label))
            current = Section::Speaker;
        else if (current == wanted)
            items.append(child);
    }
    return items;
}

void NativeAudioSetup::audioMenu(MenuCompletion done)
{
    const auto fail = [done](const QString& message) { done(std::nullopt, AppError(message)); };
    if (!m_accessibility.isProcessTrusted())
        return fail(QStringLiteral("Autorisez Accessibilité, puis recliquez sur Préparer la liaison."));
    const std::optional<QUrl> location = m_workspace.urlForApplication(kPhoneBundle);
    if (!location)
        return fail(QStringLiteral("L’application Téléphone de macOS 26 est nécessaire."));

    workspace::OpenConfiguration configuration;
    configuration.activates = true;
    std::weak_ptr<bool> alive = m_alive;
    m_workspace.openApplication(
        *location, configuration,
        [this, alive, done, fail](std::optional<workspace::RunningApplication> app,
                                  std::optional<workspace::Error> error) {
            if (alive.expired())
                return;
            if (error || !app) {
                // The workspace's own sentence, as it reported it.
                done(std::nullopt, AppError(error ? error->localizedDescription : QString()));
                return;
            }
            m_workspace.activate(*app, workspace::ActivationOption::None);
            const qint64 pid = app->processIdentifier;
            m_scheduler.after(
                kLaunchSettleSeconds, guarded([this, pid, done, fail] {
                    const ax::Element application = m_accessibility.createApplication(pid);
                    m_accessibility.setMessagingTimeout(application, kApplicationTimeoutSeconds);
                    const auto menuBar =
                        m_accessibility.copyAttributeValue(application, ax::kMenuBarAttribute).element();
                    if (!menuBar)
                        return fail(QStringLiteral("Menu de Téléphone inaccessible."));

                    const ax::ElementList barItems = children(*menuBar);
                    std::optional<ax::Element> audio;
                    for (const ax::Element& item : barItems) {
                        if (m_accessibility.copyAttributeValue(item, ax::kIdentifierAttribute).string() ==
                            kAudioMenuIdentifier) {
                            audio = item;
                            break;
                        }
                    }
                    for (int i = 0; !audio && i < barItems.size(); ++i) {
                        const QString itemTitle = title(barItems[i]);
                        if (itemTitle == QStringLiteral("Vidéo") || itemTitle == QStringLiteral("Video"))
                            audio = barItems[i];
                    }
                    if (!audio)
                        return fail(QStringLiteral(
                            "Menu audio de Téléphone introuvable sur cette version de macOS."));
                    if (m_accessibility.performAction(*audio, ax::kPressAction) != ax::Error::Success)
                        return fail(QStringLiteral("Impossible d’ouvrir les réglages audio de Téléphone."));

                    m_scheduler.after(kMenuOpenSeconds, guarded([this, item = *audio, done, fail] {
                                          const ax::ElementList menus = children(item);
                                          if (menus.isEmpty())
                                              return fail(QStringLiteral("Le menu audio n’a pas répondu."));
                                          done(menus.first(), std::nullopt);
                                      }));
                }));
        });
}

// --- choosing

void NativeAudioSetup::choose(const QString& name, bool input, Completion done)
{
    audioMenu([this, name, input, done](std::optional<ax::Element> menu, std::optional<AppError> error) {
        if (error)
            return done(error);
        std::optional<ax::Element> item;
        // Device titles are compared exactly: "velkaro — ia vers appel" is another device.
        for (const ax::Element& candidate : section(*menu, input)) {
            if (title(candidate) == name) {
                item = candidate;
                break;
            }
        }
        if (!item) {
            cancel(*menu);
            return done(AppError(QStringLiteral("Téléphone ne propose pas encore « ") + name +
                                 QStringLiteral(" ». Redémarrez le Mac après installation du pilote.")));
        }
        const ax::Error pressed = m_accessibility.performAction(*item, ax::kPressAction);
        cancel(*menu);
        if (pressed != ax::Error::Success)
            return done(AppError(QStringLiteral("La sélection audio dans Téléphone a échoué.")));
        done(std::nullopt);
    });
}

void NativeAudioSetup::prepare(Completion done)
{
    audioMenu([this, done](std::optional<ax::Element> menu, std::optional<AppError> error) {
        if (error)
            return done(error);
        const auto inspect = [this](const ax::ElementList& items, const QString& device, bool& listed) {
            std::optional<QString> current;
            listed = false;
            for (const ax::Element& item : items) {
                const QString itemTitle = title(item);
                if (!current && selected(item))
                    current = itemTitle;
                if (itemTitle == device)
                    listed = true;
            }
            return current;
        };
        bool microphoneListed = false;
        bool speakerListed = false;
        const auto previousMicrophone = inspect(section(*menu, true), kMicrophoneDevice, microphoneListed);
        const auto previousSpeaker = inspect(section(*menu, false), kSpeakerDevice, speakerListed);
        cancel(*menu);
        if (!microphoneListed || !speakerListed) {
            return done(
                AppError(QStringLiteral("Les deux périphériques Orlea ne sont pas visibles dans Téléphone. "
                                        "Installez le module audio puis redémarrez le Mac.")));
        }
        if (previousMicrophone)
            m_defaults.setString(SettingsKey::phonePreviousInput, *previousMicrophone);
        if (previousSpeaker)
            m_defaults.setString(SettingsKey::phonePreviousOutput, *previousSpeaker);
        selectDevices(previousMicrophone, previousSpeaker, done);
    });
}

void NativeAudioSetup::selectDevices(std::optional<QString> previousMicrophone,
                                     std::optional<QString> previousSpeaker, Completion done)
{
    choose(kMicrophoneDevice, true, [=, this](std::optional<AppError> error) {
        if (error)
            return rollBack(previousMicrophone, previousSpeaker, *error, done);
        choose(kSpeakerDevice, false, [=, this](std::optional<AppError> error) {
            if (error)
                return rollBack(previousMicrophone, previousSpeaker, *error, done);
            confirm(previousMicrophone, previousSpeaker, done);
        });
    });
}

void NativeAudioSetup::confirm(std::optional<QString> previousMicrophone,
                               std::optional<QString> previousSpeaker, Completion done)
{
    audioMenu([=, this](std::optional<ax::Element> menu, std::optional<AppError> error) {
        if (error)
            return rollBack(previousMicrophone, previousSpeaker, *error, done);
        const auto chosen = [this](const ax::ElementList& items, const QString& device) {
            for (const ax::Element& item : items)
                if (title(item) == device && selected(item))
                    return true;
            return false;
        };
        const bool confirmed =
            chosen(section(*menu, true), kMicrophoneDevice) && chosen(section(*menu, false), kSpeakerDevice);
        cancel(*menu);
        if (confirmed)
            return done(std::nullopt);
        rollBack(
            previousMicrophone, previousSpeaker,
            AppError(QStringLiteral("Les périphériques ont été sélectionnés, mais macOS n’expose pas leur "
                                    "état de confirmation. Vérifiez le menu Vidéo de Téléphone avant le "
                                    "premier appel.")),
            done);
    });
}

void NativeAudioSetup::rollBack(std::optional<QString> previousMicrophone,
                                std::optional<QString> previousSpeaker, AppError cause, Completion done)
{
    // Errors of the restoring attempts are dropped: the user needs to hear why the setup failed.
    const auto restoreSpeaker = [=, this] {
        if (!previousSpeaker)
            return done(cause);
        choose(*previousSpeaker, false, [=](std::optional<AppError>) { done(cause); });
    };
    if (!previousMicrophone)
        return restoreSpeaker();
    choose(*previousMicrophone, true, [=](std::optional<AppError>) { restoreSpeaker(); });
}

// --- back to the system setting

void NativeAudioSetup::useSystemAudio(Completion done)
{
    resetSection(true, [this, done](std::optional<AppError> error) {
        if (error)
            return done(error);
        resetSection(false, done);
    });
}

void NativeAudioSetup::resetSection(bool input, Completion done)
{
    audioMenu([this, input, done](std::optional<ax::Element> menu, std::optional<AppError> error) {
        if (error)
            return done(error);
        std::optional<ax::Element> item;
        for (const ax::Element& candidate : section(*menu, input)) {
            if (systemSettingWords().contains(TextFolding::normalizedLabel(title(candidate)))) {
                item = candidate;
                break;
            }
        }
        if (!item) {
            cancel(*menu);
            return done(AppError(
                QStringLiteral("Choisissez Utiliser le réglage système dans le menu Vidéo de Téléphone.")));
        }
        const ax::Error pressed = m_accessibility.performAction(*item, ax::kPressAction);
        cancel(*menu);
        if (pressed != ax::Error::Success)
            return done(AppError(QStringLiteral("Le retour au son système n’a pas été confirmé.")));
        done(std::nullopt);
    });
}
