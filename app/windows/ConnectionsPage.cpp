#include "app/windows/ConnectionsPage.h"

#include "app/model/AppModel.h"
#include "app/windows/Theme.h"

#include <QBoxLayout>
#include <QLabel>

ConnectionsPage::ConnectionsPage(AppModel& model, QWidget* parent) : QWidget(parent), m_model(model)
{
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Theme::pageTitle(QStringLiteral("ConnectionsPage")));
    connect(&m_model, &AppModel::changed, this, &ConnectionsPage::refresh);
    refresh();
}

void ConnectionsPage::refresh() {}
