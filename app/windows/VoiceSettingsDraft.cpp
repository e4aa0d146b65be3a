#include "app/windows/VoiceSettingsDraft.h"

#include "app/model/AppModel.h"

#include <QTextBoundaryFinder>

int VoiceSettingsDraft::characterCount(const QString& text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

bool VoiceSettingsDraft::canApply(const QString& text)
{
    if (text.trimmed().isEmpty())
        return false;
    // A character takes at least one UTF-16 unit, so short texts need no segmentation on each keystroke.
    if (text.size() <= AppModel::kMaxVoiceStyleCharacters)
        return true;
    return characterCount(text) <= AppModel::kMaxVoiceStyleCharacters;
}
