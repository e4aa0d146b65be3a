#include "app/windows/MainWindow.h"

#include "app/model/AppModel.h"
#include "app/ui/Icons.h"
#include "app/windows/AgentPage.h"
#include "app/windows/AgentSetupWindow.h"
#include "app/windows/ConnectionsPage.h"
#include "app/windows/ConversationsPage.h"
#include "app/windows/DashboardPage.h"
#include "app/windows/DossiersPage.h"
#include "app/windows/GuidePage.h"
#include "app/windows/MacConversationTestWindow.h"
#include "app/windows/OutgoingCallTestWindow.h"
#include "app/windows/SetupAssistantWindow.h"
#include "app/windows/Theme.h"

#include <QApplication>
#include <QBoxLayout>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>

namespace {
const QString kDashboardTitle = QStringLiteral("Le standard");

QString hex(const QColor& color)
{
    return color.name(QColor::HexRgb);
}

QString sidebarStyle()
{
    return QStringLiteral(R"(
QFrame#sidebar { background: %1; border: none; border-right: 1px solid %2; }
QFrame#sidebar QLabel { background: transparent; }
QLabel#brandName { font-size: 20px; font-weight: 700; color: %3; }
QLabel#tagline { font-size: 13px; color: %4; }
QPushButton[role="sidebarItem"] { text-align: left; padding: 8px 12px; border: none; border-radius: 8px;
  background: transparent; color: %3; font-size: 14px; }
QPushButton[role="sidebarItem"]:hover { background: rgba(0, 0, 0, 0.05); }
QPushButton[role="sidebarItem"]:checked { background: %5; color: %6; font-weight: 600; }
QFrame#sidebarFooter { background: %7; border: 1px solid %2; border-radius: 10px; }
)")
        .arg(hex(Theme::kSidebar), hex(Theme::kBorder), hex(Theme::kText), hex(Theme::kSecondaryText),
             hex(Theme::kAccentSoft), hex(Theme::kAccent), hex(Theme::kCard));
}

const QStringList& pageIcons()
{
    static const QStringList icons{QStringLiteral("phone"),
                                   QStringLiteral("text.bubble"),
                                   QStringLiteral("folder"),
                                   QStringLiteral("waveform"),
                                   QStringLiteral("point.3.connected.trianglepath.dotted"),
                                   QStringLiteral("sparkles")};
    return icons;
}
} // namespace

const QStringList& MainWindow::pageTitles()
{
    static const QStringList titles{kDashboardTitle,
                                    QStringLiteral("Conversations"),
                                    QStringLiteral("Dossiers"),
                                    QStringLiteral("Mon agent"),
                                    QStringLiteral("Connexions"),
                                    QStringLiteral("Premiers pas")};
    return titles;
}

MainWindow::MainWindow(AppModel& model, QWidget* parent) : QWidget(parent), m_model(model)
{
    setObjectName(QStringLiteral("orleaWindow"));
    setWindowTitle(QStringLiteral("Orlea"));
    setWindowIcon(Icons::get(Icons::kProductMark));
    setMinimumSize(1020, 720);
    resize(1120, 780);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(buildSidebar());

    m_pages = new QStackedWidget(this);
    m_pages->setObjectName(QStringLiteral("pages"));
    m_pages->addWidget(new DashboardPage(m_model, m_pages));
    m_pages->addWidget(new ConversationsPage(m_model, m_pages));
    m_pages->addWidget(new DossiersPage(m_model, m_pages));
    m_pages->addWidget(new AgentPage(m_model, m_pages));
    m_pages->addWidget(new ConnectionsPage(m_model, m_pages));
    m_pages->addWidget(new GuidePage(m_model, m_pages));
    for (int index = 0; index < m_pages->count(); ++index)
        m_pages->widget(index)->setProperty("pageTitle", pageTitles()[index]);
    auto* content = new QVBoxLayout;
    content->setContentsMargins(0, 0, 0, 0);
    content->setSpacing(0);
    content->addWidget(buildUrgentBanner());
    content->addWidget(m_pages, 1);
    layout->addLayout(content, 1);

    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive)
            applicationActivated();
        else
            applicationDeactivated();
    });
    connect(&m_model, &AppModel::changed, this, &MainWindow::refresh);
    refresh();
}

MainWindow::~MainWindow()
{
    if (m_alert)
        m_alert->disconnect(this);
}

