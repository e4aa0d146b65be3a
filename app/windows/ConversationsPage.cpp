#include "app/windows/ConversationsPage.h"

#include "app/model/AppModel.h"
#include "app/windows/Theme.h"

#include <QBoxLayout>
#include <QLabel>

ConversationsPage::ConversationsPage(AppModel& model, QWidget* parent) : QWidget(parent), m_model(model)
{
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Theme::pageTitle(QStringLiteral("ConversationsPage")));
    connect(&m_model, &AppModel::changed, this, &ConversationsPage::refresh);
    refresh();
}

void ConversationsPage::refresh() {}
