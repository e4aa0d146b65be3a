#include "tests/windows/WindowTestSupport.h"

#include "app/common/UserDefaults.h"
#include "app/windows/Theme.h"
#include "app/windows/VoiceSettingsWindow.h"

#include <QPlainTextEdit>
#include <QSlider>
#include <QTest>

namespace {
QPlainTextEdit* styleEditor(QWidget& sheet)
{
    return sheet.findChild<QPlainTextEdit*>(QStringLiteral("styleEditor"));
}

QSlider* bandSlider(QWidget& sheet, int band)
{
    return sheet.findChild<QSlider*>(QStringLiteral("bandSlider%1").arg(band));
}

QString bandValue(QWidget& sheet, int band)
{
    auto* label = sheet.findChild<QLabel*>(QStringLiteral("bandValue%1").arg(band));
    return label ? label->text() : QStringLiteral("<missing>");
}

VoiceEQSettings withGains(std::vector<float> gains, bool enabled = true)
{
    VoiceEQSettings settings;
    settings.enabled = enabled;
    settings.gains = std::move(gains);
    return settings;
}
} // namespace

class VoiceSettingsTest : public ModelTest {
protected:
    void SetUp() override { Theme::apply(*static_cast<QApplication*>(QCoreApplication::instance())); }
};

