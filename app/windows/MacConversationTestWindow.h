#pragma once

#include <QDialog>

class AppModel;

// The conversation test on the Mac's own microphone and speakers.
class MacConversationTestWindow : public QDialog {
    Q_OBJECT
public:
    explicit MacConversationTestWindow(AppModel& model, QWidget* parent = nullptr);

    // Re-reads what it shows from the model (connected to the model's coalesced `changed()`).
    void refresh();

private:
    AppModel& m_model;
};
