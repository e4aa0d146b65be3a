#pragma once

#include <QWidget>

class AppModel;

// The one window "Orlea": the sidebar, the selected page, the sheets and the error alert.
class MainWindow : public QWidget {
    Q_OBJECT
public:
    explicit MainWindow(AppModel& model, QWidget* parent = nullptr);

    // Re-reads what it shows from the model (connected to the model's coalesced `changed()`).
    void refresh();

private:
    AppModel& m_model;
};
