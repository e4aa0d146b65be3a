#include "app/windows/AdvancedConnectionsPanel.h"

#include "app/model/AppModel.h"
#include "app/windows/Theme.h"

#include <QBoxLayout>
#include <QLabel>

AdvancedConnectionsPanel::AdvancedConnectionsPanel(AppModel& model, QWidget* parent)
    : QWidget(parent), m_model(model)
{
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Theme::pageTitle(QStringLiteral("AdvancedConnectionsPanel")));
    connect(&m_model, &AppModel::changed, this, &AdvancedConnectionsPanel::refresh);
    refresh();
}

void AdvancedConnectionsPanel::refresh() {}
