#pragma once

#include <QString>

// Text comparisons of the French interface, independent of the user's own locale settings.
namespace TextFolding {
// Case- and diacritic-insensitive folding under "fr_FR" (no trimming): "Répondre" -> "repondre".
QString fold(const QString& text);
// The label form compared against fixed word lists: folded, then trimmed of blanks and line breaks.
QString normalizedLabel(const QString& text);
// Localised standard containment: case- and diacritic-insensitive.
bool localizedStandardContains(const QString& text, const QString& query);
// Localised standard order, as file browsers sort: case-insensitive, digit runs by value.
int localizedStandardCompare(const QString& a, const QString& b);
} // namespace TextFolding
