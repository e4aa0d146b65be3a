#pragma once

#include <QWidget>

class AppModel;

// The inline agent editor, "Mon agent".
class AgentPage : public QWidget {
    Q_OBJECT
public:
    explicit AgentPage(AppModel& model, QWidget* parent = nullptr);

    // Re-reads what it shows from the model (connected to the model's coalesced `changed()`).
    void refresh();

private:
    AppModel& m_model;
};
