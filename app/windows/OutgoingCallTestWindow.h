#pragma once

#include <QDialog>

class AppModel;

// The outgoing-call test sheet, "Tester en appelant".
class OutgoingCallTestWindow : public QDialog {
    Q_OBJECT
public:
    explicit OutgoingCallTestWindow(AppModel& model, QWidget* parent = nullptr);

    // Re-reads what it shows from the model (connected to the model's coalesced `changed()`).
    void refresh();

private:
    AppModel& m_model;
};
