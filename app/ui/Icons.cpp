#include "app/ui/Icons.h"

#include <QDir>
#include <QFile>
#include <QHash>

static void ensureIconResources()
{
    // The resources live in a static library, whose registration the linker may otherwise drop.
    static const bool registered = [] {
        Q_INIT_RESOURCE(icons);
        return true;
    }();
    (void)registered;
}

namespace Icons {
namespace {
QString pathFor(const QString& name)
{
    return QStringLiteral(":/icons/") + name + QStringLiteral(".svg");
}
} // namespace

bool has(const QString& name)
{
    ensureIconResources();
    // A name must not be able to walk out of the icon folder.
    return !name.isEmpty() && !name.contains(QLatin1Char('/')) && QFile::exists(pathFor(name));
}

QIcon get(const QString& name)
{
    if (!has(name))
        return {};
    static QHash<QString, QIcon> cache;
    auto found = cache.constFind(name);
    if (found != cache.constEnd())
        return *found;
    QIcon icon(pathFor(name));
    cache.insert(name, icon);
    return icon;
}

QPixmap pixmap(const QString& name, int sizePx)
{
    return get(name).pixmap(sizePx, sizePx);
}

QStringList names()
{
    ensureIconResources();
    QStringList result;
    const QStringList files =
        QDir(QStringLiteral(":/icons")).entryList({QStringLiteral("*.svg")}, QDir::Files);
    for (const QString& file : files)
        result << file.chopped(4);
    result.sort();
    return result;
}
} // namespace Icons
