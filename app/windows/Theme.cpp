#include "app/windows/Theme.h"

#include "app/ui/Icons.h"

#include <QApplication>
#include <QBoxLayout>
#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QScrollArea>

namespace Theme {
namespace {
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
QPushButton[role="secondary"]:disabled { color: #a3a8b2; }
QPushButton[role="link"] { background: transparent; color: %5; border: none; padding: 4px 6px; }
QPushButton[role="link"]:disabled { color: #a3a8b2; }
QLineEdit, QPlainTextEdit, QTextEdit, QComboBox {
  background: white; border: 1px solid %3; border-radius: 8px; padding: 5px 8px; color: %6; }
QComboBox { padding-right: 26px; }
QComboBox::drop-down { subcontrol-origin: padding; subcontrol-position: center right; width: 24px; border: none; }
QComboBox::down-arrow { image: url(:/icons/chevron.down.svg); width: 12px; height: 12px; }
QLineEdit:focus, QPlainTextEdit:focus, QTextEdit:focus, QComboBox:focus { border: 1px solid %5; }
)")
        .arg(hex(kWindow), hex(kCard), hex(kBorder), hex(kAccentSoft), hex(kAccent), hex(kText),
             hex(kSecondaryText), hex(kAccent.darker(115)));
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

void setTicked(QLabel* symbolLabel, bool ticked, int sizePx)
{
    const QString name = ticked ? QStringLiteral("checkmark.circle.fill") : QStringLiteral("circle.dotted");
    if (symbolLabel->property("symbol").toString() == name)
        return;
    symbolLabel->setProperty("symbol", name);
    symbolLabel->setPixmap(Icons::pixmap(name, sizePx));
    symbolLabel->setFixedSize(sizePx, sizePx);
}
} // namespace Theme
