#pragma once

#include <QDialog>

class AppModel;

// The full agent editor sheet, "Mon assistant IA".
class AgentSetupWindow : public QDialog {
    Q_OBJECT
public:
    explicit AgentSetupWindow(AppModel& model, QWidget* parent = nullptr);

    // Re-reads what it shows from the model (connected to the model's coalesced `changed()`).
    void refresh();

private:
    AppModel& m_model;
};
