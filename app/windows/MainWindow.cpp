#include "app/windows/MainWindow.h"

#include "app/model/AppModel.h"
#include "app/windows/Theme.h"

#include <QBoxLayout>
#include <QLabel>

MainWindow::MainWindow(AppModel& model, QWidget* parent) : QWidget(parent), m_model(model)
{
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Theme::pageTitle(QStringLiteral("MainWindow")));
    connect(&m_model, &AppModel::changed, this, &MainWindow::refresh);
    refresh();
}

void MainWindow::refresh() {}
