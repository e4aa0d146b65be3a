#include "tests/ui/UiSnapshot.h"

#include <QDir>
#include <QPixmap>
#include <QWidget>

QString saveSnapshot(QWidget& widget, const QString& name)
{
    const QString folder = qEnvironmentVariable("ORLEA_BUILD_DIR") + QStringLiteral("/ui-snapshots");
    QDir().mkpath(folder);
    const QString path = folder + QLatin1Char('/') + name + QStringLiteral(".png");
    widget.grab().save(path);
    return path;
}
