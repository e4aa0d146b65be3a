#pragma once

#include <QWidget>

class AppModel;

// The connections page, "Connexions", with the advanced panel folded inside.
class ConnectionsPage : public QWidget {
    Q_OBJECT
public:
    explicit ConnectionsPage(AppModel& model, QWidget* parent = nullptr);

    // Re-reads what it shows from the model (connected to the model's coalesced `changed()`).
    void refresh();

private:
    AppModel& m_model;
};
