#pragma once

#include <QString>

// The speaking-style text being edited in the voice settings sheet. The equaliser is not drafted: its
// sliders write the model at once.
class VoiceSettingsDraft {
public:
    QString text;
    bool presented = false;

    // User-perceived characters, counted the way the model counts them when it keeps the first 4000.
    static int characterCount(const QString& text);
    // The style can be applied: something besides white space, and no more than the model keeps.
    static bool canApply(const QString& text);
    bool canApply() const { return canApply(text); }
};
