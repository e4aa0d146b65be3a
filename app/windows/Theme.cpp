#include "app/windows/Theme.h"

#include "app/ui/Icons.h"

#include <QApplication>
#include <QBoxLayout>
#include <QFont>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QStyle>
#include <QToolButton>

#include <cmath>

namespace Theme {
namespace {
// The fields' border, and the padding of an editor fitted to whole lines (the field's 5 px plus the
// document margin it gives up).
constexpr int kFieldBorderPx = 1;
constexpr int kWholeLinesPaddingPx = 9;

QString hex(const QColor& color)
{
    return color.name(QColor::HexRgb);
}

QLabel* roleLabel(const char* role, const QString& text, QWidget* parent, bool wrap)
{
    auto* label = new QLabel(text, parent);
    label->setProperty("role", QString::fromLatin1(role));
    label->setWordWrap(wrap);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QPushButton* roleButton(const char* role, const QString& text, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setProperty("role", QString::fromLatin1(role));
    button->setCursor(Qt::PointingHandCursor);
    button->setAutoDefault(false);
    return button;
}
} // namespace

QString styleSheet()
{
    return QStringLiteral(R"(
QWidget#orleaWindow, QDialog { background: %1; }
QScrollArea, QScrollArea > QWidget > QWidget { background: transparent; border: none; }
QFrame[role="card"] { background: %2; border: 1px solid %3; border-radius: 12px; }
QFrame[role="banner-accent"] { background: %4; border: 1px solid %5; border-radius: 12px; }
QFrame[role="banner-warning"] { background: #fdf3e6; border: 1px solid #f3c98f; border-radius: 12px; }
QFrame[role="banner-danger"] { background: #fdeeee; border: 1px solid #efb3b3; border-radius: 12px; }
QFrame[role="card"] QLabel, QFrame[role^="banner"] QLabel { background: transparent; border: none; }
QLabel { color: %6; }
QLabel[role="pageTitle"] { font-size: 24px; font-weight: 600; }
QLabel[role="pageSubtitle"] { font-size: 14px; color: %7; }
QLabel[role="sectionTitle"] { font-size: 15px; font-weight: 600; }
QLabel[role="caption"] { font-size: 12px; color: %7; }
QLabel[role="eyebrow"] { font-size: 11px; font-weight: 700; letter-spacing: 1px; color: %7; }
QPushButton { padding: 6px 14px; border-radius: 8px; font-size: 13px; }
QPushButton[role="primary"] { background: %5; color: white; border: 1px solid %5; }
QPushButton[role="primary"]:hover { background: %8; }
QPushButton[role="primary"]:disabled { background: #a9bde6; border-color: #a9bde6; color: #f2f5fb; }
QPushButton[role="secondary"] { background: %2; color: %6; border: 1px solid %3; }
QPushButton[role="secondary"]:hover { background: %4; }
QPushButton[role="secondary"]:disabled { color: %10; }
QPushButton[role="link"] { background: transparent; color: %5; border: none; padding: 4px 6px; }
QPushButton[role="link"]:disabled { color: %10; }
QLineEdit, QPlainTextEdit, QTextEdit, QComboBox {
  background: white; border: 1px solid %3; border-radius: 8px; padding: 5px 8px; color: %6; }
QPlainTextEdit[wholeLines="true"] { padding: %11px 12px; }
QComboBox { padding-right: 26px; }
QComboBox::drop-down { subcontrol-origin: padding; subcontrol-position: center right; width: 24px; border: none; }
QComboBox::down-arrow { image: url(:/icons/chevron.down.svg); width: 12px; height: 12px; }
QLineEdit:focus, QPlainTextEdit:focus, QTextEdit:focus, QComboBox:focus { border: 1px solid %5; }
QLineEdit:disabled, QPlainTextEdit:disabled, QTextEdit:disabled, QComboBox:disabled {
  background: %9; color: %10; border: 1px solid %3; }
QComboBox::down-arrow:disabled { image: url(:/icons/chevron.down.disabled.svg); }
)")
        .arg(hex(kWindow), hex(kCard), hex(kBorder), hex(kAccentSoft), hex(kAccent), hex(kText),
             hex(kSecondaryText), hex(kAccent.darker(115)), hex(kDisabledFill), hex(kDisabledText),
             QString::number(kWholeLinesPaddingPx));
}

void apply(QApplication& application)
{
    // The style sheet draws some of our icons (the combo box arrow): their resources must be loaded.
    Icons::has(QStringLiteral("chevron.down"));
    QFont font = application.font();
    font.setPointSizeF(10.5);
    application.setFont(font);
    QPalette palette = application.palette();
    palette.setColor(QPalette::Window, kWindow);
    palette.setColor(QPalette::WindowText, kText);
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::Text, kText);
    palette.setColor(QPalette::Highlight, kAccent);
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Button, kCard);
    palette.setColor(QPalette::ButtonText, kText);
    // What the style draws itself (check boxes, sliders, placeholders) greys out like the fields.
    for (const QPalette::ColorRole role :
         {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::PlaceholderText})
        palette.setColor(QPalette::Disabled, role, kDisabledText);
    palette.setColor(QPalette::Disabled, QPalette::Base, kDisabledFill);
    application.setPalette(palette);
    application.setStyleSheet(styleSheet());
}

QFrame* card(QWidget* parent)
{
    auto* frame = new QFrame(parent);
    frame->setProperty("role", QStringLiteral("card"));
    return frame;
}

QVBoxLayout* cardLayout(QFrame* card, int spacingPx)
{
    auto* layout = new QVBoxLayout(card);
    layout->setContentsMargins(kCardPaddingPx, kCardPaddingPx, kCardPaddingPx, kCardPaddingPx);
    layout->setSpacing(spacingPx);
    return layout;
}

QFrame* banner(const QString& tone, QWidget* parent)
{
    auto* frame = new QFrame(parent);
    frame->setProperty("role", QStringLiteral("banner-") + tone);
    return frame;
}

QLabel* pageTitle(const QString& text, QWidget* parent)
{
    return roleLabel("pageTitle", text, parent, true);
}
QLabel* pageSubtitle(const QString& text, QWidget* parent)
{
    return roleLabel("pageSubtitle", text, parent, true);
}
QLabel* sectionTitle(const QString& text, QWidget* parent)
{
    return roleLabel("sectionTitle", text, parent, true);
}
QLabel* body(const QString& text, QWidget* parent)
{
    return roleLabel("body", text, parent, true);
}
QLabel* caption(const QString& text, QWidget* parent)
{
    return roleLabel("caption", text, parent, true);
}
QLabel* eyebrow(const QString& text, QWidget* parent)
{
    return roleLabel("eyebrow", text, parent, false);
}

QLabel* symbol(const QString& name, int sizePx, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setProperty("symbol", name);
    label->setPixmap(Icons::pixmap(name, sizePx));
    label->setFixedSize(sizePx, sizePx);
    return label;
}

QPushButton* primaryButton(const QString& text, QWidget* parent)
{
    return roleButton("primary", text, parent);
}
QPushButton* secondaryButton(const QString& text, QWidget* parent)
{
    return roleButton("secondary", text, parent);
}
QPushButton* linkButton(const QString& text, QWidget* parent)
{
    return roleButton("link", text, parent);
}

QBoxLayout* scrollingPage(QWidget* page)
{
    auto* outer = new QVBoxLayout(page);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea(page);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* content = new QWidget(scroll);
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(kPageMarginPx, kPageMarginPx - 4, kPageMarginPx, kPageMarginPx);
    layout->setSpacing(kSpacingPx);
    scroll->setWidget(content);
    outer->addWidget(scroll);
    return layout;
}

QPushButton* addSheetHeader(QBoxLayout* layout, const QString& title, const QString& symbolName)
{
    auto* row = new QHBoxLayout;
    row->setSpacing(10);
    if (!symbolName.isEmpty())
        row->addWidget(symbol(symbolName, 24));
    auto* heading = sectionTitle(title);
    heading->setStyleSheet(QStringLiteral("font-size: 18px;"));
    row->addWidget(heading, 1);
    auto* close = secondaryButton(QStringLiteral("Fermer"));
    row->addWidget(close);
    layout->addLayout(row);
    return close;
}

QIcon iconOnAccent(const QString& name, int sizePx)
{
    QPixmap pixmap = Icons::pixmap(name, sizePx);
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), Qt::white);
    painter.end();
    return QIcon(pixmap);
}

void setTicked(QLabel* symbolLabel, bool ticked, int sizePx)
{
    const QString name = ticked ? QStringLiteral("checkmark.circle.fill") : QStringLiteral("circle.dotted");
    if (symbolLabel->property("symbol").toString() == name)
        return;
    symbolLabel->setProperty("symbol", name);
    symbolLabel->setPixmap(Icons::pixmap(name, sizePx));
    symbolLabel->setFixedSize(sizePx, sizePx);
}
QToolButton* disclosure(const QString& title, QWidget* content, QWidget* parent)
{
    auto* toggle = new QToolButton(parent);
    toggle->setText(title);
    toggle->setCheckable(true);
    toggle->setArrowType(Qt::RightArrow);
    toggle->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    toggle->setAutoRaise(true);
    toggle->setCursor(Qt::PointingHandCursor);
    toggle->setStyleSheet(
        QStringLiteral("QToolButton { border: none; background: transparent; padding: 2px 0; }"));
    content->setVisible(false);
    QObject::connect(toggle, &QToolButton::toggled, content, [toggle, content](bool open) {
        toggle->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
        content->setVisible(open);
    });
    return toggle;
}

void fitWholeLines(QPlainTextEdit* editor, int maxHeightPx)
{
    // The plain-text layout gives each line a whole number of pixels below the document margin, but the
    // top margin scrolls away with the first line: without a margin (its room moved into the padding) the
    // view holds whole lines both at the top of the text and scrolled.
    editor->setProperty("wholeLines", true);
    editor->document()->setDocumentMargin(0);
    editor->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    editor->style()->unpolish(editor);
    editor->style()->polish(editor);
    const int linePx = int(std::ceil(QFontMetricsF(editor->font()).lineSpacing()));
    const int fixedPx = 2 * (kFieldBorderPx + kWholeLinesPaddingPx);
    const int lines = std::max(1, (maxHeightPx - fixedPx) / linePx);
    editor->setFixedHeight(fixedPx + lines * linePx);
}

void useTabularDigits(QWidget* widget)
{
    QFont font = widget->font();
#if QT_VERSION >= QT_VERSION_CHECK(6, 7, 0)
    font.setFeature(QFont::Tag("tnum"), 1);
#else
    // No OpenType features before Qt 6.7: keep the family when its digits already share one width (as
    // DejaVu's and Noto's do), otherwise take the system's fixed-width family.
    const QFontMetricsF metrics(font);
    const qreal zero = metrics.horizontalAdvance(QLatin1Char('0'));
    bool tabular = true;
    for (char digit = '1'; digit <= '9'; ++digit)
        tabular = tabular && qFuzzyCompare(metrics.horizontalAdvance(QLatin1Char(digit)), zero);
    if (!tabular)
        font.setFamilies({QFontDatabase::systemFont(QFontDatabase::FixedFont).family()});
#endif
    widget->setFont(font);
}
} // namespace Theme