QWidget* MainWindow::buildSidebar()
{
    auto* sidebar = new QFrame(this);
    sidebar->setObjectName(QStringLiteral("sidebar"));
    sidebar->setFixedWidth(kSidebarWidthPx);
    sidebar->setStyleSheet(sidebarStyle());
    auto* layout = new QVBoxLayout(sidebar);
    layout->setContentsMargins(16, 24, 16, 18);
    layout->setSpacing(6);

    auto* brand = new QHBoxLayout;
    brand->setSpacing(10);
    brand->addWidget(Theme::symbol(Icons::kProductMark, 40, sidebar), 0, Qt::AlignTop);
    auto* brandText = new QVBoxLayout;
    brandText->setSpacing(0);
    auto* name = new QLabel(QStringLiteral("Orlea"), sidebar);
    name->setObjectName(QStringLiteral("brandName"));
    brandText->addWidget(name);
    brandText->addWidget(Theme::caption(QStringLiteral("Conçu pour votre Mac"), sidebar));
    brand->addLayout(brandText, 1);
    layout->addLayout(brand);
    layout->addSpacing(14);

    auto* tagline = new QLabel(QStringLiteral("Un Mac, un iPhone,\nun accueil plus simple."), sidebar);
    tagline->setObjectName(QStringLiteral("tagline"));
    tagline->setTextFormat(Qt::PlainText);
    layout->addWidget(tagline);
    layout->addSpacing(18);

    m_pageButtons = new QButtonGroup(this);
    m_pageButtons->setExclusive(true);
    for (int index = 0; index < pageTitles().size(); ++index) {
        const QString title = pageTitles()[index];
        auto* button = new QPushButton(Icons::get(pageIcons()[index]), title, sidebar);
        button->setObjectName(QStringLiteral("sidebarButton%1").arg(index));
        button->setProperty("role", QStringLiteral("sidebarItem"));
        button->setCheckable(true);
        button->setAutoDefault(false);
        button->setCursor(Qt::PointingHandCursor);
        button->setIconSize(QSize(18, 18));
        m_pageButtons->addButton(button, index);
        layout->addWidget(button);
        connect(button, &QPushButton::clicked, this, [this, title] { m_model.setPage(title); });
    }
    layout->addStretch(1);

    auto* footer = new QFrame(sidebar);
    footer->setObjectName(QStringLiteral("sidebarFooter"));
    auto* footerLayout = new QHBoxLayout(footer);
    footerLayout->setContentsMargins(8, 10, 6, 10);
    footerLayout->setSpacing(8);
    footerLayout->addWidget(Theme::symbol(QStringLiteral("lock.shield"), 22, footer));
    auto* footerText = new QVBoxLayout;
    footerText->setSpacing(2);
    auto* footerTitle = Theme::eyebrow(QStringLiteral("VOTRE ESPACE ORLEA"), footer);
    footerTitle->setStyleSheet(QStringLiteral("letter-spacing: 0px; font-size: 10px;"));
    footerText->addWidget(footerTitle);
    footerText->addWidget(Theme::body(QStringLiteral("Stockage local"), footer));
    footerLayout->addLayout(footerText, 1);
    layout->addWidget(footer);
    return sidebar;
}

