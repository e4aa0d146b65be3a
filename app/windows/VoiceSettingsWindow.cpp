#include "app/windows/VoiceSettingsWindow.h"

#include "app/model/AppModel.h"
#include "app/windows/Theme.h"

#include <QBoxLayout>
#include <QLabel>

VoiceSettingsWindow::VoiceSettingsWindow(AppModel& model, QWidget* parent) : QDialog(parent), m_model(model)
{
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Theme::pageTitle(QStringLiteral("VoiceSettingsWindow")));
    connect(&m_model, &AppModel::changed, this, &VoiceSettingsWindow::refresh);
    refresh();
}

void VoiceSettingsWindow::refresh() {}

VoiceSettingsLauncher::VoiceSettingsLauncher(AppModel& model, QWidget* parent)
    : QPushButton(QStringLiteral("Régler la voix et l’égaliseur"), parent), m_model(model)
{
}
