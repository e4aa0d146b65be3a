#pragma once

#include "app/realtime/ConversationUsage.h"

#include <QWidget>

class QLabel;
class QPushButton;
class QToolButton;

// The usage counter of a conversation: the prudent estimate's line, what the figure is worth, how it is
// worked out, and the provider's own consumption page for the real bill.
class UsageCounterView : public QWidget {
    Q_OBJECT
public:
    static const QString kCaveat;
    static const QString kMethodTitle;
    static const QString kMethod;
    static const QString kProviderLinkTitle;
    static const QString kProviderUsageUrl;

    explicit UsageCounterView(QWidget* parent = nullptr);

    void setUsage(const ConversationUsage& usage);

    QLabel* label() const { return m_label; }
    QToolButton* methodToggle() const { return m_methodToggle; }
    QPushButton* providerLink() const { return m_providerLink; }

private:
    QLabel* m_label = nullptr;
    QToolButton* m_methodToggle = nullptr;
    QPushButton* m_providerLink = nullptr;
};
