#pragma once

#include <QWidget>

// The round marker in front of a setup step: a green tick once the step is done, its number in an
// accent ring while it is the current step, its number in a dotted grey ring while it waits its turn.
class SetupStepBadge : public QWidget {
    Q_OBJECT
public:
    enum class State { Pending, Current, Done };

    static constexpr int kSizePx = 26;

    explicit SetupStepBadge(int number, QWidget* parent = nullptr);

    void setState(State state);
    State state() const { return m_state; }
    QSize sizeHint() const override { return {kSizePx, kSizePx}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_number;
    State m_state = State::Pending;
};
