#include "app/common/TextFolding.h"

#include <QCollator>
#include <QLocale>

namespace TextFolding {

QString fold(const QString& text)
{
    // Fast path: plain ASCII needs only lower-casing.
    bool ascii = true;
    for (QChar c : text) {
        if (c.unicode() >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (ascii)
        return text.toLower();

    const QString decomposed = text.normalized(QString::NormalizationForm_D);
    QString result;
    result.reserve(decomposed.size());
    for (QChar c : decomposed) {
        if (c.category() == QChar::Mark_NonSpacing)
            continue;
        result.append(c);
    }
    return result.toCaseFolded().normalized(QString::NormalizationForm_C);
}

QString normalizedLabel(const QString& text)
{
    return fold(text).trimmed();
}

bool localizedStandardContains(const QString& text, const QString& query)
{
    if (query.isEmpty())
        return false;
    return fold(text).contains(fold(query));
}

int localizedStandardCompare(const QString& a, const QString& b)
{
    static thread_local QCollator collator = [] {
        QCollator c{QLocale(QLocale::French, QLocale::France)};
        c.setCaseSensitivity(Qt::CaseInsensitive);
        c.setNumericMode(true);
        return c;
    }();
    return collator.compare(a, b);
}

} // namespace TextFolding
