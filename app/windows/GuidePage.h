#pragma once

#include <QWidget>

class AppModel;

// The first-call guide and the session log, "Premiers pas".
class GuidePage : public QWidget {
    Q_OBJECT
public:
    explicit GuidePage(AppModel& model, QWidget* parent = nullptr);

    // Re-reads what it shows from the model (connected to the model's coalesced `changed()`).
    void refresh();

private:
    AppModel& m_model;
};
