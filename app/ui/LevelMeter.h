#pragma once

#include <QColor>
#include <QLabel>
#include <QWidget>

// One row of the microphone meters: a name, a bar filled in proportion to a linear peak level (0…1) and
// the level in decibels. Fed by whoever samples the levels; repaints only when given a new value.
class LevelMeter : public QWidget {
    Q_OBJECT
public:
    static constexpr double kHotLevel = 0.98;
    static constexpr int kLabelWidthPx = 130;
    static constexpr int kValueWidthPx = 58;

    explicit LevelMeter(const QString& name, QWidget* parent = nullptr);

    // The name column: bars of meters stacked in different places start at the same x when they share it.
    int nameWidth() const;
    void setNameWidth(int widthPx);

    void setLevel(double level);
    double level() const { return m_level; }
    bool isHot() const { return m_level >= kHotLevel; }
    QColor barColor() const;
    QString valueText() const;

    // "Silence" at 0 (or anything not a positive number), else the peak in whole decibels.
    static QString levelText(double level);

private:
    class Bar;
    double m_level = 0;
    QLabel* m_name;
    Bar* m_bar;
    QLabel* m_value;
};
