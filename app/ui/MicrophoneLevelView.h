#pragma once

#include <QLabel>
#include <QWidget>

class LevelMeter;

// The two microphone meters of the test sheets: the raw capture and the sound prepared for the AI, with
// a warning when the raw capture comes close to full scale.
class MicrophoneLevelView : public QWidget {
    Q_OBJECT
public:
    static const QString kRawTitle;
    static const QString kConvertedTitle;
    static const QString kHotWarning;
    static const QString kCaption;

    explicit MicrophoneLevelView(QWidget* parent = nullptr);

    void setLevels(double rawLevel, double convertedLevel);
    LevelMeter* rawMeter() const { return m_raw; }
    LevelMeter* convertedMeter() const { return m_converted; }
    bool warningShown() const { return !m_warning->isHidden(); }

private:
    LevelMeter* m_raw;
    LevelMeter* m_converted;
    QLabel* m_warning;
    QLabel* m_caption;
};
