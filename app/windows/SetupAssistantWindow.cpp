#include "app/windows/SetupAssistantWindow.h"

#include "app/model/AppModel.h"
#include "app/windows/Theme.h"

#include <QBoxLayout>
#include <QLabel>

SetupAssistantWindow::SetupAssistantWindow(AppModel& model, QWidget* parent) : QDialog(parent), m_model(model)
{
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Theme::pageTitle(QStringLiteral("SetupAssistantWindow")));
    connect(&m_model, &AppModel::changed, this, &SetupAssistantWindow::refresh);
    refresh();
}

void SetupAssistantWindow::refresh() {}
