#include "app/windows/GuidePage.h"

#include "app/model/AppModel.h"
#include "app/ui/Icons.h"
#include "app/windows/Theme.h"

#include <QBoxLayout>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

namespace {
struct Step {
    QString title;
    QString text;
};

const QList<Step>& steps()
{
    static const QList<Step> all{
        {QStringLiteral("Reliez votre iPhone au Mac"),
         QStringLiteral(
             "Sur l’iPhone, ouvrez Réglages › Téléphone › Appels sur d’autres appareils et autorisez "
             "ce Mac. Les deux appareils utilisent le même compte Apple et le même réseau Wi‑Fi.")},
        {QStringLiteral("Préparez la voix"),
         QStringLiteral("Enregistrez votre clé OpenAI dans Connexions, définissez le rôle de l’agent, puis "
                        "parlez-lui sur ce Mac pour entendre sa voix.")},
        {QStringLiteral("Reliez l’audio de Téléphone"),
         QStringLiteral(
             "Installez le module audio Velkaro : l’assistant choisit ensuite ses deux circuits dans "
             "le menu audio de Téléphone et vérifie que le son passe.")},
        {QStringLiteral("Testez le décrochage"),
         QStringLiteral("Activez le standard et faites appeler votre ligne par quelqu’un à côté de vous. Si "
                        "Orlea ne décroche pas, utilisez « Décrocher l’appel présent » ci-dessous.")},
    };
    return all;
}

QFrame* paddedCard(QWidget* parent, QVBoxLayout** layout)
{
    auto* card = Theme::card(parent);
    *layout = new QVBoxLayout(card);
    (*layout)->setContentsMargins(Theme::kCardPaddingPx, Theme::kCardPaddingPx, Theme::kCardPaddingPx,
                                  Theme::kCardPaddingPx);
    (*layout)->setSpacing(10);
    return card;
}
} // namespace

GuidePage::GuidePage(AppModel& model, QWidget* parent) : QWidget(parent), m_model(model)
{
    setObjectName(QStringLiteral("guidePage"));
    QBoxLayout* layout = Theme::scrollingPage(this);
    auto* heading = new QVBoxLayout;
    heading->setSpacing(4);
    heading->addWidget(Theme::pageTitle(QStringLiteral("Votre premier appel.")));
    heading->addWidget(
        Theme::pageSubtitle(QStringLiteral("Commencez par un essai court, avec quelqu’un à côté de vous.")));
    layout->addLayout(heading);
    layout->addWidget(buildSteps());
    layout->addWidget(buildNotes());
    layout->addWidget(buildLog());
    layout->addStretch(1);

    connect(&m_model, &AppModel::changed, this, &GuidePage::refresh);
    refresh();
}

QWidget* GuidePage::buildSteps()
{
    QVBoxLayout* layout = nullptr;
    QFrame* card = paddedCard(this, &layout);
    card->setObjectName(QStringLiteral("guideSteps"));
    layout->setSpacing(14);
    int number = 1;
    for (const Step& step : steps()) {
        auto* row = new QHBoxLayout;
        row->setSpacing(14);
        auto* badge = new QLabel(QString::number(number++), card);
        badge->setAlignment(Qt::AlignCenter);
        badge->setFixedSize(28, 28);
        badge->setStyleSheet(
            QStringLiteral("background: %1; color: %2; border-radius: 14px; font-weight: 700;")
                .arg(Theme::kAccentSoft.name(), Theme::kAccent.name()));
        row->addWidget(badge, 0, Qt::AlignTop);
        auto* texts = new QVBoxLayout;
        texts->setSpacing(3);
        texts->addWidget(Theme::sectionTitle(step.title));
        texts->addWidget(Theme::body(step.text));
        row->addLayout(texts, 1);
        layout->addLayout(row);
    }

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    auto* openPhone = Theme::secondaryButton(QStringLiteral("Ouvrir Téléphone"));
    openPhone->setIcon(Icons::get(QStringLiteral("phone")));
    connect(openPhone, &QPushButton::clicked, this, [this] { m_model.openPhone(); });
    buttons->addWidget(openPhone);
    m_takeCall = Theme::primaryButton(QStringLiteral("Décrocher l’appel présent"));
    m_takeCall->setObjectName(QStringLiteral("takeCallButton"));
    connect(m_takeCall, &QPushButton::clicked, this, [this] { m_model.takeCurrentCall(); });
    buttons->addWidget(m_takeCall);
    buttons->addStretch(1);
    layout->addSpacing(4);
    layout->addLayout(buttons);
    return card;
}

QWidget* GuidePage::buildNotes()
{
    auto* holder = new QWidget(this);
    auto* row = new QHBoxLayout(holder);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(Theme::kSpacingPx);

    auto note = [this](const QString& symbolName, const QString& title, const QStringList& lines) {
        QVBoxLayout* layout = nullptr;
        QFrame* card = paddedCard(this, &layout);
        auto* top = new QHBoxLayout;
        top->setSpacing(8);
        top->addWidget(Theme::symbol(symbolName, 20));
        top->addWidget(Theme::sectionTitle(title), 1);
        layout->addLayout(top);
        for (const QString& line : lines) {
            auto* item = new QHBoxLayout;
            item->setSpacing(6);
            item->addWidget(Theme::body(QStringLiteral("•")), 0, Qt::AlignTop);
            item->addWidget(Theme::body(line), 1);
            layout->addLayout(item);
        }
        layout->addStretch(1);
        return card;
    };
    row->addWidget(note(QStringLiteral("checkmark.circle.fill"), QStringLiteral("Ce pilote sait faire"),
                        {QStringLiteral("Décrocher un appel relayé par l’iPhone et accueillir l’appelant en "
                                        "français."),
                         QStringLiteral("Prendre un message et garder la transcription sur ce Mac."),
                         QStringLiteral("Vous laisser intervenir au micro à tout moment."),
                         QStringLiteral("Classer les appels en dossiers et suivre leur traitement.")}),
                   1);
    row->addWidget(note(QStringLiteral("exclamationmark.triangle"),
                        QStringLiteral("À valider avant diffusion"),
                        {QStringLiteral("La qualité du son sur votre ligne, avec de vrais appels."),
                         QStringLiteral("Le décrochage automatique avec votre version de Téléphone."),
                         QStringLiteral("Les réponses de l’agent sur vos cas courants."),
                         QStringLiteral("L’information des appelants sur l’IA et l’enregistrement.")}),
                   1);
    return holder;
}

QWidget* GuidePage::buildLog()
{
    QVBoxLayout* layout = nullptr;
    QFrame* card = paddedCard(this, &layout);
    card->setObjectName(QStringLiteral("sessionLog"));
    layout->addWidget(Theme::sectionTitle(QStringLiteral("Journal de cette session")));
    m_logEmpty = Theme::caption(QStringLiteral("Les événements de la session s’afficheront ici."));
    layout->addWidget(m_logEmpty);
    m_log = Theme::caption(QString());
    m_log->setObjectName(QStringLiteral("sessionLogLines"));
    m_log->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_log->setStyleSheet(QStringLiteral("font-family: monospace;"));
    layout->addWidget(m_log);
    return card;
}

void GuidePage::refresh()
{
    // Taking a call while a conversation runs would do nothing.
    m_takeCall->setEnabled(!m_model.busy());
    const QString lines = m_model.log().join(QLatin1Char('\n'));
    if (m_log->text() != lines)
        m_log->setText(lines);
    m_log->setVisible(!lines.isEmpty());
    m_logEmpty->setVisible(lines.isEmpty());
}
