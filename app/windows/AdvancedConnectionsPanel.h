#pragma once

#include <QWidget>

class AppModel;

// Every setting and check of the setup by hand: "Options et dépannage".
class AdvancedConnectionsPanel : public QWidget {
    Q_OBJECT
public:
    explicit AdvancedConnectionsPanel(AppModel& model, QWidget* parent = nullptr);

    // Re-reads what it shows from the model (connected to the model's coalesced `changed()`).
    void refresh();

private:
    AppModel& m_model;
};
