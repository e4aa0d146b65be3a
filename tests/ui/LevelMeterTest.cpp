#include "app/ui/LevelMeter.h"
#include "app/ui/MicrophoneLevelView.h"
#include "tests/ui/UiSnapshot.h"

#include <QLabel>
#include <gtest/gtest.h>
#include <limits>

TEST(LevelMeter, TextFollowsThePeakInDecibels)
{
    struct Row {
        double level;
        const char* text;
    };
    const Row rows[] = {
        {0.0, "Silence"}, {-0.2, "Silence"}, {std::numeric_limits<double>::quiet_NaN(), "Silence"},
        {1.0, "0 dB"},    {0.99, "0 dB"},    {0.5, "-6 dB"},
        {0.1, "-20 dB"},  {0.001, "-60 dB"}, {1e-9, "-180 dB"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(LevelMeter::levelText(row.level), QString::fromUtf8(row.text)) << "level " << row.level;

    LevelMeter meter(QStringLiteral("Votre microphone"));
    EXPECT_EQ(meter.valueText(), QStringLiteral("Silence")) << "a new meter shows silence";
    meter.setLevel(0.5);
    EXPECT_EQ(meter.findChild<QLabel*>(QStringLiteral("levelValue"))->text(), QStringLiteral("-6 dB"));
    meter.setLevel(0);
    EXPECT_EQ(meter.valueText(), QStringLiteral("Silence")) << "exactly 0 never shows a decibel value";
}

TEST(MicrophoneLevelView, WarnsAndTurnsOrangeFromNinetyEightPercent)
{
    MicrophoneLevelView view;
    view.resize(520, view.sizeHint().height());
    view.setLevels(0.979, 0.5);
    EXPECT_FALSE(view.rawMeter()->isHot());
    const QColor green = view.rawMeter()->barColor();
    EXPECT_FALSE(view.warningShown()) << "0.979 is below the warning threshold";

    view.setLevels(0.98, 0.5);
    EXPECT_TRUE(view.rawMeter()->isHot());
    EXPECT_NE(view.rawMeter()->barColor(), green) << "the raw bar turns orange at 0.98";
    EXPECT_EQ(view.convertedMeter()->barColor(), green) << "the converted bar stays green at 0.5";
    EXPECT_TRUE(view.warningShown());
    EXPECT_EQ(view.findChild<QLabel*>(QStringLiteral("levelWarning"))->text(),
              QStringLiteral("Niveau capté très élevé. Si le son grésille, éloignez-vous un peu du micro."));

    view.setLevels(0.3, 0.99);
    EXPECT_FALSE(view.warningShown()) << "only the raw level raises the warning";
    EXPECT_TRUE(view.convertedMeter()->isHot()) << "a converted peak still turns its own bar orange";
    EXPECT_EQ(view.findChild<QLabel*>(QStringLiteral("levelCaption"))->text(),
              QStringLiteral("Micro du Mac : niveau automatique et limitation des pics."));

    view.setLevels(0.99, 0.6);
    view.adjustSize();
    saveSnapshot(view, QStringLiteral("level-meters-hot"));
    view.setLevels(0, 0.2);
    view.adjustSize();
    saveSnapshot(view, QStringLiteral("level-meters-quiet"));
}
