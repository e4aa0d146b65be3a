#pragma once

#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <functional>

class AppModel;
class QButtonGroup;
class QFrame;
class QLabel;
class QStackedWidget;

// The one window "Orlea": the sidebar, the selected page, the sheets and the error alert.
class MainWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int kSidebarWidthPx = 224;
    explicit MainWindow(AppModel& model, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The sidebar's pages, in order; each title is also the model's `page` value.
    static const QStringList& pageTitles();

    // Re-reads what it shows from the model (connected to the model's coalesced `changed()`).
    void refresh();

    // Asked when the user closes the window: returning false keeps it open (the handler closes it
    // later, once the conversation in progress is saved). Without a handler the window just closes.
    void setCloseHandler(std::function<bool()> handler) { m_closeHandler = std::move(handler); }

    // The page shown now and the open sheets, for the tests and the screenshots.
    QWidget* currentPage() const;
    QWidget* page(const QString& title) const;
    QDialog* setupSheet() const { return m_setupSheet; }
    QDialog* agentSheet() const { return m_agentSheet; }
    QDialog* macTestSheet() const { return m_macTestSheet; }
    QDialog* outgoingSheet() const { return m_outgoingSheet; }
    QMessageBox* errorAlert() const { return m_alert; }
    // The urgent call no notification could announce, over the pages.
    QFrame* urgentBanner() const { return m_urgentBanner; }

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* buildSidebar();
    QWidget* buildUrgentBanner();
    void refreshUrgentBanner();
    // Opens the sheet when `wanted` and none is open; closes an open one when not.
    void syncSheet(QPointer<QDialog>& sheet, bool wanted, const std::function<QDialog*()>& create,
                   const std::function<void()>& clearFlag);
    void syncAlert();
    QWidget* alertHost();
    void applicationActivated();
    void applicationDeactivated();

    AppModel& m_model;
    QButtonGroup* m_pageButtons = nullptr;
    QStackedWidget* m_pages = nullptr;
    QWidget* m_urgentHolder = nullptr;
    QFrame* m_urgentBanner = nullptr;
    QLabel* m_urgentTitle = nullptr;
    QLabel* m_urgentRequest = nullptr;
    QPointer<QDialog> m_setupSheet;
    QPointer<QDialog> m_agentSheet;
    QPointer<QDialog> m_macTestSheet;
    QPointer<QDialog> m_outgoingSheet;
    QPointer<QMessageBox> m_alert;
    std::function<bool()> m_closeHandler;
    bool m_appeared = false;
    // Set once `refresh` ran for the current activation of the application.
    bool m_refreshedForActivation = false;
};
