#include "app/windows/AgentSetupWindow.h"

#include "app/model/AppModel.h"
#include "app/windows/Theme.h"

#include <QBoxLayout>
#include <QLabel>

AgentSetupWindow::AgentSetupWindow(AppModel& model, QWidget* parent) : QDialog(parent), m_model(model)
{
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Theme::pageTitle(QStringLiteral("AgentSetupWindow")));
    connect(&m_model, &AppModel::changed, this, &AgentSetupWindow::refresh);
    refresh();
}

void AgentSetupWindow::refresh() {}