QWidget* MainWindow::buildUrgentBanner()
{
    m_urgentHolder = new QWidget(this);
    auto* margins = new QVBoxLayout(m_urgentHolder);
    margins->setContentsMargins(Theme::kPageMarginPx, 16, Theme::kPageMarginPx, 0);
    m_urgentBanner = Theme::banner(QStringLiteral("danger"), m_urgentHolder);
    m_urgentBanner->setObjectName(QStringLiteral("urgentBanner"));
    auto* row = new QHBoxLayout(m_urgentBanner);
    row->setContentsMargins(Theme::kCardPaddingPx, 12, Theme::kCardPaddingPx, 12);
    row->setSpacing(12);
    row->addWidget(Theme::symbol(QStringLiteral("exclamationmark.triangle"), 22, m_urgentBanner), 0,
                   Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    m_urgentTitle = Theme::sectionTitle(QString(), m_urgentBanner);
    m_urgentTitle->setObjectName(QStringLiteral("urgentTitle"));
    texts->addWidget(m_urgentTitle);
    m_urgentRequest = Theme::body(QString(), m_urgentBanner);
    m_urgentRequest->setObjectName(QStringLiteral("urgentRequest"));
    texts->addWidget(m_urgentRequest);
    row->addLayout(texts, 1);
    auto* open = Theme::primaryButton(QStringLiteral("Ouvrir l’appel"), m_urgentBanner);
    open->setObjectName(QStringLiteral("openUrgentCall"));
    connect(open, &QPushButton::clicked, this, [this] {
        if (const std::optional<QUuid> id = m_model.urgentBanner())
            m_model.openCall(*id);
    });
    row->addWidget(open, 0, Qt::AlignVCenter);
    auto* dismiss = Theme::linkButton(QStringLiteral("Masquer"), m_urgentBanner);
    connect(dismiss, &QPushButton::clicked, this, [this] { m_model.setUrgentBanner(std::nullopt); });
    row->addWidget(dismiss, 0, Qt::AlignVCenter);
    margins->addWidget(m_urgentBanner);
    m_urgentHolder->hide();
    return m_urgentHolder;
}

void MainWindow::refreshUrgentBanner()
{
    const std::optional<QUuid>& id = m_model.urgentBanner();
    const CallRecord* record = id ? m_model.history().find(*id) : nullptr;
    m_urgentHolder->setVisible(record && record->followUpDraft);
    if (!record || !record->followUpDraft)
        return;
    m_urgentTitle->setText(QStringLiteral("Appel urgent · ") +
                           record->followUpDraft->callerLabel(record->caller));
    m_urgentRequest->setText(record->followUpDraft->request);
}

QWidget* MainWindow::currentPage() const
{
    return m_pages->currentWidget();
}

QWidget* MainWindow::page(const QString& title) const
{
    const qsizetype index = pageTitles().indexOf(title);
    return index < 0 ? nullptr : m_pages->widget(int(index));
}

void MainWindow::refresh()
{
    qsizetype index = pageTitles().indexOf(m_model.page());
    if (index < 0)
        index = 0; // any other value shows the dashboard
    if (m_pages->currentIndex() != index)
        m_pages->setCurrentIndex(int(index));
    if (QAbstractButton* button = m_pageButtons->button(int(index)); !button->isChecked())
        button->setChecked(true);

    syncSheet(
        m_setupSheet, m_model.showSetupAssistant(),
        [this] { return new SetupAssistantWindow(m_model, this); },
        [this] { m_model.setShowSetupAssistant(false); });
    syncSheet(
        m_agentSheet, m_model.showAgentSetup(), [this] { return new AgentSetupWindow(m_model, this); },
        [this] { m_model.setShowAgentSetup(false); });
    syncSheet(
        m_macTestSheet, m_model.showMacTest(),
        [this] { return new MacConversationTestWindow(m_model, this); },
        [this] { m_model.setShowMacTest(false); });
    syncSheet(
        m_outgoingSheet, m_model.showOutgoingTest(),
        [this] { return new OutgoingCallTestWindow(m_model, this); },
        [this] { m_model.setShowOutgoingTest(false); });
    syncAlert();
    refreshUrgentBanner();
}

void MainWindow::syncSheet(QPointer<QDialog>& sheet, bool wanted, const std::function<QDialog*()>& create,
                           const std::function<void()>& clearFlag)
{
    if (wanted && !sheet) {
        QDialog* dialog = create();
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->setWindowModality(Qt::WindowModal);
        QPointer<QDialog>* slot = &sheet;
        connect(dialog, &QDialog::finished, this, [slot, dialog, clearFlag] {
            // Forget the sheet first: a flag set again later must open a new one.
            if (*slot == dialog)
                *slot = nullptr;
            clearFlag();
        });
        sheet = dialog;
        dialog->show();
    } else if (!wanted && sheet) {
        QDialog* dialog = sheet;
        sheet = nullptr;
        dialog->reject();
    }
}

void MainWindow::syncAlert()
{
    const std::optional<QString>& error = m_model.error();
    const bool wanted = error && !error->isEmpty();
    if (wanted && !m_alert) {
        auto* alert = new QMessageBox(QMessageBox::Warning, QStringLiteral("Orlea"), *error,
                                      QMessageBox::NoButton, alertHost());
        alert->setObjectName(QStringLiteral("errorAlert"));
        alert->setTextFormat(Qt::PlainText);
        alert->addButton(QStringLiteral("Compris"), QMessageBox::AcceptRole);
        alert->setAttribute(Qt::WA_DeleteOnClose);
        alert->setWindowModality(Qt::WindowModal);
        connect(alert, &QMessageBox::finished, this, [this, alert] {
            if (m_alert == alert)
                m_alert = nullptr;
            m_model.setError(std::nullopt);
        });
        // An alert that leaves with its sheet comes back over the window while the error stands.
        connect(alert, &QObject::destroyed, this,
                [this] { QTimer::singleShot(0, this, &MainWindow::refresh); });
        m_alert = alert;
        alert->show();
    } else if (wanted && m_alert->text() != *error) {
        m_alert->setText(*error);
    } else if (!wanted && m_alert) {
        QMessageBox* alert = m_alert;
        m_alert = nullptr;
        alert->done(0);
    }
}

QWidget* MainWindow::alertHost()
{
    // Over the sheet the user is working in, so the message is not hidden behind it. Should that sheet
    // close first, the alert goes with it and the next refresh shows it again over the window.
    QWidget* modal = QApplication::activeModalWidget();
    for (QWidget* widget = modal; widget; widget = widget->parentWidget())
        if (widget == this)
            return modal;
    return this;
}

void MainWindow::applicationActivated()
{
    if (m_refreshedForActivation)
        return;
    m_refreshedForActivation = true;
    m_model.refresh();
}

void MainWindow::applicationDeactivated()
{
    m_refreshedForActivation = false;
}

void MainWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_appeared)
        return;
    m_appeared = true;
    QTimer::singleShot(0, this, [this] { m_model.presentStartupAssistant(); });
}

void MainWindow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() != QEvent::ActivationChange)
        return;
    if (isActiveWindow())
        applicationActivated();
    else if (!QApplication::activeWindow())
        applicationDeactivated(); // the whole application lost focus, not just to one of its sheets
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (m_closeHandler && !m_closeHandler())
        event->ignore();
    else
        event->accept();
}
