#include "app/records/CallPolicy.h"

#include <QRegularExpression>

namespace CallPolicy {

std::optional<QString> phoneNumber(const QStringList& texts)
{
    // An optional + or 00, then digits with spaces, dots, parentheses or hyphens between them, not
    // glued to a word on either side. Unicode-aware like the platform's regular expressions.
    static const QRegularExpression pattern(QStringLiteral(R"((?<!\w)(?:\+|00)?\d[\d .()\-]{6,}\d(?!\w))"),
                                            QRegularExpression::UseUnicodePropertiesOption);
    for (const QString& text : texts) {
        auto matches = pattern.globalMatch(text);
        while (matches.hasNext()) {
            const QString candidate = matches.next().captured(0);
            int digits = 0;
            for (QChar c : candidate)
                digits += c.isDigit() ? 1 : 0;
            if (digits >= 8 && digits <= 15)
                return candidate;
        }
    }
    return std::nullopt;
}

} // namespace CallPolicy
