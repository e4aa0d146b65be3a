#include "app/windows/OutgoingCallTestWindow.h"

#include "app/model/AppModel.h"
#include "app/windows/Theme.h"

#include <QBoxLayout>
#include <QLabel>

OutgoingCallTestWindow::OutgoingCallTestWindow(AppModel& model, QWidget* parent)
    : QDialog(parent), m_model(model)
{
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Theme::pageTitle(QStringLiteral("OutgoingCallTestWindow")));
    connect(&m_model, &AppModel::changed, this, &OutgoingCallTestWindow::refresh);
    refresh();
}

void OutgoingCallTestWindow::refresh() {}
