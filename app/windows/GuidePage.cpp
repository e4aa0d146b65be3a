#include "app/windows/GuidePage.h"

#include "app/model/AppModel.h"
#include "app/windows/Theme.h"

#include <QBoxLayout>
#include <QLabel>

GuidePage::GuidePage(AppModel& model, QWidget* parent) : QWidget(parent), m_model(model)
{
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Theme::pageTitle(QStringLiteral("GuidePage")));
    connect(&m_model, &AppModel::changed, this, &GuidePage::refresh);
    refresh();
}

void GuidePage::refresh() {}
