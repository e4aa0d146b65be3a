#pragma once

#include <QDialog>

class AppModel;
class QLabel;
class QLineEdit;
class QPushButton;

// The outgoing-call test sheet, "Tester en appelant".
class OutgoingCallTestWindow : public QDialog {
    Q_OBJECT
public:
    explicit OutgoingCallTestWindow(AppModel& model, QWidget* parent = nullptr);

    // Re-reads what it shows from the model (connected to the model's coalesced `changed()`).
    void refresh();

private:
    void joinCall();

    AppModel& m_model;
    QLineEdit* m_number = nullptr;
    QPushButton* m_dial = nullptr;
    QPushButton* m_join = nullptr;
    QLabel* m_status = nullptr;
};
