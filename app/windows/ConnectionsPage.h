#pragma once

#include <QWidget>

class AdvancedConnectionsPanel;
class AppModel;
class QLabel;
class QProgressBar;
class QScrollArea;
class QToolButton;

// The connections page, "Connexions", with the advanced panel folded inside.
class ConnectionsPage : public QWidget {
    Q_OBJECT
public:
    explicit ConnectionsPage(AppModel& model, QWidget* parent = nullptr);

    // Re-reads what it shows from the model (connected to the model's coalesced `changed()`).
    void refresh();

    // "3 étapes sur 6 terminées" and its variants for `done` of `total` steps.
    static QString progressLine(int done, int total);

    bool panelUnfolded() const;
    void setPanelUnfolded(bool unfolded);
    // Unfolds the panel and scrolls its verification list into view.
    void showVerifications();

    AdvancedConnectionsPanel* panel() const { return m_panel; }
    QScrollArea* scrollArea() const { return m_scroll; }

private:
    void scrollToVerifications();

    AppModel& m_model;
    QScrollArea* m_scroll = nullptr;
    QLabel* m_progressText = nullptr;
    QLabel* m_nextStep = nullptr;
    QProgressBar* m_progressBar = nullptr;
    QToolButton* m_disclosure = nullptr;
    AdvancedConnectionsPanel* m_panel = nullptr;
};
