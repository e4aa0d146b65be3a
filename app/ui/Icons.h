#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>
#include <QStringList>

// Our own drawings for the symbol names the screens use ("phone", "text.bubble", "waveform"…), plus
// the product mark "orlea.mark".
namespace Icons {
inline const QString kProductMark = QStringLiteral("orlea.mark");

// The icon for `name`, or a null icon when we have no drawing of that name.
QIcon get(const QString& name);
QPixmap pixmap(const QString& name, int sizePx);
bool has(const QString& name);
// Every name we draw, sorted.
QStringList names();
} // namespace Icons
