#pragma once

#include <QWidget>

class AppModel;
class QLabel;
class QPushButton;

// The first-call guide and the session log, "Premiers pas".
class GuidePage : public QWidget {
    Q_OBJECT
public:
    explicit GuidePage(AppModel& model, QWidget* parent = nullptr);

    // Re-reads what it shows from the model (connected to the model's coalesced `changed()`).
    void refresh();

private:
    QWidget* buildSteps();
    QWidget* buildNotes();
    QWidget* buildLog();

    AppModel& m_model;
    QPushButton* m_takeCall = nullptr;
    QLabel* m_log = nullptr;
    QLabel* m_logEmpty = nullptr;
};
