#include "app/windows/DashboardPage.h"

#include "app/model/AppModel.h"
#include "app/windows/Theme.h"

#include <QBoxLayout>
#include <QLabel>

DashboardPage::DashboardPage(AppModel& model, QWidget* parent) : QWidget(parent), m_model(model)
{
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Theme::pageTitle(QStringLiteral("DashboardPage")));
    connect(&m_model, &AppModel::changed, this, &DashboardPage::refresh);
    refresh();
}

void DashboardPage::refresh() {}
