// libFuzzer target: any bytes as "history.json". The decoder must refuse or accept without a crash, and
// whatever it accepts must survive a save: the saved file loads again with every record, and saving
// that gives the same bytes (a lone UTF-16 surrogate is the one thing a save may mend, once). The fast
// reader of the start-up must agree with the plain decoder on every input: the same verdict, the same
// records, and any record bytes it keeps exactly what a save would write for that record.

#include "app/common/AppError.h"
#include "app/records/HistoryCodec.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<QList<CallRecord>> records = HistoryCodec::decode(bytes);
    const std::optional<HistoryCodec::Decoded> fast = HistoryCodec::decodeKeepingJson(bytes);
    if (records.has_value() != fast.has_value()) {
        std::fprintf(stderr, "the fast reader %s a history the plain decoder %s\n",
                     fast ? "accepts" : "refuses", records ? "accepts" : "refuses");
        std::abort();
    }
    if (!records)
        return 0;
    QByteArray saved;
    try {
        saved = HistoryCodec::encode(*records);
        if (fast->records != *records || fast->json.size() != fast->records.size()) {
            std::fprintf(stderr, "the fast reader reads other records than the plain decoder\n");
            std::abort();
        }
        for (qsizetype i = 0; i < fast->json.size(); ++i) {
            if (!fast->json[i].isEmpty() && fast->json[i] != HistoryCodec::encodeRecord(fast->records[i])) {
                std::fprintf(stderr, "the fast reader keeps bytes a save would not write:\n%s\n",
                             fast->json[i].constData());
                std::abort();
            }
        }
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
