#include "app/windows/OutgoingCallTestWindow.h"

#include "app/model/AppModel.h"
#include "app/windows/Theme.h"

#include <QBoxLayout>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

OutgoingCallTestWindow::OutgoingCallTestWindow(AppModel& model, QWidget* parent)
    : QDialog(parent), m_model(model)
{
    setObjectName(QStringLiteral("outgoingCallTestWindow"));
    setWindowTitle(QStringLiteral("Tester en appelant"));
    setMinimumWidth(720);
    resize(720, 390);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 24, 28, 24);
    layout->setSpacing(Theme::kSpacingPx);
    QPushButton* close =
        Theme::addSheetHeader(layout, QStringLiteral("Tester en appelant"), QStringLiteral("phone"));
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    layout->addWidget(
        Theme::body(QStringLiteral("Appelez un deuxième téléphone depuis votre ligne iPhone, puis "
                                   "faites parler Orlea. Le forfait de votre ligne s’applique.")));

    auto* card = Theme::card(this);
    auto* cardLayout = new QVBoxLayout(card);
    cardLayout->setContentsMargins(Theme::kCardPaddingPx, Theme::kCardPaddingPx, Theme::kCardPaddingPx,
                                   Theme::kCardPaddingPx);
    cardLayout->setSpacing(10);
    cardLayout->addWidget(Theme::sectionTitle(QStringLiteral("Numéro à appeler")));
    auto* dialRow = new QHBoxLayout;
    dialRow->setSpacing(10);
    m_number = new QLineEdit(card);
    m_number->setObjectName(QStringLiteral("outgoingNumberField"));
    m_number->setPlaceholderText(QStringLiteral("06 12 34 56 78"));
    m_number->setClearButtonEnabled(true);
    m_number->setMinimumHeight(34);
    m_number->setStyleSheet(QStringLiteral("border-radius: 16px; padding: 5px 14px;"));
    connect(m_number, &QLineEdit::textEdited, this,
            [this](const QString& text) { m_model.setOutgoingNumber(text); });
    connect(m_number, &QLineEdit::returnPressed, this, [this] { m_model.dialTestNumber(); });
    dialRow->addWidget(m_number, 1);
    m_dial = Theme::primaryButton(QStringLiteral("1. Appeler ce numéro"));
    m_dial->setObjectName(QStringLiteral("dialButton"));
    connect(m_dial, &QPushButton::clicked, this, [this] { m_model.dialTestNumber(); });
    dialRow->addWidget(m_dial);
    cardLayout->addLayout(dialRow);
    m_status = Theme::caption(QString());
    m_status->setObjectName(QStringLiteral("outgoingStatus"));
    cardLayout->addWidget(m_status);

    auto* separator = new QFrame(card);
    separator->setFrameShape(QFrame::HLine);
    separator->setStyleSheet(QStringLiteral("color: %1;").arg(Theme::kBorder.name()));
    cardLayout->addWidget(separator);

    m_join = Theme::primaryButton(QStringLiteral("2. Brancher l’IA sur l’appel"));
    m_join->setObjectName(QStringLiteral("joinButton"));
    connect(m_join, &QPushButton::clicked, this, &OutgoingCallTestWindow::joinCall);
    cardLayout->addWidget(m_join, 0, Qt::AlignLeft);
    layout->addWidget(card);

    layout->addWidget(Theme::caption(
        QStringLiteral("Après le décrochage, revenez ici pour brancher l’IA. Le bouton Intervenir au micro "
                       "sera disponible dans "
                       "Le standard. Un appel sortant ne contourne pas la configuration audio nécessaire.")));
    layout->addStretch(1);

    connect(&m_model, &AppModel::changed, this, &OutgoingCallTestWindow::refresh);
    refresh();
}

void OutgoingCallTestWindow::joinCall()
{
    m_model.joinActiveCall();
    // Once the AI is on the call, the dashboard is where the user follows it and can intervene.
    if (m_model.busy()) {
        m_model.setPage(QStringLiteral("Le standard"));
        accept();
    }
}

void OutgoingCallTestWindow::refresh()
{
    // Never rewrite the number under the user's fingers.
    if (m_number->text() != m_model.outgoingNumber() && !m_number->hasFocus())
        m_number->setText(m_model.outgoingNumber());
    if (m_status->text() != m_model.outgoingStatus())
        m_status->setText(m_model.outgoingStatus());
    const bool busy = m_model.busy();
    m_dial->setEnabled(!busy && !m_model.armed());
    m_join->setEnabled(!busy);
}
