#pragma once

#include <QString>

class QWidget;

// Renders `widget` to build/ui-snapshots/<name>.png so a person can look at the layout; returns the path.
QString saveSnapshot(QWidget& widget, const QString& name);
