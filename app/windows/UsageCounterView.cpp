#include "app/windows/UsageCounterView.h"

#include "app/windows/Theme.h"

#include <QBoxLayout>
#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QUrl>

const QString UsageCounterView::kCaveat =
    QStringLiteral("Estimation indicative et volontairement majorée, destinée à vous donner un ordre de "
                   "grandeur. Le montant "
                   "affiché peut différer de la facturation réelle de votre fournisseur d’IA.");
const QString UsageCounterView::kMethodTitle = QStringLiteral("Comment le budget est estimé");
const QString UsageCounterView::kMethod = QStringLiteral(
    "Tokens de conversation confirmés à chaque fin de réponse. Pour gpt-realtime : tarifs audio sans remise "
    "de cache, marge de 25 %, arrondi au centime supérieur et provision transcription. Une réponse en cours "
    "réserve jusqu’à un contexte complet et une réponse maximale : ce montant peut baisser à réception du "
    "bilan. Estimation en dollars US hors taxes, limitée à cette conversation, pas votre facture ni votre "
    "solde. Tarifs vérifiés le 1er octobre 2026.");
const QString UsageCounterView::kProviderLinkTitle = QStringLiteral("Consulter la consommation OpenAI");
const QString UsageCounterView::kProviderUsageUrl = QStringLiteral("https://platform.openai.com/usage");

UsageCounterView::UsageCounterView(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);

    auto* row = new QHBoxLayout;
    row->setSpacing(6);
    row->addWidget(Theme::symbol(QStringLiteral("chart.bar"), 14, this), 0, Qt::AlignVCenter);
    m_label = Theme::caption(QString(), this);
    m_label->setObjectName(QStringLiteral("usageCounter"));
    m_label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Theme::useTabularDigits(m_label);
    row->addWidget(m_label, 1);
    layout->addLayout(row);

    QLabel* caveat = Theme::caption(kCaveat, this);
    caveat->setObjectName(QStringLiteral("usageCaveat"));
    caveat->setStyleSheet(QStringLiteral("font-size: 11px;"));
    layout->addWidget(caveat);

    auto* method = new QWidget(this);
    method->setObjectName(QStringLiteral("usageMethod"));
    auto* methodLayout = new QVBoxLayout(method);
    methodLayout->setContentsMargins(16, 0, 0, 0);
    methodLayout->setSpacing(2);
    QLabel* methodText = Theme::caption(kMethod, method);
    methodText->setStyleSheet(QStringLiteral("font-size: 11px;"));
    methodLayout->addWidget(methodText);
    m_providerLink = Theme::linkButton(kProviderLinkTitle, method);
    m_providerLink->setObjectName(QStringLiteral("providerUsageLink"));
    m_providerLink->setProperty("url", kProviderUsageUrl);
    m_providerLink->setToolTip(kProviderUsageUrl);
    connect(m_providerLink, &QPushButton::clicked, this,
            [] { QDesktopServices::openUrl(QUrl(kProviderUsageUrl)); });
    methodLayout->addWidget(m_providerLink, 0, Qt::AlignLeft);

    m_methodToggle = Theme::disclosure(kMethodTitle, method, this);
    m_methodToggle->setObjectName(QStringLiteral("usageMethodToggle"));
    layout->addWidget(m_methodToggle, 0, Qt::AlignLeft);
    layout->addWidget(method);
}

void UsageCounterView::setUsage(const ConversationUsage& usage)
{
    const QString text = usage.label();
    if (m_label->text() != text)
        m_label->setText(text);
}
