#pragma once

// Views over a model on a fresh simulated Mac (manual time) in a temporary data folder.

#include "tests/model/ModelTestSupport.h"
#include "tests/ui/UiSnapshot.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QWidget>

// The first visible-or-not child button of `root` whose text is exactly `text`, or null.
inline QAbstractButton* findButton(QWidget& root, const QString& text)
{
    const auto buttons = root.findChildren<QAbstractButton*>();
    for (QAbstractButton* button : buttons)
        if (button->text() == text)
            return button;
    return nullptr;
}

// Whether some label under `root` shows exactly `text` (or contains it, when `whole` is false).
inline bool showsText(QWidget& root, const QString& text, bool whole = true)
{
    const auto labels = root.findChildren<QLabel*>();
    for (QLabel* label : labels) {
        if (!label->isVisibleTo(&root))
            continue;
        if (whole ? label->text() == text : label->text().contains(text))
            return true;
    }
    return false;
}

// Lets the model's coalesced `changed()` reach the views.
inline void settle()
{
    for (int i = 0; i < 3; ++i)
        QApplication::processEvents();
}
