#pragma once

#include <QDialog>

class AppModel;

// The setup assistant sheet.
class SetupAssistantWindow : public QDialog {
    Q_OBJECT
public:
    explicit SetupAssistantWindow(AppModel& model, QWidget* parent = nullptr);

    // Re-reads what it shows from the model (connected to the model's coalesced `changed()`).
    void refresh();

private:
    AppModel& m_model;
};
