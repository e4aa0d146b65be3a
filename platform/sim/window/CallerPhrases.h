#pragma once

#include "platform/sim/audio/InputSource.h"

#include <QString>
#include <QStringList>
#include <memory>

namespace sim {

// A French caller who says the stand-in's caller lines in turns, with pauses for the assistant to answer,
// spoken by the speech synthesiser (espeak-ng, cut together with sox) and kept as one WAV file.
class CallerPhrases {
public:
    // The caller lines next to the program (tools/realtime-standin/prompts/caller.txt); empty when absent.
    static QStringList lines();
    // Whether the synthesiser and sox are installed and there are lines to say.
    static bool available();
    // The recording in `cacheFolder`, made on first use; null with `error` set when synthesis failed.
    static std::shared_ptr<InputSource> voice(const QString& cacheFolder, QString* error = nullptr);

    // Silence before the first line (the assistant greets first: ring confirmation, connection and a
    // greeting of some four seconds) and between lines (it answers).
    static constexpr double kFirstPauseSeconds = 8;
    static constexpr double kPauseSeconds = 6;
};

} // namespace sim
