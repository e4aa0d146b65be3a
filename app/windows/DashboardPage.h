#pragma once

#include <QWidget>

class AppModel;

// The dashboard, "Le standard".
class DashboardPage : public QWidget {
    Q_OBJECT
public:
    explicit DashboardPage(AppModel& model, QWidget* parent = nullptr);

    // Re-reads what it shows from the model (connected to the model's coalesced `changed()`).
    void refresh();

private:
    AppModel& m_model;
};
