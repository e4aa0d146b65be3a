#pragma once

#include <QWidget>

class AppModel;

// The conversation list and transcript reader, "Conversations".
class ConversationsPage : public QWidget {
    Q_OBJECT
public:
    explicit ConversationsPage(AppModel& model, QWidget* parent = nullptr);

    // Re-reads what it shows from the model (connected to the model's coalesced `changed()`).
    void refresh();

private:
    AppModel& m_model;
};
