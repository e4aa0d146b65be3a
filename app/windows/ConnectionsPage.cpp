#include "app/windows/ConnectionsPage.h"

#include "app/model/AppModel.h"
#include "app/windows/AdvancedConnectionsPanel.h"
#include "app/windows/Theme.h"

#include <QBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>

ConnectionsPage::ConnectionsPage(AppModel& model, QWidget* parent) : QWidget(parent), m_model(model)
{
    setObjectName(QStringLiteral("connectionsPage"));
    QBoxLayout* layout = Theme::scrollingPage(this);
    for (QWidget* widget = layout->parentWidget(); widget != nullptr && m_scroll == nullptr;
         widget = widget->parentWidget())
        m_scroll = qobject_cast<QScrollArea*>(widget);

    layout->addWidget(Theme::pageTitle(QStringLiteral("La configuration, simplement.")));
    layout->addWidget(Theme::pageSubtitle(
        QStringLiteral("Un assistant vous accompagne. Les vérifications se font toutes seules.")));

    auto* progress = Theme::card(this);
    progress->setObjectName(QStringLiteral("progressCard"));
    auto* progressLayout = new QVBoxLayout(progress);
    progressLayout->setContentsMargins(Theme::kCardPaddingPx, Theme::kCardPaddingPx, Theme::kCardPaddingPx,
                                       Theme::kCardPaddingPx);
    progressLayout->setSpacing(10);
    progressLayout->addWidget(Theme::sectionTitle(QStringLiteral("Reprenons là où vous en êtes")));
    m_progressText = Theme::body(QString());
    m_progressText->setObjectName(QStringLiteral("progressText"));
    progressLayout->addWidget(m_progressText);
    m_progressBar = new QProgressBar(progress);
    m_progressBar->setObjectName(QStringLiteral("progressBar"));
    m_progressBar->setRange(0, static_cast<int>(AppModel::kSetupStepTitles.size()));
    m_progressBar->setTextVisible(false);
    m_progressBar->setFixedHeight(8);
    m_progressBar->setStyleSheet(
        QStringLiteral("QProgressBar { background: %1; border: none; border-radius: 4px; }"
                       "QProgressBar::chunk { background: %2; border-radius: 4px; }")
            .arg(Theme::kBorder.name(), Theme::kAccent.name()));
    progressLayout->addWidget(m_progressBar);
    m_nextStep = Theme::caption(QString());
    m_nextStep->setObjectName(QStringLiteral("nextStep"));
    progressLayout->addWidget(m_nextStep);

    auto* openAssistant = Theme::primaryButton(QStringLiteral("Ouvrir l’assistant"));
    openAssistant->setObjectName(QStringLiteral("openAssistantButton"));
    auto* showChecks = Theme::secondaryButton(QStringLiteral("Voir les vérifications"));
    showChecks->setObjectName(QStringLiteral("showVerificationsButton"));
    connect(openAssistant, &QPushButton::clicked, this, [this] { m_model.setShowSetupAssistant(true); });
    connect(showChecks, &QPushButton::clicked, this, &ConnectionsPage::showVerifications);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    buttons->addWidget(openAssistant);
    buttons->addWidget(showChecks);
    buttons->addStretch(1);
    progressLayout->addLayout(buttons);
    layout->addWidget(progress);

    m_disclosure = new QToolButton(this);
    m_disclosure->setObjectName(QStringLiteral("optionsDisclosure"));
    m_disclosure->setText(QStringLiteral("Options et dépannage"));
    m_disclosure->setCheckable(true);
    m_disclosure->setAutoRaise(true);
    m_disclosure->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_disclosure->setArrowType(Qt::RightArrow);
    m_disclosure->setCursor(Qt::PointingHandCursor);
    m_disclosure->setStyleSheet(QStringLiteral(
        "QToolButton { font-size: 15px; font-weight: 600; border: none; background: transparent; "
        "padding: 4px 0; }"));
    layout->addWidget(m_disclosure);

    m_panel = new AdvancedConnectionsPanel(m_model, this);
    m_panel->setHidden(true);
    layout->addWidget(m_panel);
    layout->addStretch(1);
    connect(m_disclosure, &QToolButton::toggled, this, [this](bool open) {
        m_disclosure->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
        m_panel->setVisible(open);
    });

    connect(&m_model, &AppModel::changed, this, &ConnectionsPage::refresh);
    refresh();
}

QString ConnectionsPage::progressLine(int done, int total)
{
    if (done <= 0)
        return QStringLiteral("Aucune étape terminée sur %1").arg(total);
    if (done >= total)
        return QStringLiteral("Les %1 étapes sont terminées").arg(total);
    if (done == 1)
        return QStringLiteral("1 étape sur %1 terminée").arg(total);
    return QStringLiteral("%1 étapes sur %2 terminées").arg(done).arg(total);
}

void ConnectionsPage::refresh()
{
    const QList<bool> steps = m_model.setupSteps();
    const int done = static_cast<int>(steps.count(true));
    const int total = static_cast<int>(steps.size());
    const QString line = progressLine(done, total);
    if (m_progressText->text() != line)
        m_progressText->setText(line);
    m_progressBar->setMaximum(total);
    m_progressBar->setValue(done);
    const qsizetype next = steps.indexOf(false);
    const QString nextText = next >= 0 && next < AppModel::kSetupStepTitles.size()
                                 ? QStringLiteral("Prochaine étape : ") + AppModel::kSetupStepTitles[next]
                                 : QString();
    if (m_nextStep->text() != nextText)
        m_nextStep->setText(nextText);
    m_nextStep->setHidden(nextText.isEmpty());
}

bool ConnectionsPage::panelUnfolded() const
{
    return m_disclosure->isChecked();
}

void ConnectionsPage::setPanelUnfolded(bool unfolded)
{
    m_disclosure->setChecked(unfolded);
}

void ConnectionsPage::showVerifications()
{
    setPanelUnfolded(true);
    scrollToVerifications();
    // The unfolded panel is laid out on the next turn of the event loop; scroll again once it has been.
    QTimer::singleShot(0, this, &ConnectionsPage::scrollToVerifications);
}

void ConnectionsPage::scrollToVerifications()
{
    if (m_scroll == nullptr || m_scroll->widget() == nullptr)
        return;
    if (QLayout* contentLayout = m_scroll->widget()->layout())
        contentLayout->activate();
    QWidget* target = m_panel->verificationList();
    const int top = target->mapTo(m_scroll->widget(), QPoint(0, 0)).y();
    m_scroll->verticalScrollBar()->setValue(top - Theme::kPageMarginPx);
}
