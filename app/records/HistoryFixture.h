#pragma once

#include "app/records/CallRecord.h"

#include <QList>

// A made-up history at the scale of a busy rental office, for the benchmarks and for trying the program
// with years of calls: French conversations with accents, ligatures and capitals, a third of them filed
// in dossiers, some followed up, some callers without a number. The same seed gives the same calls.
namespace HistoryFixture {
constexpr int kLinesPerCall = 40;

// `count` calls, newest first, the newest dated `newestDate` (seconds since 2001-01-01 UTC) and the
// others a few hours apart.
QList<CallRecord> generate(int count, double newestDate, quint32 seed = 1, int linesPerCall = kLinesPerCall);

// Writes the history file and every transcript file of `records` into the data folder, as a run of the
// program would have left them. Throws AppError.
void write(const QList<CallRecord>& records);
} // namespace HistoryFixture
