#include "app/windows/AgentPage.h"

#include "app/model/AppModel.h"
#include "app/windows/Theme.h"

#include <QBoxLayout>
#include <QLabel>

AgentPage::AgentPage(AppModel& model, QWidget* parent) : QWidget(parent), m_model(model)
{
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Theme::pageTitle(QStringLiteral("AgentPage")));
    connect(&m_model, &AppModel::changed, this, &AgentPage::refresh);
    refresh();
}

void AgentPage::refresh() {}
