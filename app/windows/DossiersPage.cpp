#include "app/windows/DossiersPage.h"

#include "app/model/AppModel.h"
#include "app/windows/Theme.h"

#include <QBoxLayout>
#include <QLabel>

DossiersPage::DossiersPage(AppModel& model, QWidget* parent) : QWidget(parent), m_model(model)
{
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Theme::pageTitle(QStringLiteral("DossiersPage")));
    connect(&m_model, &AppModel::changed, this, &DossiersPage::refresh);
    refresh();
}

void DossiersPage::refresh() {}
