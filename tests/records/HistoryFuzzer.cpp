// libFuzzer target: any bytes as "history.json". The decoder must refuse or accept without a crash, and
// whatever it accepts must survive a save: the saved file loads again with every record, and saving
// that gives the same bytes (a lone UTF-16 surrogate is the one thing a save may mend, once).

#include "app/common/AppError.h"
#include "app/records/HistoryCodec.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<QList<CallRecord>> records = HistoryCodec::decode(bytes);
    if (!records)
        return 0;
    QByteArray saved;
    try {
        saved = HistoryCodec::encode(*records);
    } catch (const AppError& error) {
        std::fprintf(stderr, "a history that loads cannot be saved again: %s\n", error.what());
        std::abort();
    }
    const std::optional<QList<CallRecord>> reloaded = HistoryCodec::decode(saved);
    if (!reloaded || reloaded->size() != records->size()) {
        std::fprintf(stderr, "a saved history does not load again:\n%s\n", saved.constData());
        std::abort();
    }
    if (HistoryCodec::encode(*reloaded) != saved) {
        std::fprintf(stderr, "a saved history changes at each save:\n%s\n", saved.constData());
        std::abort();
    }
    return 0;
}
