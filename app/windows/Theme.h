#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

class QApplication;
class QBoxLayout;
class QDialog;
class QFrame;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;
class QToolButton;
class QVBoxLayout;
class QWidget;

// The one look of the product's window: calm light surfaces, white cards, one accent colour.
// Widgets carry a `role` property that the application style sheet keys on, so a view only says what a
// widget is (a card, a page title, a primary button) and never sets colours itself.
namespace Theme {
inline const QColor kAccent{0x3b, 0x6f, 0xd4};
inline const QColor kAccentSoft{0xe8, 0xef, 0xfd};
inline const QColor kWindow{0xf5, 0xf6, 0xf8};
inline const QColor kSidebar{0xec, 0xee, 0xf2};
inline const QColor kCard{0xff, 0xff, 0xff};
inline const QColor kBorder{0xe1, 0xe4, 0xea};
inline const QColor kText{0x1c, 0x1f, 0x26};
inline const QColor kSecondaryText{0x5f, 0x66, 0x73};
inline const QColor kSuccess{0x1f, 0x9d, 0x55};
inline const QColor kWarning{0xe0, 0x7a, 0x10};
inline const QColor kDanger{0xd0, 0x35, 0x35};
// A control that cannot be used: a greyed field and greyed text.
inline const QColor kDisabledFill{0xf1, 0xf2, 0xf5};
inline const QColor kDisabledText{0xa3, 0xa8, 0xb2};

inline constexpr int kPageMarginPx = 32;
inline constexpr int kCardPaddingPx = 18;
inline constexpr int kSpacingPx = 14;

// Palette, font and style sheet for the whole application; call once before any window exists.
void apply(QApplication& application);
QString styleSheet();

// A white rounded card with padding; lay its children out with `cardLayout`.
QFrame* card(QWidget* parent = nullptr);
// The vertical layout of a card, with the card padding.
QVBoxLayout* cardLayout(QFrame* card, int spacingPx = 10);
// A tinted card for banners (accent, warning, danger).
QFrame* banner(const QString& tone, QWidget* parent = nullptr);

QLabel* pageTitle(const QString& text, QWidget* parent = nullptr);
QLabel* pageSubtitle(const QString& text, QWidget* parent = nullptr);
QLabel* sectionTitle(const QString& text, QWidget* parent = nullptr);
// Body text, wrapped.
QLabel* body(const QString& text, QWidget* parent = nullptr);
// Small secondary text, wrapped.
QLabel* caption(const QString& text, QWidget* parent = nullptr);
// Small capitals label over a card ("STANDARD ACTIF").
QLabel* eyebrow(const QString& text, QWidget* parent = nullptr);
// A symbol from our icon set at `sizePx`, as a label.
QLabel* symbol(const QString& name, int sizePx, QWidget* parent = nullptr);

QPushButton* primaryButton(const QString& text, QWidget* parent = nullptr);
QPushButton* secondaryButton(const QString& text, QWidget* parent = nullptr);
// A text-only button, for links and "Fermer".
QPushButton* linkButton(const QString& text, QWidget* parent = nullptr);

// Wraps a page's content in a vertical scroll area with the page margins; returns the content's layout.
QBoxLayout* scrollingPage(QWidget* page);

// A sheet's header row: title (with an optional symbol) on the left, "Fermer" on the right. Returns
// the "Fermer" button so the sheet can connect it.
QPushButton* addSheetHeader(QBoxLayout* layout, const QString& title, const QString& symbolName = {});

// One of our symbols in white, for a primary (accent-filled) button.
QIcon iconOnAccent(const QString& name, int sizePx = 16);

// Marks `label` as a ticked or unticked check row symbol ("checkmark.circle.fill" / "circle.dotted").
void setTicked(QLabel* symbolLabel, bool ticked, int sizePx = 18);

// A disclosure: a text button with an arrow that shows or hides `content` (hidden at first).
QToolButton* disclosure(const QString& title, QWidget* content, QWidget* parent = nullptr);

// The tallest height up to `maxHeightPx` at which `editor` shows whole lines: a line cut through its
// glyphs at the bottom reads as a rendering fault.
void fitWholeLines(QPlainTextEdit* editor, int maxHeightPx);

// Digits of one width in `widget`'s font, so a figure that changes does not make its line jitter.
void useTabularDigits(QWidget* widget);
} // namespace Theme