TEST_F(VoiceSettingsTest, TheStyleCanBeAppliedOnlyWithinTheModelsLimit)
{
    const QString decomposedE = QStringLiteral("e\u0301");
    struct Case {
        const char* what;
        QString text;
        bool enabled;
    };
    const QList<Case> cases{
        {"empty", QString(), false},
        {"blanks and line breaks", QStringLiteral("  \n\t \r\n  "), false},
        {"one word", QStringLiteral("Parle doucement."), true},
        {"4000 characters", QString(4000, QLatin1Char('a')), true},
        {"4001 characters", QString(4001, QLatin1Char('a')), false},
        {"4001 with blanks around",
         QStringLiteral(" ") + QString(3999, QLatin1Char('a')) + QStringLiteral(" "), false},
        {"4000 accented letters in 8000 code units", decomposedE.repeated(4000), true},
        {"4001 accented letters", decomposedE.repeated(4001), false},
        {"emoji count once", QString(3999, QLatin1Char('a')) + QStringLiteral("🙂"), true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(VoiceSettingsDraft::canApply(c.text), c.enabled) << c.what;

    auto model = makeModel();
    VoiceSettingsWindow sheet(*model);
    auto* apply = findButton(sheet, QStringLiteral("Appliquer le style"));
    ASSERT_NE(apply, nullptr);
    for (const Case& c : cases) {
        styleEditor(sheet)->setPlainText(c.text);
        EXPECT_EQ(apply->isEnabled(), c.enabled) << "button for " << c.what;
    }
}

TEST_F(VoiceSettingsTest, ThePresetAndTheApplyButtonStoreTheStyle)
{
    auto model = makeModel();
    EXPECT_EQ(VoiceSettingsWindow::kGentlePreset, AppModel::kDefaultVoiceStyle);
    model->applyVoiceStyle(QStringLiteral("Parle vite."));
    model->setVoiceStyleStatus(QString());
    VoiceSettingsLauncher launcher(*model);
    launcher.show();
    settle();
    EXPECT_EQ(launcher.text(), QStringLiteral("Régler la voix et l’égaliseur"));
    launcher.click();
    VoiceSettingsWindow* sheet = launcher.sheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_TRUE(launcher.draft().presented);
    EXPECT_EQ(styleEditor(*sheet)->toPlainText(), model->voiceStyle())
        << "the sheet opens on the stored style";
    EXPECT_EQ(launcher.draft().text, model->voiceStyle());
    EXPECT_LE(styleEditor(*sheet)->height(), 110);
    EXPECT_GT(styleEditor(*sheet)->height(), 90) << "about 110 px, in whole lines";

    styleEditor(*sheet)->selectAll();
    QTest::keyClicks(styleEditor(*sheet), QStringLiteral("Parle vite."));
    findButton(*sheet, QStringLiteral("Douce et bienveillante"))->click();
    EXPECT_EQ(styleEditor(*sheet)->toPlainText(), VoiceSettingsWindow::kGentlePreset)
        << "the preset replaces";
    EXPECT_NE(model->voiceStyle(), VoiceSettingsWindow::kGentlePreset) << "nothing applied yet";

    findButton(*sheet, QStringLiteral("Appliquer le style"))->click();
    settle();
    EXPECT_EQ(model->voiceStyle(), VoiceSettingsWindow::kGentlePreset);
    EXPECT_TRUE(showsText(*sheet, QStringLiteral("Style enregistré pour la prochaine conversation.")));
    EXPECT_EQ(makeModel()->voiceStyle(), VoiceSettingsWindow::kGentlePreset);
    saveSnapshot(*sheet, QStringLiteral("voice-settings-sheet-applied"));

    findButton(*sheet, QStringLiteral("Fermer"))->click();
    settle();
    EXPECT_FALSE(launcher.draft().presented);
}

TEST_F(VoiceSettingsTest, ClosingLeavesTheStoredStyle)
{
    auto model = makeModel();
    model->applyVoiceStyle(QStringLiteral("Parle doucement."));
    VoiceSettingsLauncher launcher(*model);
    launcher.show();
    launcher.click();
    VoiceSettingsWindow* sheet = launcher.sheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(styleEditor(*sheet)->toPlainText(), QStringLiteral("Parle doucement."));
    QTest::keyClicks(styleEditor(*sheet), QStringLiteral(" Et vite."));
    findButton(*sheet, QStringLiteral("Fermer"))->click();
    settle();
    EXPECT_EQ(model->voiceStyle(), QStringLiteral("Parle doucement."));
    EXPECT_EQ(makeModel()->voiceStyle(), QStringLiteral("Parle doucement."));

    // Reopened, the sheet shows the stored style again, not the abandoned edit.
    model->applyVoiceStyle(QStringLiteral("Parle posément."));
    launcher.click();
    ASSERT_NE(launcher.sheet(), nullptr);
    EXPECT_EQ(styleEditor(*launcher.sheet())->toPlainText(), QStringLiteral("Parle posément."));
    launcher.sheet()->reject();
}

TEST_F(VoiceSettingsTest, ASliderChangesItsOwnBandAtOnce)
{
    auto model = makeModel();
    model->setVoiceEQ(withGains({1, -2, 3, -4, 5, -6, 7, -8, 30}, false));
    VoiceSettingsWindow sheet(*model);
    sheet.resize(600, 710);
    sheet.show();
    settle();
    EXPECT_EQ(bandValue(sheet, 0), QStringLiteral("+1.0 dB"));
    EXPECT_EQ(bandValue(sheet, 1), QStringLiteral("-2.0 dB"));
    EXPECT_EQ(bandValue(sheet, 8), QStringLiteral("+12.0 dB")) << "gains are shown as the chain uses them";
    EXPECT_EQ(bandSlider(sheet, 8)->value(), bandSlider(sheet, 8)->maximum());
    EXPECT_EQ(bandSlider(sheet, 1)->value(), -4);
    EXPECT_EQ(bandSlider(sheet, 1)->minimum(), -24);
    EXPECT_EQ(bandSlider(sheet, 1)->maximum(), 24);
    EXPECT_TRUE(showsText(sheet, QStringLiteral("−12 dB")));
    EXPECT_TRUE(showsText(sheet, QStringLiteral("+12 dB")));
    EXPECT_TRUE(showsText(sheet, QStringLiteral("10 kHz")));
    saveSnapshot(sheet, QStringLiteral("voice-settings-sheet"));

    QSlider* slider = bandSlider(sheet, 3);
    QTest::keyClick(slider, Qt::Key_Right); // −4.0 → −3.5
    settle();
    const std::vector<float> expected{1, -2, 3, -3.5f, 5, -6, 7, -8, 12};
    EXPECT_EQ(model->voiceEQ().gains, expected);
    EXPECT_TRUE(model->voiceEQ().enabled) << "a moved band must be heard";
    EXPECT_EQ(bandValue(sheet, 3), QStringLiteral("-3.5 dB"));
    EXPECT_EQ(bandValue(sheet, 2), QStringLiteral("+3.0 dB"));
    EXPECT_EQ(makeModel()->voiceEQ().gains, expected) << "the change is kept for the next calls";

    bandSlider(sheet, 0)->setValue(bandSlider(sheet, 0)->minimum());
    settle();
    EXPECT_EQ(model->voiceEQ().gains[0], -12.0f);
    EXPECT_EQ(bandValue(sheet, 0), QStringLiteral("-12.0 dB"));
    EXPECT_EQ(model->voiceEQ().gains[3], -3.5f);

    // Changes from elsewhere move the sliders.
    model->setVoiceEQ(withGains({0, 0, 0, 0, 0, 0, 0, 0, 2.5f}));
    settle();
    EXPECT_EQ(bandSlider(sheet, 8)->value(), 5);
    EXPECT_EQ(bandSlider(sheet, 0)->value(), 0);
    EXPECT_EQ(model->voiceEQ().gains[0], 0.0f) << "moving a slider from the model writes nothing back";
}

TEST_F(VoiceSettingsTest, FlatteningZeroesEveryBand)
{
    auto model = makeModel();
    model->setVoiceEQ(withGains({1, -2, 3, -4, 5, -6, 7, -8, 9}));
    VoiceSettingsWindow sheet(*model);
    findButton(sheet, QStringLiteral("Remettre à plat"))->click();
    settle();
    EXPECT_EQ(model->voiceEQ().gains, std::vector<float>(9, 0.0f));
    for (int band = 0; band < 9; ++band) {
        EXPECT_EQ(bandValue(sheet, band), QStringLiteral("+0.0 dB")) << "band " << band;
        EXPECT_EQ(bandSlider(sheet, band)->value(), 0) << "band " << band;
    }
    EXPECT_EQ(makeModel()->voiceEQ().gains, std::vector<float>(9, 0.0f));
    EXPECT_EQ(VoiceSettingsWindow::formatGain(-0.0f), QStringLiteral("+0.0 dB"));
    EXPECT_EQ(VoiceSettingsWindow::formatGain(0.5f), QStringLiteral("+0.5 dB"));
}
