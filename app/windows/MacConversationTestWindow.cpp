#include "app/windows/MacConversationTestWindow.h"

#include "app/model/AppModel.h"
#include "app/windows/Theme.h"

#include <QBoxLayout>
#include <QLabel>

MacConversationTestWindow::MacConversationTestWindow(AppModel& model, QWidget* parent)
    : QDialog(parent), m_model(model)
{
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Theme::pageTitle(QStringLiteral("MacConversationTestWindow")));
    connect(&m_model, &AppModel::changed, this, &MacConversationTestWindow::refresh);
    refresh();
}

void MacConversationTestWindow::refresh() {}
