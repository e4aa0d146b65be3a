#include "tests/windows/WindowTestSupport.h"

#include "app/windows/Theme.h"

#include <QComboBox>
#include <QFontMetricsF>
#include <QImage>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <cmath>
#include <functional>

namespace {
// The darkest pixel of the control as drawn, by HSL lightness (0 black, 255 white).
int darkest(QWidget& control)
{
    const QImage image = control.grab().toImage();
    int lightness = 255;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            lightness = std::min(lightness, image.pixelColor(x, y).lightness());
    return lightness;
}

// A pixel of the control's field, under the top border, clear of text and arrow.
QColor fieldColour(QWidget& control)
{
    return control.grab().toImage().pixelColor(control.width() / 3, 3);
}
} // namespace

class ThemeTest : public ::testing::Test {
protected:
    void SetUp() override { Theme::apply(*qApp); }
};

TEST_F(ThemeTest, EveryDisabledControlLooksDisabled)
{
    const struct {
        const char* kind;
        std::function<QWidget*(QWidget*)> make;
    } controls[] = {
        {"text field",
         [](QWidget* parent) { return new QLineEdit(QStringLiteral("Agence Martin"), parent); }},
        {"text editor",
         [](QWidget* parent) {
             return new QPlainTextEdit(QStringLiteral("Accueille les locataires."), parent);
         }},
        {"drop-down",
         [](QWidget* parent) {
             auto* combo = new QComboBox(parent);
             combo->addItem(QStringLiteral("Velkaro — Appel vers IA"));
             return combo;
         }},
        {"button",
         [](QWidget* parent) { return Theme::secondaryButton(QStringLiteral("Retirer la clé"), parent); }},
    };
    for (const auto& control : controls) {
        SCOPED_TRACE(control.kind);
        QWidget holder;
        holder.setAttribute(Qt::WA_DontShowOnScreen);
        QWidget* enabled = control.make(&holder);
        QWidget* disabled = control.make(&holder);
        disabled->setEnabled(false);
        for (QWidget* widget : {enabled, disabled})
            widget->setFixedSize(260, 34);
        disabled->move(0, 40);
        holder.show();
        settle();

        EXPECT_LT(darkest(*enabled), 90) << "the usable control's text is dark";
        EXPECT_GT(darkest(*disabled), 140) << "the disabled control's text and marks are greyed";
        if (!qobject_cast<QPushButton*>(enabled)) {
            EXPECT_EQ(fieldColour(*enabled).name(), "#ffffff");
            EXPECT_EQ(fieldColour(*disabled).name(), Theme::kDisabledFill.name())
                << "the disabled field is filled grey";
        }
    }
}

TEST_F(ThemeTest, TicksConfirmInGreenEverywhere)
{
    QLabel tick;
    Theme::setTicked(&tick, true);
    const QImage ticked = tick.pixmap().toImage();
    const QColor disc = ticked.pixelColor(ticked.width() / 2, ticked.height() / 4);
    EXPECT_EQ(disc.name(), Theme::kSuccess.name())
        << "a tick is the green of the assistant's validated steps, not the accent blue";
}

TEST_F(ThemeTest, AFittedEditorShowsWholeLinesAtTheTopAndScrolled)
{
    QPlainTextEdit editor;
    editor.setAttribute(Qt::WA_DontShowOnScreen);
    editor.setPlainText(
        QStringLiteral("Parle avec une voix douce, bienveillante et naturelle. ").repeated(20));
    Theme::fitWholeLines(&editor, 110);
    editor.setFixedWidth(400);
    editor.show();
    settle();
    EXPECT_LE(editor.height(), 110);
    const int linePx = int(std::ceil(QFontMetricsF(editor.font()).lineSpacing()));
    EXPECT_EQ(editor.viewport()->height() % linePx, 0)
        << "the view holds " << editor.viewport()->height() << " px for lines of " << linePx << " px";
    EXPECT_EQ(editor.document()->documentMargin(), 0) << "a top margin would scroll away with the first line";
}
