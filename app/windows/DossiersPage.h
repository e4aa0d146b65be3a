#pragma once

#include <QWidget>

class AppModel;

// The dossier table, "Dossiers".
class DossiersPage : public QWidget {
    Q_OBJECT
public:
    explicit DossiersPage(AppModel& model, QWidget* parent = nullptr);

    // Re-reads what it shows from the model (connected to the model's coalesced `changed()`).
    void refresh();

private:
    AppModel& m_model;
};
